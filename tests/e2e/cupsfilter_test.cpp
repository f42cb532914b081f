// The bundled sample through CUPS's own chain (pdftopdf, gstoraster) into
// our filters, as cupsfilter runs it with our PPDs: every label must hold the
// raster CUPS made for its page, dot for dot in the halftone mode of the PPD
// or the job, and the settings of the PPD and the job's options.
#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "cups_env.h"
#include "raster/raster.h"

namespace {

struct Job {
  const char* name;
  std::vector<std::string> options;
  int widthMm, lengthMm, darkness, speed, dottedLine;
  Halftone halftone;  // the PPD's Auto unless the job chose another
};
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

class CupsChain : public ::testing::TestWithParam<std::tuple<TestModel, Job>> {
protected:
  // Runs the sample through cupsfilter to the given type; fails the test on
  // an error exit.
  std::string convert(const char* type)
  {
    std::vector<std::string> args;
    for (const std::string& option : std::get<1>(GetParam()).options)
      args.insert(args.end(), {"-o", option});
    const ProcessResult result = run_cupsfilter(std::get<0>(GetParam()).ppd, build_paths().samplePdf, args, type);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
  }

  TempDir dir;
};

TEST_P(CupsChain, EveryLabelHoldsTheRasterCupsMade)
{
  const TestModel& model = std::get<0>(GetParam());
  const Job& job = std::get<1>(GetParam());

  ASSERT_TRUE(write_file(dir.file("sample.ras"), convert("application/vnd.cups-raster")));
  std::vector<GreyPage> pages;
  cups_page_header2_t header;
  ASSERT_TRUE(read_raster_pages(dir.file("sample.ras"), pages, header));
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
  ASSERT_TRUE(decode_labels(zpl, labels));
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
                         ::testing::Combine(::testing::ValuesIn(test_models()),
                                            ::testing::Values(kDefaults, kOptions, kCustom)),
                         ParamName());

// Bars of whole dots, drawn off the dot grid, through CUPS's chain with our
// PPD. With its default CenterOfPixel, Ghostscript fills a dot only when its
// centre lies inside a bar, so every bar is exactly as wide as drawn.
struct BarCase {
  std::string name;
  TestModel model;
  std::vector<std::string> options;
  int growth;  // dots every bar gains
};
void PrintTo(const BarCase& bars, std::ostream* out) { *out << bars.name; }

std::vector<BarCase> bar_cases()
{
  std::vector<BarCase> cases;
  for (const TestModel& model : test_models())
    cases.push_back({model.name + "_PpdDefault", model, {}, 0});
  // Ghostscript's own rule (any dot a bar touches) widens each bar by a
  // dot, which made barcodes unreadable at 203 dpi: the one row that shows
  // the PPD's default, not Ghostscript, keeps the bars exact.
  cases.push_back({"203dpi_GhostscriptFillRuleWithoutCenterOfPixel", test_model(203), {"CenterOfPixel=False"}, 1});
  return cases;
}

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

class BarWidths : public ::testing::TestWithParam<BarCase> {
protected:
  TempDir dir;
};

TEST_P(BarWidths, AreTheDrawnDotsPlusTheFillRulesGrowth)
{
  const BarCase& bars = GetParam();
  ASSERT_TRUE(write_file(dir.file("bars.ps"), bars_page(bars.model.dpi)));
  std::vector<std::string> args;
  for (const std::string& option : bars.options)
    args.insert(args.end(), {"-o", option});
  const ProcessResult result =
      run_cupsfilter(bars.model.ppd, dir.file("bars.ps"), args, "application/vnd.cups-raster");
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_TRUE(write_file(dir.file("bars.ras"), result.out));

  std::vector<GreyPage> pages;
  cups_page_header2_t header;
  ASSERT_TRUE(read_raster_pages(dir.file("bars.ras"), pages, header));
  ASSERT_EQ(pages.size(), 1u);
  std::vector<int> expected;
  for (int dots : kBarDots)
    expected.push_back(dots + bars.growth);
  // Halfway up the bars, counted from the top of the page.
  EXPECT_EQ(dark_runs(pages[0], static_cast<uint32_t>((432 - 200) * bars.model.dpi / 72)), expected);
}

INSTANTIATE_TEST_SUITE_P(, BarWidths, ::testing::ValuesIn(bar_cases()), ParamName());

}  // namespace
