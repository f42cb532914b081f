// Printing as users do: a scheduler of our own with a queue per model that
// writes to a file, jobs sent with lp, and the install layout as the CUPS
// driver list sees it.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cups_env.h"
#include "zpl_samples.h"

namespace fs = std::filesystem;

namespace {

struct Model {
  const char* name;
  const char* ppd;
  const char* filter;
  int dpi;
  bool header;
  int widthDots, lengthDots;  // 4.00x6.00in, 102 x 152 mm, as each model counts
};
constexpr Model k300{"300dpi", PPD_300, FILTER_300, 300, true, 1203, 1793};
constexpr Model k203{"203dpi", PPD_203, FILTER_203, 203, false, 816, 1216};
constexpr Model k600{"600dpi", PPD_600, FILTER_600, 600, false, 2407, 3587};

void PrintTo(const Model& model, std::ostream* out) { *out << model.name; }

// The job number of an lp answer ("request id is labels-300dpi-1 (1 file(s))"),
// or "" when it holds none.
std::string job_id(const std::string& lpOutput, const std::string& queue)
{
  const size_t start = lpOutput.find(queue + "-");
  return start == std::string::npos ? "" : lpOutput.substr(start, lpOutput.find(' ', start) - start);
}

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
    const ProcessResult done = run_tool("lpstat", {"-h", daemon.server, "-W", "completed", "-o", queue}, daemon.root);
    if (done.out.find(jobId + " ") != std::string::npos) {
      ADD_FAILURE() << "job " << jobId << " ended without output\n" << cupsd_log_tail(daemon);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ADD_FAILURE() << "job " << jobId << " wrote nothing\n" << cupsd_log_tail(daemon);
  return false;
}

class Queue : public ::testing::TestWithParam<Model> {
protected:
  void SetUp() override
  {
    if (geteuid() != 0)
      GTEST_SKIP() << "a private cupsd runs its filters as lp only when started as root";
    root = make_temp_dir();
    ASSERT_TRUE(make_public_dir(root));
    serverBin = make_server_bin(root, test_filters());
    ASSERT_FALSE(serverBin.empty());
    // Our MIME rules from the source tree, as an install puts them beside CUPS's.
    dataDir = make_data_dir(root, MIME_SOURCE_DIR);
    ASSERT_FALSE(dataDir.empty());
  }
  void TearDown() override
  {
    stop_cupsd(daemon);
    if (!root.empty())
      remove_tree(root);
  }

  // Starts the scheduler and adds a queue for the model that writes to
  // output. False after reporting a failure.
  bool add_queue(const std::string& queue, const std::string& output)
  {
    if (!start_cupsd(daemon, root, serverBin, dataDir))
      return false;
    const ProcessResult result = run_tool(
        "lpadmin", {"-h", daemon.server, "-p", queue, "-E", "-v", "file://" + output, "-P", GetParam().ppd}, root);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.status == 0;
  }

  // Sends a file with lp; returns the job's id, or "" after reporting a failure.
  std::string submit(const std::string& queue, const std::string& file, const std::vector<std::string>& options = {})
  {
    std::vector<std::string> args{"-h", daemon.server, "-d", queue};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(file);
    const ProcessResult result = run_tool("lp", args, root);
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string id = job_id(result.out, queue);
    EXPECT_FALSE(id.empty()) << result.out;
    return id;
  }

  // Prints a file and waits until the job is done; returns its id, or ""
  // after reporting a failure.
  std::string print(const std::string& queue, const std::string& file, const std::vector<std::string>& options = {})
  {
    const std::string id = submit(queue, file, options);
    return !id.empty() && wait_for_job(daemon, queue, id) ? id : "";
  }

