// What one page of the page loop owns, shared with the label writer.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "settings/settings.h"

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using MallocBuffer = std::unique_ptr<T[], FreeDeleter>;

// The four buffers of a page. Each is taken once per page and gone before
// the next page header is read.
struct PageBuffers {
  MallocBuffer<uint8_t> grey;        // 8 * bytesPerRow * rows, white = 255
  MallocBuffer<uint8_t> packed;      // bytesPerRow * rows, 1 bit per dot
  MallocBuffer<uint8_t> compressed;  // zlib stream of packed
  MallocBuffer<char> text;           // base64 of compressed, no terminator
};

struct PageLayout {
  uint32_t bytesPerRow;  // packed bytes of one row
  uint32_t packedSize;   // bytesPerRow * rows
  int32_t textLen;       // base64 characters
  uint16_t crc;          // CRC-16 of the base64 text
  unsigned numCopies;    // print quantity from the page header
};

using CommandScratch = char[256];

// Writes the label of one page to standard output. Releases the compressed
// data and the text as soon as they have been sent.
void write_label(const LabelDoc* doc, const PageLayout& page, PageBuffers& buffers,
                 CommandScratch& scratch);
