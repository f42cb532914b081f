// The printer application talking with a printer, the virtual printer on a
// loopback port: what it reports reaches printer-state-reasons and leaves
// them again; a silent printer costs a job at most the 0.5 s budget, is
// left alone for a while and is asked again; the driver "auto" picks the
// model of each resolution and refuses a silent printer; a dropped
// connection aborts its job and shows the printer offline; a job on a
// printer that stopped reading can be cancelled.
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "printer_app.h"
#include "virtual_printer.h"

namespace {

constexpr char kPrinter[] = "vp";
constexpr char kQuery[] = "~HQES\r\n";
constexpr char kZplType[] = "application/vnd.zebra-zpl";
constexpr char kLabels[] = "label-";  // the virtual printer's files of labels

// The budget a silent printer may cost a job, with room for a loaded
// machine; a printer read with PAPPL's own waits costs 10 s.
constexpr double kSilenceAllowance = 2.0;

// --- talking with the application ---

// The printer's printer-state-reasons, "none" left out.
Reasons printer_reasons(const PrinterApp& app, const std::string& printer = kPrinter)
{
  Reasons reasons;
  std::istringstream values(printer_attribute(app, printer, "printer-state-reasons"));
  for (std::string reason; std::getline(values, reason, ',');)
    if (reason != "none")
      reasons.insert(reason);
  return reasons;
}

std::string describe(const Reasons& reasons)
{
  std::string text;
  for (const std::string& reason : reasons)
    text += reason + " ";
  return text.empty() ? "none" : text;
}

// Asks for the reasons until they are the expected ones; PAPPL asks the
// printer again at most once every second or two. Returns the last seen.
Reasons wait_for_reasons(const PrinterApp& app, const Reasons& expected, std::chrono::seconds limit)
{
  const auto deadline = std::chrono::steady_clock::now() + limit;
  Reasons seen = printer_reasons(app);
  while (seen != expected && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    seen = printer_reasons(app);
  }
  return seen;
}

// Prints a file with a Print-Job request alone; the job's id, or 0.
// `submit` asks for the printer's attributes first, which runs the status
// callback and would leave the job nothing to ask.
int print_file(const PrinterApp& app, const std::string& path, const char* format,
               const std::string& printer = kPrinter)
{
  ipp_t* request = app_request(app, IPP_OP_PRINT_JOB, printer);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
  ipp_t* response = send_app_request(app, printer, request, path);
  const int id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
  ippDelete(response);
  return id;
}

std::string job_message(const PrinterApp& app, int jobId)
{
  ipp_t* response = send_app_request(app, kPrinter, app_request(app, IPP_OP_GET_JOB_ATTRIBUTES, kPrinter, jobId));
  const char* message = ippGetString(ippFindAttribute(response, "job-state-message", IPP_TAG_ZERO), 0, nullptr);
  const std::string text = message ? message : "";
  ippDelete(response);
  return text;
}

// Seconds of the day of a log line's stamp "[2026-12-08T23:22:07.971Z]".
double stamp_seconds(const std::string& line)
{
  const size_t t = line.find('T');
  int hours = 0, minutes = 0;
  double seconds = 0;
  if (t == std::string::npos || std::sscanf(line.c_str() + t + 1, "%d:%d:%lf", &hours, &minutes, &seconds) != 3)
    return -1;
  return hours * 3600.0 + minutes * 60.0 + seconds;
}

// How long the job ran, from PAPPL's log: from its start to its end, the
// client's requests and the upload left out.
double job_seconds(const PrinterApp& app, int jobId)
{
  const std::string log = read_file(app.root + "/app.log"), tag = "[Job " + std::to_string(jobId) + "] ";
  double start = -1, end = -1;
  for (size_t at = log.find(tag); at != std::string::npos; at = log.find(tag, at + 1)) {
    const size_t lineStart = log.rfind('\n', at) + 1;
    const std::string line = log.substr(lineStart, log.find('\n', at) - lineStart);
    if (line.find("Starting print job.") != std::string::npos)
      start = stamp_seconds(line);
    else if (line.find("Completed,") != std::string::npos || line.find("Aborted,") != std::string::npos)
      end = stamp_seconds(line);
  }
  return start < 0 || end < 0 ? -1 : end - start;
}

size_t count_of(const std::string& text, const std::string& what)
{
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

class AppStatus : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(start_virtual_printer(printer, root.file("printer")));
    ASSERT_TRUE(start_printer_app(app, build_paths().printerApp, root.path));
    const ProcessResult added = run_app(app, {"add", "-d", kPrinter, "-v", device_uri(), "-m", "zpl_203dpi"});
    ASSERT_EQ(added.status, 0) << added.out << added.err << app_log_tail(app);
  }
  void TearDown() override
  {
    if (app.process.pid > 0) {
      EXPECT_EQ(shutdown_printer_app(app), 0) << read_file(root.file("server.out")) << app_log_tail(app);
    }
  }

