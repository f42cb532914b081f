// The printer's status and maintenance commands through CUPS, as a user
// meets them: a private scheduler with a socket queue on the virtual
// printer, whose state file says what the printer reports. Each condition
// reaches lpstat as its reason and leaves it once the printer no longer
// reports it; a silent printer costs a job at most the status budget; a
// garbled reply changes nothing; command files do what they say.
#include <unistd.h>

#include <chrono>
#include <set>
#include <sstream>
#include <thread>

#include "cups_env.h"
#include "virtual_printer.h"

namespace {

// Every reason the filters set, for telling ours from the scheduler's own.
const Reasons kOurReasons{"media-empty-error", "marker-supply-empty-error", "cover-open-error", "media-jam-error",
                          "zplfilter-printer-paused-warning", "media-low-report", "other-warning"};

constexpr char kQuery[] = "~HQES\r\n";

// A maintenance command of CUPS's web page and what the printer must get.
struct CommandCase {
  const char* command;
  const char* sent;
};
const CommandCase kCommandCases[] = {
    {"PrintSelfTestPage", "~WC\r\n"}, {"zplfilter.Calibrate", "~JC\r\n"}, {"ReportStatus", kQuery}};

class PrinterStatus : public ::testing::Test {
protected:
  void SetUp() override
  {
    if (geteuid() != 0)
      GTEST_SKIP() << "a private cupsd runs its filters as lp only when started as root";
    root = dir.path;
    ASSERT_TRUE(make_public_dir(root));
    ASSERT_TRUE(start_virtual_printer(printer, root + "/printer"));
    ASSERT_TRUE(start_cupsd(daemon, root, make_server_bin(root, test_filters()),
                            make_data_dir(root, build_paths().mimeSourceDir)));
    ASSERT_TRUE(add_queue(daemon, kQueue, test_model(203).ppd, virtual_printer_uri(printer)));
    raster = root + "/label.ras";
    ASSERT_TRUE(write_raster(raster, {noise_page(203, 120, 7)}));
  }

  // Prints a file with the options and waits until it is done and the
  // printer has kept what it got. Returns the seconds from lp to the job's
  // end, or a negative number after reporting a failure.
  double print(const std::string& file, const std::vector<std::string>& options = {})
  {
    const size_t kept = kept_files(printer).size();
    std::vector<std::string> lpArgs;
    for (const std::string& option : options)
      lpArgs.insert(lpArgs.end(), {"-o", option});
    const auto start = std::chrono::steady_clock::now();
    if (print_job(daemon, kQueue, file, lpArgs).empty())
      return -1;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return wait_for_kept(printer, kept) ? took.count() : -1;
  }

  // The filters' reasons lpstat shows for the queue ("Alerts: ...").
  Reasons reasons()
  {
    const std::string out = run_tool("lpstat", {"-h", daemon.server, "-l", "-p", kQueue}, root).out;
    const std::string kAlerts = "Alerts:";
    const size_t at = out.find(kAlerts);
    const size_t from = at == std::string::npos ? out.size() : at + kAlerts.size();
    Reasons ours;
    std::istringstream words(out.substr(from, out.find('\n', from) - from));
    for (std::string word; words >> word;)
      if (kOurReasons.count(word))
        ours.insert(word);
    return ours;
  }

  // Writes a command file and returns its path.
  std::string command_file(const std::string& name, const std::string& commands)
  {
    const std::string path = root + "/" + name + ".cmd";
    EXPECT_TRUE(write_file(path, "#CUPS-COMMAND\n" + commands));
    return path;
  }

  static constexpr char kQueue[] = "labels";
  TempDir dir;
  std::string root, raster;
  VirtualPrinter printer;
  PrivateCupsd daemon;
};

TEST_F(PrinterStatus, EachConditionReachesLpstatAndClearsAgain)
{
  walk_conditions(printer, [&](const PrinterCondition& c) {
    const size_t before = kept_files(printer).size();
    ASSERT_GE(print(raster), 0.0) << printer_log(printer);
    EXPECT_EQ(reasons(), c.cups) << cupsd_log_tail(daemon);
    // The labels still go out, after the query and nothing else.
    const std::string bytes = kept_bytes(printer, before);
    ASSERT_EQ(bytes.rfind(kQuery, 0), 0u) << bytes.substr(0, 40);
    std::vector<DecodedLabel> labels;
    EXPECT_TRUE(decode_labels(bytes.substr(sizeof kQuery - 1), labels));
    EXPECT_EQ(labels.size(), 1u);
  });
}

// The budget of 0.5 s holds when the printer never answers (as a backend
// that claims a back-channel it lacks): a job asks, yet ends within a wide
// bound of the same job with StatusQuery=Off, far from the 10 s a blocking
// read would cost. Neither that nor a garbled reply changes any reason.
TEST_F(PrinterStatus, SilentOrGarbledPrinterCostsLittleAndChangesNothing)
{
  ASSERT_TRUE(set_printer_state(printer, {"media-out"}));
  ASSERT_GE(print(raster), 0.0);
  ASSERT_EQ(reasons(), Reasons{"media-empty-error"});

  ASSERT_TRUE(set_printer_state(printer, {"silent", "head-open"}));
  size_t before = kept_files(printer).size();
  const double off = print(raster, {"StatusQuery=Off"});
  ASSERT_GE(off, 0.0);
  EXPECT_EQ(kept_bytes(printer, before).rfind(kQuery, 0), std::string::npos) << "StatusQuery=Off still asked";
  before = kept_files(printer).size();
  const double asked = print(raster);
  ASSERT_GE(asked, 0.0);
  EXPECT_EQ(kept_bytes(printer, before).rfind(kQuery, 0), 0u) << "the query did not go out";
  EXPECT_LT(asked - off, 3.0) << "with the query " << asked << " s, without " << off << " s";
  EXPECT_EQ(reasons(), Reasons{"media-empty-error"});

  ASSERT_TRUE(set_printer_state(printer, {"garble", "head-open"}));
  ASSERT_GE(print(raster), 0.0);
  EXPECT_EQ(reasons(), Reasons{"media-empty-error"});
  EXPECT_NE(read_file(root + "/log/error_log").find("reply is garbled"), std::string::npos);
}

// Command files as CUPS's web page and lp send them: each command reaches
// the printer as its ZPL, the status report sets the reasons, and a file
// with an unknown command stops with an ERROR line before anything is sent.
TEST_F(PrinterStatus, CommandFilesReachThePrinter)
{
  for (const CommandCase& c : kCommandCases) {
    SCOPED_TRACE(c.command);
    ASSERT_TRUE(set_printer_state(printer, {"paper-jam"}));
    const size_t before = kept_files(printer).size();
    ASSERT_GE(print(command_file(c.command, std::string(c.command) + "\n")), 0.0);
    EXPECT_EQ(kept_bytes(printer, before), c.sent);
  }
  // Only the status report asked the printer.
  EXPECT_EQ(reasons(), Reasons{"media-jam-error"});

  const size_t before = kept_files(printer).size();
  const std::string jobId = submit_job(daemon, kQueue, command_file("unknown", "PrintSelfTestPage\nClean\n"));
  ASSERT_FALSE(jobId.empty());
  const std::string expected = "Unknown printer command \"Clean\"; nothing was sent to the printer";
  bool stopped = false;
  for (int i = 0; i < 600 && !stopped; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stopped = read_file(root + "/log/error_log").find(expected) != std::string::npos;
  }
  EXPECT_TRUE(stopped) << cupsd_log_tail(daemon);
  // The backend never connected: the printer got nothing at all.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(kept_files(printer).size(), before) << printer_log(printer);
}

}  // namespace