  std::string root, serverBin, dataDir;
  PrivateCupsd daemon;
};

TEST_P(Queue, JobWithOptionsBecomesLabels)
{
  const Model& model = GetParam();
  const std::string queue = std::string("labels-") + model.name;
  const std::string output = root + "/out/" + queue + ".zpl";
  ASSERT_TRUE(add_queue(queue, output));
  const std::string jobId =
      print(queue, SAMPLE_PDF, {"-o", "Darkness=20", "-o", "PageSize=4.00x6.00in", "-n", "2"});
  ASSERT_FALSE(jobId.empty());

  std::vector<DecodedLabel> labels;
  std::string error;
  ASSERT_TRUE(decode_labels(read_file(output), labels, error)) << error;
  // Two pages, each a label printed twice: the copies reach the printer as
  // its own print quantity, not as repeated graphics.
  ASSERT_EQ(labels.size(), 2u);
  const uint32_t rowBytes = (4 * model.dpi + 7) / 8;
  for (size_t i = 0; i < labels.size(); ++i) {
    SCOPED_TRACE("label " + std::to_string(i + 1));
    EXPECT_EQ(labels[i].hasHeader, model.header);
    EXPECT_EQ(labels[i].darkness, 20);
    EXPECT_NE(labels[i].setup.find("~SD20\r\n"), std::string::npos);
    EXPECT_EQ(labels[i].width, model.widthDots);
    EXPECT_EQ(labels[i].length, model.lengthDots);
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
  const Model& model = GetParam();
  const std::string queue = std::string("zpl-") + model.name;
  const std::string output = root + "/out/" + queue + ".zpl";
  ASSERT_TRUE(add_queue(queue, output));
  const std::string jobs = root + "/jobs";
  ASSERT_TRUE(make_public_dir(jobs));
  const std::string zpl = labels_from_filter(model.filter, {noise_page(300, 200, 1), noise_page(240, 120, 2)}, jobs);
  ASSERT_FALSE(zpl.empty());

  // Known by its name, then by its content alone.
  ASSERT_TRUE(write_file(jobs + "/label.zpl", zpl));
  ASSERT_TRUE(write_file(jobs + "/label", zpl));
  std::string jobId = print(queue, jobs + "/label.zpl");
  ASSERT_FALSE(jobId.empty());
  EXPECT_TRUE(read_file(output) == zpl) << "the device got other bytes than the file";
  EXPECT_EQ(logged_pages(daemon, queue, jobId), 2) << page_log(daemon);
  EXPECT_EQ(job_errors(daemon, jobId), "");

  jobId = print(queue, jobs + "/label", {"-n", "2"});
  ASSERT_FALSE(jobId.empty());
  EXPECT_TRUE(read_file(output) == zpl + zpl) << "two copies are not the file twice";
  EXPECT_EQ(logged_pages(daemon, queue, jobId), 4) << page_log(daemon);

  ASSERT_TRUE(write_file(jobs + "/notes.txt", "Start every label with ^XA and end it with ^XZ.\n"));
  jobId = print(queue, jobs + "/notes.txt");
  ASSERT_FALSE(jobId.empty());
  std::vector<DecodedLabel> labels;
  std::string error;
  ASSERT_TRUE(decode_labels(read_file(output), labels, error)) << error;
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].width, model.widthDots);
  EXPECT_EQ(logged_pages(daemon, queue, jobId), 1) << page_log(daemon);

  // A PDF under a ZPL name stops with zplpass's error, and the printer
  // gets nothing of it.
  ASSERT_TRUE(write_file(jobs + "/misnamed.zpl", read_file(SAMPLE_PDF)));
  jobId = submit(queue, jobs + "/misnamed.zpl");
  ASSERT_FALSE(jobId.empty());
  std::string errors;
  for (int i = 0; i < 600 && errors.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    errors = job_errors(daemon, jobId);
  }
  EXPECT_NE(errors.find("Not a ZPL job"), std::string::npos) << errors << cupsd_log_tail(daemon);
  EXPECT_EQ(read_file(output), "");
}

INSTANTIATE_TEST_SUITE_P(EveryModel, Queue, ::testing::Values(k300, k203, k600),
                         [](const auto& info) { return std::string(info.param.name); });

class CancelledQueueJob : public Queue {};

