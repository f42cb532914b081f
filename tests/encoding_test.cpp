// The encoders of the graphic field: base64, the CRC-16 and its hex digits.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "raster/raster.h"
#include "support.h"

namespace {

// Encodes raw into a buffer with guard bytes around the text, and checks
// that exactly base64_length(raw) characters were written.
std::string encode(const std::vector<uint8_t>& raw)
{
  const size_t len = static_cast<size_t>(base64_length(static_cast<int64_t>(raw.size())));
  std::vector<char> buffer(len + 8, '#');
  char* text = buffer.data() + 4;
  EXPECT_EQ(Base64Encode(raw.data(), static_cast<int64_t>(raw.size()), text), text);
  EXPECT_EQ(std::string(buffer.data(), 4), "####");
  EXPECT_EQ(std::string(text + len, 4), "####") << "wrote past the text";
  return std::string(text, len);
}

std::vector<uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

// RFC 4648's alphabet, written out: the filter's own table must not be
// what it is checked against.
constexpr char kRfc4648[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

TEST(Base64, LengthIsFourPerStartedGroup)
{
  EXPECT_EQ(base64_length(0), 0);
  EXPECT_EQ(base64_length(1), 4);
  EXPECT_EQ(base64_length(2), 4);
  EXPECT_EQ(base64_length(3), 4);
  EXPECT_EQ(base64_length(4), 8);
  EXPECT_EQ(base64_length(3000000001), 4000000004);
}

TEST(Base64, PaddingFollowsTheLengthOfTheLastGroup)
{
  EXPECT_EQ(encode({}), "");
  EXPECT_EQ(encode(bytes("f")), "Zg==");
  EXPECT_EQ(encode(bytes("fo")), "Zm8=");
  EXPECT_EQ(encode(bytes("foo")), "Zm9v");
  EXPECT_EQ(encode(bytes("foob")), "Zm9vYg==");
  EXPECT_EQ(encode(bytes("fooba")), "Zm9vYmE=");
  EXPECT_EQ(encode(bytes("foobar")), "Zm9vYmFy");
}

TEST(Base64, HighBytesAreUnsigned)
{
  EXPECT_EQ(encode({0xFF, 0xFF, 0xFF}), "////");
  EXPECT_EQ(encode({0x80}), "gA==");
  EXPECT_EQ(encode({0xFB, 0xFF}), "+/8=");
  EXPECT_EQ(encode({0x00, 0x10, 0x83, 0x10, 0x51, 0x87, 0x20, 0x92, 0x8B, 0x30, 0xD3, 0x8F,
                    0x41, 0x14, 0x93, 0x51, 0x55, 0x97, 0x61, 0x96, 0x9B, 0x71, 0xD7, 0x9F,
                    0x82, 0x18, 0xA3, 0x92, 0x59, 0xA7, 0xA2, 0x9A, 0xAB, 0xB2, 0xDB, 0xAF,
                    0xC3, 0x1C, 0xB3, 0xD3, 0x5D, 0xB7, 0xE3, 0x9E, 0xBB, 0xF3, 0xDF, 0xBF}),
            kRfc4648);
}

TEST(Crc16, CheckValueAndEmptyText)
{
  EXPECT_EQ(GetCRC16("123456789", 9), 0x31C3);
  EXPECT_EQ(GetCRC16("", 0), 0x0000);
  EXPECT_EQ(GetCRC16("\xFF\x80", 2), crc16_reference("\xFF\x80"));
}

TEST(Crc16, TableIsTheMsbFirstTableOf0x1021)
{
  EXPECT_EQ(crc_table[0], 0x0000);
  EXPECT_EQ(crc_table[1], 0x1021);
  EXPECT_EQ(crc_table[2], 0x2042);
  EXPECT_EQ(crc_table[128], 0x9188);
  EXPECT_EQ(crc_table[255], 0x1EF0);
  for (int k = 0; k < 256; ++k)
    EXPECT_EQ(crc_table[k], crc16_reference(std::string(1, static_cast<char>(k)))) << k;
}

TEST(Crc16, AgreesWithABitwiseCrcAndSeesEveryCharacter)
{
  std::string text;
  for (int i = 0; i < 1000; ++i)
    text += kRfc4648[(i * 37 + i / 7) % 64];
  const uint16_t crc = GetCRC16(text.data(), static_cast<int32_t>(text.size()));
  EXPECT_EQ(crc, crc16_reference(text));
  for (size_t at : {size_t{0}, size_t{499}, text.size() - 1}) {
    std::string changed = text;
    changed[at] = changed[at] == 'A' ? 'B' : 'A';
    EXPECT_NE(GetCRC16(changed.data(), static_cast<int32_t>(changed.size())), crc) << at;
  }
}

TEST(CharToHex, DigitsThenUpperCaseLettersThenZero)
{
  const std::string digits = "0123456789ABCDEF";
  for (unsigned v = 0; v < 16; ++v)
    EXPECT_EQ(CharToHex(static_cast<uint8_t>(v)), digits[v]) << v;
  for (unsigned v : {16u, 17u, 0x5Fu, 0xA0u, 255u})
    EXPECT_EQ(CharToHex(static_cast<uint8_t>(v)), '0') << v;
}

}  // namespace
