// Small text helpers of the ZPL reader: parameters and message quoting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/text.h"

// A whole number of up to ten digits with an optional minus sign, spaces
// around it allowed. Returns false for anything else.
bool parse_number(std::string_view text, int64_t& value);

// Up to 24 bytes of text for a message, in quotes, unprintable bytes as '?'.
std::string quoted(std::string_view text);
