// The exact bytes of the labels the programs write, and how the page loop
// treats unusual raster streams.
#include <zlib.h>

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "support.h"

namespace {

struct Model {
  const char* name;
  const char* path;
  bool header;  // sends the 7-byte dotted-line header
  int threshold;
  int tenthDotsPerMm;      // dots per 10 mm
  const char* size51x25;  // the set-up line of a 2.00x1.00in label
};

void PrintTo(const Model& m, std::ostream* os) { *os << m.name; }

constexpr Model k300{"zplfilter300", FILTER_300, true, 155, 118, "^PW601^LS0^POI^LL295\r\n"};
constexpr Model k203{"zplfilter203", FILTER_203, false, 156, 80, "^PW408^LS0^POI^LL200\r\n"};
constexpr Model k600{"zplfilter600", FILTER_600, false, 155, 236, "^PW1203^LS0^POI^LL590\r\n"};

// Label width or length in dots, in exact integer arithmetic.
int dots(const Model& model, int mm)
{
  return mm >= 0 ? mm * model.tenthDotsPerMm / 10 : -(-mm * model.tenthDotsPerMm / 10);
}

std::string base64(const std::vector<uint8_t>& raw)
{
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < raw.size(); i += 3) {
    const uint32_t group = uint32_t{raw[i]} << 16 | (i + 1 < raw.size() ? uint32_t{raw[i + 1]} << 8 : 0) |
                           (i + 2 < raw.size() ? raw[i + 2] : 0);
    for (int k = 0; k < 4; ++k)
      text += k <= static_cast<int>(raw.size() - i) ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
  }
  return text;
}

// The graphic data as a printer expects it: ":Z64:", text, ":", CRC, CR LF.
std::string z64(const std::vector<uint8_t>& packed)
{
  const std::string text = base64(zlib_stream(packed));
  char crc[8];
  std::snprintf(crc, sizeof crc, "%04X", crc16_reference(text));
  return ":Z64:" + text + ":" + crc + "\r\n";
}

struct LabelSettings {
  int widthMm = 60, lengthMm = 40, speed = 4, darkness = 7, dottedLine = 0;
};

// One complete label, built from the printer's point of view.
std::string expected_label(const Model& model, const LabelSettings& s, const GreyPage& page)
{
  std::string label;
  if (model.header && (s.dottedLine == 0 || s.dottedLine == 1))
    label += std::string("\x1F\x1B\x1A\x01\x03\x01", 6) + static_cast<char>(s.dottedLine);
  const std::vector<uint8_t> packed = pack_reference(page, model.threshold);
  const size_t rowBytes = (page.width + 7) / 8;
  label += "^MN^XA^LH0,0^MMT^PW" + std::to_string(dots(model, s.widthMm)) + "^LS0^POI^LL" +
           std::to_string(dots(model, s.lengthMm)) + "\r\n";
  label += "^PR" + std::to_string(s.speed) + "\r\n~SD" + std::to_string(s.darkness) + "\r\n^FO0,0,0\r\n";
  label += "^GFA," + std::to_string(packed.size()) + "," + std::to_string(packed.size()) + "," +
           std::to_string(rowBytes) + ",";
  label += z64(packed);
  label += "^PQ" + std::to_string(page.copies) + "^XZ\r\n";
  return label;
}

class Labels : public ::testing::TestWithParam<Model> {
protected:
  void SetUp() override { dir = make_temp_dir(); }
  void TearDown() override { remove_tree(dir); }

  ProcessResult run_file(const std::string& raster, const std::string& options = "",
                         const std::vector<std::string>& env = {"-PPD"})
  {
    const Model& m = GetParam();
    return run_program(m.path, {m.path, "5", "dave", "labels", "1", options, raster}, dir, {}, env);
  }

  ProcessResult run(const std::vector<GreyPage>& pages, const std::string& options = "",
                    cups_mode_t mode = CUPS_RASTER_WRITE_COMPRESSED)
  {
    EXPECT_TRUE(write_raster(dir + "/job.ras", pages, mode));
    return run_file(dir + "/job.ras", options);
  }

  std::vector<std::string> log() { return log_messages(read_file(dir + "/quilby.log")); }

  std::string dir;
};

// ---------------------------------------------------------------------------
// Bytes of a label

