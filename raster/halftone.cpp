// Halftoning where the art is grey, the threshold where it is sharp.
//
// A label carries barcodes, text and rules (black on white, sometimes with
// soft or noisy edges from a scaled, smoothed or JPEG bitmap) beside logos
// and photos in grey. The threshold keeps the first exact but wipes out the
// second; halftoning everything breaks up the edges of barcode modules. So a
// pixel is "guarded", printed by the model's threshold, when it is near
// black or near white itself, or when it lies on an edge between ink and
// paper: within two pixels of it (a 5 x 5 window) there is both a pixel at
// least three quarters black and one at most a quarter black. Everything
// else is halftoned, the soft edge of a grey shape on white included, so
// grey art keeps its tone up to its outline instead of gaining a black one.
//
// The edge levels are looser than near black and near white because a soft
// edge need not reach either: bars and spaces two dots wide, blurred by half
// a dot, come out as grey 41 and 214. Two pixels of reach keep an edge that
// spans two grey pixels on the threshold. Outside the page counts as white
// paper.
#include <algorithm>
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

// An edge runs between ink (at most kInk) and paper (at least kPaper) seen
// within kReach pixels across and down. Grey art between a quarter and three
// quarters black never makes an edge by itself.
constexpr int kInk = 64;
constexpr int kPaper = 192;
constexpr int kReach = 2;

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

// The pixels of one row and the rows within reach of it, y - kReach to
// y + kReach. Rows past the page are null.
struct Rows {
  const uint8_t* cur;
  const uint8_t* window[2 * kReach + 1];
  uint32_t width;  // pixels, a multiple of 8
};

#if defined(__SSE2__)
// Sixteen pixels at x; at the end of a row that is not a multiple of 16
// wide, eight, with white beyond them.
inline __m128i load_block(const uint8_t* row, uint32_t x, uint32_t width)
{
  if (x + 16 <= width)
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
  const __m128i upperWhite = _mm_set_epi32(-1, -1, 0, 0);
  return _mm_or_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x)), upperWhite);
}

// 0xFF in every lane whose pixel is near black or near white.
inline __m128i extreme_mask(__m128i v)
{
  const __m128i black = _mm_set1_epi8(static_cast<char>(kNearBlack));
  const __m128i white = _mm_set1_epi8(static_cast<char>(kNearWhite));
  return _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(v, black), v), _mm_cmpeq_epi8(_mm_max_epu8(v, white), v));
}

// Sixteen pixels from x, which may lie off the row; white where they do, and
// where the row itself lies past the page.
inline __m128i load_span(const uint8_t* row, int64_t x, uint32_t width)
{
  if (!row)
    return _mm_set1_epi8(static_cast<char>(0xFF));
  if (x >= 0 && x + 16 <= width)
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
  alignas(16) uint8_t span[16];
  for (int64_t i = 0; i < 16; ++i)
    span[i] = x + i >= 0 && x + i < width ? row[x + i] : 0xFF;
  return _mm_load_si128(reinterpret_cast<const __m128i*>(span));
}

// Which of the sixteen columns from x hold ink, and which paper, in any row
// of the window. Inside: every pixel read lies on the page, as it does for
// all but the blocks at the page's edges.
template <bool Inside>
inline void column_edges(const Rows& rows, int64_t x, __m128i& inkCols, __m128i& paperCols)
{
  static_assert(kReach == 2, "five rows");
  auto load = [&](const uint8_t* row) {
    return Inside ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x)) : load_span(row, x, rows.width);
  };
  const __m128i r0 = load(rows.window[0]), r1 = load(rows.window[1]), r2 = load(rows.window[2]),
                r3 = load(rows.window[3]), r4 = load(rows.window[4]);
  const __m128i darkest = _mm_min_epu8(_mm_min_epu8(_mm_min_epu8(r0, r1), _mm_min_epu8(r2, r3)), r4);
  const __m128i lightest = _mm_max_epu8(_mm_max_epu8(_mm_max_epu8(r0, r1), _mm_max_epu8(r2, r3)), r4);
  const __m128i inkLevel = _mm_set1_epi8(static_cast<char>(kInk));
  const __m128i paperLevel = _mm_set1_epi8(static_cast<char>(kPaper));
  inkCols = _mm_cmpeq_epi8(_mm_min_epu8(darkest, inkLevel), darkest);
  paperCols = _mm_cmpeq_epi8(_mm_max_epu8(lightest, paperLevel), lightest);
}

