// The settings of a job as functions: the media table, the PPD defaults and
// the job's options, with the log lines they leave.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>

#include <gtest/gtest.h>

#include "common/log.h"
#include "settings/settings.h"
#include "support.h"

namespace {

// What a LabelDoc holds after the settings are built; starts at the built-in
// defaults.
struct Fields {
  int16_t width = 60, height = 40, speed = 4, darkness = 7, dottedLine = 0, horizontal = 0, vertical = 0;
};

bool operator==(const Fields& a, const Fields& b)
{
  return a.width == b.width && a.height == b.height && a.speed == b.speed && a.darkness == b.darkness &&
         a.dottedLine == b.dottedLine && a.horizontal == b.horizontal && a.vertical == b.vertical;
}

std::ostream& operator<<(std::ostream& os, const Fields& f)
{
  return os << f.width << "x" << f.height << " mm, speed " << f.speed << ", darkness " << f.darkness
            << ", dotted " << f.dottedLine << ", offsets " << f.horizontal << "," << f.vertical;
}

Fields fields_of(const LabelDoc& doc)
{
  return {doc.pageWidth, doc.pageHeight, doc.printSpeed, doc.darkness, doc.dottedLine, doc.horizontal, doc.vertical};
}

Fields sized(int16_t width, int16_t height)
{
  Fields f;
  f.width = width, f.height = height;
  return f;
}

struct Option {
  std::string name, value;
};

// Runs the settings layers with the log going to a temporary file, so each
// case can read the lines it left.
class SettingsTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    unsetenv("PPD");
    pLogFile = std::tmpfile();
    ASSERT_NE(pLogFile, nullptr);
  }
  void TearDown() override
  {
    CloseLog();
    unsetenv("PPD");
  }

  // Writes a PPD with the given attribute lines and points $PPD at it.
  void use_ppd(const std::string& attributes)
  {
    ppdPath = dir.file("label.ppd");
    ASSERT_TRUE(write_file(ppdPath, "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*cupsModelNumber: 5\n"
                                    "*NickName: \"Test Label Printer\"\n" +
                                        attributes));
    setenv("PPD", ppdPath.c_str(), 1);
  }

  // The option array is built by hand: cupsParseOptions would merge two
  // options of one name before the filter could see them.
  LabelDoc build(const std::vector<Option>& options)
  {
    std::vector<std::string> storage;
    for (const Option& o : options)
      storage.push_back(o.name), storage.push_back(o.value);
    std::vector<cups_option_t> array;
    for (size_t i = 0; i < storage.size(); i += 2)
      array.push_back({storage[i].data(), storage[i + 1].data()});
    LabelDoc doc{};
    set_pstops_options(&doc, argv, static_cast<int>(array.size()), array.data());
    return doc;
  }

  std::vector<std::string> log()
  {
    std::fflush(pLogFile);
    std::rewind(pLogFile);
    std::string text;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pLogFile)) > 0;)
      text.append(chunk, n);
    return log_messages(text);
  }

  bool logged(const std::string& message)
  {
    const std::vector<std::string> lines = log();
    return std::find(lines.begin(), lines.end(), message) != lines.end();
  }

  // A choice option in its layers: the PPD's *Default<option> (none when
  // null), then the job's options, gives want in field.
  template <typename Choice>
  struct LayerCase {
    const char* ppdDefault;
    std::vector<Option> options;
    Choice want;
  };
  template <typename Choice>
  void expect_layers(const std::string& option, Choice LabelDoc::*field, const std::vector<LayerCase<Choice>>& cases)
  {
    for (const LayerCase<Choice>& c : cases) {
      SCOPED_TRACE(std::string(c.ppdDefault ? c.ppdDefault : "(none)") + " + " + std::to_string(c.options.size()) +
                   " options");
      if (c.ppdDefault)
        use_ppd("*Default" + option + ": " + c.ppdDefault + "\n");
      else
        unsetenv("PPD");
      EXPECT_EQ(build(c.options).*field, c.want);
    }
  }

  TempDir dir;
  std::string ppdPath;
  char arg0[16] = "zplfilter", arg1[16] = "42", arg2[16] = "bob", arg3[16] = "Shelf labels", arg4[16] = "3",
       arg5[16] = "";
  char* argv[7] = {arg0, arg1, arg2, arg3, arg4, arg5, nullptr};
};

