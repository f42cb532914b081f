// ZPL files through CUPS's own MIME typing and filter choice (cupsfilter
// with our PPDs and our MIME rules beside CUPS's): what is ZPL goes to the
// printer through zplpass byte for byte, everything else through the raster
// chain into our filters, and a file named .zpl that is no ZPL is stopped.
#include <ostream>
#include <sstream>

#include <gtest/gtest.h>

#include "cups_env.h"
#include "zpl_samples.h"

namespace {

struct Model {
  const char* name;
  const char* ppd;
  const char* filter;     // the test build of the model's filter
  const char* installed;  // its name in CUPS's filter folder
};
constexpr Model k300{"300dpi", PPD_300, FILTER_300, "zplfilter-300"};
constexpr Model k203{"203dpi", PPD_203, FILTER_203, "zplfilter-203"};
constexpr Model k600{"600dpi", PPD_600, FILTER_600, "zplfilter-600"};
void PrintTo(const Model& model, std::ostream* out) { *out << model.name; }

// Number of lines of text that start with prefix.
int count_lines(const std::string& text, const std::string& prefix)
{
  std::istringstream lines(text);
  int count = 0;
  for (std::string line; std::getline(lines, line);)
    count += line.rfind(prefix, 0) == 0;
  return count;
}

class ZplJobs : public ::testing::TestWithParam<Model> {
protected:
  static void SetUpTestSuite()
  {
    root = make_temp_dir();
    filesConf = make_cupsfilter_conf(root, test_filters(), MIME_SOURCE_DIR);
  }
  static void TearDownTestSuite() { remove_tree(root); }

  void SetUp() override
  {
    ASSERT_FALSE(filesConf.empty());
    dir = make_temp_dir();
  }
  void TearDown() override { remove_tree(dir); }

  // Writes a job file into the test folder and returns its path.
  std::string job_file(const std::string& name, const std::string& bytes)
  {
    EXPECT_TRUE(write_file(dir + "/" + name, bytes));
    return dir + "/" + name;
  }

  // cupsfilter with the model's PPD to the printer, extra arguments before the file.
  ProcessResult to_printer(const std::string& path, const std::vector<std::string>& extra = {})
  {
    std::vector<std::string> args{"-c", filesConf, "-e", "-p", GetParam().ppd, "-m", "printer/foo"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(path);
    return run_tool("cupsfilter", args, dir);
  }

  // The programs CUPS would run for the file, one line each.
  std::string route(const std::string& path)
  {
    const ProcessResult result = to_printer(path, {"--list-filters"});
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
  }

  // Two labels of the model's own filter: the ZPL a user of ours may keep.
  std::string own_labels()
  {
    return labels_from_filter(GetParam().filter, {noise_page(200, 120, 7), noise_page(120, 60, 8)}, dir);
  }

  static std::string root, filesConf;
  std::string dir;
};
std::string ZplJobs::root, ZplJobs::filesConf;

// How CUPS types each file, by content and by name, and so which programs
// it runs: zplpass alone for ZPL, the raster chain for everything else.
TEST_P(ZplJobs, TypedByContentAndName)
{
  const std::string text = "Start every label with ^XA and end it with ^XZ.\n";
  // A stored graphic of more than the 4 KiB CUPS looks at, before the label.
  const std::string download = "~DGR:LOGO.GRF,6000,10," + std::string(12000, 'F') + "\r\n^XA^XGR:LOGO.GRF^FS^XZ\r\n";
  const std::string pdf = read_file(SAMPLE_PDF);
  const std::string ownRoute = "zplpass\n";
  const std::string rasterTail = std::string(GetParam().installed) + "\n";
  const struct {
    const char* name;
    std::string bytes;
    bool zpl;
  } files[] = {
      {"labels", own_labels(), true},
      {"label", "^XA^FO50,50^A0N,40,40^FDShip to^FS^XZ\r\n", true},
      {"darkness", "~SD15\r\n^XA^FDx^FS^XZ\r\n", true},
      {"indented", "\r\n  \t^XA^FDx^FS^XZ\r\n", true},
      {"designer.prn", "CT~~CD,~CC^~CT~\r\n^XA~TA000^XZ\r\n^XA^FDx^FS^XZ\r\n", true},
      {"lower", "^xa^fdx^fs^xz\n", true},
      {"notes", text, false},
      {"notes.txt", text, false},
      {"notes.zpl", text, true},
      {"comment", "^FXno label in here\n", false},
      {"logo", download, false},
      {"logo.zpl", download, true},
      {"label.pdf", pdf, false},
      {"label.ZPL", pdf, true},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    ASSERT_FALSE(file.bytes.empty());
    const std::string programs = route(job_file(file.name, file.bytes));
    if (file.zpl) {
      EXPECT_EQ(programs, ownRoute);
    } else {
      EXPECT_EQ(programs.find("zplpass"), std::string::npos) << programs;
      ASSERT_GE(programs.size(), rasterTail.size());
      EXPECT_EQ(programs.substr(programs.size() - rasterTail.size()), rasterTail) << programs;
    }
  }
}

TEST_P(ZplJobs, ZplReachesThePrinterByteForByte)
{
  const std::string zpl = own_labels();
  ASSERT_FALSE(zpl.empty());
  const std::string path = job_file("labels.zpl", zpl);

  ProcessResult result = to_printer(path);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(result.out == zpl) << "the printer got other bytes than the file";
  EXPECT_EQ(count_lines(result.err, "PAGE: "), 2) << result.err;

  result = to_printer(path, {"-n", "2"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(result.out == zpl + zpl) << "two copies are not the file twice";
  EXPECT_EQ(count_lines(result.err, "PAGE: "), 4) << result.err;
}

TEST_P(ZplJobs, TextStillBecomesLabels)
{
  const ProcessResult result =
      to_printer(job_file("notes.txt", "Start every label with ^XA and end it with ^XZ.\nThen print it.\n"));
  EXPECT_EQ(result.status, 0) << result.err;
  std::vector<DecodedLabel> labels;
  std::string error;
  ASSERT_TRUE(decode_labels(result.out, labels, error)) << error;
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(count_lines(result.err, "PAGE: "), 1) << result.err;
  size_t set = 0;
  for (uint8_t byte : labels[0].packed)
    set += byte != 0;
  EXPECT_GT(set, 0u) << "the text was not drawn";
}

TEST_P(ZplJobs, MisnamedFileNeverReachesThePrinter)
{
  const ProcessResult result = to_printer(job_file("label.zpl", read_file(SAMPLE_PDF)));
  EXPECT_NE(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("ERROR: Not a ZPL job: "), std::string::npos) << result.err;
}

// Printers of other drivers knew a ZPL file as plain text before the type
// existed; they still print it as text rather than refusing the job.
TEST(ZplElsewhere, OtherPrintersStillTakeItAsText)
{
  const TempRoot temp{make_temp_dir()};
  const std::string conf = make_cupsfilter_conf(temp.path, test_filters(), MIME_SOURCE_DIR);
  ASSERT_FALSE(conf.empty());
  ASSERT_TRUE(write_file(temp.path + "/label.zpl", "^XA^FDx^FS^XZ\r\n"));
  const ProcessResult result =
      run_tool("cupsfilter", {"-c", conf, "--list-filters", "-m", "application/pdf", temp.path + "/label.zpl"}, temp.path);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "texttopdf\n");
}

INSTANTIATE_TEST_SUITE_P(EveryModel, ZplJobs, ::testing::Values(k300, k203, k600),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
