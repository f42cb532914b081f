// The printer's status replies as functions: a ~HQES reply read whole, byte
// by byte or in odd pieces gives the same verdict, and what is not a reply,
// or too long to be one, is garbled. (The STATE: lines they become are
// checked through CUPS itself, in e2e/status_test.cpp.)
#include <gtest/gtest.h>

#include "status/printer_status.h"

namespace {

constexpr char kStx = '\x02', kEtx = '\x03';

// A reply as printers pad it: spaces before the labels and between fields.
std::string padded(const std::string& errors, const std::string& warnings)
{
  return std::string(1, kStx) + "\r\n  PRINTER STATUS\r\n   ERRORS:         " + errors + "\r\n   WARNINGS:       " +
         warnings + "\r\n" + kEtx + "\r\n";
}

struct ReplyCase {
  const char* name;
  std::string text;
  ReplyProgress progress;
  ConditionSet conditions;  // when complete
  bool unknown;
};

const ReplyCase kReplyCases[] = {
    {"Ready", padded("0 00000000 00000000", "0 00000000 00000000"), ReplyProgress::kComplete, 0, false},
    {"ErrorsAndWarningsLowerCaseHex", padded("1 00000000 00011005", "1 00000000 0000000a"), ReplyProgress::kComplete,
     condition_bit(Condition::kMediaOut) | condition_bit(Condition::kHeadOpen) | condition_bit(Condition::kPaperJam) |
         condition_bit(Condition::kPaused) | condition_bit(Condition::kCleanHead) |
         condition_bit(Condition::kMediaNearEnd),
     false},
    {"GroupTwoAndUnknownBitsAreOther", padded("1 00000100 00000020", "1 00000000 00000010"),
     ReplyProgress::kComplete, 0, true},
    {"LineEndsBeforeAndBytesAfter", "\r\n" + padded("1 00000000 00000002", "0 00000000 00000000") + "^XA junk",
     ReplyProgress::kComplete, condition_bit(Condition::kRibbonOut), false},
    {"NoEtxYet", padded("0 00000000 00000000", "0 00000000 00000000").substr(0, 60), ReplyProgress::kNeedMore, 0,
     false},
    {"TextBeforeTheStx", "OK" + padded("0 00000000 00000000", "0 00000000 00000000"), ReplyProgress::kGarbled, 0,
     false},
    {"AnotherQuerysReply", "\x02" "030,1,0,1216,000,0,0,0,000,0,0,0\x03\r\n", ReplyProgress::kGarbled, 0, false},
    {"SevenDigitGroup", padded("1 0000000 00000001", "0 00000000 00000000"), ReplyProgress::kGarbled, 0, false},
    {"FlagNotZeroOrOne", padded("2 00000000 00000001", "0 00000000 00000000"), ReplyProgress::kGarbled, 0, false},
    {"DigitsReplacedByTheVirtualPrinter", padded("? ???????? ????????", "? ???????? ????????"), ReplyProgress::kGarbled,
     0, false},
    {"WarningsMissing", std::string(1, kStx) + "\r\nPRINTER STATUS\r\nERRORS: 0 00000000 00000000\r\n" + kEtx,
     ReplyProgress::kGarbled, 0, false},
    {"StxInsideTheReply", padded("0 00000000 \x02" "0000000", "0 00000000 00000000"), ReplyProgress::kGarbled, 0,
     false},
    {"LongerThanAnyReply", std::string(1, kStx) + std::string(kMaxReplyBytes, 'A') + kEtx, ReplyProgress::kGarbled, 0,
     false},
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class ErrorStatusReply : public ::testing::TestWithParam<ReplyCase> {};

// Pieces of 1, 7 and all bytes: a reply split anywhere reads the same.
TEST_P(ErrorStatusReply, SameVerdictInAnyPieces)
{
  const ReplyCase& c = GetParam();
  for (const size_t piece : {size_t{1}, size_t{7}, c.text.size()}) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    ReplyReader reader = reply_reader(ReplyFormat::kErrorStatus);
    for (size_t at = 0; at < c.text.size(); at += piece)
      reply_feed(reader, std::string_view(c.text).substr(at, piece));
    ASSERT_EQ(reader.progress, c.progress);
    EXPECT_LE(reader.size, kMaxReplyBytes);
    if (c.progress == ReplyProgress::kComplete) {
      EXPECT_EQ(conditions_of(reader.errorStatus), c.conditions);
      EXPECT_EQ(has_unknown_bits(reader.errorStatus), c.unknown);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Replies, ErrorStatusReply, ::testing::ValuesIn(kReplyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A garbled reply stays garbled: a good reply after it is not taken.
TEST(ErrorStatusReply, GarbledStaysGarbled)
{
  ReplyReader reader = reply_reader(ReplyFormat::kErrorStatus);
  EXPECT_EQ(reply_feed(reader, "?"), ReplyProgress::kGarbled);
  EXPECT_EQ(reply_feed(reader, padded("1 00000000 00000001", "0 00000000 00000000")), ReplyProgress::kGarbled);
}

}  // namespace
