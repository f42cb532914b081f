// zpl-printer-app as users run it: a server on a loopback port, a printer
// per model writing to a folder, PWG raster from Ghostscript printed with
// ipptool and with `submit`, each label compared byte for byte with the
// filter's label for the same raster and settings; raw ZPL, a cancelled
// job, the web interface, the shutdown, bursts of clients that all print
// at once, and the media settings made as users make them.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "common/profile.h"
#include "cups_env.h"
#include "printer_app.h"

namespace {

namespace fs = std::filesystem;

std::string printer_name(const TestModel& model) { return "p" + std::to_string(model.dpi); }

// A job's IPP attributes and the filter options that ask for the same label.
struct Job {
  const char* name;
  int copies;
  const char* media;
  int darkness, speed;
  const char* content;
  const char* colorMode;
  const char* filterOptions;
};

// The sizes go by their registered PWG names where they have one: a name
// the printer does not offer would fail the job's successful-ok. A new
// printer is on gap stock.
const Job kJobs[] = {
    {"PhotoDarkerFasterTwoCopies", 2, "na_index-4x6_4x6in", 20, 15240, "photo", "monochrome",
     "Darkness=21 PrintSpeed=60 PageSize=4.00x6.00in Halftone=Photo MediaTracking=Gap"},
    {"BiLevelSmallSlow", 1, "oe_2.25x1.25-label_2.25x1.25in", -30, 5080, "auto", "bi-level",
     "Darkness=6 PrintSpeed=20 PageSize=2.25x1.25in Halftone=Threshold MediaTracking=Gap"},
    {"MetricTextThreeCopies", 3, "om_small-photo_100x150mm", 0, 10160, "text", "monochrome",
     "Darkness=15 PrintSpeed=40 PageSize=100mmx150mm Halftone=Auto MediaTracking=Gap"},
};

// What a printer added with no options prints: the PPDs' defaults, on the
// gap stock a new printer starts with.
constexpr char kDefaultFilterOptions[] =
    "Darkness=15 PrintSpeed=40 PageSize=4.00x6.00in Halftone=Auto MediaTracking=Gap";

void PrintTo(const Job& job, std::ostream* out) { *out << job.name; }

// Where two byte strings first differ, for failure messages.
std::string first_difference(const std::string& a, const std::string& b)
{
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i])
    ++i;
  return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ", first difference at byte " +
         std::to_string(i);
}

class PrinterAppTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(start_printer_app(app, build_paths().printerApp, root.path));
    for (const TestModel& model : test_models())
      ASSERT_NO_FATAL_FAILURE(add_printer(model, printer_name(model), root.file("out-" + std::to_string(model.dpi))));
  }
  void TearDown() override
  {
    if (app.process.pid > 0) {
      // A sanitizer report of the server ends up in its own output.
      EXPECT_EQ(shutdown_printer_app(app), 0) << read_file(root.file("server.out")) << app_log_tail(app);
    }
  }

  // A printer of the model writing its jobs to the folder out.
  void add_printer(const TestModel& model, const std::string& printer, const std::string& out)
  {
    ASSERT_TRUE(make_public_dir(out));
    const ProcessResult added =
        run_app(app, {"add", "-d", printer, "-v", "file://" + out, "-m", "zpl_" + std::to_string(model.dpi) + "dpi"});
    ASSERT_EQ(added.status, 0) << added.out << added.err << app_log_tail(app);
  }

  // The filter's labels for the raster's pages, each page's header asking
  // for copies, as CUPS would give them. PPD defaults play no part.
  std::string filter_labels_of(const TestModel& model, const std::string& rasterPath, int copies, const char* options)
  {
    std::vector<GreyPage> pages;
    cups_page_header2_t first;
    EXPECT_TRUE(read_raster_pages(rasterPath, pages, first));
    for (GreyPage& page : pages)
      page.copies = static_cast<unsigned>(copies);
    return filter_labels(model.filter, pages, options);
  }

  // The file of a finished job, once the printer's device has closed it.
  std::string printed(const TestModel& model, const std::string& jobName)
  {
    return wait_for_closed_file(root.file("out-" + std::to_string(model.dpi) + "/" + jobName + ".prn"));
  }

  // The finished job's file holds exactly the expected bytes.
  void expect_printed(const TestModel& model, const std::string& jobName, const std::string& expected)
  {
    expect_file(printed(model, jobName), expected);
  }
  void expect_file(const std::string& out, const std::string& expected)
  {
    EXPECT_TRUE(out == expected) << first_difference(out, expected) << "\n" << app_log_tail(app);
  }

  // Prints with ipptool and the job's attributes; true once it completed.
  bool print_with_ipptool(const TestModel& model, const Job& job, const std::string& rasterPath)
  {
    const ProcessResult result = run_tool(
        "ipptool", {"-t", "-f", rasterPath, "-d", std::string("jobname=") + job.name, "-d",
                    "copies=" + std::to_string(job.copies), "-d", std::string("media=") + job.media, "-d",
                    "darkness=" + std::to_string(job.darkness), "-d", "speed=" + std::to_string(job.speed), "-d",
                    std::string("content=") + job.content, "-d", std::string("colormode=") + job.colorMode,
                    printer_uri(app, printer_name(model)), PRINT_JOB_TEST},
        root.path);
    EXPECT_EQ(result.status, 0) << result.out << result.err << app_log_tail(app);
    return result.status == 0;
  }

  TempDir root;
  PrinterApp app;  // ended before the folder goes
};