// Spreads a mask of columns over two columns either way, for the sixteen
// columns from x, given the mask of the sixteen from x - 2 (left) and from
// x + 2 (right), which between them hold the twenty columns in reach. Bytes
// shifted in are 0, which an OR ignores.
inline __m128i spread(__m128i left, __m128i right)
{
  const __m128i l = _mm_or_si128(left, _mm_srli_si128(left, 1));     // columns x + i - 2, x + i - 1
  const __m128i r = _mm_or_si128(right, _mm_slli_si128(right, 1));  // x + i + 2, x + i + 1
  return _mm_or_si128(_mm_or_si128(l, _mm_srli_si128(l, 2)), _mm_or_si128(r, _mm_slli_si128(r, 2)));
}

// The edges among the sixteen pixels at x: 0xFF where ink and paper are
// both within reach. The 5 x 5 window is taken as columns first (darkest and
// lightest of the rows), then spread along the row.
template <bool Inside>
inline __m128i edges(const Rows& rows, uint32_t x)
{
  static_assert(kReach == 2, "the spread covers two columns either way");
  __m128i inkLeft, paperLeft, inkRight, paperRight;
  column_edges<Inside>(rows, int64_t{x} - 2, inkLeft, paperLeft);
  column_edges<Inside>(rows, int64_t{x} + 2, inkRight, paperRight);
  return _mm_and_si128(spread(inkLeft, inkRight), spread(paperLeft, paperRight));
}

// The edges of a block at the page's sides, top or bottom.
__attribute__((noinline)) __m128i edges_at_border(const Rows& rows, uint32_t x) { return edges<false>(rows, x); }

// The guard of the sixteen pixels at x once their own extremes are known:
// adds the pixels on an edge between ink and paper. Kept out of line: on a
// label it runs for the few blocks with grey in them.
__attribute__((noinline)) __m128i add_edges(const Rows& rows, uint32_t x, __m128i guard)
{
  const bool inside = rows.window[0] && rows.window[2 * kReach] && x >= kReach && x + 16 + kReach <= rows.width;
  return _mm_or_si128(guard, inside ? edges<true>(rows, x) : edges_at_border(rows, x));
}

// Bits of the pixels below their lane's threshold (both biased by 128, as
// SSE2 compares signed bytes only), bit i for pixel i.
inline unsigned below(__m128i pixels, __m128i biasedThresholds)
{
  const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(_mm_xor_si128(pixels, bias), biasedThresholds)));
}

// Stores the dots of the n pixels of a block (bit i = pixel i) into their
// packed bytes, which nothing else writes.
inline void store_block(uint8_t* packed, uint32_t x, uint32_t n, unsigned bits)
{
  packed[x / 8] = kReversedBits[bits & 0xFF];
  if (n > 8)
    packed[x / 8 + 1] = kReversedBits[(bits >> 8) & 0xFF];
}

// True when all sixteen pixels are blank paper, by far the most common block
// of a label: nothing to print, nothing to look at around it.
inline bool paper(__m128i c)
{
  return _mm_movemask_epi8(_mm_cmpeq_epi8(c, _mm_set1_epi8(static_cast<char>(0xFF)))) == 0xFFFF;
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
    const __m128i c = load_block(rows.cur, x, rows.width);
    if (paper(c))
      continue;
    __m128i guard = extreme_mask(c);
    __m128i thresholds = mono;
    // Solid art, the common case on a label, needs no look at the neighbours.
    if (_mm_movemask_epi8(guard) != 0xFFFF) {
      guard = add_edges(rows, x, guard);
      thresholds = _mm_or_si128(_mm_and_si128(guard, mono), _mm_andnot_si128(guard, screen));
    }
    store_block(packed, x, rows.width - x, below(c, thresholds));
  }
}
#else
void set_dot(uint8_t* packed, uint32_t x)
{
  packed[x / 8] = static_cast<uint8_t>(packed[x / 8] | (0x80u >> (x % 8)));
}

int pixel(const uint8_t* row, int64_t x, uint32_t width)
{
  return row && x >= 0 && x < width ? row[x] : 255;
}

constexpr bool extreme(int g) { return g <= kNearBlack || g >= kNearWhite; }

