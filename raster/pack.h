// The threshold packing behind Gray2Bytes, with the threshold as an argument
// so that both models' thresholds can be checked from one program.
#pragma once

#include <cstddef>
#include <cstdint>

// For each of count packed bytes, ORs in the bits of its eight grey pixels
// (grey[8 * i] to grey[8 * i + 7], leftmost in the most significant bit)
// whose value is below threshold. Sets bits only; never clears one.
void pack_grey(const uint8_t* grey, uint8_t* packed, size_t count, int threshold);
