// Packing grey pixels into printer dots, built once per printer model, and
// the millimetre-to-dot arithmetic of every model.
#include <cstdio>
#include <vector>

#include <gtest/gtest.h>

#include "common/log.h"
#include "common/profile.h"
#include "raster/raster.h"
#include "support.h"

namespace {

#if ZPL_MODEL == 300 || ZPL_MODEL == 600
constexpr int kThreshold = 155;
#elif ZPL_MODEL == 203
constexpr int kThreshold = 156;
#else
#error "packing_test.cpp knows no threshold for this model"
#endif

// Packs a grey page of rows x (8 * bytesPerRow) pixels into a buffer that
// starts as `fill`.
std::vector<uint8_t> pack(const std::vector<uint8_t>& grey, int32_t bytesPerRow, int32_t rows, uint8_t fill = 0)
{
  std::vector<uint8_t> packed(static_cast<size_t>(bytesPerRow > 0 && rows > 0 ? bytesPerRow * rows : 1), fill);
  Gray2Bytes(grey.data(), packed.data(), bytesPerRow, rows, kThreshold);
  return packed;
}

// The grey page the page loop makes of a raster page: rows padded with white
// up to a multiple of 8 pixels.
std::vector<uint8_t> padded(const GreyPage& page)
{
  const size_t stride = (size_t{page.width} + 7) / 8 * 8;
  std::vector<uint8_t> grey(stride * page.height, 255);
  for (size_t y = 0; y < page.height; ++y)
    std::copy_n(page.pixels.begin() + static_cast<long>(y * page.width), page.width, grey.begin() + static_cast<long>(y * stride));
  return grey;
}

TEST(Packing, EveryGreyValueAgainstTheModelThreshold)
{
  for (int v = 0; v < 256; ++v) {
    const std::vector<uint8_t> grey(8, static_cast<uint8_t>(v));
    EXPECT_EQ(pack(grey, 1, 1)[0], v < kThreshold ? 0xFF : 0x00) << "grey " << v;
  }
}

TEST(Packing, LeftmostPixelIsTheMostSignificantBit)
{
  for (int x = 0; x < 24; ++x) {
    std::vector<uint8_t> grey(24, 255);
    grey[static_cast<size_t>(x)] = 0;
    std::vector<uint8_t> want(3, 0);
    want[static_cast<size_t>(x / 8)] = static_cast<uint8_t>(0x80 >> (x % 8));
    EXPECT_EQ(pack(grey, 3, 1), want) << "column " << x;
  }
}

TEST(Packing, RowsFollowOneAnotherWithoutGaps)
{
  std::vector<uint8_t> grey(3 * 16, 255);
  grey[1 * 16 + 9] = 0;   // row 1, column 9
  grey[2 * 16 + 0] = 10;  // row 2, column 0
  EXPECT_EQ(pack(grey, 2, 3), (std::vector<uint8_t>{0, 0, 0, 0x40, 0x80, 0}));
}

TEST(Packing, WidthsThatAreNotAMultipleOfEight)
{
  for (uint32_t width : {1u, 7u, 9u, 13u, 61u}) {
    const GreyPage page = noise_page(width, 5, width);
    EXPECT_EQ(pack(padded(page), static_cast<int32_t>((width + 7) / 8), 5), pack_reference(page, kThreshold))
        << "width " << width;
  }
}

TEST(Packing, BlackPageStopsAtThePageWidthAndWhitePageIsEmpty)
{
  GreyPage black = white_page(20, 2);
  std::fill(black.pixels.begin(), black.pixels.end(), 0);
  EXPECT_EQ(pack(padded(black), 3, 2), (std::vector<uint8_t>{0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xF0}));
  EXPECT_EQ(pack(padded(white_page(20, 2)), 3, 2), std::vector<uint8_t>(6, 0));

  GreyPage thin = white_page(1, 2);
  std::fill(thin.pixels.begin(), thin.pixels.end(), 0);
  EXPECT_EQ(pack(padded(thin), 1, 2), (std::vector<uint8_t>{0x80, 0x80}));
}

TEST(Packing, OnlySetsBits)
{
  std::vector<uint8_t> grey(16, 255);
  grey[0] = 0;
  EXPECT_EQ(pack(grey, 2, 1, 0x01), (std::vector<uint8_t>{0x81, 0x01}));
}

TEST(Packing, EmptyPageTouchesNothingButStillLogs)
{
  pLogFile = std::tmpfile();
  ASSERT_NE(pLogFile, nullptr);
  const std::vector<uint8_t> grey(8, 0);
  EXPECT_EQ(pack(grey, 1, 0, 0x5A), std::vector<uint8_t>{0x5A});
  EXPECT_EQ(pack(grey, 0, 1, 0x5A), std::vector<uint8_t>{0x5A});
  EXPECT_EQ(pack(grey, -1, -1, 0x5A), std::vector<uint8_t>{0x5A});

  std::rewind(pLogFile);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), pLogFile));
  CloseLog();
  const std::vector<std::string> lines = log_messages(text);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "Gray2Bytes: Enter function\r\n");
  EXPECT_EQ(lines[1], "Gray2Bytes: Exit function11\r\n");
}

// ---------------------------------------------------------------------------
// Millimetres to dots: every profile is at hand in any build, so these run
// once.
#if ZPL_MODEL == 300

TEST(Dots, KnownSizesOfEveryModel)
{
  struct Row {
    int16_t mm;
    int at300, at203, at600;
  };
  for (const Row& r : {Row{25, 295, 200, 590}, Row{51, 601, 408, 1203}, Row{76, 896, 608, 1793},
                       Row{40, 472, 320, 944}, Row{60, 708, 480, 1416}, Row{102, 1203, 816, 2407},
                       Row{152, 1793, 1216, 3587}, Row{1, 11, 8, 23}, Row{0, 0, 0, 0}, Row{-5, -59, -40, -118},
                       Row{32767, 386650, 262136, 773301}, Row{-32768, -386662, -262144, -773324}}) {
    EXPECT_EQ(mm_to_dots(kProfile300, r.mm), r.at300) << r.mm << " mm";
    EXPECT_EQ(mm_to_dots(kProfile203, r.mm), r.at203) << r.mm << " mm";
    EXPECT_EQ(mm_to_dots(kProfile600, r.mm), r.at600) << r.mm << " mm";
  }
}

TEST(Dots, WholeProductsNeverTruncateBelowThemselves)
{
  // 11.8 and 23.6 dots to the millimetre are 118 / 10 and 236 / 10: the
  // truncated double product must agree with exact integer arithmetic for
  // every size, or whole products would lose a dot.
  struct Model {
    const ModelProfile& profile;
    int tenths;
  };
  for (const Model& m : {Model{kProfile300, 118}, Model{kProfile203, 80}, Model{kProfile600, 236}}) {
    SCOPED_TRACE(m.profile.dpi);
    for (int mm = -32768; mm <= 32767; ++mm) {
      const int exact = mm >= 0 ? mm * m.tenths / 10 : -(-mm * m.tenths / 10);
      ASSERT_EQ(mm_to_dots(m.profile, static_cast<int16_t>(mm)), exact) << mm << " mm";
    }
  }
}

TEST(Models, EachResolutionFindsItsProfile)
{
  EXPECT_EQ(find_model(300), &kProfile300);
  EXPECT_EQ(find_model(203), &kProfile203);
  EXPECT_EQ(find_model(600), &kProfile600);
  for (int dpi : {0, 200, 301, 599, -600})
    EXPECT_EQ(find_model(dpi), nullptr) << dpi;
}
#endif

}  // namespace