TEST_P(Labels, DefaultLabelByteForByte)
{
  GreyPage page = white_page(16, 2, 3);
  page.pixels[0] = 0, page.pixels[17] = 100;
  const ProcessResult result = run({page});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "PAGE: 1 3\n");
  EXPECT_EQ(result.out, expected_label(GetParam(), {}, page));
}

TEST_P(Labels, JobSettingsReachTheSetUpCommands)
{
  const GreyPage page = noise_page(40, 6, 4);
  const ProcessResult result = run({page}, "PageSize=2.00x1.00in Darkness=20 PrintSpeed=60 DottedLine=1");
  ASSERT_EQ(result.status, 0);
  LabelSettings s;
  s.widthMm = 51, s.lengthMm = 25, s.speed = 6, s.darkness = 20, s.dottedLine = 1;
  EXPECT_EQ(result.out, expected_label(GetParam(), s, page));
  EXPECT_NE(result.out.find(GetParam().size51x25), std::string::npos);
}

TEST_P(Labels, DottedLineOutsideZeroAndOneSendsNoHeader)
{
  const GreyPage page = noise_page(9, 3, 5);
  const ProcessResult result = run({page}, "DottedLine=2 PageSize=3.00x3.00in");
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.out.rfind("^MN^XA", 0), 0u);
  LabelSettings s;
  s.widthMm = s.lengthMm = 76, s.dottedLine = 2;
  EXPECT_EQ(result.out, expected_label(GetParam(), s, page));
  for (const std::string& line : log())
    EXPECT_EQ(line.find("bitmap doc->dottedLine"), std::string::npos);
}

TEST_P(Labels, NegativeSizeIsPrintedWithItsSign)
{
  ASSERT_TRUE(write_file(dir + "/q.ppd", "*PPD-Adobe: \"4.3\"\n*DefaultPageSize: Custom.-5x3mm\n"));
  ASSERT_TRUE(write_raster(dir + "/job.ras", {white_page(8, 1)}));
  const ProcessResult result = run_file(dir + "/job.ras", "", {"PPD=" + dir + "/q.ppd"});
  ASSERT_EQ(result.status, 0);
  const std::string want = "^PW" + std::to_string(dots(GetParam(), -5)) + "^LS0^POI^LL" +
                           std::to_string(dots(GetParam(), 3)) + "\r\n";
  EXPECT_NE(result.out.find(want), std::string::npos) << want;
  EXPECT_NE(want.find("^PW-"), std::string::npos);
}

TEST_P(Labels, TwoPagesGiveTwoCompleteLabels)
{
  const GreyPage first = noise_page(61, 7, 11, 2), second = noise_page(8, 30, 12, 5);
  const ProcessResult result = run({first, second});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "PAGE: 1 2\nPAGE: 2 5\n");
  EXPECT_EQ(result.out, expected_label(GetParam(), {}, first) + expected_label(GetParam(), {}, second));
}

TEST_P(Labels, PlainCompressedAndStandardInputGiveTheSameBytes)
{
  const std::vector<GreyPage> pages = {noise_page(33, 9, 21, 1), white_page(1, 1, 4)};
  const ProcessResult compressed = run(pages, "", CUPS_RASTER_WRITE_COMPRESSED);
  const ProcessResult plain = run(pages, "", CUPS_RASTER_WRITE);
  EXPECT_EQ(compressed.out, expected_label(GetParam(), {}, pages[0]) + expected_label(GetParam(), {}, pages[1]));
  EXPECT_EQ(plain.out, compressed.out);

  const Model& m = GetParam();
  const ProcessResult piped = run_program(m.path, {m.path, "5", "dave", "labels", "1", ""}, dir, dir + "/job.ras", {"-PPD"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "PAGE: 1 1\nPAGE: 2 4\n");
  EXPECT_EQ(piped.out, compressed.out);
}

// ---------------------------------------------------------------------------
// Unusual streams

TEST_P(Labels, ShortPageKeepsItsHeightWithBlankRows)
{
  GreyPage page = noise_page(20, 3, 31, 1);
  page.claimedHeight = 10;
  const ProcessResult result = run({page}, "", CUPS_RASTER_WRITE);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "PAGE: 1 1\n");
  std::vector<DecodedLabel> labels;
  std::string error;
  ASSERT_TRUE(decode_labels(result.out, labels, error)) << error;
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].totalBytes, 3u * 10u);
  EXPECT_EQ(labels[0].packed, pack_reference(page, GetParam().threshold));
}

