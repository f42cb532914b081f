// ZPL files through CUPS's own MIME typing and filter choice (cupsfilter
// with our PPDs and our MIME rules beside CUPS's): what is ZPL goes to the
// printer through zplpass byte for byte, everything else through the raster
// chain into our filters, and a file named .zpl that is no ZPL is stopped.
#include <sstream>

#include <gtest/gtest.h>

#include "cups_env.h"

namespace {

// Number of lines of text that start with prefix.
int count_lines(const std::string& text, const std::string& prefix)
{
  std::istringstream lines(text);
  int count = 0;
  for (std::string line; std::getline(lines, line);)
    count += line.rfind(prefix, 0) == 0;
  return count;
}

class ZplJobs : public ::testing::TestWithParam<TestModel> {
protected:
  void SetUp() override { ASSERT_FALSE(shared_cupsfilter_conf().empty()); }

  // Writes a job file into the test folder and returns its path.
  std::string job_file(const std::string& name, const std::string& bytes)
  {
    EXPECT_TRUE(write_file(dir.file(name), bytes));
    return dir.file(name);
  }

  // cupsfilter with the model's PPD to the printer, extra arguments before the file.
  ProcessResult to_printer(const std::string& path, const std::vector<std::string>& extra = {})
  {
    return run_cupsfilter(GetParam().ppd, path, extra);
  }

  // Two labels of the model's own filter: the ZPL a user of ours may keep.
  std::string own_labels()
  {
    return filter_labels(GetParam().filter, {noise_page(200, 120, 7), noise_page(120, 60, 8)});
  }

  TempDir dir;
};

// How CUPS types each file, by content and by name, and so which programs
// it runs: zplpass alone for ZPL, the raster chain into our filter (where
// CUPS has one) for everything else.
TEST_P(ZplJobs, TypedByContentAndName)
{
  const std::string text = "Start every label with ^XA and end it with ^XZ.\n";
  // A stored graphic of more than the 4 KiB CUPS looks at, before the label.
  const std::string download = "~DGR:LOGO.GRF,6000,10," + std::string(12000, 'F') + "\r\n^XA^XGR:LOGO.GRF^FS^XZ\r\n";
  const std::string pdf = read_file(build_paths().samplePdf);
  struct File {
    std::string name, bytes;
    bool zpl;
  };
  std::vector<File> files = {
      {"labels", own_labels(), true},  {"notes", text, false},         {"notes.txt", text, false},
      {"notes.zpl", text, true},       {"logo", download, false},      {"logo.zpl", download, true},
      {"label.pdf", pdf, false},       {"label.ZPL", pdf, true},
  };
  for (const ZplSample& sample : zpl_samples())
    files.push_back({sample.name, sample.bytes, true});
  for (const ZplSample& sample : not_zpl_samples())
    files.push_back({sample.name, sample.bytes, false});

  const std::string rasterTail = GetParam().installed + "\n";
  for (const File& file : files) {
    SCOPED_TRACE(file.name);
    const ProcessResult route = to_printer(job_file(file.name, file.bytes), {"--list-filters"});
    if (file.zpl) {
      EXPECT_EQ(route.status, 0) << route.err;
      EXPECT_EQ(route.out, "zplpass\n");
    } else {
      EXPECT_EQ(route.out.find("zplpass"), std::string::npos) << route.out;
      if (route.status == 0) {
        ASSERT_GE(route.out.size(), rasterTail.size());
        EXPECT_EQ(route.out.substr(route.out.size() - rasterTail.size()), rasterTail) << route.out;
      }
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
  ASSERT_TRUE(decode_labels(result.out, labels));
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(count_lines(result.err, "PAGE: "), 1) << result.err;
  size_t set = 0;
  for (uint8_t byte : labels[0].packed)
    set += byte != 0;
  EXPECT_GT(set, 0u) << "the text was not drawn";
}

TEST_P(ZplJobs, MisnamedFileNeverReachesThePrinter)
{
  const ProcessResult result = to_printer(job_file("label.zpl", read_file(build_paths().samplePdf)));
  EXPECT_NE(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("ERROR: Not a ZPL job: "), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(EveryModel, ZplJobs, ::testing::ValuesIn(test_models()), ParamName());

// Printers of other drivers knew a ZPL file as plain text before the type
// existed; they still print it as text rather than refusing the job.
TEST(ZplElsewhere, OtherPrintersStillTakeItAsText)
{
  const TempDir dir;
  ASSERT_TRUE(write_file(dir.file("label.zpl"), "^XA^FDx^FS^XZ\r\n"));
  const ProcessResult result = run_tool(
      "cupsfilter", {"-c", shared_cupsfilter_conf(), "--list-filters", "-m", "application/pdf", dir.file("label.zpl")},
      dir.path);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "texttopdf\n");
}

}  // namespace
