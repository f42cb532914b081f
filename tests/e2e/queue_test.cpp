// Printing as users do: a scheduler of our own with a queue per model that
// writes to a file, jobs sent with lp, and the install layout as the CUPS
// driver list sees it.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cups_env.h"

namespace fs = std::filesystem;

namespace {

// The scheduler's page log, for failure messages.
std::string page_log(const PrivateCupsd& daemon)
{
  return "--- page_log ---\n" + read_file(daemon.root + "/log/page_log");
}

// The pages the page log counts for a job: its "total <n>" line, which
// CUPS writes from the PAGE lines of the job's filters, or the copies of
// per-page lines ("<queue> <user> <job> [<time>] <page> <copies> ...").
int logged_pages(const PrivateCupsd& daemon, const std::string& queue, const std::string& jobId)
{
  const std::string number = jobId.substr(jobId.rfind('-') + 1);
  int pages = 0;
  std::istringstream log(read_file(daemon.root + "/log/page_log"));
  for (std::string line; std::getline(log, line);) {
    std::istringstream fields(line);
    std::string printer, user, job, time, zone, page;
    int count = 0;
    if (fields >> printer >> user >> job >> time >> zone >> page >> count && printer == queue && job == number)
      pages += count;
  }
  return pages;
}

// What the scheduler logged as errors for a job ("E [...] [Job n] ...").
std::string job_errors(const PrivateCupsd& daemon, const std::string& jobId)
{
  const std::string tag = "[Job " + jobId.substr(jobId.rfind('-') + 1) + "]";
  std::string errors;
  std::istringstream log(read_file(daemon.root + "/log/error_log"));
  for (std::string line; std::getline(log, line);)
    if (line.rfind("E ", 0) == 0 && line.find(tag) != std::string::npos)
      errors += line + "\n";
  return errors;
}

// A PostScript document of many 4 x 6 in pages, each with its number, bars
// of its own widths and a grey box: CUPS renders it with Ghostscript page
// by page, so the job runs for a good while.
std::string long_postscript(int pages)
{
  std::string ps = "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 288 432\n%%Pages: " + std::to_string(pages) +
                   "\n%%EndComments\n";
  for (int n = 1; n <= pages; ++n) {
    const std::string number = std::to_string(n);
    ps += "%%Page: " + number + " " + number + "\n/Helvetica findfont 40 scalefont setfont 20 360 moveto (Label " +
          number + ") show\n" + "0 1 40 { dup 6 mul 20 add 120 2 index " + number +
          " add 4 mod 1 add 200 rectfill pop } for\n0.5 setgray 20 20 248 80 rectfill showpage\n";
  }
  return ps + "%%EOF\n";
}

// True while a process runs the given program file.
bool program_running(const std::string& program)
{
  std::error_code ec;
  const fs::path target = fs::canonical(program, ec);
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
    std::error_code linkError;
    if (fs::read_symlink(entry.path() / "exe", linkError) == target && !linkError)
      return true;
  }
  return false;
}

