// The threshold packing behind Gray2Bytes, with the threshold as an argument
// so that both models' thresholds can be checked from one program.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// For each of count packed bytes, ORs in the bits of its eight grey pixels
// (grey[8 * i] to grey[8 * i + 7], leftmost in the most significant bit)
// whose value is below threshold. Sets bits only; never clears one.
void pack_grey(const uint8_t* grey, uint8_t* packed, size_t count, int threshold);

// movemask puts the leftmost pixel of a byte's eight in bit 0, while the
// packed byte wants it in bit 7: this table turns one order into the other.
inline constexpr std::array<uint8_t, 256> kReversedBits = [] {
  std::array<uint8_t, 256> table{};
  for (unsigned v = 0; v < 256; ++v) {
    unsigned r = 0;
    for (int bit = 0; bit < 8; ++bit)
      r |= ((v >> bit) & 1u) << (7 - bit);
    table[v] = static_cast<uint8_t>(r);
  }
  return table;
}();