// ---------------------------------------------------------------------------
// The media table

TEST(PageTable, FirstLastAndMiddleRowsSetTheirSize)
{
  LabelDoc doc{};
  lookup_page_size(&doc, "100mmx150mm");
  EXPECT_EQ(fields_of(doc), (Fields{100, 150, 0, 0, 0, 0, 0}));
  lookup_page_size(&doc, "4.00x13.00in");
  EXPECT_EQ(fields_of(doc), (Fields{102, 330, 0, 0, 0, 0, 0}));
  lookup_page_size(&doc, "2.25x1.25in");
  EXPECT_EQ(fields_of(doc), (Fields{57, 32, 0, 0, 0, 0, 0}));
  lookup_page_size(&doc, "4.00x6.00in");
  EXPECT_EQ(fields_of(doc), (Fields{102, 152, 0, 0, 0, 0, 0}));
}

TEST(PageTable, NearMissNamesLeaveTheSize)
{
  for (const char* name : {"4.00X6.00IN", "4x6in", "4.00x6.00 in", "", "4.00x6.00in ", "4.00x6.00", "100mmx150mm\t"}) {
    LabelDoc doc{};
    doc.pageWidth = 60, doc.pageHeight = 40;
    lookup_page_size(&doc, name);
    EXPECT_EQ(doc.pageWidth, 60) << '"' << name << '"';
    EXPECT_EQ(doc.pageHeight, 40) << '"' << name << '"';
  }
}

// ---------------------------------------------------------------------------
// Number conversions shared by both layers

TEST(Conversions, DecimalReadsAsAtoiAndSaturates)
{
  EXPECT_EQ(parse_decimal("  -15abc"), -15);
  EXPECT_EQ(parse_decimal("+7"), 7);
  EXPECT_EQ(parse_decimal("high"), 0);
  EXPECT_EQ(parse_decimal(""), 0);
  EXPECT_EQ(parse_decimal("2147483647"), INT32_MAX);
  EXPECT_EQ(parse_decimal("2147483648"), INT32_MAX);
  EXPECT_EQ(parse_decimal("99999999999999999999999"), INT32_MAX);
  EXPECT_EQ(parse_decimal("-2147483649"), INT32_MIN);
  EXPECT_EQ(parse_decimal("-99999999999999999999999"), INT32_MIN);
}

TEST(Conversions, TruncationTowardZeroWithinThe32BitRange)
{
  EXPECT_EQ(truncate_to_int32(101.999), 101);
  EXPECT_EQ(truncate_to_int32(-9.9), -9);
  EXPECT_EQ(truncate_to_int32(std::nan("")), 0);
  EXPECT_EQ(truncate_to_int32(1e30), INT32_MAX);
  EXPECT_EQ(truncate_to_int32(-1e30), INT32_MIN);
  EXPECT_EQ(truncate_to_int32(HUGE_VAL), INT32_MAX);
  EXPECT_EQ(truncate_to_int32(-HUGE_VAL), INT32_MIN);
  EXPECT_EQ(truncate_to_int32(2147483647.9), INT32_MAX);
  EXPECT_EQ(truncate_to_int32(-2147483648.9), INT32_MIN);
}

// ---------------------------------------------------------------------------
// PPD custom sizes: each unit with its own floating-point precision

struct PpdSizeCase {
  const char* name;
  const char* value;  // DefaultPageSize
  int16_t width, height;
  const char* unitLine;  // the converted pair as logged, or null
};

void PrintTo(const PpdSizeCase& c, std::ostream* os) { *os << c.value << " -> " << c.width << "x" << c.height; }

