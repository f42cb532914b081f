#include "raster/raster.h"

char* Base64Encode(const uint8_t* raw, int64_t rawLen, char* text)
{
  char* out = text;
  int64_t i = 0;
  for (; i + 3 <= rawLen; i += 3) {
    const unsigned b0 = raw[i], b1 = raw[i + 1], b2 = raw[i + 2];
    out[0] = ALPHA_BASE[b0 >> 2];
    out[1] = ALPHA_BASE[((b0 & 0x03) << 4) | (b1 >> 4)];
    out[2] = ALPHA_BASE[((b1 & 0x0F) << 2) | (b2 >> 6)];
    out[3] = ALPHA_BASE[b2 & 0x3F];
    out += 4;
  }
  const int64_t rest = rawLen - i;
  if (rest > 0) {
    const unsigned b0 = raw[i], b1 = rest > 1 ? raw[i + 1] : 0;
    out[0] = ALPHA_BASE[b0 >> 2];
    out[1] = ALPHA_BASE[((b0 & 0x03) << 4) | (b1 >> 4)];
    out[2] = rest > 1 ? ALPHA_BASE[(b1 & 0x0F) << 2] : '=';
    out[3] = '=';
  }
  return text;
}

uint16_t GetCRC16(const char* text, int32_t textLen)
{
  uint16_t crc = 0;
  for (int32_t i = 0; i < textLen; ++i)
    crc = static_cast<uint16_t>((crc << 8) ^ crc_table[(crc >> 8) ^ static_cast<uint8_t>(text[i])]);
  return crc;
}

char CharToHex(uint8_t nibble)
{
  if (nibble < 10)
    return static_cast<char>(nibble + 0x30);
  if (nibble < 16)
    return static_cast<char>(nibble + 0x37);
  return '0';
}
