// The printer application's status pieces as functions: which PAPPL reasons
// a reply's conditions become and which are never touched, when a silent
// printer is asked again, the printer addresses of device URIs, and the
// model a ~HI reply or a device ID stands for.
#include <string>

#include <gtest/gtest.h>

#include "app/auto_detect.h"
#include "app/printer_status.h"

namespace {

struct ReasonCase {
  const char* name;
  ConditionSet conditions;
  bool unknownBits;
  bool duringJob;
  pappl_preason_t reasons;
};

ConditionSet bits(std::initializer_list<Condition> conditions)
{
  ConditionSet set = 0;
  for (Condition condition : conditions)
    set |= condition_bit(condition);
  return set;
}

const ReasonCase kReasonCases[] = {
    {"Ready", 0, false, false, PAPPL_PREASON_NONE},
    {"MediaOut", bits({Condition::kMediaOut}), false, false, PAPPL_PREASON_MEDIA_EMPTY},
    {"MediaOutDuringJob", bits({Condition::kMediaOut}), false, true,
     PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_NEEDED},
    {"RibbonOut", bits({Condition::kRibbonOut}), false, true, PAPPL_PREASON_MARKER_SUPPLY_EMPTY},
    {"HeadOpen", bits({Condition::kHeadOpen}), false, false, PAPPL_PREASON_COVER_OPEN},
    {"PaperJam", bits({Condition::kPaperJam}), false, false, PAPPL_PREASON_MEDIA_JAM},
    {"MediaNearEnd", bits({Condition::kMediaNearEnd}), false, false, PAPPL_PREASON_MEDIA_LOW},
    {"PausedIsOther", bits({Condition::kPaused}), false, false, PAPPL_PREASON_OTHER},
    {"CleanHeadIsOther", bits({Condition::kCleanHead}), false, false, PAPPL_PREASON_OTHER},
    {"UnknownBitsAreOther", 0, true, false, PAPPL_PREASON_OTHER},
    {"Several", bits({Condition::kMediaOut, Condition::kHeadOpen, Condition::kCutterFault}), false, false,
     PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_OTHER},
};

class Reasons : public ::testing::TestWithParam<ReasonCase> {};

// Decoded from the printer's own reply, so that the bits of the table and
// the reasons are checked together.
TEST_P(Reasons, OfTheReply)
{
  const ReasonCase& c = GetParam();
  ErrorStatus status = error_status_of(c.conditions);
  if (c.unknownBits)
    status.errors2 = 0x4;
  ReplyReader reader = reply_reader(ReplyFormat::kErrorStatus);
  ASSERT_EQ(reply_feed(reader, format_error_status(status)), ReplyProgress::kComplete);
  EXPECT_EQ(reasons_of(conditions_of(reader.errorStatus), has_unknown_bits(reader.errorStatus), c.duringJob),
            c.reasons);
}

INSTANTIATE_TEST_SUITE_P(EveryCondition, Reasons, ::testing::ValuesIn(kReasonCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Reasons PAPPL or anyone else set stay, whatever this driver wants.
TEST(ReasonChange, TouchesOnlyTheDriversReasons)
{
  const pappl_preason_t foreign[] = {PAPPL_PREASON_TONER_LOW, PAPPL_PREASON_DOOR_OPEN, PAPPL_PREASON_SPOOL_AREA_FULL,
                                     PAPPL_PREASON_IDENTIFY_PRINTER_REQUESTED};
  for (pappl_preason_t other : foreign) {
    const ReasonChange change = reason_change(PAPPL_PREASON_MEDIA_EMPTY | other, PAPPL_PREASON_COVER_OPEN | other);
    EXPECT_EQ(change.add, PAPPL_PREASON_COVER_OPEN);
    EXPECT_EQ(change.remove, PAPPL_PREASON_MEDIA_EMPTY);
  }
  const ReasonChange none = reason_change(PAPPL_PREASON_OFFLINE, PAPPL_PREASON_OFFLINE);
  EXPECT_EQ(none.add | none.remove, PAPPL_PREASON_NONE);
}

TEST(Backoff, DoublesFromFiveSecondsToAMinuteAndEndsWithAnAnswer)
{
  const LinkClock::time_point start{};
  QueryBackoff backoff;
  EXPECT_TRUE(query_due(backoff, start));
  const int expected[] = {5, 10, 20, 40, 60, 60};
  for (int seconds : expected) {
    note_silence(backoff, start);
    EXPECT_FALSE(query_due(backoff, start + std::chrono::seconds(seconds) - std::chrono::milliseconds(1)));
    EXPECT_TRUE(query_due(backoff, start + std::chrono::seconds(seconds)));
  }
  note_answer(backoff);
  EXPECT_TRUE(query_due(backoff, start));
}

TEST(PrinterAddress, FromZplAndSocketUrisOnly)
{
  const struct {
    const char* uri;
    const char* host;  // null: no printer address
    int port;
  } cases[] = {
      {"zpl://192.0.2.20", "192.0.2.20", 9100},    {"zpl://printer:6101/", "printer", 6101},
      {"socket://127.0.0.1:9100", "127.0.0.1", 9100}, {"socket://[::1]:9101/", "::1", 9101},
      {"file:///tmp/labels", nullptr, 0},          {"usb://Maker/Model?serial=1", nullptr, 0},
      {"zpl:///nohost", nullptr, 0},               {"not a uri", nullptr, 0},
  };
  for (const auto& c : cases) {
    PrinterAddress address;
    ASSERT_EQ(parse_printer_address(c.uri, address), c.host != nullptr) << c.uri;
    if (!c.host)
      continue;
    EXPECT_EQ(address.host, c.host) << c.uri;
    EXPECT_EQ(address.port, c.port) << c.uri;
  }
}

TEST(AutoDetection, ModelOfTheIdentificationReply)
{
  const struct {
    uint32_t dotsPerMm;
    int dpi;  // 0: refused
  } cases[] = {{8, 203}, {12, 300}, {24, 600}, {6, 0}, {0, 0}};
  for (const auto& c : cases) {
    ReplyReader reader = reply_reader(ReplyFormat::kIdentification);
    ASSERT_EQ(reply_feed(reader, format_identification({"ZT-TEST", "V9", c.dotsPerMm, 4096, ""})),
              ReplyProgress::kComplete);
    const Detection detection = model_of_identity(reader.identity);
    EXPECT_EQ(detection.model ? detection.model->dpi : 0, c.dpi) << c.dotsPerMm;
    EXPECT_NE(detection.why.find(std::to_string(c.dotsPerMm) + " dots/mm"), std::string::npos) << detection.why;
  }
}

// The device ID PAPPL makes for a printer from its make and model.
TEST(AutoDetection, ModelOfTheDeviceIdPapplKeeps)
{
  for (const ModelProfile* model : kModels) {
    const std::string id = "MFG:Generic;MDL:ZPL Label Printer " + std::to_string(model->dpi) +
                           "dpi;CMD:PWGRaster,URF,ZPL,JPEG,PNG;";
    EXPECT_EQ(model_of_device_id(id.c_str()), model) << id;
  }
  for (const char* other : {"MFG:Zebra;MDL:ZT410;CMD:ZPL;", "MFG:Generic;MDL:ZPL Label Printer 150dpi;", "", "garbage"})
    EXPECT_EQ(model_of_device_id(other), nullptr) << other;
  EXPECT_EQ(model_of_device_id(nullptr), nullptr);
}

}  // namespace
