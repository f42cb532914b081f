// The Horizontal and Vertical offsets from the job to the picture zplpreview
// draws: the artwork moves by the offset in printer dots and is clipped to
// the label, and offsets of 0 leave the label and its log as they were.
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "zplread/render.h"
#include "zplread/zpl_parse.h"
#include "preview_helpers.h"

namespace {

// Every case moves the same page, of odd sizes so that neither a crop nor
// the page ends on a byte boundary.
constexpr uint32_t kPageWidth = 477, kPageHeight = 317;

struct OffsetCase {
  const char* name;
  int horizontal, vertical;  // the job's options
  int shiftX, shiftY;        // where the page's top left pixel lands on the label
};
void PrintTo(const OffsetCase& c, std::ostream* os) { *os << c.name; }

const OffsetCase kCases[] = {
    {"None", 0, 0, 0, 0},
    {"PositivePastTheFarEdges", 250, 170, 250, 170},
    {"NegativeWholeBytes", -40, -24, -40, -24},
    {"NegativeWithinAByte", -3, -13, -3, -13},
    {"RightAndUp", 13, -7, 13, -7},
    {"LeftAndDown", -21, 9, -21, 9},
    {"LargestPpdChoices", 120, -120, 120, -120},
    {"AsLargeAsThePageLeavesOneColumnAndRow", -477, -317, -476, -316},
    {"BeyondThePage", -1000, -5000, -476, -316},
    {"Lowest16BitValue", -32768, -32768, -476, -316},
    {"HighestFieldOriginAPrinterTakes", 32767, 32767, 32000, 32000},
};

// The picture of the label as zplpreview draws it, one grey byte per dot.
std::vector<uint8_t> drawn_picture(const Label& label)
{
  const PictureSize size = picture_size(label);
  std::vector<uint8_t> picture(size_t{size.width} * size.height);
  std::vector<uint8_t> row((size.width + 7) / 8);
  for (uint32_t y = 0; y < size.height; ++y) {
    draw_row(label, size, y, row.data());
    for (uint32_t x = 0; x < size.width; ++x)
      picture[size_t{y} * size.width + x] = (row[x / 8] & (0x80 >> (x % 8))) ? 0 : 255;
  }
  return picture;
}

class Offsets : public ::testing::TestWithParam<std::tuple<TestModel, OffsetCase>> {};

TEST_P(Offsets, MoveTheArtworkAndClipItToTheLabel)
{
  const auto& [m, c] = GetParam();
  const GreyPage page = noise_page(kPageWidth, kPageHeight, 61);
  const std::string labels = filter_labels(
      m.filter, {page}, "Horizontal=" + std::to_string(c.horizontal) + " Vertical=" + std::to_string(c.vertical));

  const ZplStream stream = parse_zpl(labels);
  ASSERT_TRUE(stream_sound(stream)) << labels.substr(0, 200);
  ASSERT_EQ(stream.labels.size(), 1u);
  const Label& label = stream.labels[0];
  ASSERT_EQ(label.graphics.size(), 1u);
  const Graphic& g = label.graphics[0];
  // A positive shift is the field origin; a negative one is cut off the graphic.
  EXPECT_EQ(g.x, std::max(c.shiftX, 0));
  EXPECT_EQ(g.y, std::max(c.shiftY, 0));
  EXPECT_EQ(g.rowBytes, (kPageWidth - std::max(-c.shiftX, 0) + 7) / 8);
  EXPECT_EQ(graphic_rows(g), kPageHeight - std::max(-c.shiftY, 0));
  const std::string origin =
      "^FO" + std::to_string(std::max(c.shiftX, 0)) + "," + std::to_string(std::max(c.shiftY, 0)) + ",0\r\n";
  EXPECT_NE(labels.find(origin), std::string::npos) << origin;

  ASSERT_EQ(label.width, dots(m, 60));
  ASSERT_EQ(label.length, dots(m, 40));
  const std::vector<uint8_t> drawn = drawn_picture(label);
  // Seen the way zplpreview draws a ^POI label, turned by 180 degrees: the
  // page through the threshold, its top left pixel at the shift, cut at the label.
  const std::vector<uint8_t> expected = expected_picture(pack_reference(page, m.threshold), (kPageWidth + 7) / 8,
                                                         dots(m, 60), dots(m, 40), c.shiftX, c.shiftY, true);
  ASSERT_EQ(drawn.size(), expected.size());
  size_t wrong = 0;
  for (size_t i = 0; i < drawn.size(); ++i)
    wrong += drawn[i] != expected[i];
  EXPECT_EQ(wrong, 0u) << "dots drawn wrong";
}

INSTANTIATE_TEST_SUITE_P(EveryModel, Offsets,
                         ::testing::Combine(::testing::ValuesIn(test_models()), ::testing::ValuesIn(kCases)),
                         ParamName());

// What a run leaves: the labels and the log lines of its pages.
struct JobRun {
  std::string out;
  std::vector<std::string> pageLog;  // from the first page on
};

JobRun run_job(const TestModel& m, const std::vector<GreyPage>& pages, const std::string& options,
               const std::string& ppd)
{
  const TempDir dir;
  FilterJob job{options};
  if (!ppd.empty())
    job.env = {"PPD=" + write_ppd(dir.path, ppd)};
  const ProcessResult result = run_filter(m.filter, pages, dir.path, job);
  EXPECT_EQ(result.status, 0) << result.err;
  JobRun run{result.out, read_log(dir.path)};
  // The lines before name the arguments, the PPD and the options.
  const auto first = std::find(run.pageLog.begin(), run.pageLog.end(), "cups_file is not null");
  EXPECT_NE(first, run.pageLog.end());
  run.pageLog.erase(run.pageLog.begin(), first);
  return run;
}

class OffsetSources : public ::testing::TestWithParam<TestModel> {};

// Offsets of 0, from the job or the PPD, make today's labels byte for byte
// and log their pages line for line; a PPD default moves the label as the
// same job option does.
TEST_P(OffsetSources, ZeroChangesNothingAndAPpdDefaultMovesLikeAnOption)
{
  const TestModel& m = GetParam();
  const std::vector<GreyPage> pages = {noise_page(61, 37, 71, 2), noise_page(16, 3, 72)};
  const JobRun plain = run_job(m, pages, "", "");
  const JobRun zeroOptions = run_job(m, pages, "Horizontal=0 Vertical=0", "");
  const JobRun zeroPpd = run_job(m, pages, "", "*DefaultHorizontal: 0\n*DefaultVertical: 0\n");
  EXPECT_EQ(zeroOptions.out, plain.out);
  EXPECT_EQ(zeroPpd.out, plain.out);
  EXPECT_EQ(zeroOptions.pageLog, plain.pageLog);
  EXPECT_EQ(zeroPpd.pageLog, plain.pageLog);

  const JobRun option = run_job(m, pages, "Horizontal=-11 Vertical=30", "");
  const JobRun ppd = run_job(m, pages, "", "*DefaultHorizontal: -11\n*DefaultVertical: 30\n");
  EXPECT_NE(option.out, plain.out);
  EXPECT_EQ(ppd.out, option.out);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, OffsetSources, ::testing::ValuesIn(test_models()), ParamName());

}  // namespace
