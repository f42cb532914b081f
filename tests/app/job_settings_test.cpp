// The printer application's side of the settings: IPP job attributes to the
// filters' record, the drivers named after the model profiles, and the label
// stock as PWG media names that come out at the filters' sizes.
#include <climits>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "app/job_settings.h"
#include "app/models.h"

namespace {

struct DarknessCase {
  int printDarkness, configured;
  int16_t level;
};

TEST(AppSettings, DarknessIsTheSumScaledToThirtyLevels)
{
  const DarknessCase cases[] = {
      {0, 50, 15},     // the shipped default: the PPDs' ~SD15
      {20, 50, 21},    // 70 of 100
      {-30, 50, 6},    // 20 of 100
      {100, 50, 30},   // above 100 clamps
      {-100, 50, 0},   // below 0 clamps
      {0, 100, 30},    {0, 0, 0},
      {1, 0, 0},       // 0.3 rounds down
      {2, 0, 1},       // 0.6 rounds up
      {5, 0, 2},       // 1.5: halves round up
      {-100, 0, 0},    {100, 100, 30},
  };
  for (const DarknessCase& c : cases)
    EXPECT_EQ(darkness_level(c.printDarkness, c.configured), c.level)
        << "print-darkness " << c.printDarkness << " + configured " << c.configured;
}

TEST(AppSettings, SpeedIsTheNearestInchPerSecondWithinThePpdRates)
{
  const struct {
    int speed;
    int16_t rate;
  } cases[] = {
      {10160, 4}, {15240, 6}, {5080, 2},  {30480, 12},  // whole inches
      {3810, 2},  {6350, 3},  {8890, 4},                // 1.5, 2.5, 3.5 in/s round up
      {8889, 3},                                        // just under 3.5
      {2540, 2},  {1, 2},     {50800, 12}, {1000000, 12},  // clamped
      {0, 4},     {-5, 4},                                 // none: the default rate
  };
  for (const auto& c : cases)
    EXPECT_EQ(print_rate(c.speed), c.rate) << "print-speed " << c.speed;
}

TEST(AppSettings, HalftoneFollowsColourModeThenContent)
{
  const struct {
    pappl_content_t content;
    pappl_color_mode_t mode;
    Halftone halftone;
  } cases[] = {
      {PAPPL_CONTENT_PHOTO, PAPPL_COLOR_MODE_MONOCHROME, Halftone::kPhoto},
      {PAPPL_CONTENT_AUTO, PAPPL_COLOR_MODE_MONOCHROME, Halftone::kAuto},
      {PAPPL_CONTENT_TEXT, PAPPL_COLOR_MODE_MONOCHROME, Halftone::kAuto},
      {PAPPL_CONTENT_GRAPHIC, PAPPL_COLOR_MODE_MONOCHROME, Halftone::kAuto},
      {PAPPL_CONTENT_TEXT_AND_GRAPHIC, PAPPL_COLOR_MODE_MONOCHROME, Halftone::kAuto},
      // bi-level asks for dots by the threshold alone, even for photos.
      {PAPPL_CONTENT_PHOTO, PAPPL_COLOR_MODE_BI_LEVEL, Halftone::kThreshold},
      {PAPPL_CONTENT_AUTO, PAPPL_COLOR_MODE_BI_LEVEL, Halftone::kThreshold},
  };
  for (const auto& c : cases)
    EXPECT_EQ(halftone_mode(c.content, c.mode), c.halftone) << "content " << c.content << ", mode " << c.mode;
}

TEST(AppSettings, MediaDimensionsRoundToWholeMillimetres)
{
  const struct {
    int hundredths;
    int16_t mm;
  } cases[] = {
      {10160, 102}, {15240, 152}, {5715, 57}, {3175, 32}, {5049, 50}, {5050, 51},
      {0, 1},       {-200, 1},    {49, 1},    {2000000000, INT16_MAX},
  };
  for (const auto& c : cases)
    EXPECT_EQ(media_mm(c.hundredths), c.mm) << c.hundredths << " hundredths of a mm";
}

pappl_pr_options_t job_options(int copies)
{
  pappl_pr_options_t options{};
  options.copies = copies;
  options.media.size_width = 5715;
  options.media.size_length = 3175;
  options.print_darkness = 20;
  options.darkness_configured = 50;
  options.print_speed = 15240;
  options.print_content_optimize = PAPPL_CONTENT_PHOTO;
  options.print_color_mode = PAPPL_COLOR_MODE_MONOCHROME;
  return options;
}

TEST(AppSettings, TheRecordHoldsTheJobAndTheFiltersDefaultsElsewhere)
{
  EXPECT_EQ(job_label_doc(job_options(0), "image/pwg-raster", kProfile203, {}).copies, 1);
  const LabelDoc doc = job_label_doc(job_options(3), "image/pwg-raster", kProfile203, {});
  EXPECT_EQ(doc.pageWidth, 57);
  EXPECT_EQ(doc.pageHeight, 32);
  EXPECT_EQ(doc.darkness, 21);
  EXPECT_EQ(doc.printSpeed, 6);
  EXPECT_EQ(doc.halftone, Halftone::kPhoto);
  EXPECT_EQ(doc.copies, 3);
  EXPECT_EQ(doc.dottedLine, 0);
  EXPECT_EQ(doc.originX, 0);
  EXPECT_EQ(doc.originY, 0);
}

// ---------------------------------------------------------------------------
// Media handling: what the end-to-end labels don't reach

TEST(AppMedia, LengthsAreDotsToTheNearestAndTearOffsetsHeldToTheTildeRange)
{
  const struct {
    int hundredths;
    const ModelProfile* model;
    int16_t dots, rows;
  } cases[] = {
      {0, &kProfile203, 0, kTearOffsetPrinterDefault},  // 0 leaves the printer's own
      {500, &kProfile203, 40, 40},     {500, &kProfile600, 118, 118},   {-100, &kProfile300, -12, -12},
      {6, &kProfile203, 0, 0},         // 0.48 dots: ~TA000, not none
      {1520, &kProfile203, 122, 120},  {-100000, &kProfile600, -23600, -120},
      {INT32_MAX, &kProfile300, INT16_MAX, 120}, {INT32_MIN, &kProfile300, INT16_MIN, -120},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.hundredths) + " at " + std::to_string(c.model->dpi) + " dpi");
    EXPECT_EQ(hundredths_to_dots(c.hundredths, *c.model), c.dots);
    EXPECT_EQ(tear_offset_rows(c.hundredths, *c.model), c.rows);
  }
  // The range the driver declares is the whole ~TA range.
  for (const ModelProfile* model : kModels)
    EXPECT_EQ(tear_offset_rows(dots_to_hundredths(kMaxTearOffset, *model), *model), 120) << model->dpi;
  // Printers made before label modes and tracking: the labels they printed.
  EXPECT_EQ(print_mode_letter(0), 'T');
  EXPECT_EQ(tracking_letter(0), 0);
}

