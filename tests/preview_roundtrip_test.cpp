// zplpreview on what the filters write: every dot of each decoded graphic
// is the raster that went in, and each picture places it as ^FO and ^PO say,
// clipped to ^PW by ^LL.
#include <gtest/gtest.h>

#include "zplread/zpl_parse.h"
#include "preview_helpers.h"

namespace {

// The prefix byte a model writes by default, -1 for none.
int dotted_line(const TestModel& m) { return m.header ? 0 : -1; }

class PreviewRoundTrip : public ::testing::TestWithParam<TestModel> {
protected:
  // zplpreview on labels, pictures to dir/label-n.png.
  ProcessResult preview(const std::string& labels, std::vector<std::string> extra = {})
  {
    EXPECT_TRUE(write_file(dir.file("job.zpl"), labels));
    std::vector<std::string> args = {build_paths().zplpreview, "--png", dir.file("label")};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(dir.file("job.zpl"));
    return run_program(build_paths().zplpreview, args, dir.path);
  }

  // Picture n as written, compared with one drawn by hand.
  void expect_picture(int n, const std::vector<uint8_t>& packed, size_t rowBytes, uint32_t width, uint32_t height,
                      int x, int y, bool inverted)
  {
    SCOPED_TRACE("picture " + std::to_string(n));
    uint32_t w = 0, h = 0;
    const std::vector<uint8_t> pixels = read_png(dir.file("label-" + std::to_string(n) + ".png"), w, h);
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);
    const std::vector<uint8_t> expected = expected_picture(packed, rowBytes, width, height, x, y, inverted);
    size_t wrong = 0;
    for (size_t i = 0; i < expected.size(); ++i)
      wrong += pixels[i] != expected[i];
    EXPECT_EQ(wrong, 0u) << "dots drawn wrong";
  }

  // The label of a 61 x 37 noise page (8 bytes a row, 296 in all), and
  // its dots as packed.
  std::string small_label(uint32_t seed, std::vector<uint8_t>& packed)
  {
    const GreyPage page = noise_page(61, 37, seed);
    packed = pack_reference(page, GetParam().threshold);
    return filter_labels(GetParam().filter, {page});
  }

  TempDir dir;
};

TEST_P(PreviewRoundTrip, EveryDotComesBackAndIsDrawnWhereTheLabelSays)
{
  const TestModel& m = GetParam();
  // One page wider and longer than the label, so the picture clips it, and
  // one small page of an odd width.
  const std::vector<GreyPage> pages = {noise_page(750, 500, 11, 2), noise_page(61, 37, 12, 1)};
  const std::string labels = filter_labels(m.filter, pages);

  const ZplStream stream = parse_zpl(labels);
  ASSERT_TRUE(stream_sound(stream));
  ASSERT_EQ(stream.labels.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE(i);
    const Label& label = stream.labels[i];
    EXPECT_EQ(label.number, static_cast<int>(i + 1));
    EXPECT_EQ(label.dottedLine, dotted_line(m));
    EXPECT_EQ(label.width, dots(m, 60));
    EXPECT_EQ(label.length, dots(m, 40));
    EXPECT_TRUE(label.inverted);
    EXPECT_TRUE(label.ended);
    EXPECT_EQ(label.speed, "4");
    EXPECT_EQ(label.darkness, "7");
    EXPECT_EQ(label.copies, static_cast<int64_t>(pages[i].copies));
    EXPECT_EQ(label.notDrawn, (std::vector<std::string>{"^MN", "^MM", "^LS"}));
    ASSERT_EQ(label.graphics.size(), 1u);
    const Graphic& g = label.graphics[0];
    EXPECT_EQ(g.form, GraphicForm::Z64);
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.rowBytes, (pages[i].width + 7) / 8);
    EXPECT_EQ(g.dots, pack_reference(pages[i], m.threshold));
  }

  const ProcessResult result = preview(labels, {"--dpi", std::to_string(m.dpi)});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const Graphic& first = stream.labels[0].graphics[0];
  const std::string line1 = "label 1: " + std::to_string(dots(m, 60)) + "x" + std::to_string(dots(m, 40)) +
                            " dots (60.0x40.0 mm), speed 4, darkness 7, copies 2, graphic 47000 bytes raw, " +
                            std::to_string(first.sentBytes) + " sent" + (m.header ? ", dotted line off" : "") +
                            ", not drawn: ^MN ^MM ^LS; OK\n";
  EXPECT_EQ(result.out.substr(0, result.out.find('\n') + 1), line1);
  EXPECT_NE(result.out.find("\nlabel 2: "), std::string::npos);
  for (size_t i = 0; i < pages.size(); ++i)
    expect_picture(static_cast<int>(i + 1), pack_reference(pages[i], m.threshold), (pages[i].width + 7) / 8,
                   dots(m, 60), dots(m, 40), 0, 0, true);
}

