// Printing as users do: a scheduler of our own with a queue per model that
// writes to a file, jobs sent with lp, and the install layout as the CUPS
// driver list sees it.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <ostream>
#include <thread>

#include <gtest/gtest.h>

#include "cups_env.h"

namespace fs = std::filesystem;

namespace {

struct Model {
  const char* name;
  const char* ppd;
  int dpi;
  bool header;
  int widthDots, lengthDots;  // 4.00x6.00in, 102 x 152 mm, as each model counts
};
constexpr Model k300{"300dpi", PPD_300, 300, true, 1203, 1793};
constexpr Model k203{"203dpi", PPD_203, 203, false, 816, 1216};

void PrintTo(const Model& model, std::ostream* out) { *out << model.name; }

// Waits until the job is completed; fails (with the daemon's log) if the
// queue stops or the job takes more than two minutes.
bool wait_for_job(const PrivateCupsd& daemon, const std::string& queue, const std::string& jobId)
{
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (std::chrono::steady_clock::now() < deadline) {
    const ProcessResult done = run_tool("lpstat", {"-h", daemon.server, "-W", "completed", "-o", queue}, daemon.root);
    if (done.out.find(jobId + " ") != std::string::npos)
      return true;
    const ProcessResult state = run_tool("lpstat", {"-h", daemon.server, "-p", queue}, daemon.root);
    if (state.out.find("disabled") != std::string::npos) {
      ADD_FAILURE() << "queue stopped: " << state.out << cupsd_log_tail(daemon);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  ADD_FAILURE() << "job " << jobId << " did not complete\n" << cupsd_log_tail(daemon);
  return false;
}

// Links everything of CUPS's data folder but model/, which holds only the
// given PPD folder: the driver list then shows exactly what we installed.
std::string make_data_dir(const std::string& root, const std::string& ppdDir)
{
  const fs::path data = fs::path(root) / "data";
  if (!make_public_dir((data / "model").string()))
    return {};
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator("/usr/share/cups", ec))
    if (entry.path().filename() != "model" && !ec)
      fs::create_symlink(entry.path(), data / entry.path().filename(), ec);
  if (!ec)
    fs::create_symlink(ppdDir, data / "model" / "zplfilter", ec);
  if (ec) {
    ADD_FAILURE() << "making the data folder: " << ec.message();
    return {};
  }
  return data.string();
}

class Queue : public ::testing::TestWithParam<Model> {
protected:
  void SetUp() override
  {
    if (geteuid() != 0)
      GTEST_SKIP() << "a private cupsd runs its filters as lp only when started as root";
    root = make_temp_dir();
    ASSERT_TRUE(make_public_dir(root));
    serverBin = make_server_bin(root, {FILTER_300, FILTER_203});
    ASSERT_FALSE(serverBin.empty());
  }
  void TearDown() override
  {
    stop_cupsd(daemon);
    if (!root.empty())
      remove_tree(root);
  }

  std::string root, serverBin;
  PrivateCupsd daemon;
};

TEST_P(Queue, JobWithOptionsBecomesLabels)
{
  const Model& model = GetParam();
  ASSERT_TRUE(start_cupsd(daemon, root, serverBin, "/usr/share/cups"));
  const std::string queue = std::string("labels-") + model.name;
  const std::string output = root + "/out/" + queue + ".zpl";

  ProcessResult result =
      run_tool("lpadmin", {"-h", daemon.server, "-p", queue, "-E", "-v", "file://" + output, "-P", model.ppd}, root);
  ASSERT_EQ(result.status, 0) << result.err;
  result = run_tool("lp", {"-h", daemon.server, "-d", queue, "-o", "Darkness=20", "-o", "PageSize=4.00x6.00in", "-n",
                           "2", SAMPLE_PDF},
                    root);
  ASSERT_EQ(result.status, 0) << result.err;
  // "request id is labels-300dpi-1 (1 file(s))"
  const size_t idStart = result.out.find(queue + "-");
  ASSERT_NE(idStart, std::string::npos) << result.out;
  const std::string jobId = result.out.substr(idStart, result.out.find(' ', idStart) - idStart);
  ASSERT_TRUE(wait_for_job(daemon, queue, jobId));

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
}

INSTANTIATE_TEST_SUITE_P(BothModels, Queue, ::testing::Values(k300, k203),
                         [](const auto& info) { return std::string(info.param.name); });

// cmake --install into a staging folder: the filters land in CUPS's filter
// folder and the PPDs where the driver list finds them, so an administrator
// can pick either model by name.
TEST(Install, DriverListShowsBothModels)
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
  EXPECT_TRUE(fs::exists(stage + FILTER_DIR "/zplfilter-300"));
  EXPECT_TRUE(fs::exists(stage + FILTER_DIR "/zplfilter-203"));
  const std::string ppdDir = stage + PPD_INSTALL_DIR;
  ASSERT_TRUE(fs::exists(ppdDir + "/zplfilter-300.ppd"));
  ASSERT_TRUE(fs::exists(ppdDir + "/zplfilter-203.ppd"));

  {
    PrivateCupsd daemon;
    const std::string serverBin = make_server_bin(root, {FILTER_300, FILTER_203});
    const std::string dataDir = make_data_dir(root, ppdDir);
    ASSERT_FALSE(serverBin.empty() || dataDir.empty());
    ASSERT_TRUE(start_cupsd(daemon, root, serverBin, dataDir));
    result = run_tool("lpinfo", {"-h", daemon.server, "-m"}, root);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("zplfilter/zplfilter-300.ppd Generic ZPL Label Printer 300dpi"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("zplfilter/zplfilter-203.ppd Generic ZPL Label Printer 203dpi"), std::string::npos)
        << result.out;
    // Adding a queue by the listed name, as lpadmin -m or the web page does.
    result = run_tool("lpadmin", {"-h", daemon.server, "-p", "by-name", "-E", "-v", "file:///dev/null", "-m",
                                  "zplfilter/zplfilter-203.ppd"},
                      root);
    EXPECT_EQ(result.status, 0) << result.err;
  }
}

}  // namespace
