#include "zplread/graphic.h"

#include <array>
#include <cstdio>

#include <zlib.h>

#include "zplread/text.h"
#include "raster/raster.h"

namespace {

// The value of every byte as a base64 digit, -1 for bytes outside the
// alphabet; built from the filters' own alphabet.
constexpr std::array<int8_t, 256> kBase64Value = [] {
  std::array<int8_t, 256> table{};
  for (int8_t& v : table)
    v = -1;
  for (int i = 0; i < 64; ++i)
    table[static_cast<uint8_t>(ALPHA_BASE[i])] = static_cast<int8_t>(i);
  return table;
}();

// The longest base64 text accepted: that of the largest zlib stream a
// graphic of kMaxGraphicBytes can have.
const uint64_t kMaxTextLen = static_cast<uint64_t>(base64_length(static_cast<int64_t>(compressBound(kMaxGraphicBytes))));

std::string number(uint64_t n) { return std::to_string(n); }

// A byte as a message shows it: 'c' when printable, else its hex value.
std::string show_byte(uint8_t c)
{
  char text[16];
  if (c >= 0x20 && c < 0x7F)
    std::snprintf(text, sizeof text, "'%c'", c);
  else
    std::snprintf(text, sizeof text, "byte 0x%02X", c);
  return text;
}

int hex_value(uint8_t c)
{
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Splits "A,b,c,d,data" and checks the counts against one another and the
// size limit. Returns false with g.fault set.
bool check_counts(std::string_view params, Graphic& g, std::string_view& data)
{
  std::string_view fields[4];
  for (std::string_view& field : fields) {
    const size_t comma = params.find(',');
    if (comma == std::string_view::npos) {
      g.fault = "^GF needs a format, three counts and data";
      return false;
    }
    field = params.substr(0, comma);
    params.remove_prefix(comma + 1);
  }
  data = params;
  g.sentBytes = data.size();

  if (!fields[0].empty() && fields[0] != "A") {
    g.fault = "^GF format " + quoted(fields[0]) + " is not checked: only A (ASCII) is";
    return false;
  }
  uint64_t* const counts[3] = {&g.byteCount, &g.fieldCount, &g.rowBytes};
  static constexpr const char* kNames[3] = {"byte count", "field count", "row length"};
  for (int i = 0; i < 3; ++i) {
    int64_t value = 0;
    if (!parse_number(fields[i + 1], value) || value < 0) {
      g.fault = std::string("^GFA ") + kNames[i] + " " + quoted(fields[i + 1]) + " is not a number";
      return false;
    }
    *counts[i] = static_cast<uint64_t>(value);
  }
  if (g.byteCount != g.fieldCount) {
    g.fault = "^GFA counts disagree: byte count " + number(g.byteCount) + ", field count " + number(g.fieldCount);
    return false;
  }
  if (g.fieldCount > kMaxGraphicBytes) {
    g.fault = "^GFA announces " + number(g.fieldCount) + " bytes, more than the " + number(kMaxGraphicBytes) +
              " zplpreview accepts";
    return false;
  }
  if (g.fieldCount == 0) {
    g.fault = "^GFA announces an empty graphic";
    return false;
  }
  if (g.rowBytes == 0 || g.fieldCount % g.rowBytes != 0) {
    g.fault = "row length " + number(g.rowBytes) + " does not divide the size " + number(g.fieldCount);
    return false;
  }
  return true;
}

// Plain hexadecimal, two digits a byte; line breaks and spaces are skipped.
bool decode_hex(std::string_view data, Graphic& g)
{
  std::vector<uint8_t> dots(g.fieldCount, 0);
  uint64_t digits = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(data[i]);
    if (is_space(static_cast<char>(c)))
      continue;
    const int v = hex_value(c);
    if (v < 0) {
      const bool compressed = (c >= 'G' && c <= 'Z') || (c >= 'g' && c <= 'z') || c == ',' || c == '!' || c == ':';
      g.fault = "hex data has " + show_byte(c) + " at character " + number(i + 1) +
                (compressed ? " (compressed hexadecimal is not checked)" : "");
      return false;
    }
    if (digits / 2 < g.fieldCount)
      dots[digits / 2] |= static_cast<uint8_t>(digits % 2 ? v : v << 4);
    ++digits;
  }
  if (digits != 2 * g.fieldCount) {
    g.fault = "hex data has " + number(digits) + " digits, the ^GFA counts say " + number(g.fieldCount) +
              " bytes (" + number(2 * g.fieldCount) + " digits)";
    return false;
  }
  g.dots = std::move(dots);
  return true;
}

// ":B64:" or ":Z64:", base64 text, ":" and the four hex digits of its CRC.
bool decode_base64_form(std::string_view data, Graphic& g)
{
  data.remove_prefix(5);
  const size_t colon = data.find(':');
  if (colon == std::string_view::npos) {
    g.fault = "no CRC after the base64 text";
    return false;
  }
  const std::string_view text = data.substr(0, colon), digits = data.substr(colon + 1);
  uint16_t sent = 0;
  bool hex = digits.size() == 4;
  for (size_t i = 0; hex && i < 4; ++i) {
    const int v = hex_value(static_cast<uint8_t>(digits[i]));
    hex = v >= 0;
    sent = static_cast<uint16_t>(sent << 4 | (v & 0xF));
  }
  if (!hex) {
    g.fault = "CRC " + quoted(digits) + " is not four hexadecimal digits";
    return false;
  }
  if (text.size() > kMaxTextLen) {
    g.fault = "base64 text of " + number(text.size()) + " characters is longer than zplpreview accepts";
    return false;
  }
  const uint16_t crc = GetCRC16(text.data(), static_cast<int32_t>(text.size()));
  if (crc != sent) {
    char message[64];
    std::snprintf(message, sizeof message, "wrong CRC: %04X sent, the base64 text gives %04X", sent, crc);
    g.fault = message;
    return false;
  }
  std::vector<uint8_t> raw;
  if (!base64_decode(text, raw, g.fault))
    return false;
  if (g.form == GraphicForm::Z64)
    return inflate_exact(raw.data(), raw.size(), g.fieldCount, g.dots, g.fault);
  if (raw.size() != g.fieldCount) {
    g.fault = "base64 data gives " + number(raw.size()) + " bytes, the ^GFA counts say " + number(g.fieldCount);
    return false;
  }
  g.dots = std::move(raw);
  return true;
}

}  // namespace