TEST_P(Labels, EmptyPageHeaderEndsTheJob)
{
  const GreyPage first = noise_page(12, 4, 41, 2), later = noise_page(12, 4, 42, 1);
  for (const char* emptyField : {"cupsHeight", "cupsBytesPerLine"}) {
    SCOPED_TRACE(emptyField);
    RawPage empty = raw_page(white_page(12, 4));
    empty.data.clear();
    if (std::strcmp(emptyField, "cupsHeight") == 0)
      empty.header.cupsHeight = 0;
    else
      empty.header.cupsBytesPerLine = 0;
    ASSERT_TRUE(write_raw_pages(dir + "/job.ras", {raw_page(first), empty, raw_page(later)}));
    const ProcessResult result = run_file(dir + "/job.ras");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "PAGE: 1 2\n");
    EXPECT_EQ(result.out, expected_label(GetParam(), {}, first));
  }
}

TEST_P(Labels, StreamsWithoutPagesPrintNothing)
{
  ASSERT_TRUE(write_raster(dir + "/none.ras", {}));
  ASSERT_TRUE(write_file(dir + "/empty.ras", ""));
  ASSERT_TRUE(write_file(dir + "/text.ras", "%!PS-Adobe-3.0\n"));
  for (const char* name : {"/none.ras", "/empty.ras", "/text.ras"}) {
    SCOPED_TRACE(name);
    const ProcessResult result = run_file(dir + name);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
  }
}

TEST_P(Labels, PagesThatDoNotFitAreRefusedAfterTheirPageLine)
{
  const GreyPage first = noise_page(16, 3, 51, 1);
  RawPage wide = raw_page(noise_page(16, 3, 52, 1));
  wide.header.cupsBytesPerLine = 32;  // two bytes per pixel
  wide.data.resize(32 * 3, 0);
  RawPage noWidth = raw_page(white_page(8, 3));
  noWidth.header.cupsWidth = 0;
  RawPage huge = raw_page(white_page(8, 1));
  huge.header.cupsWidth = huge.header.cupsBytesPerLine = 70000;
  huge.header.cupsHeight = 70000;
  huge.data.clear();

  for (const RawPage& bad : {wide, noWidth, huge}) {
    SCOPED_TRACE(bad.header.cupsWidth);
    ASSERT_TRUE(write_raw_pages(dir + "/job.ras", {raw_page(first), bad, raw_page(first)}));
    const ProcessResult result = run_file(dir + "/job.ras");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, expected_label(GetParam(), {}, first));
    const std::string pages = "PAGE: 1 1\nPAGE: 2 1\n";
    ASSERT_EQ(result.err.compare(0, pages.size(), pages), 0) << result.err;
    const std::string message = result.err.substr(pages.size());
    EXPECT_EQ(message.rfind("ERROR: ", 0), 0u) << message;
    EXPECT_EQ(message.find('\n'), message.size() - 1) << "one line: " << message;
    if (bad.header.cupsHeight == 70000) {
      EXPECT_EQ(message, "ERROR: Unable to allocate memory\n");
    }
    EXPECT_EQ(log().back(), "Exit main");
  }
}

// ---------------------------------------------------------------------------
// The log of a page

TEST_P(Labels, PageLogLinesInOrder)
{
  GreyPage page = white_page(16, 2, 1);
  page.pixels[3] = 0;
  const ProcessResult result = run({page});
  ASSERT_EQ(result.status, 0);

  const std::vector<uint8_t> stream = zlib_stream(pack_reference(page, GetParam().threshold));
  const std::string text = base64(stream);
  const std::string zlibText(stream.begin(), std::find(stream.begin(), stream.end(), 0));
  std::vector<std::string> want = {"cups_file is not null",
                                   "cupsBitsPerColor == 1 16 2",
                                   "Gray2Bytes: Enter function\r\n",
                                   "Gray2Bytes: Exit function11\r\n",
                                   "Len:" + std::to_string(compressBound(4)) + "\n",
                                   "pZlib1:" + zlibText + "\n",
                                   "comprLen:" + std::to_string(stream.size()) + "\n",
                                   "err:0\n",
                                   "base64Len == " + std::to_string(text.size()),
                                   "Base64Encode Start",
                                   "Base64Encode End",
                                   "base64Buffer " + std::to_string(static_cast<unsigned char>(text[0])),
                                   "crc " + std::to_string(crc16_reference(text))};
  if (GetParam().header)
    want.push_back("bitmap doc->dottedLine 0");
  want.push_back("cmd_str:~SD7\r\n");
  want.push_back("Exit main");

  const std::vector<std::string> lines = log();
  ASSERT_GE(lines.size(), want.size());
  EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(want.size()), lines.end()), want);
}

