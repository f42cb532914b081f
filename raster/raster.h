// Raster conversion: grey pages in, one ZPL label per page out. The CUPS
// filter feeds it from a raster stream; any other front end fills a
// RasterPage itself and hands it to write_page_label.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <cups/file.h>

#include "common/cancel.h"
#include "common/profile.h"
#include "settings/settings.h"

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using MallocBuffer = std::unique_ptr<T[], FreeDeleter>;

// One page of 8-bit grey, 255 = white. Rows are stride bytes apart, and
// stride is the width rounded up to whole packed bytes; the pixels right of
// the width, and rows never filled, stay white.
struct RasterPage {
  MallocBuffer<uint8_t> grey;
  uint32_t width = 0;   // pixels of a row
  uint32_t height = 0;  // rows
  uint32_t stride = 0;  // 8 * packed bytes per row
  unsigned copies = 1;  // print quantity of the label
};

// Takes a white page of width x height. False when its grey does not fit in
// 32 bits or the memory can't be had.
bool new_raster_page(RasterPage& page, uint32_t width, uint32_t height, unsigned copies);

using CommandScratch = char[256];

// Packs, compresses and encodes the page and writes its label to out, which
// is flushed after the label's last byte. The page is first cropped for the
// job's negative offsets (raster/offsets.h); the grey page is released as
// soon as it is packed. False when a buffer can't be allocated, or when the
// job was cancelled before the label started: nothing of it has been written
// then.
bool write_page_label(const LabelDoc* doc, const ModelProfile& model, RasterPage& page, FILE* out,
                      CommandScratch& scratch, CancelFlag cancelled = nullptr);

// What a front end does between labels: called after each label has been
// sent whole, before the next page is read.
struct LabelHook {
  void (*call)(void* context) = nullptr;
  void* context = nullptr;
};

// Reads every page of the raster stream on input and writes its label to
// standard output, with a "PAGE:" line for CUPS on standard error. Once
// cancelled, the label being written is finished and nothing more is read.
// Returns 0, or 1 when standard output can't take a label (an "ERROR:" line
// says why).
int print_bitmap(const LabelDoc* doc, const ModelProfile& model, cups_file_t* input,
                 CancelFlag cancelled = nullptr, LabelHook afterLabel = {});

// Packs rows of 8 * bytesPerRow grey pixels into 1-bit rows of bytesPerRow
// bytes, leftmost pixel in the most significant bit. Pixels darker than
// threshold set their bit; packed must be zeroed by the caller.
void Gray2Bytes(const uint8_t* grey, uint8_t* packed, int32_t bytesPerRow, int32_t rows, int threshold);

// Working memory, in 16-bit entries, that halftone_pack needs for a page of
// bytesPerRow packed bytes per row: two rows of error for Photo, none else.
size_t halftone_scratch(Halftone mode, uint32_t bytesPerRow);

// Packs like Gray2Bytes in the given mode. Threshold packs by the threshold
// alone; Auto and Photo keep it for pixels near black or white and for
// pixels on an edge between ink and paper (both within two pixels), and
// halftone the rest, grey art up to its soft edges, with an ordered 8 x 8
// matrix (Auto) or serpentine error diffusion (Photo). The same page always
// gives the same dots. scratch holds halftone_scratch(mode, bytesPerRow)
// entries; packed must be zeroed by the caller.
void halftone_pack(const uint8_t* grey, uint8_t* packed, uint32_t bytesPerRow, uint32_t rows, int threshold,
                   Halftone mode, int16_t* scratch);

// --- Z64 graphic data ---

inline constexpr char ALPHA_BASE[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// CRC-16/XMODEM lookup table, most significant bit first (polynomial 0x1021).
inline constexpr std::array<uint16_t, 256> crc_table = [] {
  std::array<uint16_t, 256> table{};
  for (unsigned k = 0; k < 256; ++k) {
    unsigned crc = k << 8;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
    table[k] = static_cast<uint16_t>(crc);
  }
  return table;
}();

// Length of the padded base64 text of rawLen bytes: 4 * ceil(rawLen / 3).
inline int64_t base64_length(int64_t rawLen) { return (rawLen + 2) / 3 * 4; }

// Writes exactly base64_length(rawLen) characters of padded base64 (no line
// breaks, no terminator) into text, and returns text.
char* Base64Encode(const uint8_t* raw, int64_t rawLen, char* text);

// CRC-16/XMODEM of textLen bytes.
uint16_t GetCRC16(const char* text, int32_t textLen);

// One upper-case hexadecimal digit for 0..15; "0" for anything larger.
char CharToHex(uint8_t nibble);