class LabelsAsTheFilters : public PrinterAppTest, public ::testing::WithParamInterface<std::tuple<TestModel, Job>> {};

TEST_P(LabelsAsTheFilters, IpptoolJobGivesTheFiltersLabels)
{
  const auto& [model, job] = GetParam();
  const std::string rasterPath = pwg_sample(model, root.path);
  const std::string expected = filter_labels_of(model, rasterPath, job.copies, job.filterOptions);
  std::vector<DecodedLabel> labels;
  ASSERT_TRUE(decode_labels(expected, labels));
  ASSERT_EQ(labels.size(), 2u);

  ASSERT_TRUE(print_with_ipptool(model, job, rasterPath));
  expect_printed(model, job.name, expected);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, LabelsAsTheFilters,
                         ::testing::Combine(::testing::ValuesIn(test_models()), ::testing::ValuesIn(kJobs)),
                         ParamName());

class EveryModel : public PrinterAppTest, public ::testing::WithParamInterface<TestModel> {};

// Files sent with `submit` and no job attributes: a raster prints at the
// printer's defaults, which are the PPDs' defaults; a file of ZPL (the 300
// dpi filter's labels, binary prefix and all) is recognised and sent
// unchanged.
TEST_P(EveryModel, SubmittedFilesPrintAtThePpdDefaultsOrUnchanged)
{
  const TestModel& model = GetParam();
  const std::string rasterPath = pwg_sample(model, root.path);
  const TestModel& model300 = test_model(300);
  const std::string zpl = filter_labels_of(model300, pwg_sample(model300, root.path), 2, "Darkness=9");
  ASSERT_TRUE(write_file(root.file("labels.zpl"), zpl));
  const struct {
    const char* title;
    std::string file, expected;
  } jobs[] = {
      {"submitted", rasterPath, filter_labels_of(model, rasterPath, 1, kDefaultFilterOptions)},
      {"raw", root.file("labels.zpl"), zpl},
  };
  for (const auto& job : jobs) {
    SCOPED_TRACE(job.title);
    ASSERT_GT(submit_to_app(app, printer_name(model), job.title, job.file), 0);
    expect_printed(model, job.title, job.expected);
  }
}

// PAPPL prints an image once per copy itself: its labels must not ask the
// printer for the copies again.
TEST_P(EveryModel, ImageCopiesArePrintedOnce)
{
  const TestModel& model = GetParam();
  const std::string jpeg = root.file("label.jpg");
  const ProcessResult made = run_tool(
      "gs", {"-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=jpeggray", "-r" + std::to_string(model.dpi),
             "-dLastPage=1", "-dDEVICEWIDTHPOINTS=288", "-dDEVICEHEIGHTPOINTS=432", "-dFIXEDMEDIA",
             "-sOutputFile=" + jpeg, build_paths().samplePs},
      root.path);
  ASSERT_EQ(made.status, 0) << made.err;
  ASSERT_GT(submit_to_app(app, printer_name(model), "image", jpeg, {"-o", "copies=3"}), 0);

  // The whole job, once the device has closed its file: three labels, not a fourth.
  std::vector<DecodedLabel> labels;
  ASSERT_TRUE(decode_labels(printed(model, "image"), labels));
  EXPECT_EQ(labels.size(), 3u) << app_log_tail(app);
  for (const DecodedLabel& label : labels)
    EXPECT_EQ(label.copies, 1);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, EveryModel, ::testing::ValuesIn(test_models()), ParamName());