TEST_P(Labels, CompressedDataLineStopsAtTheStreamEnd)
{
  // A page whose zlib stream holds no zero byte: the line must end with the
  // stream, not run on into the rest of the buffer.
  GreyPage page;
  std::vector<uint8_t> stream;
  for (uint32_t seed = 1; seed < 200; ++seed) {
    page = noise_page(24, 4, seed);
    stream = zlib_stream(pack_reference(page, GetParam().threshold));
    if (std::find(stream.begin(), stream.end(), 0) == stream.end())
      break;
  }
  ASSERT_EQ(std::find(stream.begin(), stream.end(), 0), stream.end()) << "no seed without a zero byte";
  // Fresh heap memory is often zero, which would hide a line that runs on;
  // have glibc fill it with non-zero bytes.
  ASSERT_TRUE(write_raster(dir + "/job.ras", {page}));
  ASSERT_EQ(run_file(dir + "/job.ras", "", {"-PPD", "MALLOC_PERTURB_=165"}).status, 0);
  const std::string want = "pZlib1:" + std::string(stream.begin(), stream.end()) + "\n";
  const std::vector<std::string> lines = log();
  EXPECT_NE(std::find(lines.begin(), lines.end(), want), lines.end());
}

INSTANTIATE_TEST_SUITE_P(EveryModel, Labels, ::testing::Values(k300, k203, k600),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The programs side by side

TEST(Models, DifferOnlyInHeaderSizeAndThreshold)
{
  const std::string dir = make_temp_dir();
  GreyPage page = noise_page(50, 20, 77, 2);
  for (uint8_t& pixel : page.pixels)
    pixel = pixel == 155 ? 154 : pixel;
  ASSERT_TRUE(write_raster(dir + "/job.ras", {page, page}));
  const std::vector<std::string> args = {"5", "dave", "labels", "1", "PageSize=4.00x6.00in", dir + "/job.ras"};
  auto run = [&](const char* path) {
    std::vector<std::string> full = args;
    full.insert(full.begin(), path);
    return run_program(path, full, dir, {}, {"-PPD"}).out;
  };
  const std::string out300 = run(FILTER_300);

  // The 300 dpi labels without their headers, at another model's size.
  auto as_model = [&](const std::string& sizeLine) {
    std::string out = out300;
    const std::string header("\x1F\x1B\x1A\x01\x03\x01\x00", 7);
    for (int label = 0; label < 2; ++label) {
      const size_t at = out.find(header);
      EXPECT_NE(at, std::string::npos);
      if (at == std::string::npos)
        return std::string();
      out.erase(at, header.size());
      const size_t size = out.find("^PW1203^LS0^POI^LL1793\r\n");
      EXPECT_NE(size, std::string::npos);
      if (size == std::string::npos)
        return std::string();
      out.replace(size, 24, sizeLine);
    }
    return out;
  };
  EXPECT_EQ(as_model("^PW816^LS0^POI^LL1216\r\n"), run(FILTER_203));
  EXPECT_EQ(as_model("^PW2407^LS0^POI^LL3587\r\n"), run(FILTER_600));

  // A grey of exactly 155 prints only on the 203 dpi model.
  ASSERT_TRUE(write_raster(dir + "/job.ras", {GreyPage{8, 1, 1, std::vector<uint8_t>(8, 155), 0}}));
  for (const auto& [path, dot] : {std::pair{FILTER_300, 0x00}, std::pair{FILTER_203, 0xFF}, std::pair{FILTER_600, 0x00}}) {
    SCOPED_TRACE(path);
    std::vector<DecodedLabel> labels;
    std::string error;
    ASSERT_TRUE(decode_labels(run(path), labels, error)) << error;
    EXPECT_EQ(labels.at(0).packed, std::vector<uint8_t>{static_cast<uint8_t>(dot)});
  }
  remove_tree(dir);
}

}  // namespace
