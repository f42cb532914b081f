// The exact bytes of the labels the programs write, and how the page loop
// treats unusual raster streams.
#include <zlib.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "support.h"

namespace {

class Labels : public ::testing::TestWithParam<TestModel> {
protected:
  ProcessResult run(const std::vector<GreyPage>& pages, const FilterJob& job = {})
  {
    return run_filter(GetParam().filter, pages, dir.path, job);
  }

  // The filter on a raster file as it stands.
  ProcessResult run_file(const std::string& raster, const std::vector<std::string>& env = {"-PPD"})
  {
    return run_program(GetParam().filter, filter_args(GetParam().filter, "", raster), dir.path, {}, env);
  }

  std::string label(const GreyPage& page, const LabelSettings& settings = {})
  {
    return reference_label(GetParam(), page, settings);
  }

  TempDir dir;
};

// ---------------------------------------------------------------------------
// Bytes of a label

TEST_P(Labels, DefaultLabelByteForByte)
{
  GreyPage page = white_page(16, 2, 3);
  page.pixels[0] = 0, page.pixels[17] = 100;
  const ProcessResult result = run({page});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "PAGE: 1 3\n");
  EXPECT_EQ(result.out, label(page));
}

// The job's options in the set-up commands; a dotted line other than 0 or
// 1 sends no header and logs none.
TEST_P(Labels, JobSettingsReachTheSetUpCommands)
{
  const struct {
    const char* options;
    LabelSettings settings;
  } jobs[] = {
      {"PageSize=2.00x1.00in Darkness=20 PrintSpeed=60 DottedLine=1", {51, 25, 6, 20, 1}},
      {"DottedLine=2 PageSize=3.00x3.00in", {76, 76, 4, 7, 2}},
  };
  for (const auto& job : jobs) {
    SCOPED_TRACE(job.options);
    const GreyPage page = noise_page(40, 6, 4);
    const ProcessResult result = run({page}, {job.options});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.out, label(page, job.settings));
    const std::vector<std::string> log = read_log(dir.path);
    const bool logged = std::any_of(log.begin(), log.end(), [](const std::string& line) {
      return line.find("bitmap doc->dottedLine") != std::string::npos;
    });
    EXPECT_EQ(logged, GetParam().header && job.settings.dottedLine < 2);
  }
}

TEST_P(Labels, NegativeSizeIsPrintedWithItsSign)
{
  const std::string ppd = write_ppd(dir.path, "*DefaultPageSize: Custom.-5x3mm\n");
  ASSERT_TRUE(write_raster(dir.file("job.ras"), {white_page(8, 1)}));
  const ProcessResult result = run_file(dir.file("job.ras"), {"PPD=" + ppd});
  ASSERT_EQ(result.status, 0);
  const std::string want = "^PW" + std::to_string(dots(GetParam(), -5)) + "^LS0^POI^LL" +
                           std::to_string(dots(GetParam(), 3)) + "\r\n";
  EXPECT_NE(result.out.find(want), std::string::npos) << want;
}

TEST_P(Labels, TwoPagesGiveTwoCompleteLabels)
{
  const GreyPage first = noise_page(61, 7, 11, 2), second = noise_page(8, 30, 12, 5);
  const ProcessResult result = run({first, second});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "PAGE: 1 2\nPAGE: 2 5\n");
  EXPECT_EQ(result.out, label(first) + label(second));
}

TEST_P(Labels, PlainCompressedAndStandardInputGiveTheSameBytes)
{
  const std::vector<GreyPage> pages = {noise_page(33, 9, 21, 1), white_page(1, 1, 4)};
  const ProcessResult compressed = run(pages);
  EXPECT_EQ(compressed.out, label(pages[0]) + label(pages[1]));
  FilterJob job;
  job.mode = CUPS_RASTER_WRITE;
  EXPECT_EQ(run(pages, job).out, compressed.out);

  job.onStdin = true;
  const ProcessResult piped = run(pages, job);
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "PAGE: 1 1\nPAGE: 2 4\n");
  EXPECT_EQ(piped.out, compressed.out);
}

// ---------------------------------------------------------------------------
// Unusual streams (pages the filter refuses are in limits_test.cpp)

