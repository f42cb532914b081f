#include "zplread/text.h"

bool parse_number(std::string_view text, int64_t& value)
{
  text = trim(text);
  const bool negative = !text.empty() && text[0] == '-';
  if (negative)
    text.remove_prefix(1);
  if (text.empty() || text.size() > 10)
    return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    value = value * 10 + (c - '0');
  }
  if (negative)
    value = -value;
  return true;
}

std::string quoted(std::string_view text)
{
  std::string out = "'";
  for (char c : text.substr(0, 24))
    out += c >= 0x20 && c < 0x7F ? c : '?';
  return out + "'";
}
