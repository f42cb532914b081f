// IPP job template attributes to the filters' settings record.
#include "app/job_settings.h"

#include <algorithm>
#include <cstdint>
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

LabelDoc job_label_doc(const pappl_pr_options_t& options, const char* documentFormat)
{
  LabelDoc doc{};
  doc.copies = label_carries_copies(documentFormat) ? std::max(options.copies, 1) : 1;
  doc.printSpeed = print_rate(options.print_speed);
  doc.darkness = darkness_level(options.print_darkness, options.darkness_configured);
  doc.pageWidth = media_mm(options.media.size_width);
  doc.pageHeight = media_mm(options.media.size_length);
  doc.halftone = halftone_mode(options.print_content_optimize, options.print_color_mode);
  return doc;
}