TEST_P(Labels, ShortPageKeepsItsHeightWithBlankRows)
{
  GreyPage page = noise_page(20, 3, 31, 1);
  page.claimedHeight = 10;
  FilterJob job;
  job.mode = CUPS_RASTER_WRITE;
  const ProcessResult result = run({page}, job);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "PAGE: 1 1\n");
  std::vector<DecodedLabel> labels;
  ASSERT_TRUE(decode_labels(result.out, labels));
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].totalBytes, 3u * 10u);
  EXPECT_EQ(labels[0].packed, pack_reference(page, GetParam().threshold));
}

TEST_P(Labels, StreamsWithoutPagesPrintNothing)
{
  ASSERT_TRUE(write_raster(dir.file("none.ras"), {}));
  ASSERT_TRUE(write_file(dir.file("empty.ras"), ""));
  ASSERT_TRUE(write_file(dir.file("text.ras"), "%!PS-Adobe-3.0\n"));
  for (const char* name : {"none.ras", "empty.ras", "text.ras"}) {
    SCOPED_TRACE(name);
    expect_silent(run_file(dir.file(name)));
  }
}

// ---------------------------------------------------------------------------
// The log of a page

TEST_P(Labels, PageLogLinesInOrder)
{
  GreyPage page = white_page(16, 2, 1);
  page.pixels[3] = 0;
  ASSERT_EQ(run({page}).status, 0);

  const std::vector<uint8_t> stream = zlib_stream(pack_reference(page, GetParam().threshold));
  const std::string text = base64_reference(stream);
  const std::string zlibText(stream.begin(), std::find(stream.begin(), stream.end(), 0));
  std::vector<std::string> want = {"cups_file is not null",
                                   "cupsBitsPerColor == 1 16 2",
                                   "Gray2Bytes: Enter function\r\n",
                                   "Gray2Bytes: Exit function11\r\n",
                                   "Len:" + std::to_string(compressBound(4)) + "\n",
                                   "pZlib1:" + zlibText + "\n",
                                   "comprLen:" + std::to_string(stream.size()) + "\n",
                                   "err:0\n",
                                   "base64Len == " + std::to_string(text.size()),
                                   "Base64Encode Start",
                                   "Base64Encode End",
                                   "base64Buffer " + std::to_string(static_cast<unsigned char>(text[0])),
                                   "crc " + std::to_string(crc16_reference(text))};
  if (GetParam().header)
    want.push_back("bitmap doc->dottedLine 0");
  want.push_back("cmd_str:~SD7\r\n");
  want.push_back("Exit main");

  const std::vector<std::string> lines = read_log(dir.path);
  ASSERT_GE(lines.size(), want.size());
  EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(want.size()), lines.end()), want);
}

TEST_P(Labels, CompressedDataLineStopsAtTheStreamEnd)
{
  // A page whose zlib stream holds no zero byte: the line must end with the
  // stream, not run on into the rest of the buffer.
  GreyPage page;
  std::vector<uint8_t> stream;
  for (uint32_t seed = 1; seed < 200; ++seed) {
    page = noise_page(24, 4, seed);
    stream = zlib_stream(pack_reference(page, GetParam().threshold));
    if (std::find(stream.begin(), stream.end(), 0) == stream.end())
      break;
  }
  ASSERT_EQ(std::find(stream.begin(), stream.end(), 0), stream.end()) << "no seed without a zero byte";
  // Fresh heap memory is often zero, which would hide a line that runs on;
  // have glibc fill it with non-zero bytes.
  FilterJob job;
  job.env.push_back("MALLOC_PERTURB_=165");
  ASSERT_EQ(run({page}, job).status, 0);
  const std::string want = "pZlib1:" + std::string(stream.begin(), stream.end()) + "\n";
  const std::vector<std::string> lines = read_log(dir.path);
  EXPECT_NE(std::find(lines.begin(), lines.end(), want), lines.end());
}

// ---------------------------------------------------------------------------
// Media handling: each choice as the PPD's default and as a job option

struct MediaCase {
  const char* name;
  const char* ppd;      // Default* lines; null: no PPD
  const char* options;  // the job's options
  char mode, tracking, type;
  const char* tearLine;
  bool logged;  // the log names the four values
};

