// The PPDs against the filter that reads them: a size renamed in the driver
// source, or a default the filter cannot parse, would print wrong labels
// without any error, so the sizes and defaults are checked against the
// filter's own table and settings code.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include "settings/settings.h"
#include "support.h"

// The PPD API is deprecated in Debian's libcups but is what a PPD is read with.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdOwner = std::unique_ptr<ppd_file_t, PpdCloser>;

class Ppd : public ::testing::TestWithParam<TestModel> {
protected:
  void SetUp() override
  {
    ppd.reset(ppdOpenFile(GetParam().ppd.c_str()));
    ASSERT_TRUE(ppd) << GetParam().ppd;
  }
  PpdOwner ppd;
};

TEST_P(Ppd, SizesAreTheFilterTableEdgeToEdge)
{
  // libcups lists the custom size among the named ones.
  int named = 0;
  for (int i = 0; i < ppd->num_sizes; ++i)
    named += std::strcmp(ppd->sizes[i].name, "Custom") != 0;
  EXPECT_EQ(named, static_cast<int>(g_page_list.size()));
  EXPECT_TRUE(ppd->variable_sizes);
  for (const PageEntry& entry : g_page_list) {
    SCOPED_TRACE(entry.name);
    const ppd_size_t* size = ppdPageSize(ppd.get(), entry.name);
    ASSERT_NE(size, nullptr) << "the PPD does not offer this size under the filter's name";
    // The table rounds to whole millimetres; the PPD holds the exact size.
    EXPECT_NEAR(size->width * 25.4 / 72, entry.width, 0.5);
    EXPECT_NEAR(size->length * 25.4 / 72, entry.height, 0.5);
    EXPECT_EQ(size->left, 0.0f);
    EXPECT_EQ(size->bottom, 0.0f);
    EXPECT_EQ(size->right, size->width);
    EXPECT_EQ(size->top, size->length);
  }
}

// Rasters go through the model's filter, ZPL jobs through zplpass and
// command files through zplcommand. A single old-style *cupsFilter line
// would be ignored by CUPS next to these.
TEST_P(Ppd, NamesItsFiltersAndModel)
{
  EXPECT_EQ(ppd->model_number, GetParam().dpi);
  std::vector<std::string> lines;
  for (const ppd_attr_t* attr = ppdFindAttr(ppd.get(), "cupsFilter2", nullptr); attr;
       attr = ppdFindNextAttr(ppd.get(), "cupsFilter2", nullptr))
    lines.emplace_back(attr->value ? attr->value : "");
  const std::vector<std::string> expected{
      "application/vnd.cups-command application/vnd.zebra-zpl 0 zplcommand",
      "application/vnd.cups-raster application/vnd.zebra-zpl 50 " + GetParam().installed,
      "application/vnd.zebra-zpl application/vnd.zebra-zpl 0 zplpass"};
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(ppdFindAttr(ppd.get(), "cupsFilter", nullptr), nullptr);
  EXPECT_EQ(std::string(ppd->manufacturer), "Generic");
}

// Every choice a print dialog offers must mean to the filter what its label
// says: darkness 0 to 30, print speed ten times a whole rate, offsets in dots.
TEST_P(Ppd, ChoicesAreWhatTheFilterReads)
{
  const ppd_option_t* darkness = ppdFindOption(ppd.get(), "Darkness");
  ASSERT_NE(darkness, nullptr);
  ASSERT_EQ(darkness->num_choices, 31);
  for (int i = 0; i < darkness->num_choices; ++i)
    EXPECT_EQ(std::string(darkness->choices[i].choice), std::to_string(i));

  // Print speeds of 2 to 12 in/s, the rates the printer application maps to.
  const ppd_option_t* speed = ppdFindOption(ppd.get(), "PrintSpeed");
  ASSERT_NE(speed, nullptr);
  std::vector<std::string> speeds;
  for (int i = 0; i < speed->num_choices; ++i)
    speeds.push_back(std::string(speed->choices[i].choice) + " " + speed->choices[i].text);
  EXPECT_EQ(speeds, (std::vector<std::string>{"20 2 in/s", "30 3 in/s", "40 4 in/s", "50 5 in/s", "60 6 in/s",
                                              "80 8 in/s", "100 10 in/s", "120 12 in/s"}));

  // The offsets are printer dots, -120 to 120 in steps of 10, 0 by default.
  for (const char* name : {"Horizontal", "Vertical"}) {
    SCOPED_TRACE(name);
    const ppd_option_t* offset = ppdFindOption(ppd.get(), name);
    ASSERT_NE(offset, nullptr);
    ASSERT_EQ(offset->num_choices, 25);
    for (int i = 0; i < offset->num_choices; ++i)
      EXPECT_EQ(std::string(offset->choices[i].choice), std::to_string(10 * i - 120));
    EXPECT_EQ(std::string(offset->defchoice), "0");
  }

  // A dotted line is offered only where the model sends its header.
  EXPECT_EQ(ppdFindOption(ppd.get(), "DottedLine") != nullptr, GetParam().header);
}

// Options that only choose how grey and shapes become dots: CenterOfPixel
// for CUPS's Ghostscript filter, which reads *DefaultCenterOfPixel and the
// job option of that name, Halftone for ours; and whether ours asks the
// printer for its status. A choice renamed here would be ignored by the
// program that reads it, without any error.
struct ChoiceList {
  const char* option;
  std::vector<std::string> choices;
  const char* defaultChoice;
};
const ChoiceList kRenderingOptions[] = {
    {"CenterOfPixel", {"True", "False"}, "True"},
    {"Halftone", {"Threshold", "Auto", "Photo"}, "Auto"},
    {"StatusQuery", {"Auto", "Off"}, "Auto"},
};