// A job cancelled while it prints: CUPS signals every filter of the chain at
// once, and the device file must end with the last whole label, never
// inside a graphic that the printer would hold open for the next job.
TEST_P(CancelledQueueJob, DeviceGetsWholeLabelsOnly)
{
  const Model& model = GetParam();
  constexpr int kPages = 300;
  const std::string queue = std::string("cancel-") + model.name;
  const std::string output = root + "/out/" + queue + ".zpl";
  const std::string document = root + "/long.ps";
  ASSERT_TRUE(write_file(document, long_postscript(kPages)));
  ASSERT_TRUE(add_queue(queue, output));
  const std::string jobId = submit(queue, document);
  ASSERT_FALSE(jobId.empty());

  ASSERT_TRUE(wait_for_output(daemon, queue, jobId, output));
  const ProcessResult result = run_tool("cancel", {"-h", daemon.server, jobId}, root);
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_TRUE(wait_for_job(daemon, queue, jobId));
  // The job shows cancelled at once; the filter finishes its label after.
  const std::string filter = serverBin + "/filter/zplfilter-" + std::to_string(model.dpi);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (program_running(filter) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_FALSE(program_running(filter)) << "the filter still runs a minute after the cancel";

  const std::string zpl = read_file(output);
  std::vector<DecodedLabel> labels;
  std::string error;
  EXPECT_TRUE(decode_labels(zpl, labels, error)) << error << " (" << zpl.size() << " bytes)";
  EXPECT_LT(labels.size(), static_cast<size_t>(kPages)) << "the job ended before the cancel";
  // The filter ends as after any job: status 0 and no error for CUPS to show.
  EXPECT_NE(read_file(root + "/log/error_log").find("(" + filter + ") exited with no errors."), std::string::npos)
      << cupsd_log_tail(daemon);
  EXPECT_EQ(job_errors(daemon, jobId), "");
}

INSTANTIATE_TEST_SUITE_P(OneModel, CancelledQueueJob, ::testing::Values(k300),
                         [](const auto& info) { return std::string(info.param.name); });

// cmake --install into a staging folder: the filters land in CUPS's filter
// folder, the MIME files in its data folder and the PPDs where the driver
// list finds them, so an administrator can pick any model by name, and a
// ZPL file prints through what was installed.
TEST(Install, DriverListShowsEveryModel)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "a private cupsd runs its filters as lp only when started as root";
  const TempRoot temp{make_temp_dir()};
  const std::string& root = temp.path;
  ASSERT_TRUE(make_public_dir(root));
  const std::string stage = root + "/stage";
  ProcessResult result = run_program(CMAKE_COMMAND, {CMAKE_COMMAND, "--install", BINARY_DIR}, root, {},
                                     {"DESTDIR=" + stage});
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  for (const FilterProgram& program : test_filters())
    ASSERT_TRUE(fs::exists(stage + FILTER_DIR "/" + program.name)) << program.name;
  const std::string mimeDir = stage + MIME_DIR;
  EXPECT_TRUE(fs::exists(mimeDir + "/zplfilter.types"));
  EXPECT_TRUE(fs::exists(mimeDir + "/zplfilter.convs"));
  // Added beside CUPS's own files, never in their place.
  EXPECT_FALSE(fs::exists(mimeDir + "/mime.types"));
  EXPECT_FALSE(fs::exists(mimeDir + "/mime.convs"));
  const std::string ppdDir = stage + PPD_INSTALL_DIR;
  for (const Model& model : {k300, k203, k600})
    ASSERT_TRUE(fs::exists(ppdDir + "/zplfilter-" + std::to_string(model.dpi) + ".ppd")) << model.name;

  {
    PrivateCupsd daemon;
    // The pass-through as installed; the filters as the tests build them.
    FilterPrograms programs = test_filters();
    for (FilterProgram& program : programs)
      if (program.name == "zplpass")
        program.path = stage + FILTER_DIR "/zplpass";
    const std::string serverBin = make_server_bin(root, programs);
    const std::string dataDir = make_data_dir(root, mimeDir, ppdDir);
    ASSERT_FALSE(serverBin.empty() || dataDir.empty());
    ASSERT_TRUE(start_cupsd(daemon, root, serverBin, dataDir));
    result = run_tool("lpinfo", {"-h", daemon.server, "-m"}, root);
    ASSERT_EQ(result.status, 0) << result.err;
    for (const char* dpi : {"300", "203", "600"})
      EXPECT_NE(result.out.find(std::string("zplfilter/zplfilter-") + dpi + ".ppd Generic ZPL Label Printer " + dpi +
                                "dpi, zplfilter"),
                std::string::npos)
          << result.out;
    // Adding a queue by the listed name, as lpadmin -m or the web page does.
    const std::string output = root + "/out/by-name.zpl";
    result = run_tool("lpadmin", {"-h", daemon.server, "-p", "by-name", "-E", "-v", "file://" + output, "-m",
                                  "zplfilter/zplfilter-203.ppd"},
                      root);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string zpl = "^XA^FO20,20^A0N,40,40^FDInstalled^FS^XZ\r\n";
    ASSERT_TRUE(write_file(root + "/installed.zpl", zpl));
    result = run_tool("lp", {"-h", daemon.server, "-d", "by-name", root + "/installed.zpl"}, root);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string jobId = job_id(result.out, "by-name");
    ASSERT_TRUE(wait_for_job(daemon, "by-name", jobId));
    EXPECT_EQ(read_file(output), zpl);
  }
}

}  // namespace