// Values as PAPPL renders them; one that does not read leaves the setting.
TEST(AppMedia, VendorValuesReadOrLeaveTheSetting)
{
  // Each case starts from a tear offset of 77, media type T and the dotted
  // line on, and must end with the three values given.
  const struct {
    const char *name, *value;
    int tearOffset;
    char mediaType;
    int16_t dottedLine;
  } cases[] = {
      {kTearOffsetAttr, "-1016", -1016, 'T', 1},      {kTearOffsetAttr, "5x", 77, 'T', 1},
      {kTearOffsetAttr, "", 77, 'T', 1},              {kTearOffsetAttr, "99999999999", 77, 'T', 1},
      {kMediaTypeAttr, "printer-default", 77, 0, 1},  {kMediaTypeAttr, "DirectThermal", 77, 'T', 1},
      {kDottedLineAttr, "false", 77, 'T', 0},         {kDottedLineAttr, "on", 77, 'T', 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    PrinterLabelSettings settings;
    settings.tearOffset = 77, settings.mediaType = 'T', settings.dottedLine = 1;
    apply_vendor_value(settings, c.name, c.value);
    EXPECT_EQ(settings.tearOffset, c.tearOffset);
    EXPECT_EQ(settings.mediaType, c.mediaType);
    EXPECT_EQ(settings.dottedLine, c.dottedLine);
  }
}

TEST(AppModels, EveryProfileHasADriverThatLeadsBackToIt)
{
  std::set<std::string> names;
  for (const ModelProfile* model : kModels) {
    const std::string name = driver_name(*model);
    EXPECT_EQ(name, "zpl_" + std::to_string(model->dpi) + "dpi");
    EXPECT_EQ(model_for_driver(name.c_str()), model) << name;
    EXPECT_NE(driver_description(*model).find(std::to_string(model->dpi) + "dpi"), std::string::npos);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), std::size(kModels));
  for (const char* other : {"zpl_100dpi", "zpl_300dpiX", "ZPL_300DPI", "", "zpl_"})
    EXPECT_EQ(model_for_driver(other), nullptr) << other;
  EXPECT_EQ(model_for_driver(nullptr), nullptr);
}

// Each named size reaches the label at exactly the size the filters give
// the PPD option of that name.
TEST(AppModels, EveryNamedSizeComesOutAtTheFiltersSize)
{
  std::set<std::string> names;
  for (const PageEntry& size : g_page_list) {
    const std::string name = pwg_media_name(size);
    SCOPED_TRACE(std::string(size.name) + " as " + name);
    const pwg_media_t* pwg = pwgMediaForPWG(name.c_str());
    ASSERT_NE(pwg, nullptr);
    EXPECT_EQ(media_mm(pwg->width), size.width);
    EXPECT_EQ(media_mm(pwg->length), size.height);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), g_page_list.size());
  EXPECT_EQ(pwg_media_name({"4.00x6.00in", 102, 152}), "na_index-4x6_4x6in");
  EXPECT_EQ(pwg_media_name({"2.25x1.25in", 57, 32}), "oe_2.25x1.25-label_2.25x1.25in");
  EXPECT_EQ(pwg_media_name({"100mmx150mm", 100, 150}), "om_small-photo_100x150mm");
  EXPECT_EQ(pwg_media_name({"4.00x6.50in", 102, 165}), "oe_4x6.5-label_4x6.5in");
  for (const char* bad : {"Letter", "4x6", "4.00x6.00cm", "4.00x6.00inches", "0x6.00in"})
    EXPECT_EQ(pwg_media_name({bad, 1, 1}), "") << bad;
}

TEST(AppModels, CustomRangeIsThePpdsRange)
{
  // pwgMediaForPWG answers in one buffer per thread: read each at once.
  const pwg_media_t* least = pwgMediaForPWG(kCustomMinMedia);
  ASSERT_NE(least, nullptr);
  EXPECT_EQ(least->width, 1270);
  EXPECT_EQ(least->length, 1270);
  const pwg_media_t* most = pwgMediaForPWG(kCustomMaxMedia);
  ASSERT_NE(most, nullptr);
  EXPECT_EQ(most->width, 10795);
  EXPECT_EQ(most->length, 55880);
}

}  // namespace
