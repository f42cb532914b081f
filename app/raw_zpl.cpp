// Printer-ready ZPL: recognised by content, copied through unchanged.
#include "app/raw_zpl.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace {

// The filters' dotted-line prefix, less its last byte (0 or 1).
constexpr uint8_t kDottedLinePrefix[] = {0x1F, 0x1B, 0x1A, 0x01, 0x03, 0x01};

// The line ZebraDesigner starts its files with.
constexpr char kDesignerStart[] = "CT~~CD,~CC^~CT~";

bool upper_is(uint8_t byte, char letter)
{
  return std::toupper(byte) == letter;
}

// True when data holds "^XA" in any letter case.
bool contains_label_start(const uint8_t* data, size_t size)
{
  for (size_t i = 0; i + 2 < size; ++i)
    if (data[i] == '^' && upper_is(data[i + 1], 'X') && upper_is(data[i + 2], 'A'))
      return true;
  return false;
}

}  // namespace

bool looks_like_zpl(const uint8_t* data, size_t size)
{
  size_t i = 0;
  while (i < size && std::isspace(data[i]))
    ++i;
  if (size - i > sizeof kDottedLinePrefix &&
      std::memcmp(data + i, kDottedLinePrefix, sizeof kDottedLinePrefix) == 0 &&
      data[i + sizeof kDottedLinePrefix] <= 1)
    i += sizeof kDottedLinePrefix + 1;
  else if (size - i >= sizeof kDesignerStart - 1 &&
           std::memcmp(data + i, kDesignerStart, sizeof kDesignerStart - 1) == 0)
    return contains_label_start(data + i, size - i);
  if (size - i < 2 || (data[i] != '^' && data[i] != '~') || !(std::isalpha(data[i + 1]) || data[i + 1] == '@'))
    return false;
  return contains_label_start(data + i, size - i);
}

size_t zpl_advance(ZplScan& scan, const uint8_t* data, size_t size, bool stopAtClose)
{
  if (stopAtClose && !scan.inLabel)
    return 0;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t byte = data[i];
    if (scan.matched == 1 && upper_is(byte, 'X')) {
      scan.matched = 2;
      continue;
    }
    if (scan.matched == 2 && (upper_is(byte, 'A') || upper_is(byte, 'Z'))) {
      const bool closes = upper_is(byte, 'Z') && scan.inLabel;
      scan.inLabel = upper_is(byte, 'A');
      scan.matched = 0;
      if (closes && stopAtClose)
        return i + 1;
      continue;
    }
    scan.matched = byte == '^' ? 1 : 0;
  }
  return size;
}

bool copy_zpl_stream(int fd, const RawSink& sink)
{
  ZplScan scan;
  bool cancelled = false;
  uint8_t buffer[32768];
  for (;;) {
    if (!cancelled && sink.cancelled(sink.context)) {
      cancelled = true;
      if (!scan.inLabel)
        return true;
    }
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return false;
    if (got == 0)
      return true;
    const size_t take = zpl_advance(scan, buffer, static_cast<size_t>(got), cancelled);
    if (take > 0 && !sink.write(sink.context, buffer, take))
      return false;
    if (cancelled && !scan.inLabel)
      return true;
  }
}
