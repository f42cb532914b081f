// The vector packing against a plain per-pixel loop: random pages of many
// widths, at the models' thresholds (155, 156) and at the ends of the
// threshold range.
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "filter/model.h"
#include "raster/pack.h"
#include "raster/raster.h"

namespace {

// Pixel by pixel, exactly as a packed page is defined.
std::vector<uint8_t> reference_pack(const std::vector<uint8_t>& grey, size_t count, int threshold)
{
  std::vector<uint8_t> packed(count, 0);
  for (size_t x = 0; x < 8 * count; ++x)
    if (grey[x] < threshold)
      packed[x / 8] = static_cast<uint8_t>(packed[x / 8] | (0x80 >> (x % 8)));
  return packed;
}

// A page of width x rows as the page loop lays it out: rows padded with
// white to a multiple of 8. Pixels are uniform noise, or (near) values
// within two of the threshold, where an off-by-one compare would show.
std::vector<uint8_t> random_page(std::mt19937& rng, uint32_t width, uint32_t rows, int threshold, bool near)
{
  const uint32_t stride = (width + 7) / 8 * 8;
  std::vector<uint8_t> grey(size_t{stride} * rows, 255);
  std::uniform_int_distribution<int> any(0, 255), offset(-2, 2);
  for (uint32_t y = 0; y < rows; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const int v = near ? threshold + offset(rng) : any(rng);
      grey[size_t{y} * stride + x] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  return grey;
}

std::vector<uint32_t> widths()
{
  std::vector<uint32_t> w;
  for (uint32_t i = 1; i <= 70; ++i)
    w.push_back(i);
  for (uint32_t i : {127u, 128u, 129u, 812u, 1200u, 1201u, 2399u, 4096u})
    w.push_back(i);
  return w;
}

// pack_grey(threshold) equals the reference for every width, and keeps the
// bits that were already set, at any alignment of the grey page.
void check_threshold(int threshold)
{
  std::mt19937 rng(static_cast<uint32_t>(threshold) * 7919u + 1u);
  std::uniform_int_distribution<uint32_t> rowCount(1, 5), misalign(0, 15);
  for (uint32_t width : widths()) {
    for (bool near : {false, true}) {
      const uint32_t rows = rowCount(rng);
      const std::vector<uint8_t> page = random_page(rng, width, rows, threshold, near);
      const size_t count = page.size() / 8;
      SCOPED_TRACE(testing::Message() << "threshold " << threshold << ", width " << width << ", rows "
                                      << rows << (near ? ", near threshold" : ", noise"));

      // The same pixels at an odd address, ending at the end of the vector
      // so that any read past the page is caught by the sanitizer build.
      const size_t shift = misalign(rng);
      std::vector<uint8_t> shifted(shift + page.size());
      std::copy(page.begin(), page.end(), shifted.begin() + static_cast<std::ptrdiff_t>(shift));

      std::vector<uint8_t> packed(count, 0);
      pack_grey(shifted.data() + shift, packed.data(), count, threshold);
      const std::vector<uint8_t> expected = reference_pack(page, count, threshold);
      ASSERT_EQ(packed, expected);

      std::vector<uint8_t> preset(count);
      for (uint8_t& b : preset)
        b = static_cast<uint8_t>(rng());
      std::vector<uint8_t> ored = preset;
      pack_grey(shifted.data() + shift, ored.data(), count, threshold);
      for (size_t i = 0; i < count; ++i)
        ASSERT_EQ(ored[i], preset[i] | expected[i]) << "byte " << i;
    }
  }
}

// The models' thresholds, and the ends and middle of the range.
TEST(PackReference, MatchesPlainLoopAtEveryThresholdOfNote)
{
  for (int threshold : {0, 1, 127, 128, 129, 155, 156, 254, 255})
    check_threshold(threshold);
}

// Gray2Bytes as built into this program, with the model's own threshold,
// on the page loop's layout: rows of 8 * bytesPerRow pixels.
TEST(PackReference, Gray2BytesUsesTheModelThreshold)
{
  std::mt19937 rng(20261208u);
  for (uint32_t width : {1u, 7u, 9u, 17u, 63u, 1201u}) {
    for (bool near : {false, true}) {
      const uint32_t rows = 3;
      const std::vector<uint8_t> page = random_page(rng, width, rows, g_model.monoThreshold, near);
      const int32_t bytesPerRow = static_cast<int32_t>((width + 7) / 8);
      std::vector<uint8_t> packed(page.size() / 8, 0);
      Gray2Bytes(page.data(), packed.data(), bytesPerRow, static_cast<int32_t>(rows), g_model.monoThreshold);
      EXPECT_EQ(packed, reference_pack(page, packed.size(), g_model.monoThreshold)) << "width " << width;
    }
  }
}

TEST(PackReference, EmptyCountTouchesNothing)
{
  const uint8_t grey[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  uint8_t packed[1] = {0x5A};
  pack_grey(grey, packed, 0, 155);
  EXPECT_EQ(packed[0], 0x5A);
}

}  // namespace
