#include "settings/settings.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

int16_t low16(int32_t value)
{
  return static_cast<int16_t>(static_cast<uint16_t>(value));
}

int32_t parse_decimal(const char* text)
{
  if (!text)
    return 0;
  // strtol reads what atoi reads, but saturates instead of overflowing.
  long value = std::strtol(text, nullptr, 10);
  if (value > std::numeric_limits<int32_t>::max())
    return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min())
    return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

int32_t truncate_to_int32(double value)
{
  if (std::isnan(value))
    return 0;
  if (value >= 2147483648.0)
    return std::numeric_limits<int32_t>::max();
  if (value <= -2147483649.0)
    return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

namespace {

// A choice of a setting that is a word: its name and its value.
template <typename T>
struct NamedChoice {
  const char* name;
  T value;
};

// Stores the value of the choice named text; false for any other text,
// which leaves *value as it was.
template <typename T, size_t N>
bool parse_named(const NamedChoice<T> (&choices)[N], const char* text, T* value)
{
  for (const NamedChoice<T>& choice : choices) {
    if (text && std::strcmp(text, choice.name) == 0) {
      *value = choice.value;
      return true;
    }
  }
  return false;
}

constexpr NamedChoice<Halftone> kHalftoneChoices[] = {
    {"Threshold", Halftone::kThreshold}, {"Auto", Halftone::kAuto}, {"Photo", Halftone::kPhoto}};
constexpr NamedChoice<StatusQuery> kStatusQueryChoices[] = {{"Auto", StatusQuery::kAuto}, {"Off", StatusQuery::kOff}};

}  // namespace

bool parse_halftone(const char* text, Halftone* mode) { return parse_named(kHalftoneChoices, text, mode); }

bool parse_status_query(const char* text, StatusQuery* query) { return parse_named(kStatusQueryChoices, text, query); }

void lookup_page_size(LabelDoc* doc, const char* sizeName)
{
  for (const PageEntry& entry : g_page_list) {
    if (std::strcmp(entry.name, sizeName) == 0) {
      doc->pageWidth = low16(entry.width);
      doc->pageHeight = low16(entry.height);
      return;
    }
  }
}
