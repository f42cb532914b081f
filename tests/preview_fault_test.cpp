// zplpreview on labels damaged on purpose: each fault is named with its
// label, the status is not 0, and nothing crashes or reads out of bounds.
#include <gtest/gtest.h>

#include "zplread/render.h"
#include "zplread/zpl_parse.h"
#include "preview_helpers.h"

namespace {

// One sound label of the 300 dpi filter: a page of 61 x 37 dots, 8 bytes a
// row, 296 bytes in all.
class PreviewFault : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    const TestModel& model = test_model(300);
    page = noise_page(61, 37, 7);
    packed = pack_reference(page, model.threshold);
    label = filter_labels(model.filter, {page});
  }

  // zplpreview on the bytes, as a file, with the given options before it.
  ProcessResult preview(const std::string& labels, std::vector<std::string> options = {})
  {
    EXPECT_TRUE(write_file(dir.file("job.zpl"), labels));
    options.insert(options.begin(), build_paths().zplpreview);
    options.push_back(dir.file("job.zpl"));
    return run_program(build_paths().zplpreview, options, dir.path);
  }

  // The fault must show in the parsed label number n and in what the tool
  // says about it, with status 1; the tool also draws the damaged labels.
  void expect_fault(const std::string& labels, int n, const std::string& fault)
  {
    const ZplStream stream = parse_zpl(labels);
    EXPECT_FALSE(stream_sound(stream));
    ASSERT_GE(stream.labels.size(), static_cast<size_t>(n));
    const std::vector<std::string>& faults = stream.labels[n - 1].faults;
    bool found = false;
    for (const std::string& f : faults)
      found = found || f.find(fault) != std::string::npos;
    EXPECT_TRUE(found) << "label " << n << " faults: " << ::testing::PrintToString(faults);

    const ProcessResult result = preview(labels, {"--png", dir.file("label")});
    EXPECT_EQ(result.status, 1) << result.err;
    const std::string start = "zplpreview: label " + std::to_string(n) + ": ";
    bool said = false;
    for (size_t at = result.err.find(start); !said && at != std::string::npos; at = result.err.find(start, at + 1))
      said = result.err.substr(at, result.err.find('\n', at) - at).find(fault) != std::string::npos;
    EXPECT_TRUE(said) << result.err;
    EXPECT_NE(result.out.find("label " + std::to_string(n) + ": "), std::string::npos);
    EXPECT_NE(result.out.find("FAULT: "), std::string::npos) << result.out;
  }

  // The label with its zlib stream replaced, base64 and CRC made anew.
  static std::string with_stream(const std::vector<uint8_t>& stream, const std::string& counts = "296,296,8")
  {
    return with_graphic(label, counts, graphic_field(":Z64:", stream));
  }

  static GreyPage page;
  static std::vector<uint8_t> packed;
  static std::string label;
  TempDir dir;
};

GreyPage PreviewFault::page;
std::vector<uint8_t> PreviewFault::packed;
std::string PreviewFault::label;

// Sound as the printer gets it: alone, twice, and behind the status query
// a filter sends ahead of its first label (a tilde command, outside any
// label's format).
TEST_F(PreviewFault, TheUndamagedLabelIsSound)
{
  ASSERT_TRUE(stream_sound(parse_zpl(with_stream(zlib_stream(packed)))));
  for (const std::string& labels : {label, label + label, "~HQES\r\n" + label + label}) {
    EXPECT_TRUE(stream_sound(parse_zpl(labels))) << ::testing::PrintToString(parse_zpl(labels).labels[0].faults);
    const ProcessResult result = preview(labels);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
  }
}

// A damage done on purpose: what it damages, the labels, and the fault
// their first label must show.
struct Damage {
  const char* what;
  std::string labels;
  std::string fault;
};

