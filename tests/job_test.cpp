// Whole jobs through every model's program: rasters in, labels decoded back
// to dots.
#include <gtest/gtest.h>

#include "support.h"

namespace {

class Job : public ::testing::TestWithParam<TestModel> {
protected:
  ProcessResult run(const std::vector<GreyPage>& pages, const std::string& options = "")
  {
    return run_filter(GetParam().filter, pages, dir.path, {options});
  }

  TempDir dir;
};

TEST_P(Job, EveryDotOfEveryPageComesBack)
{
  const std::vector<GreyPage> pages = {noise_page(61, 37, 1, 2), noise_page(8, 5, 2, 1), noise_page(1, 3, 3, 5)};
  const ProcessResult result = run(pages);
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "PAGE: 1 2\nPAGE: 2 1\nPAGE: 3 5\n");

  std::vector<DecodedLabel> labels;
  ASSERT_TRUE(decode_labels(result.out, labels));
  ASSERT_EQ(labels.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(labels[i].hasHeader, GetParam().header);
    EXPECT_EQ(labels[i].rowBytes, (pages[i].width + 7) / 8);
    EXPECT_EQ(labels[i].copies, static_cast<int>(pages[i].copies));
    EXPECT_EQ(labels[i].packed, pack_reference(pages[i], GetParam().threshold));
  }
}

// Whole jobs in each halftone mode: Threshold is today's conversion byte for
// byte, sharp art is the same in every mode, and grey art is halftoned the
// same way on every run.
TEST_P(Job, HalftoneModes)
{
  GreyPage art = noise_page(77, 41, 4);
  for (uint8_t& v : art.pixels)
    v = v < 128 ? 0 : 255;
  GreyPage grey = white_page(64, 48);
  for (size_t i = 0; i < grey.pixels.size(); ++i)
    grey.pixels[i] = static_cast<uint8_t>(40 + i % 177);

  const std::string plain = run({art, grey}).out;
  EXPECT_EQ(run({art, grey}, "Halftone=Threshold").out, plain);
  for (const char* mode : {"Auto", "Photo"}) {
    SCOPED_TRACE(mode);
    const std::string options = std::string("Halftone=") + mode;
    const ProcessResult first = run({art, grey}, options);
    ASSERT_EQ(first.status, 0);
    EXPECT_EQ(run({art, grey}, options).out, first.out);
    EXPECT_EQ(run({art}, options).out, run({art}).out);

    std::vector<DecodedLabel> labels;
    ASSERT_TRUE(decode_labels(first.out, labels));
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_NE(labels[1].packed, pack_reference(grey, GetParam().threshold));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, Job, ::testing::ValuesIn(test_models()), ParamName());

}  // namespace
