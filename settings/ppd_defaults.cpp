// The middle settings layer: the default attributes of the queue's PPD file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <cups/ppd.h>

#include "common/log.h"
#include "settings/settings.h"

namespace {

// Debian's libcups marks the whole PPD API deprecated; these three calls are
// the only ones the filter makes, so the warning is silenced here alone.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
ppd_file_t* open_ppd(const char* path) { return ppdOpenFile(path); }
ppd_attr_t* find_attr(ppd_file_t* ppd, const char* keyword) { return ppdFindAttr(ppd, keyword, nullptr); }
struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
#pragma GCC diagnostic pop

using PpdFile = std::unique_ptr<ppd_file_t, PpdCloser>;

// A PPD size may carry its unit: the first unit found anywhere in the value
// decides, and a value with none is in metres. Each unit keeps the floating
// precision the printer's drivers have always used, so that e.g. 5.1 cm
// stays 51 mm.
void apply_custom_size(LabelDoc* doc, const char* value)
{
  float w = 0, h = 0;
  std::sscanf(value, "Custom.%fx%f", &w, &h);
  WriteLog("(src:wxh)|%f|%f|", w, h);

  double width, height;
  if (std::strstr(value, "mm")) {
    width = w, height = h;
    WriteLog("(mm:wxh)|%f|%f|", width, height);
  } else if (std::strstr(value, "pt")) {
    width = static_cast<double>(w / 72.0f) * 25.4;
    height = static_cast<double>(h / 72.0f) * 25.4;
    WriteLog("(pt:wxh)|%f|%f|", width, height);
  } else if (std::strstr(value, "cm")) {
    width = w * 10.0f, height = h * 10.0f;
    WriteLog("(cm:wxh)|%f|%f|", width, height);
  } else if (std::strstr(value, "in")) {
    width = static_cast<double>(w) * 25.4, height = static_cast<double>(h) * 25.4;
    WriteLog("(in:wxh)|%f|%f|", width, height);
  } else if (std::strstr(value, "ft")) {
    width = static_cast<double>(w) * 304.8, height = static_cast<double>(h) * 304.8;
    WriteLog("(ft:wxh)|%f|%f|", width, height);
  } else {
    width = w * 1000.0f, height = h * 1000.0f;
    WriteLog("(m:wxh)|%f|%f|", width, height);
  }
  doc->pageWidth = low16(truncate_to_int32(width));
  doc->pageHeight = low16(truncate_to_int32(height));
}

// The value of a Default* attribute, logged; null when the PPD has none.
const char* logged_default(ppd_file_t* ppd, const char* keyword)
{
  const ppd_attr_t* attr = find_attr(ppd, keyword);
  if (!attr)
    return nullptr;
  const char* value = attr->value ? attr->value : "";
  WriteLog("ppdfile %s:%s", attr->name, value);
  return value;
}

// Stores a present attribute's number; an absent one changes nothing.
void apply_number(ppd_file_t* ppd, const char* keyword, int16_t* field, int divisor = 1)
{
  if (const char* value = logged_default(ppd, keyword))
    *field = low16(parse_decimal(value) / divisor);
}

// The media settings' Default* attributes: an unknown choice or a
// TearOffset out of range keeps the built-in default.
void apply_media_defaults(ppd_file_t* ppd, LabelDoc* doc)
{
  const struct {
    const char* keyword;
    const MediaOption& option;
    char* field;
  } choices[] = {
      {"DefaultPrintMode", kPrintModeOption, &doc->printMode},
      {"DefaultMediaTracking", kMediaTrackingOption, &doc->mediaTracking},
      {"DefaultMediaType", kMediaTypeOption, &doc->mediaType},
  };
  for (const auto& choice : choices)
    if (const char* value = logged_default(ppd, choice.keyword))
      parse_media_choice(choice.option, value, choice.field);
  if (const char* value = logged_default(ppd, "DefaultTearOffset"))
    parse_tear_offset(value, &doc->tearOffset);
}

}  // namespace

void set_pstops_with_ppd(LabelDoc* doc)
{
  const char* path = std::getenv("PPD");
  WriteLog("PPD=%s", path ? path : "(null)");

  PpdFile ppd(path ? open_ppd(path) : nullptr);
  if (!ppd) {
    WriteLog("can't param ppdfile");
    return;
  }
  WriteLog("module_number:%d", ppd->model_number);

  if (const char* size = logged_default(ppd.get(), "DefaultPageSize")) {
    if (std::strstr(size, "Custom"))
      apply_custom_size(doc, size);
    else
      lookup_page_size(doc, size);
  }
  apply_number(ppd.get(), "DefaultDarkness", &doc->darkness);
  apply_number(ppd.get(), "DefaultPrintSpeed", &doc->printSpeed, 10);
  apply_number(ppd.get(), "DefaultVertical", &doc->vertical);
  apply_number(ppd.get(), "DefaultHorizontal", &doc->horizontal);
  apply_number(ppd.get(), "DefaultDottedLine", &doc->dottedLine);
  // An unknown choice keeps the built-in one.
  if (const char* halftone = logged_default(ppd.get(), "DefaultHalftone"))
    parse_halftone(halftone, &doc->halftone);
  if (const char* query = logged_default(ppd.get(), "DefaultStatusQuery"))
    parse_status_query(query, &doc->statusQuery);
  apply_media_defaults(ppd.get(), doc);

  WriteLog("ppdfile PageSize:%dx%d", doc->pageWidth, doc->pageHeight);
  WriteLog("ppdfile Speed:%d", doc->printSpeed);
  WriteLog("ppdfile Darkness:%d", doc->darkness);
}
