// The printer models. A profile is a plain value: the filters pick theirs
// when they are built, other front ends pass the one the user chose.
#pragma once

#include <cstdint>

struct ModelProfile {
  int dpi;                // nominal resolution, as models are named
  double dotsPerMm;       // printer dots per millimetre
  int monoThreshold;      // grey values strictly below it print as dots
  bool dottedLineHeader;  // labels start with the 7-byte dotted-line header
};

// 300 dpi. The stored 11.8 lies a hair above 11.8, so whole products
// truncate to themselves.
inline constexpr ModelProfile kProfile300{300, 11.8, 155, true};
// 203 dpi. Products with 8.0 are exact, as in integer arithmetic.
inline constexpr ModelProfile kProfile203{203, 8.0, 156, false};
// 600 dpi. Like 11.8, the stored 23.6 lies a hair above 23.6.
inline constexpr ModelProfile kProfile600{600, 23.6, 155, false};

inline constexpr const ModelProfile* kModels[] = {&kProfile300, &kProfile203, &kProfile600};

// The profile of a model by its resolution, or null for none.
constexpr const ModelProfile* find_model(int dpi)
{
  for (const ModelProfile* model : kModels)
    if (model->dpi == dpi)
      return model;
  return nullptr;
}

// Label width or length in printer dots, truncated toward zero.
inline int mm_to_dots(const ModelProfile& model, int16_t mm)
{
  return static_cast<int>(static_cast<double>(mm) * model.dotsPerMm);
}
