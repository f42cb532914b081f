// What the conversion of one page owns, shared with the label writer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "raster/raster.h"

// The buffers that follow the grey page. Each is taken once per page and
// gone before the next page is converted.
struct PageBuffers {
  MallocBuffer<uint8_t> packed;      // bytesPerRow * rows, 1 bit per dot
  MallocBuffer<uint8_t> compressed;  // zlib stream of packed
  MallocBuffer<char> text;           // base64 of compressed, no terminator
};

struct PageLayout {
  uint32_t bytesPerRow;  // packed bytes of one row
  uint32_t packedSize;   // bytesPerRow * rows
  int32_t textLen;       // base64 characters
  uint16_t crc;          // CRC-16 of the base64 text
  unsigned numCopies;    // print quantity
};

// Writes the label of one page to out. Releases the compressed data and
// the text as soon as they have been sent.
void write_label(const LabelDoc* doc, const ModelProfile& model, const PageLayout& page,
                 PageBuffers& buffers, FILE* out, CommandScratch& scratch);
