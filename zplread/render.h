// The picture of a label as ZPL viewers draw it: white paper of ^PW by ^LL
// dots, the dots of every sound graphic field in black at its ^FO, and the
// whole label turned by 180 degrees when ^PO is I.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "zplread/zpl_parse.h"

struct PictureSize {
  uint32_t width = 1;
  uint32_t height = 1;
};

// ^PW by ^LL; a side the label does not give reaches as far as its graphics.
PictureSize picture_size(const Label& label);

// Draws row y (0 at the top of the picture) into row: (size.width + 7) / 8
// bytes, leftmost dot in the most significant bit, a set bit black.
void draw_row(const Label& label, PictureSize size, uint32_t y, uint8_t* row);

// Row y of a picture, as PNG wants it.
using PngRowSource = std::function<const uint8_t*(uint32_t y)>;

// Writes a grey PNG of width by height pixels, depth 1 or 8 bits, row by
// row from rowOf. At depth 1 a set bit is black, as in a label's dots.
// Returns false with the reason in error when the file can't be written.
bool write_grey_png(const std::string& path, uint32_t width, uint32_t height, int depth, const PngRowSource& rowOf,
                    std::string& error);

// Writes the picture as a 1-bit grey PNG. Returns false with the reason in
// error when the file can't be written.
bool write_png(const std::string& path, const Label& label, std::string& error);