// Sends a PWG raster Print-Job's attributes and data, the first bytes of its
// document or all of it, and leaves the request open for the rest and the
// response. documentSize is the whole document's size, sent as the
// request's length as most clients do, or 0 for a chunked request.
http_t* start_print_job(const PrinterApp& app, const std::string& printer, const std::string& jobName,
                        std::string_view data, size_t documentSize = 0)
{
  http_t* http = connect_app(app);
  if (!http)
    return nullptr;
  ipp_t* request = app_request(app, IPP_OP_PRINT_JOB, printer);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, jobName.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "image/pwg-raster");
  const size_t length = documentSize ? ippLength(request) + documentSize : CUPS_LENGTH_VARIABLE;
  const http_status_t status = cupsSendRequest(http, request, ("/ipp/print/" + printer).c_str(), length);
  ippDelete(request);
  if (status != HTTP_STATUS_CONTINUE || cupsWriteRequestData(http, data.data(), data.size()) != HTTP_STATUS_CONTINUE) {
    httpClose(http);
    return nullptr;
  }
  return http;
}

// A job cancelled while its second page is coming in: the first label is
// printed whole, and nothing of the second reaches the printer.
TEST_F(PrinterAppTest, CancelledJobLeavesNoPartialLabel)
{
  const TestModel& model = test_model(203);
  const std::string printer = printer_name(model);
  const std::string rasterPath = pwg_sample(model, root.path);
  const std::string document = read_file(rasterPath);
  const size_t secondPage = read_file(pwg_sample(model, root.path, 1)).size();  // page 1 alone ends here
  ASSERT_LT(secondPage, document.size());
  const std::string allLabels = filter_labels_of(model, rasterPath, 1, kDefaultFilterOptions);
  const std::string firstLabel = allLabels.substr(0, allLabels.find("^XZ\r\n") + 5);

  const size_t cut = secondPage + (document.size() - secondPage) / 2;
  http_t* http = start_print_job(app, printer, "cancelled", std::string_view(document).substr(0, cut));
  ASSERT_NE(http, nullptr) << cupsLastErrorString();
  const std::string path = root.file("out-" + std::to_string(model.dpi) + "/cancelled.prn");
  EXPECT_EQ(wait_for_content(path, firstLabel), firstLabel) << app_log_tail(app);  // while the job runs

  const int jobId = processing_job(app, printer);
  EXPECT_GT(jobId, 0);
  EXPECT_TRUE(cancel_job(app, printer, jobId)) << cupsLastErrorString();
  cupsWriteRequestData(http, document.data() + cut, document.size() - cut);
  ippDelete(cupsGetResponse(http, ("/ipp/print/" + printer).c_str()));
  httpClose(http);

  EXPECT_EQ(wait_for_job_end(app, printer, jobId, std::chrono::seconds(10)), IPP_JSTATE_CANCELED);
  expect_printed(model, "cancelled", firstLabel);
}

// ---------------------------------------------------------------------------
// Media settings, made as users make them

// A 300 dpi printer's media settings, made in this order, and the filter
// options that print the same labels after the defaults of a new printer.
struct MediaSetup {
  const char* name;
  std::vector<std::pair<const char*, const char*>> forms;  // web page, its form's fields
  const char* modify;                                      // options of one `modify -o`
  const char* submit;                                      // the job's own options
  const char* filterOptions;
};

const MediaSetup kMediaSetups[] = {
    {"Modify", {}, "label-mode-configured=cutter media-tracking=continuous zpl-media-type=direct-thermal "
                   "zpl-tear-offset=-500 media-top-offset=2mm", "",
     "PrintMode=Cutter MediaTracking=Continuous MediaType=DirectThermal TearOffset=-59 Vertical=24"},
    {"WebPages",
     {{"label", "label-mode-configured=peel-off"},
      {"media", "ready0-size=na_index-4x6_4x6in&ready0-borderless=on&ready0-left-offset=-1.0&ready0-top-offset=0"
                "&ready0-tracking=mark&ready0-type=labels"},
      {"printing", "zpl-tear-offset=2000&zpl-media-type=thermal-transfer&zpl-dotted-line=on"}},
     "", "",
     "PrintMode=PeelOff MediaTracking=Mark Horizontal=-12 TearOffset=120 MediaType=ThermalTransfer DottedLine=1"},
    // The tracking set last counts, whichever way it was set.
    {"ModifyAfterMediaPage",
     {{"media", "ready0-size=na_index-4x6_4x6in&ready0-borderless=on&ready0-tracking=mark&ready0-type=labels"}},
     "media-tracking=continuous", "", "MediaTracking=Continuous"},
    {"JobsOwnValues", {}, "zpl-media-type=direct-thermal",
     "zpl-media-type=thermal-transfer zpl-tear-offset=150 media-tracking=web",
     "MediaType=ThermalTransfer TearOffset=18 MediaTracking=Gap"},
};

