// Halftoning against a plain per-pixel model of it: sharp art keeps the
// threshold exactly, flat grey prints at its own coverage, and the same page
// always gives the same dots. Built with and without the vector path.
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "filter/model.h"
#include "raster/raster.h"

namespace {

constexpr int kNearBlack = 16, kNearWhite = 240;

// A grey page as the page loop lays it out: width a multiple of 8.
struct Page {
  uint32_t width, rows;
  std::vector<uint8_t> grey;
  int at(int64_t x, int64_t y) const
  {
    return x < 0 || y < 0 || x >= width || y >= rows ? 255 : grey[size_t(y) * width + size_t(x)];
  }
};

bool extreme(int g) { return g <= kNearBlack || g >= kNearWhite; }

bool guarded(const Page& p, int64_t x, int64_t y)
{
  return extreme(p.at(x, y)) || extreme(p.at(x - 1, y)) || extreme(p.at(x + 1, y)) || extreme(p.at(x, y - 1)) ||
         extreme(p.at(x, y + 1));
}

bool dot(const std::vector<uint8_t>& packed, const Page& p, uint32_t x, uint32_t y)
{
  return packed[size_t(y) * (p.width / 8) + x / 8] & (0x80 >> (x % 8));
}

std::vector<uint8_t> pack(const Page& p, Halftone mode, int16_t fill = 0)
{
  std::vector<uint8_t> packed(size_t(p.width / 8) * p.rows, 0);
  std::vector<int16_t> scratch(halftone_scratch(mode, p.width / 8) + 1, fill);
  halftone_pack(p.grey.data(), packed.data(), p.width / 8, p.rows, g_model.monoThreshold, mode, scratch.data());
  return packed;
}

// Photo, pixel by pixel: serpentine Floyd-Steinberg on unguarded pixels,
// guarded ones by the threshold, passing no error on.
std::vector<uint8_t> photo_reference(const Page& p)
{
  std::vector<uint8_t> packed(size_t(p.width / 8) * p.rows, 0);
  std::vector<int> cur(p.width + 2, 0), next(p.width + 2, 0);
  for (uint32_t y = 0; y < p.rows; ++y) {
    std::fill(next.begin(), next.end(), 0);
    const int dir = y % 2 ? -1 : 1;
    int carry = 0;
    for (uint32_t i = 0; i < p.width; ++i) {
      const uint32_t x = dir > 0 ? i : p.width - 1 - i;
      bool on;
      if (guarded(p, x, y)) {
        on = p.at(x, y) < g_model.monoThreshold;
        carry = 0;
      } else {
        const int v = p.at(x, y) + cur[x + 1] + carry;
        on = v < 128;
        const int err = v - (on ? 0 : 255);
        const int e3 = int(std::floor(err * 3 / 16.0)), e5 = int(std::floor(err * 5 / 16.0)),
                  e1 = int(std::floor(err / 16.0));
        carry = err - e3 - e5 - e1;
        next[x + 1 - dir] += e3, next[x + 1] += e5, next[x + 1 + dir] += e1;
      }
      if (on)
        packed[size_t(y) * (p.width / 8) + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    std::swap(cur, next);
  }
  return packed;
}

// Labels mix solid art, soft edges and grey: random blocks of each, with
// noise, so every kind of neighbourhood occurs at block and row ends.
Page mixed_page(uint32_t width, uint32_t rows, uint32_t seed)
{
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> kind(0, 3), any(0, 255), noise(-20, 20);
  Page p{width, rows, std::vector<uint8_t>(size_t(width) * rows)};
  for (uint32_t by = 0; by < rows; by += 5)
    for (uint32_t bx = 0; bx < width; bx += 7) {
      const int k = kind(rng), base = any(rng);
      for (uint32_t y = by; y < std::min(rows, by + 5); ++y)
        for (uint32_t x = bx; x < std::min(width, bx + 7); ++x) {
          int v = k == 0 ? 0 : k == 1 ? 255 : k == 2 ? base : base + noise(rng);
          p.grey[size_t(y) * width + x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    }
  return p;
}

Page flat_page(uint32_t width, uint32_t rows, uint8_t level)
{
  return {width, rows, std::vector<uint8_t>(size_t(width) * rows, level)};
}

const uint32_t kWidths[] = {8, 16, 24, 40, 120, 136, 1208};

TEST(Halftone, GuardedPixelsFollowTheThresholdExactly)
{
  for (Halftone mode : {Halftone::kAuto, Halftone::kPhoto})
    for (uint32_t width : kWidths) {
      const Page p = mixed_page(width, 23, width);
      const std::vector<uint8_t> packed = pack(p, mode);
      for (uint32_t y = 0; y < p.rows; ++y)
        for (uint32_t x = 0; x < p.width; ++x) {
          if (!guarded(p, x, y))
            continue;
          ASSERT_EQ(dot(packed, p, x, y), p.at(x, y) < g_model.monoThreshold)
              << "mode " << int(mode) << " width " << width << " at " << x << "," << y;
        }
    }
}

// The 8 x 8 Bayer order: cell k of the matrix turns on once a pixel's
// darkness reaches (k + 0.5) / 64.
constexpr int kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
};

TEST(Halftone, AutoMatchesThePixelByPixelModel)
{
  for (uint32_t width : kWidths) {
    const Page p = mixed_page(width, 23, width + 1);
    const std::vector<uint8_t> packed = pack(p, Halftone::kAuto);
    for (uint32_t y = 0; y < p.rows; ++y)
      for (uint32_t x = 0; x < p.width; ++x) {
        const int g = p.at(x, y);
        const bool want = guarded(p, x, y) ? g < g_model.monoThreshold
                                           : (255 - g) * 64 * 2 > (2 * kBayer[y % 8][x % 8] + 1) * 255;
        ASSERT_EQ(dot(packed, p, x, y), want) << "width " << width << " at " << x << "," << y << " grey " << g;
      }
  }
}

TEST(Halftone, PhotoMatchesThePixelByPixelModel)
{
  for (uint32_t width : kWidths)
    for (uint32_t seed : {1u, 2u}) {
      const Page p = mixed_page(width, 31, seed * 1000 + width);
      EXPECT_EQ(pack(p, Halftone::kPhoto), photo_reference(p)) << "width " << width;
    }
}

TEST(Halftone, FlatPatchesPrintAtTheCoverageOfTheirLevel)
{
  // The page border is guarded (outside is paper), so count inside it.
  for (Halftone mode : {Halftone::kAuto, Halftone::kPhoto})
    for (int level = 24; level <= 232; level += 16) {
      const Page p = flat_page(128, 66, static_cast<uint8_t>(level));
      const std::vector<uint8_t> packed = pack(p, mode);
      size_t dots = 0, pixels = 0;
      for (uint32_t y = 1; y + 1 < p.rows; ++y)
        for (uint32_t x = 1; x + 1 < p.width; ++x)
          dots += dot(packed, p, x, y), ++pixels;
      const double coverage = double(dots) / double(pixels), want = (255.0 - level) / 255.0;
      EXPECT_NEAR(coverage, want, 0.025) << "mode " << int(mode) << " level " << level;
    }
}

// Only Photo keeps working rows in the scratch; the others get none.
TEST(Halftone, SamePageSameDotsWhateverTheScratchHeld)
{
  const Page p = mixed_page(136, 40, 7);
  EXPECT_EQ(pack(p, Halftone::kPhoto, 0), pack(p, Halftone::kPhoto, int16_t(-12345)));
}

TEST(Halftone, ThresholdModeIsGray2Bytes)
{
  const Page p = mixed_page(1208, 17, 3);
  std::vector<uint8_t> want(size_t(p.width / 8) * p.rows, 0);
  Gray2Bytes(p.grey.data(), want.data(), int32_t(p.width / 8), int32_t(p.rows), g_model.monoThreshold);
  EXPECT_EQ(pack(p, Halftone::kThreshold), want);
}

}  // namespace