// Each damage is named with its label: the graphic's CRC, base64, zlib
// stream and counts, sizes and positions no printer takes, other data forms
// and stray bytes. A dotted-line prefix where the label already began is
// the printer's own setting in the middle of a label.
TEST_F(PreviewFault, EachDamageIsNamedWithItsLabel)
{
  const std::vector<uint8_t> stream = zlib_stream(packed);
  const size_t z64 = label.find(":Z64:"), colon = label.find(':', z64 + 5);
  std::string crcChanged = label, textChanged = label;  // text changed, CRC kept
  crcChanged[colon + 1] = crcChanged[colon + 1] == '0' ? '1' : '0';
  textChanged[z64 + 9] = textChanged[z64 + 9] == 'A' ? 'B' : 'A';
  const std::string field = graphic_field(":Z64:", stream);
  std::string text = field.substr(5, field.rfind(':') - 5);
  text[8] = '*';
  std::vector<uint8_t> badHeader = stream, badCheck = stream, longer = stream;
  badHeader[0] ^= 0x0F;
  badCheck.back() ^= 0x55;
  longer.push_back(0);
  auto cut = [&](size_t size) { return with_stream({stream.begin(), stream.begin() + static_cast<long>(size)}); };
  auto counted = [&](const std::string& counts) { return with_stream(stream, counts); };
  auto base64 = [&](const std::string& b64) {
    return with_graphic(label, "296,296,8", graphic_field_text(":Z64:", b64));
  };
  const Damage damages[] = {
      {"PrefixAfterTheLabelBegan", "^MN" + label, "a second dotted-line prefix at offset 3"},
      {"PrefixAfterTheLabelBegan", label.substr(0, 7) + label, "a second dotted-line prefix at offset 7"},
      {"PrefixAfterTheLabelBegan", "~HQES\r\n" + label.substr(0, 7) + label,
       "a second dotted-line prefix at offset 14"},
      {"WrongCrc", crcChanged, "wrong CRC"},
      {"WrongCrc", textChanged, "wrong CRC"},
      {"WrongCrc", replaced(label, label.substr(colon, 5), ":12G4"), "is not four hexadecimal digits"},
      {"WrongCrc", with_graphic(label, "296,296,8", ":Z64:eJwDAAAAAAE="), "no CRC"},
      {"Base64", base64(text), "base64 does not decode: '*' at character 9"},
      {"Base64", base64(text.substr(0, text.size() - 1)), "base64 does not decode"},
      {"Base64", base64("eJ=w" + text.substr(4)), "base64 does not decode"},
      {"ZlibDoesNotInflate", with_stream(badHeader), "zlib stream does not inflate"},
      {"ZlibDoesNotInflate", with_stream(badCheck), "zlib stream does not inflate"},
      {"ZlibDoesNotInflate", with_stream(packed), "zlib stream does not inflate"},  // no zlib at all
      {"ZlibTruncated", cut(stream.size() / 2), "zlib stream is truncated"},
      // Every data byte there, the check value cut off.
      {"ZlibTruncated", cut(stream.size() - 4), "zlib stream is truncated: it ends after 296 of 296"},
      {"ZlibTruncated", cut(1), "zlib stream is truncated"},
      {"ZlibTruncated", with_stream(longer), "zlib stream is followed by 1 more bytes"},
      {"InflatedSize", counted("304,304,8"), "zlib stream inflates to 296 bytes, the ^GFA counts say 304"},
      {"InflatedSize", counted("288,288,8"), "zlib stream inflates to more than the 288 bytes the ^GFA counts say"},
      {"InflatedSize", with_graphic(label, "288,288,8", graphic_field(":B64:", packed)),
       "base64 data gives 296 bytes, the ^GFA counts say 288"},
      {"InflatedSize", with_graphic(label, "304,304,8", hex_field(packed, 8)), "hex data has 592 digits"},
      {"CountsDisagree", counted("296,297,8"), "^GFA counts disagree: byte count 296, field count 297"},
      {"CountsDisagree", counted("296,x,8"), "^GFA field count 'x' is not a number"},
      {"CountsDisagree", replaced(label, "^GFA,296,296,8,", "^GFA,296,296,"),
       "^GF needs a format, three counts and data"},
      {"RowLength", counted("296,296,9"), "row length 9 does not divide the size 296"},
      {"RowLength", counted("296,296,0"), "row length 0 does not divide the size 296"},
      // Refused before anything is allocated for them.
      {"HugeCounts", counted("4294967296,4294967296,1"), "^GFA announces 4294967296 bytes, more than"},
      {"HugeCounts", counted("9999999999,9999999999,1"), "more than"},
      {"HugeCounts", counted("99999999999,99999999999,8"), "is not a number"},
      {"HugeCounts", replaced(label, "^PW708", "^PW4000000000"), "^PW 4000000000 is more than the 32000 dots"},
      {"HugeCounts", replaced(label, "^LL472", "^LL-5"), "^LL '-5' is not a size in dots"},
      {"HugeCounts", replaced(label, "^FO0,0,0", "^FO-7,3,0"), "is not a position in dots"},
      {"OtherData", with_graphic(label, "296,296,8", ":Z65:AAAA:0000"), "unknown data form ':Z65:'"},
      {"OtherData", with_graphic(label, "296,296,8", "FF,\r\n"), "(compressed hexadecimal is not checked)"},
      {"OtherData", replaced(label, "^GFA,", "^GFB,"), "^GF format 'B' is not checked"},
      {"StrayBytes", replaced(label, "^GFA,", "^G)A,"), "'^G)' at offset 67 is not a ZPL command"},
      {"StrayBytes", replaced(label, "~SD7", "~SD7\x01"), "stray bytes"},
      {"StrayBytes", replaced(label, "~SD7", "~SD-1"), "~SD '-1' is not a darkness"},
      {"StrayBytes", replaced(label, "^PR4", "^PR4\r\nX"), "^PR '4??X' is not a print rate"},
      {"StrayBytes", replaced(label, "^MN", "junk^MN"), "4 stray bytes at offset 7"},
      {"StrayBytes", replaced(label, kDottedLineSwitch.substr(0, 3), "\x1F\x1A"), "stray bytes at offset 0"},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(std::string(damage.what) + ": " + damage.fault);
    expect_fault(damage.labels, 1, damage.fault);
  }
}

