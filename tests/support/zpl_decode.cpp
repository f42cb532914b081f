// An independent reading of the filter's output, done the way a printer
// takes a label apart: nothing here shares code with the filter.
#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support.h"

namespace {

int base64_value(char c)
{
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict padded base64 as RFC 4648 has it.
bool base64_decode(std::string_view text, std::vector<uint8_t>& out)
{
  if (text.size() % 4)
    return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
    if (pad == 1 && text[i + 3] != '=')
      return false;
    uint32_t group = 0;
    for (int k = 0; k < 4; ++k) {
      const int v = k >= 4 - pad ? 0 : base64_value(text[i + k]);
      if (v < 0)
        return false;
      group = group << 6 | static_cast<uint32_t>(v);
    }
    out.push_back(static_cast<uint8_t>(group >> 16));
    if (pad < 2) out.push_back(static_cast<uint8_t>(group >> 8));
    if (pad < 1) out.push_back(static_cast<uint8_t>(group));
  }
  return true;
}

// The number after a command such as "^PW" in the set-up text, or -1.
int command_number(const std::string& setup, const char* command)
{
  const size_t at = setup.find(command);
  return at == std::string::npos ? -1 : std::atoi(setup.c_str() + at + std::strlen(command));
}

bool fail(std::string& error, size_t label, const std::string& why)
{
  error = "label " + std::to_string(label + 1) + ": " + why;
  return false;
}

// Decodes the label at the start of rest and advances rest past it.
bool decode_one(std::string_view& rest, size_t index, DecodedLabel& label, std::string& error)
{
  if (rest.substr(0, kDottedLineSwitch.size()) == kDottedLineSwitch) {
    if (rest.size() < 7 || static_cast<uint8_t>(rest[6]) > 1)
      return fail(error, index, "bad dotted-line header");
    label.hasHeader = true;
    label.dottedLine = static_cast<uint8_t>(rest[6]);
    rest.remove_prefix(7);
  }
  const size_t gfa = rest.find("^GFA,");
  if (gfa == std::string_view::npos)
    return fail(error, index, "no ^GFA graphic field");
  label.setup = std::string(rest.substr(0, gfa));
  label.width = command_number(label.setup, "^PW");
  label.length = command_number(label.setup, "^LL");
  label.speed = command_number(label.setup, "^PR");
  label.darkness = command_number(label.setup, "~SD");
  rest.remove_prefix(gfa);

  const size_t z64 = rest.find(":Z64:");
  if (z64 == std::string_view::npos)
    return fail(error, index, "no :Z64: data");
  const std::string counts(rest.substr(0, z64));
  uint32_t fieldBytes = 0;
  char tail = 0;
  if (std::sscanf(counts.c_str(), "^GFA,%u,%u,%u%c", &label.totalBytes, &fieldBytes, &label.rowBytes, &tail) != 4 ||
      tail != ',')
    return fail(error, index, "bad ^GFA counts: " + counts);
  rest.remove_prefix(z64 + 5);

  const size_t colon = rest.find(':');
  if (colon == std::string_view::npos || rest.size() < colon + 7 || rest.substr(colon + 5, 2) != "\r\n")
    return fail(error, index, "no CRC trailer");
  const std::string base64(rest.substr(0, colon));
  const std::string digits(rest.substr(colon + 1, 4));
  for (char c : digits)
    if (!(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F')))
      return fail(error, index, "CRC digits not upper-case hexadecimal");
  const auto crcSent = static_cast<uint16_t>(std::strtoul(digits.c_str(), nullptr, 16));
  rest.remove_prefix(colon + 7);
  if (crcSent != crc16_reference(base64))
    return fail(error, index, "CRC does not match the base64 text");

  std::vector<uint8_t> stream;
  if (!base64_decode(base64, stream))
    return fail(error, index, "base64 does not decode");
  if (label.totalBytes != fieldBytes)
    return fail(error, index, "^GFA counts disagree");
  if (label.rowBytes == 0 || label.totalBytes % label.rowBytes)
    return fail(error, index, "row length does not divide the graphic");
  label.packed.assign(label.totalBytes + 1, 0);
  uLongf inflated = label.packed.size();
  if (uncompress(label.packed.data(), &inflated, stream.data(), stream.size()) != Z_OK)
    return fail(error, index, "zlib stream does not inflate");
  if (inflated != label.totalBytes)
    return fail(error, index, "inflated size differs from the ^GFA count");
  label.packed.resize(inflated);

  unsigned copies = 0;
  int used = 0;
  const std::string end(rest.substr(0, 32));
  if (std::sscanf(end.c_str(), "^PQ%u^XZ\r\n%n", &copies, &used) != 1 || used == 0)
    return fail(error, index, "label does not end with ^PQ..^XZ");
  label.copies = static_cast<int>(copies);
  rest.remove_prefix(static_cast<size_t>(used));
  return true;
}

}  // namespace

::testing::AssertionResult decode_labels(std::string_view stream, std::vector<DecodedLabel>& labels)
{
  labels.clear();
  std::string error;
  while (!stream.empty()) {
    DecodedLabel label;
    if (!decode_one(stream, labels.size(), label, error))
      return ::testing::AssertionFailure() << error;
    labels.push_back(std::move(label));
  }
  return ::testing::AssertionSuccess();
}

std::vector<size_t> label_ends(std::string_view stream)
{
  std::vector<size_t> ends;
  for (size_t at = 0; (at = stream.find("^XZ\r\n", at)) != std::string_view::npos;)
    ends.push_back(at += 5);
  return ends;
}

std::vector<uint8_t> pack_reference(const GreyPage& page, int threshold)
{
  const size_t rowBytes = (size_t{page.width} + 7) / 8;
  const uint32_t rows = page.claimedHeight ? page.claimedHeight : page.height;
  std::vector<uint8_t> packed(rowBytes * rows, 0);
  for (uint32_t y = 0; y < page.height && y < rows; ++y)
    for (uint32_t x = 0; x < page.width; ++x)
      if (page.pixels[size_t{y} * page.width + x] < threshold)
        packed[y * rowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  return packed;
}

uint16_t crc16_reference(std::string_view text)
{
  uint16_t crc = 0;
  for (char c : text) {
    crc ^= static_cast<uint16_t>(static_cast<uint8_t>(c) << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}
