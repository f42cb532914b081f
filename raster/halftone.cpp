// Halftoning where the art is grey, the threshold where it is sharp.
//
// A label carries barcodes, text and rules (black on white, sometimes with
// soft or noisy edges from a scaled or JPEG bitmap) beside logos and photos
// in grey. The threshold keeps the first exact but wipes out the second;
// halftoning everything breaks up the edges of barcode modules. So a pixel
// is "guarded" when it, or one of its four neighbours, is near black or near
// white: guarded pixels print by the model's threshold, and only the grey
// interior of an area is halftoned. Outside the page counts as white paper.
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "raster/pack.h"
#include "raster/raster.h"

namespace {

// At or beyond these a pixel is solid art, not grey to render.
constexpr int kNearBlack = 16;
constexpr int kNearWhite = 240;

constexpr bool extreme(int g) { return g <= kNearBlack || g >= kNearWhite; }

// 8 x 8 dispersed-dot (Bayer) order. Dispersed dots keep fine grey detail
// and blur into the right tone at the dot sizes of label printers; a
// clustered screen measured two to three times the grey error.
constexpr uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},  {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
};

// Grey thresholds of the matrix cells: a grey g prints in cell k when
// g < kScreen[k]. The k-th darkest cell turns on at darkness (k + 0.5) / 64,
// so a flat patch covers (255 - g) / 255 of its dots, to the nearest cell.
struct Screen {
  uint8_t cell[8][8];
};
constexpr Screen kScreen = [] {
  Screen screen{};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      screen.cell[y][x] = static_cast<uint8_t>(255 - (kBayer[y][x] * 510 + 255) / 128);
  return screen;
}();

// The pixels of one row and its neighbours. Rows past the page are null.
struct Rows {
  const uint8_t* up;
  const uint8_t* cur;
  const uint8_t* down;
  uint32_t width;  // pixels, a multiple of 8
};

void set_dot(uint8_t* packed, uint32_t x)
{
  packed[x / 8] = static_cast<uint8_t>(packed[x / 8] | (0x80u >> (x % 8)));
}

#if defined(__SSE2__)
// Sixteen pixels at x (eight at the end of an odd-width row, the rest white).
__m128i load_block(const uint8_t* row, uint32_t x, uint32_t width)
{
  if (!row)
    return _mm_set1_epi8(static_cast<char>(0xFF));
  if (x + 16 <= width)
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
  const __m128i upperWhite = _mm_set_epi32(-1, -1, 0, 0);
  return _mm_or_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x)), upperWhite);
}

// 0xFF in every lane whose pixel is near black or near white.
__m128i extreme_mask(__m128i v)
{
  const __m128i black = _mm_set1_epi8(static_cast<char>(kNearBlack));
  const __m128i white = _mm_set1_epi8(static_cast<char>(kNearWhite));
  return _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(v, black), v), _mm_cmpeq_epi8(_mm_max_epu8(v, white), v));
}

// Sixteen pixels at x and which of them are guarded, as lanes and as bits
// (bit i for pixel x + i).
struct BlockMasks {
  __m128i pixels;
  __m128i guardLanes;
  unsigned guard;
};

BlockMasks block_masks(const Rows& rows, uint32_t x)
{
  const __m128i c = load_block(rows.cur, x, rows.width);
  __m128i guard = extreme_mask(c);
  // Solid art, the common case on a label, needs no look at the neighbours.
  if (_mm_movemask_epi8(guard) != 0xFFFF) {
    const int left = x > 0 ? rows.cur[x - 1] : 255;
    const int right = x + 16 < rows.width ? rows.cur[x + 16] : 255;
    const __m128i l = _mm_or_si128(_mm_slli_si128(c, 1), _mm_cvtsi32_si128(left));
    const __m128i r = _mm_or_si128(_mm_srli_si128(c, 1), _mm_slli_si128(_mm_cvtsi32_si128(right), 15));
    guard = _mm_or_si128(guard, _mm_or_si128(extreme_mask(l), extreme_mask(r)));
    guard = _mm_or_si128(guard, extreme_mask(load_block(rows.up, x, rows.width)));
    guard = _mm_or_si128(guard, extreme_mask(load_block(rows.down, x, rows.width)));
  }
  return {c, guard, static_cast<unsigned>(_mm_movemask_epi8(guard))};
}

// Bits of the pixels below their lane's threshold (both biased by 128, as
// SSE2 compares signed bytes only), bit i for pixel i.
unsigned below(__m128i pixels, __m128i biasedThresholds)
{
  const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(_mm_xor_si128(pixels, bias), biasedThresholds)));
}

// Stores the dots of a block (bit i = pixel i) into its packed bytes.
void store_block(uint8_t* packed, uint32_t x, uint32_t n, unsigned bits)
{
  packed[x / 8] = static_cast<uint8_t>(packed[x / 8] | kReversedBits[bits & 0xFF]);
  if (n > 8)
    packed[x / 8 + 1] = static_cast<uint8_t>(packed[x / 8 + 1] | kReversedBits[(bits >> 8) & 0xFF]);
}

// Ordered dither of one row, sixteen pixels at a time.
void screen_row(const Rows& rows, uint32_t y, uint8_t* packed, int threshold)
{
  const __m128i mono = _mm_set1_epi8(static_cast<char>(threshold ^ 0x80));
  const uint8_t* cells = kScreen.cell[y % 8];
  uint8_t biased[16];
  for (int i = 0; i < 16; ++i)
    biased[i] = static_cast<uint8_t>(cells[i % 8] ^ 0x80);
  const __m128i screen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(biased));

  for (uint32_t x = 0; x < rows.width; x += 16) {
    const BlockMasks block = block_masks(rows, x);
    const __m128i thresholds =
        _mm_or_si128(_mm_and_si128(block.guardLanes, mono), _mm_andnot_si128(block.guardLanes, screen));
    store_block(packed, x, rows.width - x, below(block.pixels, thresholds));
  }
}
#else
int pixel(const uint8_t* row, int64_t x, uint32_t width)
{
  return row && x >= 0 && x < width ? row[x] : 255;
}