TEST_F(PrinterAppTest, MediaSettingsGiveTheFiltersLabels)
{
  const TestModel& model = test_model(300);
  const std::string rasterPath = pwg_sample(model, root.path);
  for (const MediaSetup& setup : kMediaSetups) {
    SCOPED_TRACE(setup.name);
    const std::string printer = std::string("media-") + setup.name;
    const std::string out = root.file("out-" + printer);
    ASSERT_NO_FATAL_FAILURE(add_printer(model, printer, out));
    for (const auto& [page, fields] : setup.forms)
      EXPECT_EQ(submit_web_form(app, "/" + printer + "/" + page, fields), "Changes saved.") << page;
    if (*setup.modify) {
      const ProcessResult result = run_app(app, {"modify", "-d", printer, "-o", setup.modify});
      ASSERT_EQ(result.status, 0) << result.out << result.err;
    }
    ASSERT_GT(submit_to_app(app, printer, "media", rasterPath, {"-o", setup.submit}), 0);

    const std::string options = std::string(kDefaultFilterOptions) + " " + setup.filterOptions;
    expect_file(wait_for_closed_file(out + "/media.prn"), filter_labels_of(model, rasterPath, 1, options.c_str()));
  }
}

// The web interface's home page lists the printers.
TEST_F(PrinterAppTest, WebInterfaceShowsThePrinters)
{
  const std::string html = get_web_page(app, "/");
  for (const TestModel& model : test_models())
    EXPECT_NE(html.find(printer_name(model)), std::string::npos) << printer_name(model) << " not on the page";
  EXPECT_NE(html.find("zpl-printer-app"), std::string::npos) << "no footer";
}

// One driver per model profile, the ones to come included.
TEST_F(PrinterAppTest, DriversAreTheModelProfiles)
{
  const ProcessResult result = run_app(app, {"drivers"});
  ASSERT_EQ(result.status, 0) << result.err;
  for (const ModelProfile* model : kModels) {
    const std::string name = "zpl_" + std::to_string(model->dpi) + "dpi";
    EXPECT_NE(result.out.find(name + " \"Generic ZPL Label Printer " + std::to_string(model->dpi) + "dpi\""),
              std::string::npos)
        << result.out;
  }
}

TEST_F(PrinterAppTest, ShutdownEndsTheServer)
{
  EXPECT_EQ(shutdown_printer_app(app), 0) << read_file(root.file("server.out")) << app_log_tail(app);
  EXPECT_NE(read_file(root.file("app.log")).find("Shutting down system"), std::string::npos) << app_log_tail(app);
  // Started again, the server has the printers of its saved state, each
  // taking one job at a time even where the state says otherwise, as one
  // saved before that limit would.
  const std::string stateFile = root.file("state/zpl-printer-app.state");
  std::string state = read_file(stateFile);
  for (size_t at = 0; (at = state.find("MaxActiveJobs 1", at)) != std::string::npos;)
    state.replace(at, 15, "MaxActiveJobs 0");
  ASSERT_TRUE(write_file(stateFile, state));
  ASSERT_TRUE(start_printer_app(app, build_paths().printerApp, root.path));
  const ProcessResult printers = run_app(app, {"printers"});
  for (const TestModel& model : test_models()) {
    EXPECT_NE(printers.out.find(printer_name(model)), std::string::npos) << printers.out << printers.err;
    EXPECT_EQ(printer_attribute(app, printer_name(model), "job-spooling-supported"), "stream") << printer_name(model);
  }
}

// --- many clients at once ---

// One client of a burst: a job it prints and what came of it.
struct BurstClient {
  std::string printer;
  std::string jobName;
  unsigned seed = 0;
  int jobId = 0;
  int busyAnswers = 0;
  std::string error;  // empty when the job was taken
};

// Sends the Print-Job once; its status, or an error status with the
// reason in client.error when it could not be sent or no answer came.
ipp_status_t send_print_job(const PrinterApp& app, const std::string& document, BurstClient& client)
{
  http_t* http = start_print_job(app, client.printer, client.jobName, document, document.size());
  ipp_t* response = http ? cupsGetResponse(http, ("/ipp/print/" + client.printer).c_str()) : nullptr;
  const ipp_status_t status = response ? ippGetStatusCode(response) : IPP_STATUS_ERROR_INTERNAL;
  client.jobId = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
  if (!response)
    client.error = std::string("no answer: ") + ippErrorString(cupsLastError());
  ippDelete(response);
  httpClose(http);
  return status;
}

