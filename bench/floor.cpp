// The floor: the work that no correct filter of an 8-bit grey raster into
// zlib-compressed 1-bit labels can skip, and nothing else. Each page is read
// with libcups into a white page, packed to one bit per dot at the model's
// threshold and compressed with zlib at the default level; the
// compressed bytes go to standard output in one write per page so that
// nothing can be left out.
//
// Usage: zpl-floor [threshold] < job.ras > /dev/null   (threshold 155 if left out)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cups/raster.h>
#include <unistd.h>
#include <zlib.h>

namespace {

struct RasterCloser {
  void operator()(cups_raster_t* ras) const { cupsRasterClose(ras); }
};

// movemask gives the leftmost pixel in bit 0; the packed byte wants bit 7.
constexpr uint8_t reverse_bits(unsigned v)
{
  unsigned r = 0;
  for (int bit = 0; bit < 8; ++bit)
    r |= ((v >> bit) & 1u) << (7 - bit);
  return static_cast<uint8_t>(r);
}

struct ReverseTable {
  uint8_t bits[256];
};
constexpr ReverseTable kReverse = [] {
  ReverseTable t{};
  for (unsigned v = 0; v < 256; ++v)
    t.bits[v] = reverse_bits(v);
  return t;
}();

// One bit per pixel, 16 pixels per compare. count is the packed size; the
// grey page holds 8 * count pixels.
void pack(const uint8_t* grey, uint8_t* packed, size_t count, int threshold)
{
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i limit = _mm_set1_epi8(static_cast<char>(threshold ^ 0x80));
  for (; i + 2 <= count; i += 2) {
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(grey + 8 * i));
    const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(_mm_xor_si128(px, bias), limit)));
    packed[i] = kReverse.bits[m & 0xFF];
    packed[i + 1] = kReverse.bits[m >> 8];
  }
#endif
  for (; i < count; ++i) {
    unsigned bits = 0;
    for (int k = 0; k < 8; ++k)
      bits |= grey[8 * i + k] < threshold ? 0x80u >> k : 0u;
    packed[i] = static_cast<uint8_t>(bits);
  }
}

bool write_all(const uint8_t* data, size_t size)
{
  while (size > 0) {
    const ssize_t n = write(STDOUT_FILENO, data, size);
    if (n <= 0)
      return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char* argv[])
{
  const int threshold = argc > 1 ? std::atoi(argv[1]) : 155;
  if (threshold < 0 || threshold > 255) {
    std::fputs("zpl-floor: threshold must be 0 to 255\n", stderr);
    return 1;
  }
  std::unique_ptr<cups_raster_t, RasterCloser> ras(cupsRasterOpen(STDIN_FILENO, CUPS_RASTER_READ));
  if (!ras) {
    std::fputs("zpl-floor: no raster on standard input\n", stderr);
    return 1;
  }
  // Buffers grow to the largest page and are kept: a filter may do that.
  std::vector<uint8_t> grey, packed, compressed;
  cups_page_header2_t header;
  while (cupsRasterReadHeader2(ras.get(), &header)) {
    if (header.cupsHeight == 0 || header.cupsBytesPerLine == 0)
      break;
    const size_t stride = (size_t{header.cupsWidth} + 7) & ~size_t{7};
    if (header.cupsBytesPerLine > stride) {
      std::fputs("zpl-floor: not an 8-bit grey raster\n", stderr);
      return 1;
    }
    const size_t rows = header.cupsHeight;
    grey.resize(stride * rows);
    packed.resize(stride / 8 * rows);
    std::memset(grey.data(), 255, grey.size());
    for (size_t y = 0; y < rows; ++y)
      if (cupsRasterReadPixels(ras.get(), grey.data() + y * stride, header.cupsBytesPerLine) == 0)
        break;
    pack(grey.data(), packed.data(), packed.size(), threshold);
    uLongf size = compressBound(packed.size());
    compressed.resize(size);
    if (compress(compressed.data(), &size, packed.data(), packed.size()) != Z_OK)
      return 1;
    if (!write_all(compressed.data(), size))
      return 1;
  }
  return 0;
}