// Near black or near white, or on an edge between ink and paper.
bool guarded(const Rows& rows, uint32_t x)
{
  if (extreme(rows.cur[x]))
    return true;
  bool sawInk = false, sawPaper = false;
  for (const uint8_t* row : rows.window)
    for (int64_t dx = -kReach; dx <= kReach; ++dx) {
      const int g = pixel(row, int64_t{x} + dx, rows.width);
      sawInk = sawInk || g <= kInk;
      sawPaper = sawPaper || g >= kPaper;
    }
  return sawInk && sawPaper;
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
// row above (at x + 1), and what this row passes to the next. One entry of
// margin on either side keeps the neighbours of the end pixels in bounds.
// next is all zero when a row starts; cur may be non-zero only in the span
// [dirtyLo, dirtyHi) that the row above diffused into.
struct Diffusion {
  int16_t* cur;
  int16_t* next;
  uint32_t dirtyLo, dirtyHi;
};

// Ends a row whose next-row error lies in [lo, hi): clears what the row
// above left in cur, and swaps the rows.
void finish_row(Diffusion& d, uint32_t lo, uint32_t hi)
{
  for (uint32_t x = d.dirtyLo; x < d.dirtyHi; ++x)
    d.cur[x] = 0;
  std::swap(d.cur, d.next);
  d.dirtyLo = lo, d.dirtyHi = hi;
}

#if defined(__SSE2__)
// A run of diffused pixels along a row. Each pixel's share for the next row
// is added up in two accumulators and stored once, when no later pixel of the
// run can add to it: one store per pixel instead of three updates.
struct Run {
  int carry = 0;     // the 7/16 for the next pixel of the row
  int ahead = 0;     // next-row error at the pixel just done
  int beyond = 0;    // and one further along the row
  uint32_t last = 0; // the pixel just done
  bool open = false;
};

// One pixel of a run: a guarded pixel takes the threshold and adds nothing,
// an unguarded one is Floyd-Steinberg. Returns whether it prints.
inline bool diffuse_pixel(int grey, Diffusion& d, uint32_t x, int dir, bool guard, int threshold, Run& run)
{
  run.open = true;
  if (guard) {
    d.next[x + 1 - dir] = static_cast<int16_t>(run.ahead);
    run.ahead = run.beyond;
    run.beyond = run.carry = 0;
    return grey < threshold;
  }
  const int value = grey + d.cur[x + 1] + run.carry;
  const bool dot = value < 128;
  const int err = value - (dot ? 0 : 255);
  // Sixteenths rounded down (an arithmetic shift, as GCC and Clang define
  // it); the 7/16 carried along the row takes the rest, so no error is lost.
  const int e3 = (err * 3) >> 4, e5 = (err * 5) >> 4, e1 = err >> 4;
  run.carry = err - e3 - e5 - e1;
  d.next[x + 1 - dir] = static_cast<int16_t>(run.ahead + e3);
  run.ahead = run.beyond + e5;
  run.beyond = e1;
  return dot;
}

// The n pixels of a block with grey in it, in the row's direction; returns
// their dots, bit i for pixel x0 + i.
template <int Dir>
unsigned diffuse_block(const Rows& rows, Diffusion& d, uint32_t x0, uint32_t n, unsigned guard, int threshold,
                       Run& run)
{
  unsigned bits = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t j = Dir > 0 ? i : n - 1 - i;
    bits |= unsigned{diffuse_pixel(rows.cur[x0 + j], d, x0 + j, Dir, (guard >> j) & 1u, threshold, run)} << j;
  }
  return bits;
}

// Ends a run at a block of solid art: stores what is still added up.
inline void flush(Diffusion& d, Run& run, int dir)
{
  if (run.open) {
    d.next[run.last + 1] = static_cast<int16_t>(run.ahead);
    d.next[run.last + 1 + dir] = static_cast<int16_t>(run.beyond);
  }
  run = Run{};
}

