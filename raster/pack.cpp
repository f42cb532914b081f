#include "raster/pack.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/log.h"
#include "raster/raster.h"

namespace {

constexpr uint8_t BIT_MASK[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

// One compare and one OR per pixel; the form every other path must match,
// and the whole packing where no vector path exists.
void pack_portable(const uint8_t* grey, uint8_t* packed, size_t count, int threshold)
{
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* g = grey + 8 * i;
    unsigned bits = 0;
    for (int k = 0; k < 8; ++k)
      bits |= g[k] < threshold ? BIT_MASK[k] : 0u;
    packed[i] = static_cast<uint8_t>(packed[i] | bits);
  }
}

#if defined(__SSE2__)
// Dark-pixel mask of 16 pixels: SSE2 compares only signed bytes, so both
// sides are moved by 128, which keeps the unsigned order.
inline unsigned dark_mask16(const uint8_t* grey, __m128i biasedThreshold)
{
  const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(grey));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(_mm_xor_si128(pixels, bias), biasedThreshold)));
}

// Packs count bytes 16 pixels at a time, four compares per pass; returns
// how many packed bytes it did, the rest being left to the portable loop.
size_t pack_sse2(const uint8_t* grey, uint8_t* packed, size_t count, int threshold)
{
  const __m128i biasedThreshold = _mm_set1_epi8(static_cast<char>(threshold ^ 0x80));
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const uint8_t* g = grey + 8 * i;
    const unsigned m0 = dark_mask16(g, biasedThreshold);
    const unsigned m1 = dark_mask16(g + 16, biasedThreshold);
    const unsigned m2 = dark_mask16(g + 32, biasedThreshold);
    const unsigned m3 = dark_mask16(g + 48, biasedThreshold);
    uint8_t* p = packed + i;
    p[0] = static_cast<uint8_t>(p[0] | kReversedBits[m0 & 0xFF]);
    p[1] = static_cast<uint8_t>(p[1] | kReversedBits[m0 >> 8]);
    p[2] = static_cast<uint8_t>(p[2] | kReversedBits[m1 & 0xFF]);
    p[3] = static_cast<uint8_t>(p[3] | kReversedBits[m1 >> 8]);
    p[4] = static_cast<uint8_t>(p[4] | kReversedBits[m2 & 0xFF]);
    p[5] = static_cast<uint8_t>(p[5] | kReversedBits[m2 >> 8]);
    p[6] = static_cast<uint8_t>(p[6] | kReversedBits[m3 & 0xFF]);
    p[7] = static_cast<uint8_t>(p[7] | kReversedBits[m3 >> 8]);
  }
  for (; i + 2 <= count; i += 2) {
    const unsigned m = dark_mask16(grey + 8 * i, biasedThreshold);
    packed[i] = static_cast<uint8_t>(packed[i] | kReversedBits[m & 0xFF]);
    packed[i + 1] = static_cast<uint8_t>(packed[i + 1] | kReversedBits[m >> 8]);
  }
  return i;
}
#endif

}  // namespace

void pack_grey(const uint8_t* grey, uint8_t* packed, size_t count, int threshold)
{
  size_t done = 0;
#if defined(__SSE2__)
  // The biased byte compare covers thresholds 0 to 255, the model range.
  if (threshold >= 0 && threshold <= 255)
    done = pack_sse2(grey, packed, count, threshold);
#endif
  pack_portable(grey + 8 * done, packed + done, count - done, threshold);
}

void Gray2Bytes(const uint8_t* grey, uint8_t* packed, int32_t bytesPerRow, int32_t rows, int threshold)
{
  WriteLog("Gray2Bytes: Enter function\r\n");
  if (rows > 0 && bytesPerRow > 0) {
    // Rows follow one another with no gap in either buffer, so the page is
    // one run of bytes, eight grey pixels behind each packed byte.
    const size_t total = static_cast<size_t>(bytesPerRow) * static_cast<size_t>(rows);
    pack_grey(grey, packed, total, threshold);
  }
  WriteLog("Gray2Bytes: Exit function11\r\n");
}
