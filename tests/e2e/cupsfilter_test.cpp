// The bundled sample through CUPS's own chain (pdftopdf, gstoraster) into
// our filters, as cupsfilter runs it with our PPDs: every label must hold the
// raster CUPS made for its page, dot for dot in the halftone mode of the PPD
// or the job, and the settings of the PPD and the job's options.
#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "cups_env.h"
#include "raster/raster.h"

namespace {

struct Model {
  const char* name;
  const char* ppd;
  int dpi;
  int threshold;
  bool header;
  int tenthDotsPerMm;  // dots per 10 mm
};
constexpr Model k300{"300dpi", PPD_300, 300, 155, true, 118};
constexpr Model k203{"203dpi", PPD_203, 203, 156, false, 80};
constexpr Model k600{"600dpi", PPD_600, 600, 155, false, 236};

// Millimetres to printer dots as each model counts them.
int dots(const Model& model, int mm)
{
  return mm * model.tenthDotsPerMm / 10;
}

struct Job {
  const char* name;
  std::vector<std::string> options;
  int widthMm, lengthMm, darkness, speed, dottedLine;
  Halftone halftone;  // the PPD's Auto unless the job chose another
};
void PrintTo(const Model& model, std::ostream* out) { *out << model.name; }
void PrintTo(const Job& job, std::ostream* out) { *out << job.name; }

const Job kDefaults{"PpdDefaults", {}, 102, 152, 15, 4, 0, Halftone::kAuto};
const Job kOptions{"NamedSizeAndOptions",
                   {"PageSize=2.25x1.25in", "Darkness=25", "PrintSpeed=60", "DottedLine=1", "Halftone=Threshold"},
                   57, 32, 25, 6, 1, Halftone::kThreshold};
const Job kCustom{"CustomSize", {"PageSize=Custom.200x300", "Halftone=Photo"}, 69, 103, 15, 4, 0, Halftone::kPhoto};

// The dots a page must give in a mode: Threshold's from the independent
// reference; the halftones from the core's own packing, whose dots the
// halftone tests check pixel by pixel. Here what counts is that the PPD's
// default and the job's choice reach the filter through CUPS.
std::vector<uint8_t> expected_dots(const GreyPage& page, int threshold, Halftone mode)
{
  if (mode == Halftone::kThreshold)
    return pack_reference(page, threshold);
  const uint32_t bytesPerRow = (page.width + 7) / 8, width = 8 * bytesPerRow;
  std::vector<uint8_t> grey(size_t{width} * page.height, 255);
  for (uint32_t y = 0; y < page.height; ++y)
    std::copy_n(page.pixels.data() + size_t{y} * page.width, page.width, grey.data() + size_t{y} * width);
  std::vector<uint8_t> packed(size_t{bytesPerRow} * page.height, 0);
  std::vector<int16_t> scratch(halftone_scratch(mode, bytesPerRow) + 1);
  halftone_pack(grey.data(), packed.data(), bytesPerRow, page.height, threshold, mode, scratch.data());
  return packed;
}

class CupsChain : public ::testing::TestWithParam<std::tuple<Model, Job>> {
protected:
  static void SetUpTestSuite()
  {
    root = make_temp_dir();
    // CUPS's types and conversions with ours added, as installed.
    filesConf = make_cupsfilter_conf(root, test_filters(), MIME_SOURCE_DIR);
  }
  static void TearDownTestSuite() { remove_tree(root); }

  void SetUp() override
  {
    ASSERT_FALSE(filesConf.empty());
    dir = make_temp_dir();
  }
  void TearDown() override { remove_tree(dir); }

  // Runs the sample through cupsfilter to the given type; fails the test on
  // an error exit.
  std::string convert(const char* type)
  {
    std::vector<std::string> args{"-c", filesConf, "-e", "-p", std::get<0>(GetParam()).ppd, "-m", type};
    for (const std::string& option : std::get<1>(GetParam()).options)
      args.insert(args.end(), {"-o", option});
    args.push_back(SAMPLE_PDF);
    const ProcessResult result = run_tool("cupsfilter", args, dir);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
  }

  static std::string root, filesConf;
  std::string dir;
};
std::string CupsChain::root, CupsChain::filesConf;

TEST_P(CupsChain, EveryLabelHoldsTheRasterCupsMade)
{
  const Model& model = std::get<0>(GetParam());
  const Job& job = std::get<1>(GetParam());

  ASSERT_TRUE(write_file(dir + "/sample.ras", convert("application/vnd.cups-raster")));
  std::vector<GreyPage> pages;
  cups_page_header2_t header;
  std::string error;
  ASSERT_TRUE(read_raster_pages(dir + "/sample.ras", pages, header, error)) << error;
  // What the PPD asks of the rasteriser is what the filter packs.
  EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_W);
  EXPECT_EQ(header.cupsBitsPerColor, 8u);
  EXPECT_EQ(header.cupsNumColors, 1u);
  EXPECT_EQ(header.HWResolution[0], static_cast<unsigned>(model.dpi));
  EXPECT_EQ(header.HWResolution[1], static_cast<unsigned>(model.dpi));
  ASSERT_EQ(pages.size(), 2u);
  // The sample's fine grey ramp is what tells the two thresholds apart:
  // without those levels a threshold off by one would pass unseen.
  EXPECT_GT(count_grey(pages, 155), 100u);
  EXPECT_GT(count_grey(pages, 156), 100u);