constexpr char kQueueDefaults[] =
    "*DefaultPrintMode: Rewind\n*DefaultMediaTracking: Mark\n*DefaultMediaType: ThermalTransfer\n"
    "*DefaultTearOffset: 30\n";

const MediaCase kMediaCases[] = {
    {"Defaults", nullptr, "", 'T', 0, 0, "", false},
    {"DefaultsNamed", nullptr, "PrintMode=TearOff MediaTracking=PrinterDefault MediaType=PrinterDefault "
     "TearOffset=PrinterDefault", 'T', 0, 0, "", false},
    {"PeelOff", nullptr, "PrintMode=PeelOff", 'P', 0, 0, "", true},
    {"Rewind", nullptr, "PrintMode=Rewind", 'R', 0, 0, "", true},
    {"Applicator", nullptr, "PrintMode=Applicator", 'A', 0, 0, "", true},
    {"Cutter", nullptr, "PrintMode=Cutter", 'C', 0, 0, "", true},
    {"DelayedCut", nullptr, "PrintMode=DelayedCut", 'D', 0, 0, "", true},
    {"ModePrinterDefault", nullptr, "PrintMode=PrinterDefault", 0, 0, 0, "", true},
    {"Gap", nullptr, "MediaTracking=Gap", 'T', 'Y', 0, "", true},
    {"Mark", nullptr, "MediaTracking=Mark", 'T', 'M', 0, "", true},
    {"Continuous", nullptr, "MediaTracking=Continuous PageSize=4.00x1.00in", 'T', 'N', 0, "", true},
    {"DirectThermal", nullptr, "MediaType=DirectThermal", 'T', 0, 'D', "", true},
    {"ThermalTransfer", nullptr, "MediaType=ThermalTransfer", 'T', 0, 'T', "", true},
    {"TearMinus120", nullptr, "TearOffset=-120", 'T', 0, 0, "~TA-120\r\n", true},
    {"TearMinus5", nullptr, "TearOffset=-5", 'T', 0, 0, "~TA-005\r\n", true},
    {"TearZero", nullptr, "TearOffset=0", 'T', 0, 0, "~TA000\r\n", true},
    {"Tear5", nullptr, "TearOffset=5", 'T', 0, 0, "~TA005\r\n", true},
    {"TearPlus7", nullptr, "TearOffset=+7", 'T', 0, 0, "~TA007\r\n", true},
    {"Tear120", nullptr, "TearOffset=120", 'T', 0, 0, "~TA120\r\n", true},
    {"AllAtOnce", nullptr, "PrintMode=Cutter MediaTracking=Continuous MediaType=DirectThermal TearOffset=-5",
     'C', 'N', 'D', "~TA-005\r\n", true},
    {"QueueDefaults", kQueueDefaults, "", 'R', 'M', 'T', "~TA030\r\n", true},
    {"OptionsOverQueue", kQueueDefaults, "PrintMode=TearOff MediaTracking=PrinterDefault TearOffset=-120",
     'T', 0, 'T', "~TA-120\r\n", true},
    // Out of range, not a whole number or not a choice: the queue's value stays.
    {"Tear121", kQueueDefaults, "TearOffset=121", 'R', 'M', 'T', "~TA030\r\n", true},
    {"TearMinus121", kQueueDefaults, "TearOffset=-121", 'R', 'M', 'T', "~TA030\r\n", true},
    {"TearJunk", kQueueDefaults, "TearOffset=5x", 'R', 'M', 'T', "~TA030\r\n", true},
    {"TearEmpty", kQueueDefaults, "TearOffset=''", 'R', 'M', 'T', "~TA030\r\n", true},
    {"TearSpaced", kQueueDefaults, "TearOffset=' 5'", 'R', 'M', 'T', "~TA030\r\n", true},
    {"TearHuge", kQueueDefaults, "TearOffset=4294967301", 'R', 'M', 'T', "~TA030\r\n", true},
    {"UnknownChoices", kQueueDefaults, "PrintMode=cutter MediaTracking=Web MediaType=Thermal", 'R', 'M', 'T',
     "~TA030\r\n", true},
    {"BadQueueDefaults", "*DefaultPrintMode: Tear\n*DefaultTearOffset: 500\n*DefaultMediaTracking: \n", "", 'T',
     0, 0, "", false},
};

