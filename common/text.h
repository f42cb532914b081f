// The small text steps shared by the ZPL reader, the status parser and the
// virtual printer's settings: blanks, trimming, words, fields and counts.
#pragma once

#include <cstdint>
#include <string_view>

// Space, tab, CR or LF: what ZPL skips between commands and what printers
// pad their replies with.
constexpr bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// text without spaces, tabs, CR and LF at either end.
constexpr std::string_view trim(std::string_view text)
{
  while (!text.empty() && is_space(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && is_space(text.back()))
    text.remove_suffix(1);
  return text;
}

// Cuts the next word off text and returns it, the spaces around it skipped;
// empty when text holds no more words.
constexpr std::string_view take_word(std::string_view& text)
{
  while (!text.empty() && is_space(text.front()))
    text.remove_prefix(1);
  size_t end = 0;
  while (end < text.size() && !is_space(text[end]))
    ++end;
  const std::string_view word = text.substr(0, end);
  text.remove_prefix(end);
  return word;
}

// Cuts the text before the first separator off text and returns it; the
// separator is dropped. Without one, returns all of text.
constexpr std::string_view take_until(std::string_view& text, char separator)
{
  const size_t at = text.find(separator);
  const std::string_view head = text.substr(0, at);
  text.remove_prefix(at == std::string_view::npos ? text.size() : at + 1);
  return head;
}

// One to nine decimal digits and nothing else, so that the value cannot
// overflow. Leaves value alone when it returns false.
constexpr bool parse_digits(std::string_view text, uint32_t& value)
{
  if (text.empty() || text.size() > 9)
    return false;
  uint32_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  value = number;
  return true;
}
