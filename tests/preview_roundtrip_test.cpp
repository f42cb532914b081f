// zplpreview on what the filters write: every dot of each decoded graphic
// is the raster that went in, and each picture places it as ^FO and ^PO say,
// clipped to ^PW by ^LL.
#include <gtest/gtest.h>

#include "preview/zpl_parse.h"
#include "preview_helpers.h"

namespace {

struct Model {
  const char* name;
  const char* program;
  const char* dpi;  // as zplpreview --dpi takes it
  int threshold;
  int dottedLine;  // the prefix byte the model writes by default, -1 for none
  int width, length;  // the default 60 x 40 mm label in dots
  const char* millimetres;
  int width51, length25;  // a 2.00x1.00in label, 51 x 25 mm, in dots
};
constexpr Model k300{"300dpi", FILTER_300, "300", 155, 0, 708, 472, "(60.0x40.0 mm)", 601, 295};
constexpr Model k203{"203dpi", FILTER_203, "203", 156, -1, 480, 320, "(60.0x40.0 mm)", 408, 200};
constexpr Model k600{"600dpi", FILTER_600, "600", 155, -1, 1416, 944, "(60.0x40.0 mm)", 1203, 590};
void PrintTo(const Model& m, std::ostream* os) { *os << m.name; }

class PreviewRoundTrip : public ::testing::TestWithParam<Model> {
protected:
  void SetUp() override { dir = make_temp_dir(); }
  void TearDown() override { remove_tree(dir); }

  // zplpreview on labels, pictures to dir/label-n.png.
  ProcessResult preview(const std::string& labels, std::vector<std::string> extra = {})
  {
    EXPECT_TRUE(write_file(dir + "/job.zpl", labels));
    std::vector<std::string> args = {ZPLPREVIEW, "--png", dir + "/label"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(dir + "/job.zpl");
    return run_program(ZPLPREVIEW, args, dir);
  }

  // Picture n as written, compared with one drawn by hand.
  void expect_picture(int n, const std::vector<uint8_t>& packed, size_t rowBytes, uint32_t width, uint32_t height,
                      int x, int y, bool inverted)
  {
    SCOPED_TRACE("picture " + std::to_string(n));
    uint32_t w = 0, h = 0;
    const std::vector<uint8_t> pixels = read_png(dir + "/label-" + std::to_string(n) + ".png", w, h);
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);
    const std::vector<uint8_t> expected = expected_picture(packed, rowBytes, width, height, x, y, inverted);
    size_t wrong = 0;
    for (size_t i = 0; i < expected.size(); ++i)
      wrong += pixels[i] != expected[i];
    EXPECT_EQ(wrong, 0u) << "dots drawn wrong";
  }

  std::string dir;
};

TEST_P(PreviewRoundTrip, EveryDotComesBackAndIsDrawnWhereTheLabelSays)
{
  const Model& m = GetParam();
  // One page wider and longer than the label, so the picture clips it, and
  // one small page of an odd width.
  const std::vector<GreyPage> pages = {noise_page(750, 500, 11, 2), noise_page(61, 37, 12, 1)};
  const std::string labels = filter_labels(m.program, pages);

  const ZplStream stream = parse_zpl(labels);
  ASSERT_TRUE(stream_sound(stream));
  ASSERT_EQ(stream.labels.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE(i);
    const Label& label = stream.labels[i];
    EXPECT_EQ(label.number, static_cast<int>(i + 1));
    EXPECT_EQ(label.dottedLine, m.dottedLine);
    EXPECT_EQ(label.width, m.width);
    EXPECT_EQ(label.length, m.length);
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

  const ProcessResult result = preview(labels, {"--dpi", m.dpi});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const Graphic& first = stream.labels[0].graphics[0];
  const std::string line1 = "label 1: " + std::to_string(m.width) + "x" + std::to_string(m.length) + " dots " +
                            m.millimetres + ", speed 4, darkness 7, copies 2, graphic 47000 bytes raw, " +
                            std::to_string(first.sentBytes) + " sent" +
                            (m.dottedLine < 0 ? "" : ", dotted line off") + ", not drawn: ^MN ^MM ^LS; OK\n";
  EXPECT_EQ(result.out.substr(0, result.out.find('\n') + 1), line1);
  EXPECT_NE(result.out.find("\nlabel 2: "), std::string::npos);
  for (size_t i = 0; i < pages.size(); ++i)
    expect_picture(static_cast<int>(i + 1), pack_reference(pages[i], m.threshold), (pages[i].width + 7) / 8,
                   m.width, m.length, 0, 0, true);
}

TEST_P(PreviewRoundTrip, FieldOriginLabelHomeAndOrientationPlaceTheGraphic)
{
  const Model& m = GetParam();
  const GreyPage page = noise_page(61, 37, 21);
  const std::vector<uint8_t> packed = pack_reference(page, m.threshold);
  const std::string label = filter_labels(m.program, {page});

  // Upright, pushed over the right and bottom edges; and turned, moved by
  // ^LH and ^FO together.
  const int edgeX = m.width - 20, edgeY = m.length - 9;
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
  expect_picture(1, packed, 8, m.width, m.length, edgeX, edgeY, false);
  expect_picture(2, packed, 8, m.width, m.length, 40, 25, true);
}

TEST_P(PreviewRoundTrip, B64AndHexDataGiveTheSameDots)
{
  const Model& m = GetParam();
  const GreyPage page = noise_page(61, 37, 31);
  const std::vector<uint8_t> packed = pack_reference(page, m.threshold);
  const std::string label = filter_labels(m.program, {page});
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
  expect_picture(1, packed, 8, m.width, m.length, 0, 0, true);
  expect_picture(2, packed, 8, m.width, m.length, 0, 0, true);
}

TEST_P(PreviewRoundTrip, LabelSizeAndDottedLineFromTheJob)
{
  const Model& m = GetParam();
  const std::string labels =
      filter_labels(m.program, {noise_page(40, 30, 41)}, "PageSize=2.00x1.00in DottedLine=1");
  const ZplStream stream = parse_zpl(labels);
  ASSERT_TRUE(stream_sound(stream));
  ASSERT_EQ(stream.labels.size(), 1u);
  // 51 x 25 mm.
  EXPECT_EQ(stream.labels[0].width, m.width51);
  EXPECT_EQ(stream.labels[0].length, m.length25);
  EXPECT_EQ(stream.labels[0].dottedLine, m.dottedLine < 0 ? -1 : 1);

  // The same from standard input, without pictures.
  ASSERT_TRUE(write_file(dir + "/job.zpl", labels));
  const ProcessResult result = run_program(ZPLPREVIEW, {ZPLPREVIEW}, dir, dir + "/job.zpl");
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string size = "label 1: " + std::to_string(m.width51) + "x" + std::to_string(m.length25) + " dots, ";
  EXPECT_EQ(result.out.rfind(size, 0), 0u) << result.out;
  EXPECT_EQ(result.out.find("dotted line on") != std::string::npos, m.dottedLine >= 0) << result.out;
}

INSTANTIATE_TEST_SUITE_P(EveryModel, PreviewRoundTrip, ::testing::Values(k300, k203, k600),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
