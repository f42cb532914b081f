// Labels and graphic fields built by hand, from the printer's side: the
// encodings are written out here and share no code with the filter.
#include <zlib.h>

#include <cstdio>

#include "support.h"

std::string base64_reference(const std::vector<uint8_t>& raw)
{
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < raw.size(); i += 3) {
    const uint32_t group = uint32_t{raw[i]} << 16 | (i + 1 < raw.size() ? uint32_t{raw[i + 1]} << 8 : 0) |
                           (i + 2 < raw.size() ? raw[i + 2] : 0);
    for (size_t k = 0; k < 4; ++k)
      text += k <= raw.size() - i ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
  }
  return text;
}

std::vector<uint8_t> zlib_stream(const std::vector<uint8_t>& bytes)
{
  uLongf length = compressBound(bytes.size());
  std::vector<uint8_t> stream(length);
  EXPECT_EQ(compress(stream.data(), &length, bytes.data(), bytes.size()), Z_OK);
  stream.resize(length);
  return stream;
}

std::string graphic_field_text(std::string_view form, const std::string& text)
{
  char crc[8];
  std::snprintf(crc, sizeof crc, "%04X", crc16_reference(text));
  return std::string(form) + text + ":" + crc;
}

std::string graphic_field(std::string_view form, const std::vector<uint8_t>& bytes)
{
  return graphic_field_text(form, base64_reference(bytes));
}

std::string hex_field(const std::vector<uint8_t>& bytes, size_t rowBytes)
{
  std::string text;
  char digits[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
    text += digits;
    if ((i + 1) % rowBytes == 0)
      text += "\r\n";
  }
  return text;
}

std::string reference_label(const TestModel& model, const GreyPage& page, const LabelSettings& s)
{
  std::string label;
  if (model.header && (s.dottedLine == 0 || s.dottedLine == 1))
    label += kDottedLineSwitch + static_cast<char>(s.dottedLine);
  const std::vector<uint8_t> packed = pack_reference(page, model.threshold);
  const std::string size = std::to_string(packed.size());
  // A chosen tracking is a format command after ^XA; none keeps the bare
  // ^MN ahead of it that labels have always had.
  label += s.tearLine;
  label += s.tracking ? std::string("^XA^MN") + s.tracking : "^MN^XA";
  label += "^LH0,0" + (s.mode ? std::string("^MM") + s.mode : "") + (s.type ? std::string("^MT") + s.type : "");
  label += "^PW" + std::to_string(dots(model, s.widthMm)) + "^LS0^POI^LL" + std::to_string(dots(model, s.lengthMm)) +
           "\r\n";
  label += "^PR" + std::to_string(s.speed) + "\r\n~SD" + std::to_string(s.darkness) + "\r\n^FO0,0,0\r\n";
  label += "^GFA," + size + "," + size + "," + std::to_string((page.width + 7) / 8) + ",";
  label += graphic_field(":Z64:", zlib_stream(packed)) + "\r\n";
  return label + "^PQ" + std::to_string(page.copies) + "^XZ\r\n";
}
