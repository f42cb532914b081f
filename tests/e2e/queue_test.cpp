// Printing as users do: a scheduler of our own with a queue per model that
// writes to a file, jobs sent with lp, and the install layout as the CUPS
// driver list sees it.
#include <unistd.h>

#include <filesystem>
#include <ostream>

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
constexpr Model k600{"600dpi", PPD_600, 600, false, 2407, 3587};

void PrintTo(const Model& model, std::ostream* out) { *out << model.name; }

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
    serverBin = make_server_bin(root, test_filters());
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
  const std::string jobId = print_file(daemon, queue, SAMPLE_PDF, {"Darkness=20", "PageSize=4.00x6.00in"}, 2);
  ASSERT_FALSE(jobId.empty());
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

INSTANTIATE_TEST_SUITE_P(EveryModel, Queue, ::testing::Values(k300, k203, k600),
                         [](const auto& info) { return std::string(info.param.name); });

// cmake --install into a staging folder: the filters land in CUPS's filter
// folder and the PPDs where the driver list finds them, so an administrator
// can pick any model by name.
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
  const std::string ppdDir = stage + PPD_INSTALL_DIR;
  for (const FilterProgram& filter : test_filters()) {
    EXPECT_TRUE(fs::exists(stage + FILTER_DIR "/" + filter.name)) << filter.name;
    ASSERT_TRUE(fs::exists(ppdDir + "/" + filter.name + ".ppd")) << filter.name;
  }

  {
    PrivateCupsd daemon;
    const std::string serverBin = make_server_bin(root, test_filters());
    const std::string dataDir = make_data_dir(root, ppdDir);
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
    result = run_tool("lpadmin", {"-h", daemon.server, "-p", "by-name", "-E", "-v", "file:///dev/null", "-m",
                                  "zplfilter/zplfilter-203.ppd"},
                      root);
    EXPECT_EQ(result.status, 0) << result.err;
  }
}

}  // namespace