// Waits until the file holds at least one byte; fails if the job ends first.
bool wait_for_output(const PrivateCupsd& daemon, const std::string& queue, const std::string& jobId,
                     const std::string& path)
{
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code ec;
    if (fs::file_size(path, ec) > 0 && !ec)
      return true;
    if (job_completed(daemon, queue, jobId)) {
      ADD_FAILURE() << "job " << jobId << " ended without output\n" << cupsd_log_tail(daemon);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ADD_FAILURE() << "job " << jobId << " wrote nothing\n" << cupsd_log_tail(daemon);
  return false;
}

class Queue : public ::testing::TestWithParam<TestModel> {
protected:
  void SetUp() override
  {
    if (geteuid() != 0)
      GTEST_SKIP() << "a private cupsd runs its filters as lp only when started as root";
    ASSERT_TRUE(make_public_dir(root.path));
  }

  // Starts the scheduler with our filters and MIME rules from the source
  // tree, as an install puts them beside CUPS's, and adds a queue for the
  // model that writes to root/out/<queue>.zpl. Returns that file's path, or
  // "" after reporting a failure.
  std::string add_model_queue(const std::string& queue)
  {
    const std::string output = root.path + "/out/" + queue + ".zpl";
    const bool ok = start_cupsd(daemon, root.path, make_server_bin(root.path, test_filters()),
                                make_data_dir(root.path, build_paths().mimeSourceDir)) &&
                    add_queue(daemon, queue, GetParam().ppd, output);
    return ok ? output : "";
  }

  TempDir root;
  PrivateCupsd daemon;  // stopped before the folder goes
};

TEST_P(Queue, JobWithOptionsBecomesLabels)
{
  const TestModel& model = GetParam();
  const std::string queue = "labels-" + model.name;
  const std::string output = add_model_queue(queue);
  ASSERT_FALSE(output.empty());
  const std::string jobId =
      print_job(daemon, queue, build_paths().samplePdf, {"-o", "Darkness=20", "-o", "PageSize=4.00x6.00in", "-n", "2"});
  ASSERT_FALSE(jobId.empty());

  std::vector<DecodedLabel> labels;
  ASSERT_TRUE(decode_labels(read_file(output), labels));
  // Two pages, each a label printed twice: the copies reach the printer as
  // its own print quantity, not as repeated graphics.
  ASSERT_EQ(labels.size(), 2u);
  const uint32_t rowBytes = (4 * model.dpi + 7) / 8;
  for (size_t i = 0; i < labels.size(); ++i) {
    SCOPED_TRACE("label " + std::to_string(i + 1));
    EXPECT_EQ(labels[i].hasHeader, model.header);
    EXPECT_EQ(labels[i].darkness, 20);
    EXPECT_NE(labels[i].setup.find("~SD20\r\n"), std::string::npos);
    EXPECT_EQ(labels[i].width, dots(model, 102));
    EXPECT_EQ(labels[i].length, dots(model, 152));
    EXPECT_EQ(labels[i].speed, 4);
    EXPECT_EQ(labels[i].copies, 2);
    EXPECT_EQ(labels[i].rowBytes, rowBytes);
    EXPECT_EQ(labels[i].packed.size(), size_t{rowBytes} * 6 * model.dpi);
  }
  // Counted once, by our filter: the PDF stage must not count the pages
  // again, nor complain that it can't tell which filter comes last.
  EXPECT_EQ(logged_pages(daemon, queue, jobId), 4) << page_log(daemon);
  EXPECT_EQ(job_errors(daemon, jobId), "");
}

// A ZPL file, as a carrier hands it out, reaches the printer exactly as it
// is, once per copy, and every label is counted; other documents still
// become our labels, a text that merely mentions ZPL commands included.
TEST_P(Queue, ZplFilesPassUnchanged)
{
  const TestModel& model = GetParam();
  const std::string queue = "zpl-" + model.name;
  const std::string output = add_model_queue(queue);
  ASSERT_FALSE(output.empty());
  const std::string jobs = root.path + "/jobs";
  ASSERT_TRUE(make_public_dir(jobs));
  const std::string zpl = filter_labels(model.filter, {noise_page(300, 200, 1), noise_page(240, 120, 2)});
  ASSERT_FALSE(zpl.empty());

  // Known by its name, then by its content alone.
  ASSERT_TRUE(write_file(jobs + "/label.zpl", zpl));
  ASSERT_TRUE(write_file(jobs + "/label", zpl));
  std::string jobId = print_job(daemon, queue, jobs + "/label.zpl");
  ASSERT_FALSE(jobId.empty());
  EXPECT_TRUE(read_file(output) == zpl) << "the device got other bytes than the file";
  EXPECT_EQ(logged_pages(daemon, queue, jobId), 2) << page_log(daemon);
  EXPECT_EQ(job_errors(daemon, jobId), "");

  jobId = print_job(daemon, queue, jobs + "/label", {"-n", "2"});
  ASSERT_FALSE(jobId.empty());
  EXPECT_TRUE(read_file(output) == zpl + zpl) << "two copies are not the file twice";
  EXPECT_EQ(logged_pages(daemon, queue, jobId), 4) << page_log(daemon);

  ASSERT_TRUE(write_file(jobs + "/notes.txt", "Start every label with ^XA and end it with ^XZ.\n"));
  jobId = print_job(daemon, queue, jobs + "/notes.txt");
  ASSERT_FALSE(jobId.empty());
  std::vector<DecodedLabel> labels;
  ASSERT_TRUE(decode_labels(read_file(output), labels));
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].width, dots(model, 102));
  EXPECT_EQ(logged_pages(daemon, queue, jobId), 1) << page_log(daemon);

  // A PDF under a ZPL name stops with zplpass's error, and the printer
  // gets nothing of it.
  ASSERT_TRUE(write_file(jobs + "/misnamed.zpl", read_file(build_paths().samplePdf)));
  jobId = submit_job(daemon, queue, jobs + "/misnamed.zpl");
  ASSERT_FALSE(jobId.empty());
  std::string errors;
  for (int i = 0; i < 600 && errors.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    errors = job_errors(daemon, jobId);
  }
  EXPECT_NE(errors.find("Not a ZPL job"), std::string::npos) << errors << cupsd_log_tail(daemon);
  EXPECT_EQ(read_file(output), "");
}

