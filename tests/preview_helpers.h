// Helpers of the zplpreview tests: filter output to check, labels damaged
// on purpose, and pictures read back and drawn by hand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support.h"

// The label (one of a filter's, or several) with the counts and data of
// its first ^GF command replaced: "^GFA," + counts + "," + data.
std::string with_graphic(const std::string& labels, const std::string& counts, const std::string& data);

// label with the first occurrence of from replaced by to; fails the test
// when from is not there.
std::string replaced(const std::string& labels, const std::string& from, const std::string& to);

// A PNG read back as 8-bit grey, row after row; empty when it can't be read.
std::vector<uint8_t> read_png(const std::string& path, uint32_t& width, uint32_t& height);

// The picture of a label drawn by hand: width x height grey values, white
// 255 and the packed graphic's dots 0 at (x, y), clipped, turned by 180
// degrees when inverted.
std::vector<uint8_t> expected_picture(const std::vector<uint8_t>& packed, size_t rowBytes, uint32_t width,
                                      uint32_t height, int x, int y, bool inverted);
