// Small text helpers of the ZPL reader: parameters and message quoting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Space, tab, CR or LF: what ZPL skips between commands.
inline bool is_space(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; }

// text without spaces, tabs, CR and LF at either end.
std::string_view trim(std::string_view text);

// A whole number of up to ten digits with an optional minus sign, spaces
// around it allowed. Returns false for anything else.
bool parse_number(std::string_view text, int64_t& value);

// Up to 24 bytes of text for a message, in quotes, unprintable bytes as '?'.
std::string quoted(std::string_view text);