TEST_F(PreviewFault, LabelThatDoesNotEndWithXZ)
{
  const std::string open = replaced(label, "^XZ", "");
  expect_fault(open, 1, "does not end with ^XZ");
  // The next label still reads, and is sound.
  const ZplStream stream = parse_zpl(open + label);
  ASSERT_EQ(stream.labels.size(), 2u);
  EXPECT_TRUE(stream.labels[1].faults.empty()) << ::testing::PrintToString(stream.labels[1].faults);
  expect_fault(open + label, 1, "does not end with ^XZ: a dotted-line prefix follows at offset");
  expect_fault(label + open, 2, "does not end with ^XZ");
  // Without the prefix, the next ^XA shows it.
  const std::string bare = open.substr(7);
  expect_fault(bare + bare, 1, "does not end with ^XZ: a new ^XA follows at offset");
}

TEST_F(PreviewFault, NothingOrOnlyDebrisIsNotSound)
{
  ProcessResult result = preview("");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "zplpreview: no label in the input\n");

  const std::string tail = label + label.substr(0, 10);
  result = preview(tail);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("zplpreview: a dotted-line prefix after the last label"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("zplpreview: commands after the last label, outside any ^XA..^XZ: ^MN"),
            std::string::npos)
      << result.err;

  result = run_program(build_paths().zplpreview, {build_paths().zplpreview, dir.file("missing.zpl")}, dir.path);
  EXPECT_EQ(result.status, 2);
  // Only the resolutions of the models: no millimetres from a guessed one.
  for (const char* dpi : {"400", "0300", "300x", ""}) {
    SCOPED_TRACE(dpi);
    result = preview(tail, {"--dpi", dpi});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "usage: zplpreview [--dpi 300|203|600] [--png PREFIX] [FILE|-]\n");
  }
}

// Every cut of two labels and a set of single-byte changes at every
// position: parsed and drawn without a crash (the sanitizer build checks
// every read), and never sound with half a label.
TEST_F(PreviewFault, CutsAndChangedBytesNeverCrash)
{
  const std::string two = label + label;
  auto parse_and_draw = [](std::string_view bytes) {
    const ZplStream stream = parse_zpl(bytes);
    for (const Label& l : stream.labels) {
      const PictureSize size = picture_size(l);
      std::vector<uint8_t> row((size.width + 7) / 8);
      for (uint32_t y = 0; y < size.height; ++y)
        draw_row(l, size, y, row.data());
    }
    return stream_sound(stream);
  };
  for (size_t cut = 0; cut < two.size(); ++cut) {
    const std::string part = two.substr(0, cut);
    if (parse_and_draw(part)) {
      const size_t end = part.find_last_not_of("\r\n");
      EXPECT_EQ(part.substr(end - 2, 3), "^XZ") << "sound after a cut at " << cut;
    }
  }
  const char kChanges[] = {'^', '~', ':', ',', '0', '\0', '\x1F', '\n'};
  for (size_t at = 0; at < label.size(); ++at)
    for (char change : kChanges) {
      std::string changed = label;
      changed[at] = change;
      parse_and_draw(changed);
      changed.insert(at, 1, change);
      parse_and_draw(changed);
    }
}

}  // namespace