bool guarded(const Rows& rows, uint32_t x)
{
  return extreme(rows.cur[x]) || extreme(pixel(rows.up, x, rows.width)) ||
         extreme(pixel(rows.down, x, rows.width)) || extreme(pixel(rows.cur, int64_t{x} - 1, rows.width)) ||
         extreme(pixel(rows.cur, int64_t{x} + 1, rows.width));
}

// Ordered dither of one row, pixel by pixel.
void screen_row(const Rows& rows, uint32_t y, uint8_t* packed, int threshold)
{
  for (uint32_t x = 0; x < rows.width; ++x) {
    const int t = guarded(rows, x) ? threshold : kScreen.cell[y % 8][x % 8];
    if (rows.cur[x] < t)
      set_dot(packed, x);
  }
}
#endif

// Error diffusion state: the error each pixel of this row inherits from the
// row above, and what this row passes to the next. One entry of margin on
// either side keeps the neighbours of the end pixels in bounds.
struct Diffusion {
  int16_t* cur;
  int16_t* next;
};

// Floyd-Steinberg on one unguarded pixel, scanning in direction dir; carry is
// the error from the previous pixel of the row. Returns whether it prints.
bool diffuse(const Rows& rows, Diffusion& d, uint32_t x, int dir, int& carry)
{
  const int value = rows.cur[x] + d.cur[x + 1] + carry;
  const bool dot = value < 128;
  const int err = value - (dot ? 0 : 255);
  const int e3 = err * 3 / 16, e5 = err * 5 / 16, e1 = err / 16;
  carry = err - e3 - e5 - e1;
  d.next[x + 1 - dir] = static_cast<int16_t>(d.next[x + 1 - dir] + e3);
  d.next[x + 1] = static_cast<int16_t>(d.next[x + 1] + e5);
  d.next[x + 1 + dir] = static_cast<int16_t>(d.next[x + 1 + dir] + e1);
  return dot;
}

// Guarded pixels take the threshold, drop what they inherited and pass
// nothing on, so no error leaks into a barcode or out of it.
bool photo_pixel(const Rows& rows, Diffusion& d, uint32_t x, int dir, int& carry, bool guard, int threshold)
{
  if (guard) {
    carry = 0;
    return rows.cur[x] < threshold;
  }
  return diffuse(rows, d, x, dir, carry);
}

// Serpentine error diffusion of one row: even rows left to right, odd rows
// back, so that the error does not drift in one direction.
void diffuse_row(const Rows& rows, uint32_t y, uint8_t* packed, int threshold, Diffusion& d)
{
  std::memset(d.next, 0, (rows.width + 2) * sizeof *d.next);
  const int dir = y % 2 ? -1 : 1;
  int carry = 0;
#if defined(__SSE2__)
  const __m128i mono = _mm_set1_epi8(static_cast<char>(threshold ^ 0x80));
  const uint32_t blocks = (rows.width + 15) / 16;
  for (uint32_t b = 0; b < blocks; ++b) {
    const uint32_t x0 = 16 * (dir > 0 ? b : blocks - 1 - b);
    const uint32_t n = rows.width - x0 < 16 ? rows.width - x0 : 16;
    const BlockMasks block = block_masks(rows, x0);
    if (block.guard == 0xFFFF) {
      carry = 0;
      store_block(packed, x0, n, below(block.pixels, mono));
      continue;
    }
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t x = x0 + (dir > 0 ? i : n - 1 - i);
      if (photo_pixel(rows, d, x, dir, carry, (block.guard >> (x - x0)) & 1u, threshold))
        set_dot(packed, x);
    }
  }
#else
  for (uint32_t i = 0; i < rows.width; ++i) {
    const uint32_t x = dir > 0 ? i : rows.width - 1 - i;
    if (photo_pixel(rows, d, x, dir, carry, guarded(rows, x), threshold))
      set_dot(packed, x);
  }
#endif
  std::swap(d.cur, d.next);
}

}  // namespace

size_t halftone_scratch(Halftone mode, uint32_t bytesPerRow)
{
  return mode == Halftone::kPhoto ? 2 * (size_t{8} * bytesPerRow + 2) : 0;
}

void halftone_pack(const uint8_t* grey, uint8_t* packed, uint32_t bytesPerRow, uint32_t rows, int threshold,
                   Halftone mode, int16_t* scratch)
{
  const uint32_t width = 8 * bytesPerRow;
  Diffusion d{scratch, scratch ? scratch + width + 2 : nullptr};
  if (mode == Halftone::kPhoto)
    std::memset(d.cur, 0, (width + 2) * sizeof *d.cur);
  for (uint32_t y = 0; y < rows; ++y) {
    const uint8_t* cur = grey + size_t{y} * width;
    const Rows r{y > 0 ? cur - width : nullptr, cur, y + 1 < rows ? cur + width : nullptr, width};
    uint8_t* out = packed + size_t{y} * bytesPerRow;
    if (mode == Halftone::kPhoto)
      diffuse_row(r, y, out, threshold, d);
    else if (mode == Halftone::kAuto)
      screen_row(r, y, out, threshold);
    else
      pack_grey(cur, out, bytesPerRow, threshold);
  }
}
