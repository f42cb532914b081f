// The printer model a program is built for. Each program links exactly one
// profile; nothing at run time selects or changes it.
#pragma once

#include <cstdint>

struct ModelProfile {
  double dotsPerMm;       // printer dots per millimetre
  int monoThreshold;      // grey values strictly below it print as dots
  bool dottedLineHeader;  // labels start with the 7-byte dotted-line header
};

// 300 dpi. The stored 11.8 lies a hair above 11.8, so whole products
// truncate to themselves.
inline constexpr ModelProfile kProfile300{11.8, 155, true};
// 203 dpi. Products with 8.0 are exact, as in integer arithmetic.
inline constexpr ModelProfile kProfile203{8.0, 156, false};

// Defined by the program's own build (model.cpp).
extern const ModelProfile g_model;
extern const char kLogPath[];

// Label width or length in printer dots, truncated toward zero.
inline int mm_to_dots(const ModelProfile& model, int16_t mm)
{
  return static_cast<int>(static_cast<double>(mm) * model.dotsPerMm);
}