INSTANTIATE_TEST_SUITE_P(EveryModel, Queue, ::testing::ValuesIn(test_models()), ParamName());

class CancelledQueueJob : public Queue {};

// A job cancelled while it prints: CUPS signals every filter of the chain at
// once, and the device file must end with the last whole label, never
// inside a graphic that the printer would hold open for the next job.
TEST_P(CancelledQueueJob, DeviceGetsWholeLabelsOnly)
{
  const TestModel& model = GetParam();
  constexpr int kPages = 300;
  const std::string queue = "cancel-" + model.name;
  const std::string document = root.file("long.ps");
  ASSERT_TRUE(write_file(document, long_postscript(kPages)));
  const std::string output = add_model_queue(queue);
  ASSERT_FALSE(output.empty());
  const std::string jobId = submit_job(daemon, queue, document);
  ASSERT_FALSE(jobId.empty());

  ASSERT_TRUE(wait_for_output(daemon, queue, jobId, output));
  const ProcessResult result = run_tool("cancel", {"-h", daemon.server, jobId}, root.path);
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_TRUE(wait_for_job(daemon, queue, jobId));
  // The job shows cancelled at once; the filter finishes its label after.
  const std::string filter = root.path + "/serverbin/filter/" + model.installed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (program_running(filter) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_FALSE(program_running(filter)) << "the filter still runs a minute after the cancel";

  const std::string zpl = read_file(output);
  std::vector<DecodedLabel> labels;
  EXPECT_TRUE(decode_labels(zpl, labels)) << " (" << zpl.size() << " bytes)";
  EXPECT_LT(labels.size(), static_cast<size_t>(kPages)) << "the job ended before the cancel";
  // The filter ends as after any job: status 0 and no error for CUPS to show.
  EXPECT_NE(read_file(root.path + "/log/error_log").find("(" + filter + ") exited with no errors."), std::string::npos)
      << cupsd_log_tail(daemon);
  EXPECT_EQ(job_errors(daemon, jobId), "");
}

INSTANTIATE_TEST_SUITE_P(OneModel, CancelledQueueJob, ::testing::Values(test_model(300)), ParamName());

// cmake --install into a staging folder: the filters land in CUPS's filter
// folder, the MIME files in its data folder and the PPDs where the driver
// list finds them, so an administrator can pick any model by name, print
// with it, and a ZPL file passes through what was installed.
TEST(Install, DriverListShowsEveryModel)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "a private cupsd runs its filters as lp only when started as root";
  const TempDir root;
  ASSERT_TRUE(make_public_dir(root.path));
  const BuildPaths& paths = build_paths();
  const std::string stage = stage_install(root.path);
  ASSERT_FALSE(stage.empty());
  FilterPrograms programs = test_filters();
  for (FilterProgram& program : programs) {
    ASSERT_TRUE(fs::exists(stage + paths.filterDir + "/" + program.name)) << program.name;
    // The pass-through as installed; the filters as the tests build them.
    if (program.name == "zplpass")
      program.path = stage + paths.filterDir + "/zplpass";
  }
  const std::string mimeDir = stage + paths.mimeDir;
  EXPECT_TRUE(fs::exists(mimeDir + "/zplfilter.types"));
  EXPECT_TRUE(fs::exists(mimeDir + "/zplfilter.convs"));
  // Added beside CUPS's own files, never in their place.
  EXPECT_FALSE(fs::exists(mimeDir + "/mime.types"));
  EXPECT_FALSE(fs::exists(mimeDir + "/mime.convs"));
  const std::string ppdDir = stage + ppd_install_dir(paths.installPrefix);

  PrivateCupsd daemon;
  ASSERT_TRUE(start_cupsd(daemon, root.path, make_server_bin(root.path, programs),
                          make_data_dir(root.path, mimeDir, ppdDir)));
  expect_installed_driver(daemon, root.path, "zplfilter/");
}

}  // namespace