TEST_P(PreviewRoundTrip, FieldOriginLabelHomeAndOrientationPlaceTheGraphic)
{
  const TestModel& m = GetParam();
  std::vector<uint8_t> packed;
  const std::string label = small_label(21, packed);

  // Upright, pushed over the right and bottom edges; and turned, moved by
  // ^LH and ^FO together.
  const uint32_t width = dots(m, 60), length = dots(m, 40);
  const int edgeX = dots(m, 60) - 20, edgeY = dots(m, 40) - 9;
  const std::string upright = replaced(replaced(label, "^POI", "^PON"), "^FO0,0,0",
                                       "^FO" + std::to_string(edgeX) + "," + std::to_string(edgeY) + ",0");
  const std::string moved = replaced(replaced(label, "^LH0,0", "^LH10,5"), "^FO0,0,0", "^FO30,20,0");
  const ProcessResult result = preview(upright + moved);
  EXPECT_EQ(result.status, 0) << result.err;

  const ZplStream stream = parse_zpl(upright + moved);
  ASSERT_EQ(stream.labels.size(), 2u);
  EXPECT_FALSE(stream.labels[0].inverted);
  EXPECT_EQ(stream.labels[1].graphics.at(0).x, 40);
  EXPECT_EQ(stream.labels[1].graphics.at(0).y, 25);
  expect_picture(1, packed, 8, width, length, edgeX, edgeY, false);
  expect_picture(2, packed, 8, width, length, 40, 25, true);
}

TEST_P(PreviewRoundTrip, B64AndHexDataGiveTheSameDots)
{
  const TestModel& m = GetParam();
  std::vector<uint8_t> packed;
  const std::string label = small_label(31, packed);
  const std::string counts = "296,296,8";
  const std::string b64 = with_graphic(label, counts, graphic_field(":B64:", packed));
  const std::string hex = with_graphic(label, counts, hex_field(packed, 8));

  const ZplStream stream = parse_zpl(b64 + hex);
  ASSERT_TRUE(stream_sound(stream));
  ASSERT_EQ(stream.labels.size(), 2u);
  EXPECT_EQ(stream.labels[0].graphics.at(0).form, GraphicForm::B64);
  EXPECT_EQ(stream.labels[1].graphics.at(0).form, GraphicForm::Hex);
  EXPECT_EQ(stream.labels[0].graphics.at(0).dots, packed);
  EXPECT_EQ(stream.labels[1].graphics.at(0).dots, packed);

  const ProcessResult result = preview(b64 + hex);
  EXPECT_EQ(result.status, 0) << result.err;
  expect_picture(1, packed, 8, dots(m, 60), dots(m, 40), 0, 0, true);
  expect_picture(2, packed, 8, dots(m, 60), dots(m, 40), 0, 0, true);
}

TEST_P(PreviewRoundTrip, LabelSizeAndDottedLineFromTheJob)
{
  const TestModel& m = GetParam();
  const std::string labels =
      filter_labels(m.filter, {noise_page(40, 30, 41)}, "PageSize=2.00x1.00in DottedLine=1");
  const ZplStream stream = parse_zpl(labels);
  ASSERT_TRUE(stream_sound(stream));
  ASSERT_EQ(stream.labels.size(), 1u);
  // 51 x 25 mm.
  EXPECT_EQ(stream.labels[0].width, dots(m, 51));
  EXPECT_EQ(stream.labels[0].length, dots(m, 25));
  EXPECT_EQ(stream.labels[0].dottedLine, m.header ? 1 : -1);

  // The same from standard input, without pictures.
  ASSERT_TRUE(write_file(dir.file("job.zpl"), labels));
  const ProcessResult result =
      run_program(build_paths().zplpreview, {build_paths().zplpreview}, dir.path, dir.file("job.zpl"));
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string size = "label 1: " + std::to_string(dots(m, 51)) + "x" + std::to_string(dots(m, 25)) + " dots, ";
  EXPECT_EQ(result.out.rfind(size, 0), 0u) << result.out;
  EXPECT_EQ(result.out.find("dotted line on") != std::string::npos, m.header) << result.out;
}

INSTANTIATE_TEST_SUITE_P(EveryModel, PreviewRoundTrip, ::testing::ValuesIn(test_models()), ParamName());

}  // namespace