bool base64_decode(std::string_view text, std::vector<uint8_t>& raw, std::string& fault)
{
  raw.clear();
  if (text.size() % 4 != 0) {
    fault = "base64 does not decode: " + number(text.size()) + " characters are not whole groups of 4";
    return false;
  }
  raw.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pad = last ? (text[i + 3] == '=') + (text[i + 3] == '=' && text[i + 2] == '=') : 0;
    uint32_t group = 0;
    for (int k = 0; k < 4; ++k) {
      const int v = k < 4 - pad ? kBase64Value[static_cast<uint8_t>(text[i + k])] : 0;
      if (v < 0) {
        fault = "base64 does not decode: " + show_byte(static_cast<uint8_t>(text[i + k])) + " at character " +
                number(i + k + 1);
        return false;
      }
      group = group << 6 | static_cast<uint32_t>(v);
    }
    raw.push_back(static_cast<uint8_t>(group >> 16));
    if (pad < 2)
      raw.push_back(static_cast<uint8_t>(group >> 8));
    if (pad < 1)
      raw.push_back(static_cast<uint8_t>(group));
  }
  return true;
}

bool inflate_exact(const uint8_t* stream, uint64_t streamLen, uint64_t size, std::vector<uint8_t>& dots,
                   std::string& fault)
{
  if (size > kMaxGraphicBytes || streamLen > UINT32_MAX) {
    fault = "zlib stream or graphic larger than zplpreview accepts";
    return false;
  }
  std::vector<uint8_t> out(size);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) {
    fault = "zlib could not start inflating";
    return false;
  }
  z.next_in = const_cast<Bytef*>(stream);
  z.avail_in = static_cast<uInt>(streamLen);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(size);
  int ret = Z_OK;
  while (ret == Z_OK)
    ret = inflate(&z, Z_FINISH);
  // Output full but no end yet: one more byte tells a longer stream from one
  // cut just before its check value.
  uint8_t extra = 0;
  if (ret == Z_BUF_ERROR && z.avail_out == 0) {
    z.next_out = &extra;
    z.avail_out = 1;
    ret = inflate(&z, Z_FINISH);
  }
  const uint64_t produced = z.total_out;
  const uint64_t left = z.avail_in;
  const std::string message = z.msg ? z.msg : "";
  inflateEnd(&z);

  if (ret == Z_STREAM_END && produced == size && left == 0) {
    dots = std::move(out);
    return true;
  }
  if (produced > size)
    fault = "zlib stream inflates to more than the " + number(size) + " bytes the ^GFA counts say";
  else if (ret == Z_STREAM_END && produced != size)
    fault = "zlib stream inflates to " + number(produced) + " bytes, the ^GFA counts say " + number(size);
  else if (ret == Z_STREAM_END)
    fault = "zlib stream is followed by " + number(left) + " more bytes";
  else if (ret == Z_BUF_ERROR)
    fault = "zlib stream is truncated: it ends after " + number(produced) + " of " + number(size) + " bytes";
  else if (ret == Z_NEED_DICT)
    fault = "zlib stream does not inflate: it needs a preset dictionary";
  else if (ret == Z_MEM_ERROR)
    fault = "zlib ran out of memory";
  else
    fault = "zlib stream does not inflate: " + (message.empty() ? std::string("damaged data") : message);
  return false;
}

Graphic decode_graphic(std::string_view params)
{
  Graphic g;
  std::string_view data;
  if (!check_counts(params, g, data))
    return g;
  if (data.substr(0, 5) == ":Z64:" || data.substr(0, 5) == ":B64:") {
    g.form = data[1] == 'Z' ? GraphicForm::Z64 : GraphicForm::B64;
    decode_base64_form(data, g);
  } else if (!data.empty() && data[0] == ':') {
    g.fault = "unknown data form " + quoted(data.substr(0, 5));
  } else {
    decode_hex(data, g);
  }
  if (!g.fault.empty())
    g.dots.clear();
  return g;
}