  std::string device_uri() const { return "zpl://127.0.0.1:" + std::to_string(printer.port); }

  // Prints the file and waits for its end; the job's id, or 0 after a failure.
  int print_and_wait(const std::string& path, const char* format, int endState = IPP_JSTATE_COMPLETED,
                     const std::string& queue = kPrinter)
  {
    const int id = print_file(app, path, format, queue);
    EXPECT_GT(id, 0) << cupsLastErrorString() << app_log_tail(app);
    const int state = id > 0 ? wait_for_job_end(app, queue, id) : 0;
    EXPECT_EQ(state, endState) << "job " << id << "\n" << app_log_tail(app) << printer_log(printer);
    return state == endState ? id : 0;
  }

  // The labels the printer kept from the index of its label files on, a
  // status query ahead of them dropped.
  std::vector<DecodedLabel> labels_since(size_t index)
  {
    std::string bytes = kept_bytes(printer, index, kLabels);
    if (bytes.rfind(kQuery, 0) == 0)
      bytes.erase(0, sizeof kQuery - 1);
    std::vector<DecodedLabel> labels;
    EXPECT_TRUE(decode_labels(bytes, labels)) << printer_log(printer);
    return labels;
  }

  // A job of the sample prints whole: every label the printer kept for it
  // is sound, after the status query ahead of the first.
  void expect_sample_prints_whole()
  {
    const size_t before = kept_files(printer, kLabels).size();
    ASSERT_GT(print_and_wait(pwg_sample(test_model(203), root.path), "image/pwg-raster"), 0);
    ASSERT_TRUE(wait_for_kept(printer, before + 1, kLabels));
    EXPECT_EQ(kept_bytes(printer, before, kLabels).rfind(kQuery, 0), 0u) << "the job's status query first";
    EXPECT_EQ(labels_since(before).size(), 2u) << printer_log(printer);
  }

  TempDir root;
  VirtualPrinter printer;  // ended after the server, before the folder goes
  PrinterApp app;
};

// Each state in turn, so that every step shows its reasons appearing and
// the step before's leaving, replies in pieces included.
TEST_F(AppStatus, EachStateReachesPrinterStateReasonsAndClearsAgain)
{
  walk_conditions(printer, [&](const PrinterCondition& c) {
    const Reasons seen = wait_for_reasons(app, c.app, std::chrono::seconds(15));
    EXPECT_EQ(seen, c.app) << "now " << describe(seen) << "\n" << printer_log(printer) << app_log_tail(app);
  });
  EXPECT_NE(read_file(app.root + "/app.log").find("Shown as 'other': paused;"), std::string::npos)
      << app_log_tail(app);
}

// A silent printer costs its first job the budget and the next job nothing,
// and is asked again later: once it answers, its status is back.
TEST_F(AppStatus, SilentPrinterCostsAJobAtMostTheBudgetAndIsAskedAgainLater)
{
  const std::string raster = pwg_sample(test_model(203), root.path);
  const int answered = print_and_wait(raster, "image/pwg-raster");
  ASSERT_TRUE(set_printer_state(printer, {"silent"}));
  const int silent = print_and_wait(raster, "image/pwg-raster");
  const size_t unanswered = count_of(printer_log(printer), "~HQES: not answered");
  const int backingOff = print_and_wait(raster, "image/pwg-raster");
  ASSERT_TRUE(answered > 0 && silent > 0 && backingOff > 0);

  const double base = job_seconds(app, answered);
  ASSERT_GE(base, 0.0) << app_log_tail(app);
  EXPECT_EQ(unanswered, 1u) << "the silent job's own query\n" << printer_log(printer);
  EXPECT_LT(job_seconds(app, silent), base + kSilenceAllowance) << app_log_tail(app);
  EXPECT_LT(job_seconds(app, backingOff), base + kSilenceAllowance) << app_log_tail(app);
  EXPECT_EQ(count_of(printer_log(printer), "~HQES: not answered"), unanswered) << "asked while backing off\n"
                                                                               << printer_log(printer);
  EXPECT_TRUE(wait_for_kept(printer, 5, kLabels));

  ASSERT_TRUE(set_printer_state(printer, {"media-out"}));
  EXPECT_EQ(wait_for_reasons(app, {"media-empty"}, std::chrono::seconds(30)), Reasons{"media-empty"})
      << printer_log(printer) << app_log_tail(app);
}

