// The printer's side of the conversation: the queries a ZPL printer answers
// on its back-channel, their replies as the printer writes them, a reader
// that takes a reply in whatever pieces it arrives, and the conditions a
// reply tells, under neutral names that each front end translates (CUPS
// STATE: reasons, PAPPL reasons). Nothing here talks to CUPS or PAPPL.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The queries as they are sent. Tilde commands act as soon as the printer
// reads them, outside or inside a label; the line end only keeps logs tidy.
inline constexpr std::string_view kErrorStatusQuery = "~HQES\r\n";
inline constexpr std::string_view kHostStatusQuery = "~HS\r\n";
inline constexpr std::string_view kIdentificationQuery = "~HI\r\n";

// Everything the status costs a job: every wait, and through CUPS every
// side-channel call, together. A printer that answers does so within
// milliseconds.
inline constexpr std::chrono::milliseconds kStatusBudget{500};

inline constexpr char kStx = '\x02';
inline constexpr char kEtx = '\x03';

// What a printer can report. The order is that of kConditions.
enum class Condition : uint8_t {
  kMediaOut,
  kRibbonOut,
  kHeadOpen,
  kCutterFault,
  kHeadTooHot,
  kPaperJam,
  kPaused,
  kCalibrateMedia,
  kCleanHead,
  kReplaceHead,
  kMediaNearEnd,
};

// A set of conditions, one bit per Condition value.
using ConditionSet = uint32_t;

inline constexpr ConditionSet condition_bit(Condition c) { return ConditionSet{1} << static_cast<unsigned>(c); }

// One condition: its neutral name (also the word the virtual printer's state
// file uses), whether the ~HQES reply has it among the warnings or the
// errors, and its bit in group 1 of that line.
struct ConditionEntry {
  Condition condition;
  std::string_view name;
  bool warning;
  uint32_t bit;
  std::string_view text;  // for log lines: "media out"
};

inline constexpr std::array<ConditionEntry, 11> kConditions{{
    {Condition::kMediaOut, "media-out", false, 0x1, "media out"},
    {Condition::kRibbonOut, "ribbon-out", false, 0x2, "ribbon out"},
    {Condition::kHeadOpen, "head-open", false, 0x4, "head open"},
    {Condition::kCutterFault, "cutter-fault", false, 0x8, "cutter fault"},
    {Condition::kHeadTooHot, "head-too-hot", false, 0x10, "print head over temperature"},
    {Condition::kPaperJam, "paper-jam", false, 0x1000, "paper jam"},
    {Condition::kPaused, "paused", false, 0x10000, "paused"},
    {Condition::kCalibrateMedia, "calibrate-media", true, 0x1, "media needs calibrating"},
    {Condition::kCleanHead, "clean-head", true, 0x2, "print head needs cleaning"},
    {Condition::kReplaceHead, "replace-head", true, 0x4, "print head needs replacing"},
    {Condition::kMediaNearEnd, "media-near-end", true, 0x8, "media near its end"},
}};

// The conditions of a set in table order, each as its name or its text
// (word), joined by separator; empty for none.
std::string join_conditions(ConditionSet conditions, std::string_view ConditionEntry::*word,
                            std::string_view separator);

// The condition of a neutral name; false for a name the table lacks.
bool find_condition(std::string_view name, Condition& condition);

// --- ~HQES: the error status ---

// The two lines of the reply: each a flag (1 when any bit is set) and two
// 32-bit groups, written group 2 first.
struct ErrorStatus {
  uint32_t errors1 = 0, errors2 = 0;
  uint32_t warnings1 = 0, warnings2 = 0;
};

// The conditions the status reports.
ConditionSet conditions_of(const ErrorStatus& status);

// Bits that name no condition of the table (group 2 entire, unknown bits of
// group 1): the printer reports something else as well.
bool has_unknown_bits(const ErrorStatus& status);

// The status a printer with these conditions reports.
ErrorStatus error_status_of(ConditionSet conditions);

// The whole reply: STX CR LF "PRINTER STATUS" CR LF "ERRORS: f gggggggg
// hhhhhhhh" CR LF "WARNINGS: ..." CR LF ETX.
std::string format_error_status(const ErrorStatus& status);

// --- ~HS: host status, three strings ---

struct HostStatus {
  bool paperOut = false;
  bool paused = false;
  uint32_t labelLengthDots = 0;
  bool headOpen = false;
  bool ribbonOut = false;
};

// The conditions ~HS can tell: media out, paused, head open, ribbon out.
ConditionSet conditions_of(const HostStatus& status);

// The flags of those four a printer with these conditions reports; the
// label length stays 0.
HostStatus host_status_of(ConditionSet conditions);

// The three STX...ETX CR LF strings, with the fields ~HS does not carry
// from status at the values of an idle printer.
std::string format_host_status(const HostStatus& status);

// --- ~HI: identification ---

struct PrinterIdentity {
  std::string model;
  std::string version;
  uint32_t dotsPerMm = 0;
  uint32_t memoryKb = 0;
  std::string options;
};

// The resolution of the model (common/profile.h) whose printers report
// these dots per millimetre: 8, 12 or 24 give 203, 300 or 600 dpi; 0 for
// any other density.
int dpi_of_dots_per_mm(uint32_t dotsPerMm);

// The dots per millimetre a printer of the model of dpi reports: 8, 12,
// 24; 0 for a resolution no model has.
uint32_t dots_per_mm_of_dpi(int dpi);

// STX "model,version,dpmm,memoryKB,options" ETX.
std::string format_identification(const PrinterIdentity& identity);

// --- reading a reply ---

// What a reader holds at most: a whole ~HS reply is about 120 bytes, so
// anything longer is not a reply to our query.
inline constexpr size_t kMaxReplyBytes = 512;

enum class ReplyFormat : uint8_t { kErrorStatus, kHostStatus, kIdentification };

enum class ReplyProgress : uint8_t { kNeedMore, kComplete, kGarbled };

// A reply being read. Feed it every piece as it arrives; once complete, the
// decoded record of its format is filled. Line ends and spaces between the
// STX...ETX strings are skipped; anything else outside them, an STX inside
// one, more than kMaxReplyBytes or a text its format does not parse makes
// the reply garbled, and it stays so.
struct ReplyReader {
  ReplyFormat format = ReplyFormat::kErrorStatus;
  ReplyProgress progress = ReplyProgress::kNeedMore;
  std::array<char, kMaxReplyBytes> text{};  // the strings' contents, each ended by ETX
  size_t size = 0;
  uint8_t strings = 0;  // strings closed so far
  bool inString = false;
  ErrorStatus errorStatus;
  HostStatus hostStatus;
  PrinterIdentity identity;
};

// A reader waiting for a reply of this format.
ReplyReader reply_reader(ReplyFormat format);

// Takes the next piece of the reply. Bytes after the end of a complete
// reply are ignored.
ReplyProgress reply_feed(ReplyReader& reader, std::string_view piece);