TEST_P(Ppd, RenderingOptionsAndDefaults)
{
  for (const ChoiceList& expected : kRenderingOptions) {
    SCOPED_TRACE(expected.option);
    const ppd_option_t* option = ppdFindOption(ppd.get(), expected.option);
    ASSERT_NE(option, nullptr);
    EXPECT_EQ(option->ui, PPD_UI_PICKONE);
    std::vector<std::string> choices;
    for (int i = 0; i < option->num_choices; ++i)
      choices.emplace_back(option->choices[i].choice);
    EXPECT_EQ(choices, expected.choices);
    EXPECT_STREQ(option->defchoice, expected.defaultChoice);
    // gstoraster and our filter read the attribute, not the marked choice.
    const ppd_attr_t* attr = ppdFindAttr(ppd.get(), ("Default" + std::string(expected.option)).c_str(), nullptr);
    ASSERT_NE(attr, nullptr);
    EXPECT_STREQ(attr->value, expected.defaultChoice);
  }
}

// CUPS's web page offers the commands *cupsCommands lists, and must find
// them in zplcommand; the paused printer's reason, which the filters set
// by this name, has its text.
TEST_P(Ppd, MaintenanceCommandsAndThePausedReason)
{
  const ppd_attr_t* commands = ppdFindAttr(ppd.get(), "cupsCommands", nullptr);
  ASSERT_NE(commands, nullptr);
  EXPECT_STREQ(commands->value, "PrintSelfTestPage ReportStatus zplfilter.Calibrate");
  const ppd_attr_t* reason = ppdFindAttr(ppd.get(), "cupsIPPReason", "zplfilter-printer-paused-warning");
  ASSERT_NE(reason, nullptr);
  EXPECT_STRNE(reason->text, "");
}

// The media options offer exactly the filter's choices, its default first
// and marked; each choice, and each TearOffset, means to the filter what
// its name says. A choice renamed on one side would print the default.
TEST_P(Ppd, MediaOptionsAreTheFiltersChoices)
{
  for (const MediaOption* table : {&kPrintModeOption, &kMediaTrackingOption, &kMediaTypeOption}) {
    const std::string name(table->name);
    SCOPED_TRACE(name);
    const ppd_option_t* option = ppdFindOption(ppd.get(), name.c_str());
    ASSERT_NE(option, nullptr);
    EXPECT_EQ(option->ui, PPD_UI_PICKONE);
    ASSERT_EQ(static_cast<size_t>(option->num_choices), table->count);
    for (int i = 0; i < option->num_choices; ++i) {
      EXPECT_EQ(option->choices[i].choice, table->choices[i].name);
      char letter = '?';
      EXPECT_TRUE(parse_media_choice(*table, option->choices[i].choice, &letter));
      EXPECT_EQ(letter, table->choices[i].letter);
    }
    EXPECT_EQ(option->defchoice, table->choices[0].name);
  }

  const ppd_option_t* tear = ppdFindOption(ppd.get(), "TearOffset");
  ASSERT_NE(tear, nullptr);
  ASSERT_EQ(tear->num_choices, 26);
  EXPECT_STREQ(tear->defchoice, "PrinterDefault");
  int16_t rows = 0;
  EXPECT_TRUE(parse_tear_offset(tear->choices[0].choice, &rows));
  EXPECT_EQ(rows, kTearOffsetPrinterDefault);
  for (int i = 1; i < tear->num_choices; ++i) {
    EXPECT_TRUE(parse_tear_offset(tear->choices[i].choice, &rows)) << tear->choices[i].choice;
    EXPECT_EQ(rows, 10 * (i - 1) - 120);
  }
}

TEST_P(Ppd, FilterTakesItsDefaults)
{
  // The media fields start away from their defaults: the PPD must set them.
  LabelDoc doc{};
  doc.printMode = 'C', doc.mediaTracking = 'N', doc.mediaType = 'D', doc.tearOffset = 50;
  doc.statusQuery = StatusQuery::kOff;
  ASSERT_EQ(setenv("PPD", GetParam().ppd.c_str(), 1), 0);
  set_pstops_with_ppd(&doc);
  unsetenv("PPD");
  EXPECT_EQ(doc.pageWidth, 102);
  EXPECT_EQ(doc.pageHeight, 152);
  EXPECT_EQ(doc.darkness, 15);
  EXPECT_EQ(doc.printSpeed, 4);
  EXPECT_EQ(doc.dottedLine, 0);
  EXPECT_EQ(doc.horizontal, 0);
  EXPECT_EQ(doc.vertical, 0);
  EXPECT_EQ(doc.halftone, Halftone::kAuto);
  EXPECT_EQ(doc.statusQuery, StatusQuery::kAuto);
  EXPECT_EQ(doc.printMode, 'T');
  EXPECT_EQ(doc.mediaTracking, 0);
  EXPECT_EQ(doc.mediaType, 0);
  EXPECT_EQ(doc.tearOffset, kTearOffsetPrinterDefault);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, Ppd, ::testing::ValuesIn(test_models()), ParamName());

}  // namespace