// The model of each resolution, a refusal without an answer, and the models
// kept when the server starts again while the printer is silent. A
// detected printer prints at its resolution.
TEST_F(AppStatus, AutoPicksTheModelOfTheResolution)
{
  const auto make_and_model = [&](const TestModel& model) {
    return printer_attribute(app, "auto" + std::to_string(model.dpi), "printer-make-and-model");
  };
  const auto expected = [](const TestModel& model) { return "Generic ZPL Label Printer " + model.name; };
  for (const TestModel& model : test_models()) {
    ASSERT_TRUE(set_printer_state(printer, {"dpi " + std::to_string(model.dpi)}));
    const ProcessResult added =
        run_app(app, {"add", "-d", "auto" + std::to_string(model.dpi), "-v", device_uri(), "-m", "auto"});
    ASSERT_EQ(added.status, 0) << added.out << added.err << app_log_tail(app);
    EXPECT_EQ(make_and_model(model), expected(model));
  }
  ASSERT_TRUE(set_printer_state(printer, {"silent"}));
  const ProcessResult refused = run_app(app, {"add", "-d", "refused", "-v", device_uri(), "-m", "auto"});
  EXPECT_NE(refused.status, 0) << refused.out << refused.err;
  EXPECT_NE(read_file(app.root + "/app.log")
                .find("Unable to detect the model of the printer at " + device_uri() + ": no answer to ~HI within 2 s"),
            std::string::npos)
      << app_log_tail(app);

  ASSERT_EQ(shutdown_printer_app(app), 0) << app_log_tail(app);
  ASSERT_TRUE(start_printer_app(app, build_paths().printerApp, root.path));
  for (const TestModel& model : test_models())
    EXPECT_EQ(make_and_model(model), expected(model)) << app_log_tail(app);

  ASSERT_TRUE(set_printer_state(printer, {}));
  ASSERT_GT(print_and_wait(pwg_sample(test_model(300), root.path, 1), "image/pwg-raster", IPP_JSTATE_COMPLETED,
                           "auto300"),
            0);
  ASSERT_TRUE(wait_for_kept(printer, 0, kLabels));
  const std::vector<DecodedLabel> labels = labels_since(0);
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].width, dots(test_model(300), 102)) << "4 in, 102 mm";
}

// The printer closes the connection after the first of two labels: the job
// is aborted and says why, the printer shows offline until it answers
// again, and the next job prints whole.
TEST_F(AppStatus, DroppedConnectionAbortsTheJobAndShowsTheOfflinePrinter)
{
  ASSERT_TRUE(set_printer_state(printer, {"close-after 1"}));
  const int dropped = print_and_wait(pwg_sample(test_model(203), root.path), "image/pwg-raster", IPP_JSTATE_ABORTED);
  ASSERT_GT(dropped, 0);
  EXPECT_EQ(job_message(app, dropped), "The printer closed the connection.");
  EXPECT_EQ(printer_reasons(app), Reasons{"offline"});
  EXPECT_EQ(kept_files(printer, kLabels).size(), 1u) << printer_log(printer);

  ASSERT_TRUE(set_printer_state(printer, {}));
  EXPECT_EQ(wait_for_reasons(app, {}, std::chrono::seconds(30)), Reasons{}) << app_log_tail(app);
  expect_sample_prints_whole();
}

// A printer out of labels that stops reading in the middle of a long job:
// the job shows that it needs media, and a cancel ends it although the
// printer takes nothing more; once the printer reads again, the next job
// prints whole.
TEST_F(AppStatus, JobOnAPrinterThatStoppedReadingCanBeCancelled)
{
  // 1500 labels of a 10 KB graphic, about 30 MB: far more than the
  // connection buffers.
  const std::string label = "^XA^FO0,0^GFA,10000,10000,50," + std::string(20000, 'A') + "^FS^XZ\r\n";
  std::string job;
  for (int i = 0; i < 1500; ++i)
    job += label;
  const std::string path = root.file("long.zpl");
  ASSERT_TRUE(write_file(path, job));

  ASSERT_TRUE(set_printer_state(printer, {"media-out"}));
  const int id = print_file(app, path, kZplType);
  ASSERT_GT(id, 0) << app_log_tail(app);
  ASSERT_TRUE(wait_for_kept(printer, 0, kLabels));
  EXPECT_EQ(printer_reasons(app), (Reasons{"media-empty", "media-needed"}));

  ASSERT_TRUE(set_printer_state(printer, {"media-out", "stop-reading"}));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  ASSERT_EQ(job_state(app, kPrinter, id), IPP_JSTATE_PROCESSING) << app_log_tail(app);
  EXPECT_TRUE(cancel_job(app, kPrinter, id)) << cupsLastErrorString();
  EXPECT_EQ(wait_for_job_end(app, kPrinter, id, std::chrono::seconds(30)), IPP_JSTATE_CANCELED) << app_log_tail(app);
  EXPECT_EQ(printer_reasons(app), Reasons{"media-empty"});

  ASSERT_TRUE(set_printer_state(printer, {}));
  // The printer first reads what its connection still holds of the
  // cancelled job, up to the reset.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (printer_log(printer).find("connection 1 closed") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  expect_sample_prints_whole();
}

}  // namespace