// Serpentine error diffusion of one row: even rows left to right, odd rows
// back, so that the error does not drift in one direction. A first pass
// packs the solid blocks by the threshold, as Auto does, and finds the span
// of blocks with grey in them; only that span is diffused.
void diffuse_row(const Rows& rows, uint32_t y, uint8_t* packed, int threshold, Diffusion& d)
{
  const __m128i mono = _mm_set1_epi8(static_cast<char>(threshold ^ 0x80));
  uint32_t first = UINT32_MAX, last = 0;
  for (uint32_t x = 0; x < rows.width; x += 16) {
    const __m128i c = load_block(rows.cur, x, rows.width);
    if (paper(c))
      continue;
    if (_mm_movemask_epi8(extreme_mask(c)) == 0xFFFF) {
      store_block(packed, x, rows.width - x, below(c, mono));
      continue;
    }
    first = first == UINT32_MAX ? x / 16 : first;
    last = x / 16;
  }
  if (first == UINT32_MAX) {
    finish_row(d, 0, 0);
    return;
  }

  const int dir = y % 2 ? -1 : 1;
  Run run;
  for (uint32_t k = 0; k <= last - first; ++k) {
    const uint32_t x0 = 16 * (dir > 0 ? first + k : last - k);
    const uint32_t n = rows.width - x0 < 16 ? rows.width - x0 : 16;
    const __m128i c = load_block(rows.cur, x0, rows.width);
    const __m128i extremes = extreme_mask(c);
    if (_mm_movemask_epi8(extremes) == 0xFFFF) {  // packed by the first pass
      flush(d, run, dir);
      continue;
    }
    const unsigned guard = static_cast<unsigned>(_mm_movemask_epi8(add_edges(rows, x0, extremes)));
    const unsigned bits = dir > 0 ? diffuse_block<1>(rows, d, x0, n, guard, threshold, run)
                                  : diffuse_block<-1>(rows, d, x0, n, guard, threshold, run);
    store_block(packed, x0, n, bits);
    run.last = x0 + (dir > 0 ? n - 1 : 0);
  }
  flush(d, run, dir);
  finish_row(d, 16 * first, std::min(16 * last + 16, rows.width) + 2);
}
#else
// Floyd-Steinberg on one unguarded pixel, scanning in direction dir; carry is
// the error from the previous pixel of the row. Returns whether it prints.
bool diffuse(const Rows& rows, Diffusion& d, uint32_t x, int dir, int& carry)
{
  const int value = rows.cur[x] + d.cur[x + 1] + carry;
  const bool dot = value < 128;
  const int err = value - (dot ? 0 : 255);
  const int e3 = (err * 3) >> 4, e5 = (err * 5) >> 4, e1 = err >> 4;
  carry = err - e3 - e5 - e1;
  d.next[x + 1 - dir] = static_cast<int16_t>(d.next[x + 1 - dir] + e3);
  d.next[x + 1] = static_cast<int16_t>(d.next[x + 1] + e5);
  d.next[x + 1 + dir] = static_cast<int16_t>(d.next[x + 1 + dir] + e1);
  return dot;
}

// Guarded pixels take the threshold, ignore what they inherited and pass
// nothing on, so no error leaks into a barcode or out of it.
bool photo_pixel(const Rows& rows, Diffusion& d, uint32_t x, int dir, int& carry, bool guard, int threshold)
{
  if (guard) {
    carry = 0;
    return rows.cur[x] < threshold;
  }
  return diffuse(rows, d, x, dir, carry);
}

// Serpentine error diffusion of one row, pixel by pixel.
void diffuse_row(const Rows& rows, uint32_t y, uint8_t* packed, int threshold, Diffusion& d)
{
  const int dir = y % 2 ? -1 : 1;
  int carry = 0;
  for (uint32_t i = 0; i < rows.width; ++i) {
    const uint32_t x = dir > 0 ? i : rows.width - 1 - i;
    if (photo_pixel(rows, d, x, dir, carry, guarded(rows, x), threshold))
      set_dot(packed, x);
  }
  finish_row(d, 0, rows.width + 2);
}
#endif

}  // namespace

size_t halftone_scratch(Halftone mode, uint32_t bytesPerRow)
{
  return mode == Halftone::kPhoto ? 2 * (size_t{8} * bytesPerRow + 2) : 0;
}

void halftone_pack(const uint8_t* grey, uint8_t* packed, uint32_t bytesPerRow, uint32_t rows, int threshold,
                   Halftone mode, int16_t* scratch)
{
  const uint32_t width = 8 * bytesPerRow;
  Diffusion d{scratch, scratch ? scratch + width + 2 : nullptr, 0, 0};
  if (mode == Halftone::kPhoto)
    std::memset(scratch, 0, halftone_scratch(mode, bytesPerRow) * sizeof *scratch);
  for (uint32_t y = 0; y < rows; ++y) {
    const uint8_t* cur = grey + size_t{y} * width;
    Rows r{cur, {}, width};
    for (int k = 0; k <= 2 * kReach; ++k) {
      const int64_t ry = int64_t{y} + k - kReach;
      r.window[k] = ry >= 0 && ry < rows ? grey + size_t(ry) * width : nullptr;
    }
    uint8_t* out = packed + size_t{y} * bytesPerRow;
    if (mode == Halftone::kPhoto)
      diffuse_row(r, y, out, threshold, d);
    else if (mode == Halftone::kAuto)
      screen_row(r, y, out, threshold);
    else
      pack_grey(cur, out, bytesPerRow, threshold);
  }
}
