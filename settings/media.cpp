// The media settings: print mode, media tracking, media type and tear-off
// offset, read from the PPD's defaults and the job's options by name.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "common/log.h"
#include "settings/settings.h"

bool parse_media_choice(const MediaOption& option, const char* text, char* letter)
{
  if (!text)
    return false;
  for (size_t i = 0; i < option.count; ++i) {
    if (option.choices[i].name == text) {
      *letter = option.choices[i].letter;
      return true;
    }
  }
  return false;
}

std::string_view media_choice_name(const MediaOption& option, char letter)
{
  for (size_t i = 0; i < option.count; ++i)
    if (option.choices[i].letter == letter)
      return option.choices[i].name;
  return option.choices[0].name;
}

bool parse_tear_offset(const char* text, int16_t* rows)
{
  if (!text)
    return false;
  if (kPrinterDefaultName == text) {
    *rows = kTearOffsetPrinterDefault;
    return true;
  }
  // strtol alone would take leading blanks, and "5x" as 5.
  const char* digits = (*text == '-' || *text == '+') ? text + 1 : text;
  if (*digits < '0' || *digits > '9')
    return false;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < -kMaxTearOffset || value > kMaxTearOffset)
    return false;
  *rows = static_cast<int16_t>(value);
  return true;
}

namespace {

bool media_settings_changed(const LabelDoc& doc)
{
  return doc.printMode != kPrintModeChoices[0].letter || doc.mediaTracking != kMediaTrackingChoices[0].letter ||
         doc.mediaType != kMediaTypeChoices[0].letter || doc.tearOffset != kTearOffsetPrinterDefault;
}

}  // namespace

void log_media_settings(const LabelDoc& doc)
{
  if (!media_settings_changed(doc))
    return;
  const std::string_view mode = media_choice_name(kPrintModeOption, doc.printMode);
  const std::string_view tracking = media_choice_name(kMediaTrackingOption, doc.mediaTracking);
  const std::string_view type = media_choice_name(kMediaTypeOption, doc.mediaType);
  char tear[16] = "PrinterDefault";
  if (doc.tearOffset != kTearOffsetPrinterDefault)
    std::snprintf(tear, sizeof tear, "%d", static_cast<int>(doc.tearOffset));
  WriteLog("setting PrintMode:%.*s MediaTracking:%.*s MediaType:%.*s TearOffset:%s", static_cast<int>(mode.size()),
           mode.data(), static_cast<int>(tracking.size()), tracking.data(), static_cast<int>(type.size()),
           type.data(), tear);
}
