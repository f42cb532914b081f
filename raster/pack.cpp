#include "filter/log.h"
#include "filter/profile.h"
#include "raster/raster.h"

namespace {
constexpr uint8_t BIT_MASK[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
}

void Gray2Bytes(const uint8_t* grey, uint8_t* packed, int32_t bytesPerRow, int32_t rows)
{
  WriteLog("Gray2Bytes: Enter function\r\n");
  if (rows > 0 && bytesPerRow > 0) {
    const int threshold = g_model.monoThreshold;
    // Rows follow one another with no gap in either buffer, so the page is
    // one run of bytes, eight grey pixels behind each packed byte.
    const size_t total = static_cast<size_t>(bytesPerRow) * static_cast<size_t>(rows);
    for (size_t i = 0; i < total; ++i) {
      const uint8_t* g = grey + 8 * i;
      uint8_t bits = 0;
      for (int k = 0; k < 8; ++k)
        bits |= g[k] < threshold ? BIT_MASK[k] : 0;
      packed[i] |= bits;
    }
  }
  WriteLog("Gray2Bytes: Exit function11\r\n");
}