class PpdCustomSize : public SettingsTest, public ::testing::WithParamInterface<PpdSizeCase> {};

TEST_P(PpdCustomSize, ConvertsToWholeMillimetres)
{
  const PpdSizeCase& c = GetParam();
  use_ppd(std::string("*DefaultPageSize: ") + c.value + "\n");
  const LabelDoc doc = build({});
  EXPECT_EQ(doc.pageWidth, c.width);
  EXPECT_EQ(doc.pageHeight, c.height);
  if (c.unitLine) {
    EXPECT_TRUE(logged(c.unitLine)) << ::testing::PrintToString(log());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Units, PpdCustomSize,
    ::testing::Values(
        PpdSizeCase{"Millimetres", "Custom.100x150mm", 100, 150, "(mm:wxh)|100.000000|150.000000|"},
        PpdSizeCase{"InchesTruncate", "Custom.4x6in", 101, 152, "(in:wxh)|101.600000|152.400000|"},
        PpdSizeCase{"Points", "Custom.288x432pt", 101, 152, "(pt:wxh)|101.600000|152.400000|"},
        PpdSizeCase{"Centimetres", "Custom.10x15cm", 100, 150, "(cm:wxh)|100.000000|150.000000|"},
        PpdSizeCase{"CentimetresInSinglePrecision", "Custom.5.1x7.6cm", 51, 76, "(cm:wxh)|51.000000|76.000000|"},
        PpdSizeCase{"CentimetresSmall", "Custom.0.7x1cm", 7, 10, nullptr},
        PpdSizeCase{"InchesInDoublePrecision", "Custom.645x1in", 16382, 25, nullptr},
        PpdSizeCase{"Feet", "Custom.1x0.5ft", 304, 152, "(ft:wxh)|304.800000|152.400000|"},
        PpdSizeCase{"FeetInDoublePrecision", "Custom.6.25x1ft", 1905, 304, nullptr},
        PpdSizeCase{"MetresInSinglePrecision", "Custom.0.005x1m", 5, 1000, nullptr},
        PpdSizeCase{"Metres", "Custom.0.1x0.15m", 100, 150, "(m:wxh)|100.000000|150.000000|"},
        PpdSizeCase{"NoUnitIsMetres", "Custom.4x6", 4000, 6000, "(m:wxh)|4000.000000|6000.000000|"},
        PpdSizeCase{"CentimetresBeforeInches", "Custom.2x3cmin", 20, 30, "(cm:wxh)|20.000000|30.000000|"},
        PpdSizeCase{"MillimetresBeforePoints", "Custom.2x3ptmm", 2, 3, "(mm:wxh)|2.000000|3.000000|"},
        PpdSizeCase{"NotAtTheStartParsesNothing", "MyCustom", 0, 0, "(src:wxh)|0.000000|0.000000|"},
        PpdSizeCase{"UpperCaseXStopsTheScan", "Custom.100X150mm", 100, 0, "(mm:wxh)|100.000000|0.000000|"},
        PpdSizeCase{"NegativeSizeStaysNegative", "Custom.-5x3mm", -5, 3, nullptr},
        PpdSizeCase{"WrapsToLow16Bits", "Custom.70000x-40000mm", 4464, 25536, nullptr},
        PpdSizeCase{"HugeSaturatesThenWraps", "Custom.1e30x-1e30mm", -1, 0, nullptr},
        PpdSizeCase{"NanIsZeroInfinitySaturates", "Custom.nanxinf", 0, -1, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// PPD defaults

TEST_F(SettingsTest, PpdDefaultsOverrideTheBuiltInOnesAndAreLoggedInOrder)
{
  use_ppd("*DefaultPageSize: 4.00x6.00in\n*DefaultDarkness: 25\n*DefaultPrintSpeed: 45\n"
          "*DefaultVertical: -3\n*DefaultHorizontal: 12\n*DefaultDottedLine: 1\n");
  const LabelDoc doc = build({});
  EXPECT_EQ(fields_of(doc), (Fields{102, 152, 4, 25, 1, 12, -3}));
  EXPECT_EQ(log(), (std::vector<std::string>{
                       "PPD=" + ppdPath,
                       "module_number:5",
                       "ppdfile DefaultPageSize:4.00x6.00in",
                       "ppdfile DefaultDarkness:25",
                       "ppdfile DefaultPrintSpeed:45",
                       "ppdfile DefaultVertical:-3",
                       "ppdfile DefaultHorizontal:12",
                       "ppdfile DefaultDottedLine:1",
                       "ppdfile PageSize:102x152",
                       "ppdfile Speed:4",
                       "ppdfile Darkness:25",
                   }));
}

TEST_F(SettingsTest, PpdWithoutTheAttributesStillLogsTheClosingLines)
{
  use_ppd("");
  EXPECT_EQ(fields_of(build({})), Fields{});
  EXPECT_EQ(log(), (std::vector<std::string>{"PPD=" + ppdPath, "module_number:5", "ppdfile PageSize:60x40",
                                             "ppdfile Speed:4", "ppdfile Darkness:7"}));
}

TEST_F(SettingsTest, UnknownPpdSizeNameLeavesTheDefault)
{
  use_ppd("*DefaultPageSize: A4\n");
  EXPECT_EQ(fields_of(build({})), Fields{});
  EXPECT_TRUE(logged("ppdfile DefaultPageSize:A4"));
}

TEST_F(SettingsTest, PpdNumbersFollowAtoiDivisionAndThe16BitRule)
{
  struct Case {
    const char* speed;
    const char* darkness;
    int16_t wantSpeed, wantDarkness;
  };
  for (const Case& c : {Case{"9", "65541", 0, 5}, Case{"-15", "32768", -1, -32768}, Case{"fast", "dark", 0, 0},
                        Case{"99999999999", "-99999999999", -13108, 0}, Case{"655410", "99999999999", 5, -1}}) {
    SCOPED_TRACE(std::string(c.speed) + " / " + c.darkness);
    use_ppd(std::string("*DefaultPrintSpeed: ") + c.speed + "\n*DefaultDarkness: " + c.darkness + "\n");
    const LabelDoc doc = build({});
    EXPECT_EQ(doc.printSpeed, c.wantSpeed);
    EXPECT_EQ(doc.darkness, c.wantDarkness);
  }
}

TEST_F(SettingsTest, MissingOrUnsetPpdKeepsTheDefaults)
{
  setenv("PPD", dir.file("absent.ppd").c_str(), 1);
  EXPECT_EQ(fields_of(build({})), Fields{});
  EXPECT_EQ(log(), (std::vector<std::string>{"PPD=" + dir.file("absent.ppd"), "can't param ppdfile"}));

  unsetenv("PPD");
  std::rewind(pLogFile);
  ASSERT_EQ(ftruncate(fileno(pLogFile), 0), 0);
  EXPECT_EQ(fields_of(build({})), Fields{});
  EXPECT_EQ(log(), (std::vector<std::string>{"PPD=(null)", "can't param ppdfile"}));
}

TEST_F(SettingsTest, NotAPpdFileIsTreatedAsMissing)
{
  ppdPath = dir.file("junk.ppd");
  ASSERT_TRUE(write_file(ppdPath, "*DefaultDarkness: 25\nthis is no PPD\n"));
  setenv("PPD", ppdPath.c_str(), 1);
  EXPECT_EQ(fields_of(build({})), Fields{});
  EXPECT_TRUE(logged("can't param ppdfile"));
}

// ---------------------------------------------------------------------------
// Job options

struct OptionCase {
  const char* name;
  std::vector<Option> options;
  Fields want;
};

void PrintTo(const OptionCase& c, std::ostream* os)
{
  for (const Option& o : c.options)
    *os << o.name << "=" << o.value << " ";
  *os << "-> " << c.want;
}

class JobOptions : public SettingsTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(JobOptions, SetTheirFields)
{
  EXPECT_EQ(fields_of(build(GetParam().options)), GetParam().want);
}

Fields with(Fields f, int16_t Fields::*field, int16_t value)
{
  f.*field = value;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Values, JobOptions,
    ::testing::Values(
        OptionCase{"NoOptions", {}, Fields{}},
        OptionCase{"Darkness", {{"Darkness", "20"}}, with({}, &Fields::darkness, 20)},
        OptionCase{"NamesAreCaseSensitive", {{"darkness", "20"}, {"PAGESIZE", "4.00x6.00in"}}, Fields{}},
        OptionCase{"DarknessWithoutDigits", {{"Darkness", "high"}}, with({}, &Fields::darkness, 0)},
        OptionCase{"SpeedDividedByTen", {{"PrintSpeed", "60"}}, with({}, &Fields::speed, 6)},
        OptionCase{"SpeedBelowTen", {{"PrintSpeed", "5"}}, with({}, &Fields::speed, 0)},
        OptionCase{"NegativeSpeedTruncatesTowardZero", {{"PrintSpeed", "-15"}}, with({}, &Fields::speed, -1)},
        OptionCase{"SpeedWrapsAfterDivision", {{"PrintSpeed", "655410"}}, with({}, &Fields::speed, 5)},
        OptionCase{"DottedLine", {{"DottedLine", "1"}}, with({}, &Fields::dottedLine, 1)},
        OptionCase{"Offsets", {{"Horizontal", "-7"}, {"Vertical", "9"}}, with(with({}, &Fields::horizontal, -7), &Fields::vertical, 9)},
        OptionCase{"WrapsTo16Bits", {{"Darkness", "65541"}, {"Vertical", "32768"}},
                   with(with({}, &Fields::darkness, 5), &Fields::vertical, -32768)},
        OptionCase{"BeyondThe32BitRange", {{"Darkness", "99999999999"}, {"Horizontal", "-99999999999"}},
                   with({}, &Fields::darkness, -1)},
        OptionCase{"FirstOfANameWins", {{"Darkness", "20"}, {"Darkness", "30"}, {"PrintSpeed", "80"}, {"PrintSpeed", "20"}},
                   with(with({}, &Fields::darkness, 20), &Fields::speed, 8)},
        OptionCase{"FirstSizeWinsOverALaterCustomOne", {{"PageSize", "4.00x6.00in"}, {"PageSize", "Custom.288x432"}},
                   sized(102, 152)},
        OptionCase{"AnUnknownNameIsNoMatch", {{"Speed", "90"}, {"PrintSpeed", "30"}}, with({}, &Fields::speed, 3)},
        OptionCase{"TableSize", {{"PageSize", "4.00x6.00in"}}, sized(102, 152)},
        OptionCase{"UnknownSizeName", {{"PageSize", "A4"}}, Fields{}},
        OptionCase{"CustomInPoints", {{"PageSize", "Custom.288x432"}}, sized(99, 149)},
        OptionCase{"CustomJustAboveTheMinimum", {{"PageSize", "Custom.32x32"}}, sized(11, 11)},
        OptionCase{"CustomRaisedToTheMinimum", {{"PageSize", "Custom.31x31"}}, sized(10, 10)},
        OptionCase{"CustomOneSideRaised", {{"PageSize", "Custom.28.3x40"}}, sized(10, 13)},
        OptionCase{"CustomUnitLettersIgnored", {{"PageSize", "Custom.4x6in"}}, sized(10, 10)},
        OptionCase{"CustomNegative", {{"PageSize", "Custom.-100x-100"}}, sized(10, 10)},
        OptionCase{"CustomNotParsed", {{"PageSize", "MyCustom"}}, sized(10, 10)},
        OptionCase{"CustomWrapsBeforeTheMinimum", {{"PageSize", "Custom.200000x100000"}}, sized(3721, 10)},
        OptionCase{"CustomHuge", {{"PageSize", "Custom.1e30x-1e30"}}, sized(10, 10)},
        OptionCase{"CustomNanAndInfinity", {{"PageSize", "Custom.nanxinf"}}, sized(10, 10)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, CommandLineFieldsAreTakenFromArgv)
{
  const LabelDoc doc = build({});
  EXPECT_EQ(doc.jobId, 42);
  EXPECT_EQ(doc.copies, 3);
  EXPECT_EQ(doc.user, argv[2]);
  EXPECT_EQ(doc.title, argv[3]);
  EXPECT_EQ(doc.originX, 0);
  EXPECT_EQ(doc.originY, 0);
}

TEST_F(SettingsTest, OptionsOverrideThePpdAndAnUnknownSizeKeepsThePpdOne)
{
  use_ppd("*DefaultPageSize: Custom.100x150mm\n*DefaultDarkness: 25\n*DefaultPrintSpeed: 60\n");
  const LabelDoc doc = build({{"Darkness", "20"}, {"PageSize", "A4"}});
  EXPECT_EQ(fields_of(doc), (Fields{100, 150, 6, 20, 0, 0, 0}));
}

TEST_F(SettingsTest, OptionsLeaveTheirLogLines)
{
  build({{"Darkness", "20"}, {"Darkness", "30"}, {"DottedLine", "1"}, {"PageSize", "Custom.288x432"}, {"Foo", "bar"}});
  EXPECT_EQ(log(), (std::vector<std::string>{
                       "PPD=(null)",
                       "can't param ppdfile",
                       "num_options:0, Darkness, 20",
                       "num_options:1, Darkness, 30",
                       "num_options:2, DottedLine, 1",
                       "doc->dottedLine = 1",
                       "num_options:3, PageSize, Custom.288x432",
                       "page_size=Custom.288x432",
                       "(wxh)|288.000000|432.000000|",
                       "(wxh)|101.766784|152.650177|",
                       "(wxh)|99|149|",
                       "num_options:4, Foo, bar",
                   }));
}

// The halftone mode in its three layers: built-in Threshold, the PPD's
// default, then the first Halftone option; unknown choices change nothing.
TEST_F(SettingsTest, HalftoneLayers)
{
  expect_layers<Halftone>("Halftone", &LabelDoc::halftone,
                          {
                              {nullptr, {}, Halftone::kThreshold},
                              {"Auto", {}, Halftone::kAuto},
                              {"Photo", {}, Halftone::kPhoto},
                              {"Auto", {{"Halftone", "Threshold"}}, Halftone::kThreshold},
                              {nullptr, {{"Halftone", "Photo"}, {"Halftone", "Auto"}}, Halftone::kPhoto},
                              {"Dither", {}, Halftone::kThreshold},
                              {"Photo", {{"Halftone", "auto"}}, Halftone::kPhoto},
                              {"Auto", {{"Halftone", ""}, {"Halftone", "Photo"}}, Halftone::kAuto},
                          });
  EXPECT_TRUE(logged("ppdfile DefaultHalftone:Auto"));
}

// Whether to ask the printer, in the same layers: built-in Auto (a backend
// without a back-channel still means no query), the PPD's default, then
// the first StatusQuery option; unknown choices change nothing.
TEST_F(SettingsTest, StatusQueryLayers)
{
  expect_layers<StatusQuery>("StatusQuery", &LabelDoc::statusQuery,
                             {
                                 {nullptr, {}, StatusQuery::kAuto},
                                 {"Off", {}, StatusQuery::kOff},
                                 {"Off", {{"StatusQuery", "Auto"}}, StatusQuery::kAuto},
                                 {"Auto", {{"StatusQuery", "Off"}, {"StatusQuery", "Auto"}}, StatusQuery::kOff},
                                 {"Off", {{"StatusQuery", "off"}}, StatusQuery::kOff},
                                 {"Never", {{"StatusQuery", ""}}, StatusQuery::kAuto},
                             });
}

}  // namespace
