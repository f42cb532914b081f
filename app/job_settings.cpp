// IPP job template attributes to the filters' settings record.
#include "app/job_settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Rounds a non-negative ratio to the nearest whole number, halves up.
int rounded_ratio(int64_t numerator, int64_t denominator)
{
  return static_cast<int>((2 * numerator + denominator) / (2 * denominator));
}

}  // namespace

int16_t darkness_level(int printDarkness, int darknessConfigured)
{
  const int64_t sum = std::clamp<int64_t>(int64_t{printDarkness} + darknessConfigured, 0, 100);
  return static_cast<int16_t>(rounded_ratio(sum * kMaxDarkness, 100));
}

int16_t print_rate(int printSpeed)
{
  if (printSpeed <= 0)
    return kDefaultPrintRate;
  return static_cast<int16_t>(std::clamp(rounded_ratio(printSpeed, kSpeedPerInch), kMinPrintRate, kMaxPrintRate));
}

int16_t media_mm(int hundredths)
{
  if (hundredths <= 0)
    return 1;
  return static_cast<int16_t>(std::clamp(rounded_ratio(hundredths, 100), 1, int{INT16_MAX}));
}

Halftone halftone_mode(pappl_content_t content, pappl_color_mode_t colorMode)
{
  if (colorMode == PAPPL_COLOR_MODE_BI_LEVEL)
    return Halftone::kThreshold;
  return content == PAPPL_CONTENT_PHOTO ? Halftone::kPhoto : Halftone::kAuto;
}

bool label_carries_copies(const char* documentFormat)
{
  return documentFormat &&
         (std::strcmp(documentFormat, "image/pwg-raster") == 0 || std::strcmp(documentFormat, "image/urf") == 0);
}

std::string ipp_keyword(std::string_view choiceName)
{
  std::string keyword;
  for (const char c : choiceName) {
    if (std::isupper(static_cast<unsigned char>(c)) && !keyword.empty())
      keyword += '-';
    keyword += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return keyword;
}

namespace {

// A whole number with nothing after it, as PAPPL renders an integer.
bool read_integer(const char* value, int* number)
{
  if (!value || !*value)
    return false;
  char* end = nullptr;
  errno = 0;
  const long read = std::strtol(value, &end, 10);
  if (errno != 0 || *end != '\0' || read < INT32_MIN || read > INT32_MAX)
    return false;
  *number = static_cast<int>(read);
  return true;
}

}  // namespace

void apply_vendor_value(PrinterLabelSettings& settings, std::string_view name, const char* value)
{
  if (!value)
    return;
  if (name == kTearOffsetAttr) {
    read_integer(value, &settings.tearOffset);
  } else if (name == kMediaTypeAttr) {
    for (size_t i = 0; i < kMediaTypeOption.count; ++i)
      if (ipp_keyword(kMediaTypeChoices[i].name) == value)
        settings.mediaType = kMediaTypeChoices[i].letter;
  } else if (name == kDottedLineAttr) {
    if (std::strcmp(value, "true") == 0 || std::strcmp(value, "false") == 0)
      settings.dottedLine = value[0] == 't';
  }
}

char print_mode_letter(pappl_label_mode_t mode)
{
  char letter = kPrintModeChoices[0].letter;
  for (const LabelMode& m : kLabelModes)
    if (m.mode == mode)
      parse_media_choice(kPrintModeOption, m.choice, &letter);
  return letter;
}

char tracking_letter(pappl_media_tracking_t tracking)
{
  static constexpr struct {
    pappl_media_tracking_t tracking;
    const char* choice;
  } kTrackings[] = {
      {PAPPL_MEDIA_TRACKING_CONTINUOUS, "Continuous"},
      {PAPPL_MEDIA_TRACKING_GAP, "Gap"},
      {PAPPL_MEDIA_TRACKING_MARK, "Mark"},
      {PAPPL_MEDIA_TRACKING_WEB, "Gap"},
  };
  char letter = 0;
  for (const auto& t : kTrackings)
    if (t.tracking == tracking)
      parse_media_choice(kMediaTrackingOption, t.choice, &letter);
  return letter;
}

int16_t hundredths_to_dots(int hundredths, const ModelProfile& model)
{
  const double dots = std::round(hundredths * model.dotsPerMm / 100.0);
  return static_cast<int16_t>(std::clamp(dots, double{INT16_MIN}, double{INT16_MAX}));
}

int dots_to_hundredths(int dots, const ModelProfile& model)
{
  return static_cast<int>(dots * 100 / model.dotsPerMm);
}

int16_t tear_offset_rows(int hundredths, const ModelProfile& model)
{
  if (hundredths == 0)
    return kTearOffsetPrinterDefault;
  return std::clamp(hundredths_to_dots(hundredths, model), int16_t{-kMaxTearOffset}, kMaxTearOffset);
}

LabelDoc job_label_doc(const pappl_pr_options_t& options, const char* documentFormat, const ModelProfile& model,
                       const PrinterLabelSettings& printer)
{
  LabelDoc doc{};
  doc.copies = label_carries_copies(documentFormat) ? std::max(options.copies, 1) : 1;
  doc.printSpeed = print_rate(options.print_speed);
  doc.darkness = darkness_level(options.print_darkness, options.darkness_configured);
  doc.pageWidth = media_mm(options.media.size_width);
  doc.pageHeight = media_mm(options.media.size_length);
  doc.halftone = halftone_mode(options.print_content_optimize, options.print_color_mode);
  doc.horizontal = hundredths_to_dots(options.media.left_offset, model);
  doc.vertical = hundredths_to_dots(options.media.top_offset, model);
  doc.mediaTracking = tracking_letter(options.media.tracking);
  doc.printMode = print_mode_letter(printer.mode);
  doc.mediaType = printer.mediaType;
  doc.tearOffset = tear_offset_rows(printer.tearOffset, model);
  doc.dottedLine = model.dottedLineHeader ? printer.dottedLine : 0;
  return doc;
}
