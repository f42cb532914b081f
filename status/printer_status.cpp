#include "status/printer_status.h"

#include <cstdio>

#include "common/profile.h"
#include "common/text.h"

namespace {

constexpr uint32_t kHostStatusFields1 = 12, kHostStatusFields2 = 11, kHostStatusFields3 = 2;

// The conditions ~HS carries, each as a flag of its own.
struct HostFlag {
  Condition condition;
  bool HostStatus::*field;
};
constexpr HostFlag kHostFlags[] = {
    {Condition::kMediaOut, &HostStatus::paperOut},
    {Condition::kPaused, &HostStatus::paused},
    {Condition::kHeadOpen, &HostStatus::headOpen},
    {Condition::kRibbonOut, &HostStatus::ribbonOut},
};

// The whole dots per millimetre a printer of the model reports in ~HI:
// 11.8 is reported as 12, 23.6 as 24.
constexpr uint32_t reported_dots_per_mm(const ModelProfile& model)
{
  return static_cast<uint32_t>(model.dotsPerMm + 0.5);
}

// The next line that is not empty, CR and LF dropped.
std::string_view take_line(std::string_view& text)
{
  std::string_view line;
  while (line.empty() && !text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    line = trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return line;
}

// Exactly eight hexadecimal digits.
bool parse_hex_group(std::string_view text, uint32_t& value)
{
  if (text.size() != 8)
    return false;
  value = 0;
  for (char c : text) {
    uint32_t digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<uint32_t>(c - '0');
    else if (c >= 'A' && c <= 'F')
      digit = static_cast<uint32_t>(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<uint32_t>(c - 'a' + 10);
    else
      return false;
    value = value << 4 | digit;
  }
  return true;
}

// A 0 or 1 flag field.
bool parse_flag(std::string_view text, bool& flag)
{
  if (text != "0" && text != "1")
    return false;
  flag = text == "1";
  return true;
}

// "ERRORS: 1 00000000 00000005": the label, the flag and both groups, group
// 2 first. The flag is not checked against the bits: the bits decide.
bool parse_status_line(std::string_view line, std::string_view label, uint32_t& group1, uint32_t& group2)
{
  bool flag = false;
  return take_word(line) == label && parse_flag(take_word(line), flag) && parse_hex_group(take_word(line), group2) &&
         parse_hex_group(take_word(line), group1) && trim(line).empty();
}

// The text of a ~HQES reply between STX and ETX: the heading and the two
// lines, each on its own line, nothing else.
bool decode_error_status(std::string_view text, ErrorStatus& status)
{
  return take_line(text) == "PRINTER STATUS" &&
         parse_status_line(take_line(text), "ERRORS:", status.errors1, status.errors2) &&
         parse_status_line(take_line(text), "WARNINGS:", status.warnings1, status.warnings2) &&
         take_line(text).empty();
}

// Splits a comma-separated string into its first N fields; false when it
// has fewer.
template <size_t N>
bool split_fields(std::string_view text, std::array<std::string_view, N>& fields)
{
  size_t n = 0;
  while (n < N && !text.empty())
    fields[n++] = trim(take_until(text, ','));
  return n == N;
}

// The three strings of a ~HS reply, each ended by ETX in text.
bool decode_host_status(std::string_view text, HostStatus& status)
{
  std::array<std::string_view, kHostStatusFields1> one;
  std::array<std::string_view, kHostStatusFields2> two;
  std::array<std::string_view, kHostStatusFields3> three;
  if (!split_fields(take_until(text, kEtx), one) || !split_fields(take_until(text, kEtx), two) ||
      !split_fields(take_until(text, kEtx), three))
    return false;
  return parse_flag(one[1], status.paperOut) && parse_flag(one[2], status.paused) &&
         parse_digits(one[3], status.labelLengthDots) && parse_flag(two[2], status.headOpen) &&
         parse_flag(two[3], status.ribbonOut);
}

// "8176KB" or "8176": the memory of a ~HI reply.
bool parse_memory(std::string_view text, uint32_t& kb)
{
  if (text.size() > 2 && text.substr(text.size() - 2) == "KB")
    text.remove_suffix(2);
  return parse_digits(text, kb);
}

// "model,version,dpmm,memory[,options]"; options may hold commas of their own.
bool decode_identification(std::string_view text, PrinterIdentity& identity)
{
  text = take_until(text, kEtx);
  identity.model = std::string(trim(take_until(text, ',')));
  identity.version = std::string(trim(take_until(text, ',')));
  const std::string_view density = trim(take_until(text, ','));
  const std::string_view memory = trim(take_until(text, ','));
  identity.options = std::string(trim(text));
  return !identity.model.empty() && parse_digits(density, identity.dotsPerMm) &&
         parse_memory(memory, identity.memoryKb);
}

// Strings a reply of the format consists of.
uint8_t strings_of(ReplyFormat format) { return format == ReplyFormat::kHostStatus ? 3 : 1; }

// Decodes a reader's complete text into the record of its format.
bool decode_reply(ReplyReader& reader)
{
  std::string_view text(reader.text.data(), reader.size);
  switch (reader.format) {
  case ReplyFormat::kErrorStatus: return decode_error_status(take_until(text, kEtx), reader.errorStatus);
  case ReplyFormat::kHostStatus: return decode_host_status(text, reader.hostStatus);
  case ReplyFormat::kIdentification: return decode_identification(text, reader.identity);
  }
  return false;
}

// Takes one byte of the reply; the progress after it.
ReplyProgress feed_byte(ReplyReader& reader, char c)
{
  if (!reader.inString) {
    if (c == kStx) {
      reader.inString = true;
      return ReplyProgress::kNeedMore;
    }
    return is_space(c) ? ReplyProgress::kNeedMore : ReplyProgress::kGarbled;
  }
  if (c == kStx || reader.size == reader.text.size())
    return ReplyProgress::kGarbled;
  reader.text[reader.size++] = c;
  if (c != kEtx)
    return ReplyProgress::kNeedMore;
  reader.inString = false;
  if (++reader.strings < strings_of(reader.format))
    return ReplyProgress::kNeedMore;
  return decode_reply(reader) ? ReplyProgress::kComplete : ReplyProgress::kGarbled;
}

}  // namespace

bool find_condition(std::string_view name, Condition& condition)
{
  for (const ConditionEntry& entry : kConditions) {
    if (entry.name == name) {
      condition = entry.condition;
      return true;
    }
  }
  return false;
}

std::string join_conditions(ConditionSet conditions, std::string_view ConditionEntry::*word,
                            std::string_view separator)
{
  std::string joined;
  for (const ConditionEntry& entry : kConditions) {
    if (!(conditions & condition_bit(entry.condition)))
      continue;
    if (!joined.empty())
      joined += separator;
    joined += entry.*word;
  }
  return joined;
}

ConditionSet conditions_of(const ErrorStatus& status)
{
  ConditionSet set = 0;
  for (const ConditionEntry& entry : kConditions)
    if ((entry.warning ? status.warnings1 : status.errors1) & entry.bit)
      set |= condition_bit(entry.condition);
  return set;
}

bool has_unknown_bits(const ErrorStatus& status)
{
  uint32_t knownErrors = 0, knownWarnings = 0;
  for (const ConditionEntry& entry : kConditions)
    (entry.warning ? knownWarnings : knownErrors) |= entry.bit;
  return status.errors2 != 0 || status.warnings2 != 0 || (status.errors1 & ~knownErrors) != 0 ||
         (status.warnings1 & ~knownWarnings) != 0;
}

ErrorStatus error_status_of(ConditionSet conditions)
{
  ErrorStatus status;
  for (const ConditionEntry& entry : kConditions)
    if (conditions & condition_bit(entry.condition))
      (entry.warning ? status.warnings1 : status.errors1) |= entry.bit;
  return status;
}

std::string format_error_status(const ErrorStatus& status)
{
  char text[128];
  std::snprintf(text, sizeof text, "%c\r\nPRINTER STATUS\r\nERRORS: %d %08X %08X\r\nWARNINGS: %d %08X %08X\r\n%c",
                kStx, (status.errors1 | status.errors2) ? 1 : 0, status.errors2, status.errors1,
                (status.warnings1 | status.warnings2) ? 1 : 0, status.warnings2, status.warnings1, kEtx);
  return text;
}

ConditionSet conditions_of(const HostStatus& status)
{
  ConditionSet set = 0;
  for (const HostFlag& flag : kHostFlags)
    if (status.*flag.field)
      set |= condition_bit(flag.condition);
  return set;
}

HostStatus host_status_of(ConditionSet conditions)
{
  HostStatus status;
  for (const HostFlag& flag : kHostFlags)
    status.*flag.field = (conditions & condition_bit(flag.condition)) != 0;
  return status;
}

std::string format_host_status(const HostStatus& status)
{
  char text[160];
  // String 1: communication settings, paper out, pause, label length,
  // formats waiting, buffer full, diagnostics, partial format, unused,
  // corrupt RAM, under and over temperature. String 2: function settings,
  // unused, head open, ribbon out, thermal transfer, print mode, width
  // mode, label waiting, labels left, format while printing, graphics
  // stored. String 3: password, static RAM.
  std::snprintf(text, sizeof text,
                "%c030,%d,%d,%04u,000,0,0,0,000,0,0,0%c\r\n%c001,0,%d,%d,1,2,6,0,00000000,1,000%c\r\n%c1234,0%c\r\n",
                kStx, status.paperOut ? 1 : 0, status.paused ? 1 : 0, status.labelLengthDots % 10000, kEtx, kStx,
                status.headOpen ? 1 : 0, status.ribbonOut ? 1 : 0, kEtx, kStx, kEtx);
  return text;
}

int dpi_of_dots_per_mm(uint32_t dotsPerMm)
{
  for (const ModelProfile* model : kModels)
    if (reported_dots_per_mm(*model) == dotsPerMm)
      return model->dpi;
  return 0;
}

uint32_t dots_per_mm_of_dpi(int dpi)
{
  const ModelProfile* model = find_model(dpi);
  return model ? reported_dots_per_mm(*model) : 0;
}

std::string format_identification(const PrinterIdentity& identity)
{
  return std::string(1, kStx) + identity.model + "," + identity.version + "," + std::to_string(identity.dotsPerMm) +
         "," + std::to_string(identity.memoryKb) + "KB," + identity.options + std::string(1, kEtx);
}

ReplyReader reply_reader(ReplyFormat format)
{
  ReplyReader reader;
  reader.format = format;
  return reader;
}

ReplyProgress reply_feed(ReplyReader& reader, std::string_view piece)
{
  for (size_t i = 0; i < piece.size() && reader.progress == ReplyProgress::kNeedMore; ++i)
    reader.progress = feed_byte(reader, piece[i]);
  return reader.progress;
}
