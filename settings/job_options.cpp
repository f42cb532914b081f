// The top settings layer: the options given with the job.
#include <cstdio>
#include <cstring>

#include "common/log.h"
#include "settings/settings.h"

namespace {

// A job's custom size is in points. Labels come out at 98 % of the asked
// size, never under 10 mm a side.
void apply_custom_size(LabelDoc* doc, const char* value)
{
  float w = 0, h = 0;
  std::sscanf(value, "Custom.%fx%f", &w, &h);
  WriteLog("(wxh)|%f|%f|", w, h);
  WriteLog("(wxh)|%f|%f|", w / 2.83, h / 2.83);

  doc->pageWidth = low16(truncate_to_int32(w / 2.83 * 0.98));
  doc->pageHeight = low16(truncate_to_int32(h / 2.83 * 0.98));
  if (doc->pageHeight <= 10)
    doc->pageHeight = 10;
  if (doc->pageWidth <= 10)
    doc->pageWidth = 10;
  WriteLog("(wxh)|%d|%d|", doc->pageWidth, doc->pageHeight);
}

void apply_page_size(LabelDoc* doc, const char* value)
{
  WriteLog("page_size=%s", value);
  if (std::strstr(value, "Custom"))
    apply_custom_size(doc, value);
  else
    lookup_page_size(doc, value);
}

enum Option {
  kDarkness,
  kPrintSpeed,
  kHorizontal,
  kVertical,
  kDottedLine,
  kPageSize,
  kHalftone,
  kStatusQuery,
  kPrintMode,
  kMediaTracking,
  kMediaType,
  kTearOffset,
  kOptionCount
};

constexpr std::string_view kOptionNames[kOptionCount] = {
    "Darkness", "PrintSpeed", "Horizontal", "Vertical", "DottedLine", "PageSize", "Halftone", "StatusQuery",
    kPrintModeOption.name, kMediaTrackingOption.name, kMediaTypeOption.name, kTearOffsetName,
};

void apply_option(LabelDoc* doc, Option option, const char* value)
{
  switch (option) {
  case kDarkness: doc->darkness = low16(parse_decimal(value)); break;
  case kPrintSpeed: doc->printSpeed = low16(parse_decimal(value) / 10); break;
  case kHorizontal: doc->horizontal = low16(parse_decimal(value)); break;
  case kVertical: doc->vertical = low16(parse_decimal(value)); break;
  case kDottedLine:
    doc->dottedLine = low16(parse_decimal(value));
    WriteLog("doc->dottedLine = %d", doc->dottedLine);
    break;
  case kPageSize: apply_page_size(doc, value); break;
  // An unknown choice keeps the PPD's or the built-in mode, as an unknown
  // size keeps the size.
  case kHalftone: parse_halftone(value, &doc->halftone); break;
  case kStatusQuery: parse_status_query(value, &doc->statusQuery); break;
  case kPrintMode: parse_media_choice(kPrintModeOption, value, &doc->printMode); break;
  case kMediaTracking: parse_media_choice(kMediaTrackingOption, value, &doc->mediaTracking); break;
  case kMediaType: parse_media_choice(kMediaTypeOption, value, &doc->mediaType); break;
  case kTearOffset: parse_tear_offset(value, &doc->tearOffset); break;
  case kOptionCount: break;
  }
}

}  // namespace

void set_pstops_options(LabelDoc* doc, char* argv[], int num_options, cups_option_t* options)
{
  doc->jobId = parse_decimal(argv[1]);
  doc->user = argv[2];
  doc->title = argv[3];
  doc->copies = parse_decimal(argv[4]);

  doc->pageWidth = 60;
  doc->pageHeight = 40;
  doc->printSpeed = 4;
  doc->darkness = 7;
  doc->dottedLine = 0;
  // A backend without a back-channel says so, and then nothing is asked.
  doc->statusQuery = StatusQuery::kAuto;

  set_pstops_with_ppd(doc);

  bool applied[kOptionCount] = {};
  for (int i = 0; i < num_options; ++i) {
    const cups_option_t& opt = options[i];
    WriteLog("num_options:%d, %s, %s", i, opt.name, opt.value);
    for (int k = 0; k < kOptionCount; ++k) {
      if (!applied[k] && opt.name && kOptionNames[k] == opt.name) {
        applied[k] = true;
        apply_option(doc, static_cast<Option>(k), opt.value);
        break;
      }
    }
  }
}