// Prints the client's job, sending it again after a short pause whenever
// the printer answers server-error-busy, as CUPS's ipp backend does. Any
// other failure ends the client: sending again could print twice. A round
// takes seconds; a printer busy for two minutes is stuck, and the test says
// so well before ctest's timeout would end it without a word.
void print_until_taken(const PrinterApp& app, const std::string& document, BurstClient& client)
{
  std::minstd_rand random(client.seed);
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (std::chrono::steady_clock::now() < giveUp) {
    const ipp_status_t status = send_print_job(app, document, client);
    if (status != IPP_STATUS_ERROR_BUSY) {
      if (status > IPP_STATUS_OK_EVENTS_COMPLETE && client.error.empty())
        client.error = ippErrorString(status);
      return;
    }
    ++client.busyAnswers;
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 180));
  }
  client.error = "still busy after two minutes";
}

// Starts every client at the same moment and waits for all of them.
void run_burst(const PrinterApp& app, const std::string& document, std::vector<BurstClient>& clients)
{
  std::vector<std::thread> threads;
  const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  for (BurstClient& client : clients)
    threads.emplace_back([&app, &document, &client, start] {
      std::this_thread::sleep_until(start);
      print_until_taken(app, document, client);
    });
  for (std::thread& thread : threads)
    thread.join();
}

// The .prn files in a folder device's folder.
size_t printed_files(const std::string& dir)
{
  std::error_code ec;
  return static_cast<size_t>(std::count_if(fs::directory_iterator(dir, ec), fs::directory_iterator(),
                                            [](const fs::directory_entry& e) { return e.path().extension() == ".prn"; }));
}

// A shop's printers printed to directly by many computers: three 203 dpi
// printers, ten clients each starting at once, each with one PWG raster
// job, three rounds. Every job prints exactly once, as the filter's label,
// and the application answers after every round.
TEST_F(PrinterAppTest, ConcurrentRetryingClientsPrintEveryJobOnce)
{
  constexpr int kPrinters = 3, kClientsPerPrinter = 10, kRounds = 3;
  const TestModel& model = test_model(203);
  const std::string rasterPath = pwg_sample(model, root.path, 1);
  const std::string document = read_file(rasterPath);
  const std::string expected = filter_labels_of(model, rasterPath, 1, kDefaultFilterOptions);
  for (int p = 0; p < kPrinters; ++p) {
    const std::string out = root.file("load" + std::to_string(p));
    ASSERT_TRUE(make_public_dir(out));
    const ProcessResult added =
        run_app(app, {"add", "-d", "load" + std::to_string(p), "-v", "file://" + out, "-m", "zpl_203dpi"});
    ASSERT_EQ(added.status, 0) << added.out << added.err << app_log_tail(app);
  }

  int busyAnswers = 0;
  for (int round = 1; round <= kRounds; ++round) {
    std::vector<BurstClient> clients;
    for (int p = 0; p < kPrinters; ++p)
      for (int c = 0; c < kClientsPerPrinter; ++c) {
        const std::string printer = "load" + std::to_string(p);
        clients.push_back({printer, "r" + std::to_string(round) + "-" + printer + "-" + std::to_string(c),
                           static_cast<unsigned>(round * 100 + p * 10 + c), 0, 0, {}});
      }
    run_burst(app, document, clients);

    // A hung server would keep every later request waiting: end it here.
    for (int p = 0; p < kPrinters; ++p) {
      const std::string printer = "load" + std::to_string(p);
      const std::string state = printer_attribute(app, printer, "printer-state");
      if (state.empty()) {
        stop_server(app.process.pid);
        FAIL() << printer << " does not answer after round " << round << "\n" << app_log_tail(app);
      }
      EXPECT_EQ(state, "idle") << printer << " after round " << round;
    }
    // One minute for the round's files in all, however many are missing.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (const BurstClient& client : clients) {
      busyAnswers += client.busyAnswers;
      EXPECT_EQ(client.error, "") << client.jobName;
      const std::string printed = wait_for_closed_file(root.file(client.printer + "/" + client.jobName + ".prn"),
                                                       deadline - std::chrono::steady_clock::now());
      EXPECT_TRUE(printed == expected) << client.jobName << ": " << first_difference(printed, expected);
      EXPECT_EQ(job_state(app, client.printer, client.jobId), IPP_JSTATE_COMPLETED) << client.jobName;
    }
    for (int p = 0; p < kPrinters; ++p) {
      const std::string printer = "load" + std::to_string(p);
      EXPECT_EQ(printed_files(root.file(printer)), size_t(round * kClientsPerPrinter)) << printer;
    }
    if (HasFailure())
      break;
  }
  RecordProperty("busy_answers", busyAnswers);
}

}  // namespace
