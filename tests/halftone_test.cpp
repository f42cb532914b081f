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
// An edge: ink and paper both within two pixels, across and down.
constexpr int kInk = 64, kPaper = 192, kReach = 2;

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
  bool ink = false, paper = false;
  for (int64_t dy = -kReach; dy <= kReach; ++dy)
    for (int64_t dx = -kReach; dx <= kReach; ++dx) {
      ink = ink || p.at(x + dx, y + dy) <= kInk;
      paper = paper || p.at(x + dx, y + dy) >= kPaper;
    }
  return extreme(p.at(x, y)) || (ink && paper);
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
// noise, so every kind of neighbourhood occurs at block and row ends. Grey
// strewn with single pixels of ink and paper puts an edge's deciding pixel
// anywhere in the window.
Page mixed_page(uint32_t width, uint32_t rows, uint32_t seed)
{
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> kind(0, 4), any(0, 255), noise(-20, 20), speck(0, 29), ink(0, kInk),
      paper(kPaper, 255);
  auto speckled = [&] {
    const int s = speck(rng);
    return s == 0 ? ink(rng) : s == 1 ? paper(rng) : 128 + noise(rng);
  };
  Page p{width, rows, std::vector<uint8_t>(size_t(width) * rows)};
  for (uint32_t by = 0; by < rows; by += 5)
    for (uint32_t bx = 0; bx < width; bx += 7) {
      const int k = kind(rng), base = any(rng);
      for (uint32_t y = by; y < std::min(rows, by + 5); ++y)
        for (uint32_t x = bx; x < std::min(width, bx + 7); ++x) {
          int v = k == 0 ? 0 : k == 1 ? 255 : k == 2 ? base : k == 3 ? base + noise(rng) : speckled();
          p.grey[size_t(y) * width + x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    }
  return p;
}

Page flat_page(uint32_t width, uint32_t rows, uint8_t level)
{
  return {width, rows, std::vector<uint8_t>(size_t(width) * rows, level)};
}

// A box of grey level on white paper, margin pixels in from the page's
// sides, its outline blended into the paper over soft pixels as anti-aliased
// art is: the k-th pixel of the blend is covered (k + 1) / (soft + 1).
Page soft_box(uint32_t width, uint32_t rows, uint32_t margin, int level, int soft)
{
  auto cover = [&](int64_t v, int64_t n) {
    const int64_t in = std::min<int64_t>(v - margin, n - 1 - margin - v) + 1;
    return std::clamp(double(in) / (soft + 1), 0.0, 1.0);
  };
  Page p = flat_page(width, rows, 255);
  for (uint32_t y = 0; y < rows; ++y)
    for (uint32_t x = 0; x < width; ++x)
      p.grey[size_t(y) * width + x] =
          static_cast<uint8_t>(std::lround(255 - (255 - level) * cover(x, width) * cover(y, rows)));
  return p;
}

// The mean of value(x, y) over the pixels picked.
template <typename Pick, typename Value>
double mean_over(const Page& p, Pick pick, Value value)
{
  double sum = 0, pixels = 0;
  for (uint32_t y = 0; y < p.rows; ++y)
    for (uint32_t x = 0; x < p.width; ++x)
      if (pick(x, y))
        sum += value(x, y), ++pixels;
  return pixels ? sum / pixels : -1;
}

const uint32_t kWidths[] = {8, 16, 24, 40, 48, 120, 136, 1208};

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
  // Outside the page is paper: a dark patch is guarded near its border, so
  // count inside that.
  for (Halftone mode : {Halftone::kAuto, Halftone::kPhoto})
    for (int level = 24; level <= 232; level += 16) {
      const Page p = flat_page(128, 66, static_cast<uint8_t>(level));
      const std::vector<uint8_t> packed = pack(p, mode);
      auto inside = [&](uint32_t x, uint32_t y) {
        return x >= kReach && y >= kReach && x + kReach < p.width && y + kReach < p.rows;
      };
      const double got = mean_over(p, inside, [&](uint32_t x, uint32_t y) { return dot(packed, p, x, y); });
      EXPECT_NEAR(got, (255.0 - level) / 255.0, 0.025) << "mode " << int(mode) << " level " << level;
    }
}

// Grey art on white: the pixels along its outline print at their own tone,
// not as a black ring, and a thin light rule prints as a rule of dots.
TEST(Halftone, GreyArtOnWhiteKeepsItsToneUpToItsOutline)
{
  struct Case {
    const char* what;
    uint32_t rows, margin;
    int level, soft;
  } const cases[] = {
      {"mid grey box, sharp", 64, 12, 128, 0},   {"mid grey box, soft", 64, 12, 128, 2},
      {"dark grey box, sharp", 64, 12, 77, 0},   {"dark grey box, soft", 64, 12, 77, 1},
      {"light rule, 2 dots", 20, 9, 217, 0},     {"quarter grey rule, 3 dots", 21, 9, 191, 0},
  };
  for (Halftone mode : {Halftone::kAuto, Halftone::kPhoto})
    for (const Case& c : cases) {
      const Page p = soft_box(64, c.rows, c.margin, c.level, c.soft);
      const std::vector<uint8_t> packed = pack(p, mode);
      // The art within reach of the paper around it.
      auto outline = [&](uint32_t x, uint32_t y) {
        bool nearPaper = false;
        for (int64_t dy = -kReach; dy <= kReach; ++dy)
          for (int64_t dx = -kReach; dx <= kReach; ++dx)
            nearPaper = nearPaper || p.at(x + dx, y + dy) == 255;
        return p.at(x, y) < 255 && nearPaper;
      };
      EXPECT_NEAR(mean_over(p, outline, [&](uint32_t x, uint32_t y) { return dot(packed, p, x, y); }),
                  mean_over(p, outline, [&](uint32_t x, uint32_t y) { return (255 - p.at(x, y)) / 255.0; }), 0.1)
          << c.what << ", mode " << int(mode);
    }
}

// Black art with soft edges, as smoothed, scaled and blurred bitmaps have
// them: every pixel prints exactly as Threshold prints it.
TEST(Halftone, BlackArtWithSoftEdgesKeepsTheThreshold)
{
  Page blurredBars = flat_page(64, 24, 255);  // bars and spaces two dots wide, blurred by half a dot
  for (uint32_t y = 8; y < 16; ++y)
    for (uint32_t x = 8; x < 56; ++x)
      blurredBars.grey[size_t(y) * 64 + x] = x % 4 < 2 ? 41 : 214;
  const std::pair<const char*, Page> pages[] = {
      {"sharp bar", soft_box(64, 24, 6, 0, 0)},
      {"bar, one grey pixel at its edge", soft_box(64, 24, 6, 0, 1)},
      {"bar, two grey pixels at its edge", soft_box(64, 24, 6, 0, 2)},
      {"near-black bar, two grey pixels at its edge", soft_box(64, 24, 6, 12, 2)},
      {"blurred narrow bars", blurredBars},
  };
  for (Halftone mode : {Halftone::kAuto, Halftone::kPhoto})
    for (const auto& [what, p] : pages)
      EXPECT_EQ(pack(p, mode), pack(p, Halftone::kThreshold)) << what << ", mode " << int(mode);
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
