// The data of one ^GF graphic field, checked and decoded the way a printer
// takes it: the three counts, the data in one of its text forms, the CRC of
// base64 data and the zlib stream of :Z64: data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The largest graphic the reader decodes, in bytes (a label of 32000 by
// 16000 dots). A field announcing more is refused before anything is
// allocated.
inline constexpr uint64_t kMaxGraphicBytes = 64u << 20;

// How the field's data is written after the counts.
enum class GraphicForm { Hex, B64, Z64 };

struct Graphic {
  int64_t x = 0, y = 0;  // label position of its top left dot (^LH plus ^FO)
  GraphicForm form = GraphicForm::Hex;
  uint64_t byteCount = 0;   // first count: bytes sent, for ASCII data the size
  uint64_t fieldCount = 0;  // second count: bytes of the whole graphic
  uint64_t rowBytes = 0;    // third count: bytes of one row, 8 dots each
  uint64_t sentBytes = 0;   // characters of its data, form and CRC included
  std::vector<uint8_t> dots;  // fieldCount bytes when sound, else empty
  std::string fault;          // what is wrong, empty when sound
};

// Rows of a graphic whose counts passed their checks.
inline uint64_t graphic_rows(const Graphic& g) { return g.rowBytes ? g.fieldCount / g.rowBytes : 0; }

// Decodes the parameters of a ^GF command ("A,b,c,d,data", CR and LF at the
// end already removed). The result has dots or a fault, never both.
Graphic decode_graphic(std::string_view params);

// Strict padded base64 with the alphabet the filters write. Returns false
// with the reason in fault, leaving raw partly filled.
bool base64_decode(std::string_view text, std::vector<uint8_t>& raw, std::string& fault);

// Inflates a zlib stream that must give exactly size bytes into dots.
// Returns false with the reason in fault: not a zlib stream, damaged,
// truncated, more or fewer bytes than size, or bytes after its end.
bool inflate_exact(const uint8_t* stream, uint64_t streamLen, uint64_t size, std::vector<uint8_t>& dots,
                   std::string& fault);