  const std::string zpl = convert("printer/foo");
  std::vector<DecodedLabel> labels;
  ASSERT_TRUE(decode_labels(zpl, labels, error)) << error;
  ASSERT_EQ(labels.size(), pages.size());
  for (size_t i = 0; i < labels.size(); ++i) {
    SCOPED_TRACE("label " + std::to_string(i + 1));
    const DecodedLabel& label = labels[i];
    EXPECT_EQ(label.hasHeader, model.header);
    if (model.header) {
      EXPECT_EQ(label.dottedLine, job.dottedLine);
    }
    EXPECT_EQ(label.width, dots(model, job.widthMm));
    EXPECT_EQ(label.length, dots(model, job.lengthMm));
    EXPECT_EQ(label.darkness, job.darkness);
    EXPECT_EQ(label.speed, job.speed);
    EXPECT_EQ(label.copies, static_cast<int>(pages[i].copies));
    EXPECT_EQ(label.rowBytes, (pages[i].width + 7) / 8);
    const std::vector<uint8_t> expected = expected_dots(pages[i], model.threshold, job.halftone);
    EXPECT_TRUE(label.packed == expected) << "the dots differ from the raster in halftone mode "
                                          << static_cast<int>(job.halftone) << ", threshold " << model.threshold;
    // A blank or solid page would pass the comparison without proving much.
    size_t set = 0;
    for (uint8_t byte : expected)
      set += byte != 0;
    EXPECT_GT(set, expected.size() / 50);
    EXPECT_LT(set, expected.size() / 2);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, CupsChain,
                         ::testing::Combine(::testing::Values(k300, k203, k600),
                                            ::testing::Values(kDefaults, kOptions, kCustom)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

// Bars of whole dots, drawn off the dot grid, through CUPS's chain with our
// PPD. With its default CenterOfPixel, Ghostscript fills a dot only when its
// centre lies inside a bar, so every bar is exactly as wide as drawn; with
// Ghostscript's own rule (any dot a bar touches) each gains one dot, which
// is what made barcodes unreadable at 203 dpi.
struct Fill {
  const char* name;
  std::vector<std::string> options;
  int growth;  // dots every bar gains
};
const Fill kPpdDefault{"PpdDefault", {}, 0};
const Fill kAnyPartOfPixel{"CenterOfPixelFalse", {"CenterOfPixel=False"}, 1};
void PrintTo(const Fill& fill, std::ostream* out) { *out << fill.name; }

constexpr int kBarDots[] = {1, 2, 3, 5, 8};

// A 4 x 6 in page with one bar per width in kBarDots, each starting a
// fraction of a dot past the grid, from 100 pt to 300 pt up the page.
std::string bars_page(int dpi)
{
  std::string ps = "%!PS\n<< /PageSize [288 432] >> setpagedevice 0 setgray\n";
  char line[128];
  for (size_t i = 0; i < std::size(kBarDots); ++i) {
    std::snprintf(line, sizeof line, "%.4f 100 %.4f 200 rectfill\n", 20.37 + 40.0 * i, kBarDots[i] * 72.0 / dpi);
    ps += line;
  }
  return ps + "showpage\n";
}

// The widths of the dark runs along one row of a page.
std::vector<int> dark_runs(const GreyPage& page, uint32_t y)
{
  std::vector<int> runs;
  int run = 0;
  for (uint32_t x = 0; x <= page.width; ++x) {
    if (x < page.width && page.pixels[size_t{y} * page.width + x] < 128) {
      ++run;
    } else if (run) {
      runs.push_back(run);
      run = 0;
    }
  }
  return runs;
}

class BarWidths : public ::testing::TestWithParam<std::tuple<Model, Fill>> {
protected:
  void SetUp() override { dir = make_temp_dir(); }
  void TearDown() override { remove_tree(dir); }
  std::string dir;
};

TEST_P(BarWidths, AreTheDrawnDotsPlusTheFillRulesGrowth)
{
  const Model& model = std::get<0>(GetParam());
  const Fill& fill = std::get<1>(GetParam());
  ASSERT_TRUE(write_file(dir + "/bars.ps", bars_page(model.dpi)));
  std::vector<std::string> args{"-p", model.ppd, "-m", "application/vnd.cups-raster"};
  for (const std::string& option : fill.options)
    args.insert(args.end(), {"-o", option});
  args.push_back(dir + "/bars.ps");
  const ProcessResult result = run_tool("cupsfilter", args, dir);
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_TRUE(write_file(dir + "/bars.ras", result.out));

  std::vector<GreyPage> pages;
  cups_page_header2_t header;
  std::string error;
  ASSERT_TRUE(read_raster_pages(dir + "/bars.ras", pages, header, error)) << error;
  ASSERT_EQ(pages.size(), 1u);
  std::vector<int> expected;
  for (int dots : kBarDots)
    expected.push_back(dots + fill.growth);
  // Halfway up the bars, counted from the top of the page.
  EXPECT_EQ(dark_runs(pages[0], static_cast<uint32_t>((432 - 200) * model.dpi / 72)), expected);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, BarWidths,
                         ::testing::Combine(::testing::Values(k300, k203, k600),
                                            ::testing::Values(kPpdDefault, kAnyPartOfPixel)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