// The whole label, for two pages: every label of a job carries the
// settings. The header of the 300 dpi model comes first, ~TA next, and
// the format commands after ^XA.
TEST_P(Labels, EveryMediaChoiceReachesEveryLabel)
{
  for (const MediaCase& c : kMediaCases) {
    SCOPED_TRACE(c.name);
    FilterJob job{c.options};
    if (c.ppd)
      job.env = {"PPD=" + write_ppd(dir.path, c.ppd)};
    const GreyPage first = noise_page(24, 5, 61, 2), second = noise_page(9, 3, 62);
    const ProcessResult result = run({first, second}, job);
    ASSERT_EQ(result.status, 0) << result.err;

    LabelSettings s;
    s.mode = c.mode, s.tracking = c.tracking, s.type = c.type, s.tearLine = c.tearLine;
    if (std::string_view(c.options).find("PageSize=4.00x1.00in") != std::string_view::npos)
      s.widthMm = 102, s.lengthMm = 25;
    EXPECT_EQ(result.out, label(first, s) + label(second, s));

    const std::vector<std::string> lines = read_log(dir.path);
    const bool named = std::any_of(lines.begin(), lines.end(),
                                   [](const std::string& line) { return line.rfind("setting PrintMode:", 0) == 0; });
    EXPECT_EQ(named, c.logged);
  }
}

// The log line names every value, by its choice name.
TEST_P(Labels, MediaLogNamesTheFourValues)
{
  ASSERT_EQ(run({white_page(8, 1)}, {"MediaType=ThermalTransfer TearOffset=-7"}).status, 0);
  const std::vector<std::string> lines = read_log(dir.path);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "setting PrintMode:TearOff MediaTracking:PrinterDefault MediaType:ThermalTransfer TearOffset:-7"),
            lines.end());
}

INSTANTIATE_TEST_SUITE_P(EveryModel, Labels, ::testing::ValuesIn(test_models()), ParamName());

// ---------------------------------------------------------------------------
// The programs side by side

// Every model writes the labels of the first, but for the dotted-line
// header, the size in its own dots and its threshold.
TEST(Models, DifferOnlyInHeaderSizeAndThreshold)
{
  const TempDir dir;
  GreyPage page = noise_page(50, 20, 77, 2);
  for (uint8_t& pixel : page.pixels)
    pixel = pixel == 155 ? 154 : pixel;
  const TestModel& first = test_models().front();
  const FilterJob job{"PageSize=4.00x6.00in"};
  const std::string firstOut = run_filter(first.filter, {page, page}, dir.path, job).out;
  auto size_line = [](const TestModel& m) {
    return "^PW" + std::to_string(dots(m, 102)) + "^LS0^POI^LL" + std::to_string(dots(m, 152)) + "\r\n";
  };
  const std::string header = kDottedLineSwitch + '\0';
  for (const TestModel& model : test_models()) {
    SCOPED_TRACE(model.name);
    std::string want = firstOut;
    for (size_t at = 0; (at = want.find(size_line(first), at)) != std::string::npos; at += size_line(model).size())
      want.replace(at, size_line(first).size(), size_line(model));
    for (size_t at; first.header && !model.header && (at = want.find(header)) != std::string::npos;)
      want.erase(at, header.size());
    EXPECT_EQ(run_filter(model.filter, {page, page}, dir.path, job).out, want);
  }

  // A grey of exactly 155 prints only where the threshold is above it.
  for (const TestModel& model : test_models()) {
    SCOPED_TRACE(model.name);
    std::vector<DecodedLabel> labels;
    ASSERT_TRUE(decode_labels(run_filter(model.filter, {GreyPage{8, 1, 1, std::vector<uint8_t>(8, 155), 0}},
                                         dir.path).out, labels));
    EXPECT_EQ(labels.at(0).packed, std::vector<uint8_t>{static_cast<uint8_t>(model.dpi == 203 ? 0xFF : 0x00)});
  }
}

}  // namespace
