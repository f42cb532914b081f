// Fuzz target: the whole page loop, with arbitrary bytes as the raster input
// (headers of any size, truncated rows, broken compressed rows).
#include <cstddef>
#include <cstdint>

#include <cups/file.h>

#include "fuzz/fuzz_io.h"
#include "raster/raster.h"
#include "settings/settings.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  quiet_filter_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const int fd = memory_file(data, size);
  if (fd < 0)
    return 0;
  cups_file_t* input = cupsFileOpenFd(fd, "r");
  if (!input)
    return 0;

  // The built-in defaults, with the dotted-line header on.
  LabelDoc doc{};
  doc.pageWidth = 60;
  doc.pageHeight = 40;
  doc.printSpeed = 4;
  doc.darkness = 7;
  doc.dottedLine = 1;
  // Every halftone mode reads the page its own way; the input's length
  // picks one, so that each input always takes the same path.
  constexpr Halftone kModes[] = {Halftone::kThreshold, Halftone::kAuto, Halftone::kPhoto};
  doc.halftone = kModes[size % 3];
  // Negative offsets crop every page before it is packed; the length picks
  // how much, up to beyond the page, so that pages of any shape are cropped.
  constexpr int16_t kCrops[] = {0, -1, -7, -9, -32768};
  doc.horizontal = kCrops[size % 5];
  doc.vertical = kCrops[size / 5 % 5];
  print_bitmap(&doc, kProfile300, input);
  cupsFileClose(input);  // closes fd as well
  return 0;
}
