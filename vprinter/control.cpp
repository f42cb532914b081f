#include "vprinter/control.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/text.h"

namespace {

// Settings that take a number, and the smallest and largest they take.
struct NumberSetting {
  std::string_view name;
  uint32_t PrinterState::*field;
  uint32_t min;
  uint32_t max;
};
constexpr NumberSetting kNumberSettings[] = {
    {"delay", &PrinterState::delayMs, 0, 600000},
    {"split", &PrinterState::pieces, 1, 64},  // an answer is at least one write
    {"close-after", &PrinterState::closeAfter, 0, 1000000},
};

// Settings that are a word alone.
struct FlagSetting {
  std::string_view name;
  bool PrinterState::*field;
};
constexpr FlagSetting kFlagSettings[] = {
    {"silent", &PrinterState::silent},
    {"garble", &PrinterState::garble},
    {"stop-reading", &PrinterState::stopReading},
};

constexpr size_t kMaxStateFile = 64 * 1024;

// Decimal digits only, from min to max. Leaves value alone when it returns
// false.
bool parse_count(std::string_view text, uint32_t min, uint32_t max, uint32_t& value)
{
  uint32_t number = 0;
  if (!parse_digits(text, number) || number < min || number > max)
    return false;
  value = number;
  return true;
}

// Applies one line's setting; false when the line means nothing.
bool apply_line(std::string_view line, PrinterState& state)
{
  const std::string_view word = take_word(line);
  const std::string_view value = take_word(line);
  if (!take_word(line).empty())
    return false;
  Condition condition;
  if (value.empty() && find_condition(word, condition)) {
    state.conditions |= condition_bit(condition);
    return true;
  }
  for (const FlagSetting& flag : kFlagSettings) {
    if (word == flag.name && value.empty()) {
      state.*flag.field = true;
      return true;
    }
  }
  for (const NumberSetting& number : kNumberSettings)
    if (word == number.name)
      return parse_count(value, number.min, number.max, state.*number.field);
  return word == "dpi" && parse_dpi(value, state.dpi);
}

}  // namespace

bool parse_dpi(std::string_view text, int& dpi)
{
  uint32_t value = 0;
  if (!parse_digits(text, value) || dots_per_mm_of_dpi(static_cast<int>(value)) == 0)
    return false;
  dpi = static_cast<int>(value);
  return true;
}

PrinterState parse_state(std::string_view text, const PrinterState& base, std::string& problems)
{
  PrinterState state = base;
  for (int number = 1; !text.empty(); ++number) {
    std::string_view line = take_until(text, '\n');
    line = line.substr(0, line.find('#'));
    std::string_view rest = line;
    if (take_word(rest).empty())
      continue;
    if (!apply_line(line, state))
      problems += "line " + std::to_string(number) + " means nothing: " + std::string(line.substr(0, 60)) + "\n";
  }
  return state;
}

PrinterState read_state_file(const std::string& path, const PrinterState& base, std::string& problems)
{
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    if (errno != ENOENT)
      problems += "can't read " + path + ": " + std::strerror(errno) + "\n";
    return base;
  }
  std::string text(kMaxStateFile, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);
  return parse_state(text, base, problems);
}

std::string reply_for(ReplyFormat format, const PrinterState& state)
{
  std::string reply;
  switch (format) {
  case ReplyFormat::kErrorStatus: reply = format_error_status(error_status_of(state.conditions)); break;
  case ReplyFormat::kHostStatus: {
    HostStatus host = host_status_of(state.conditions);
    host.labelLengthDots = dots_per_mm_of_dpi(state.dpi) * 152;
    reply = format_host_status(host);
    break;
  }
  case ReplyFormat::kIdentification:
    reply = format_identification({"ZPL-VIRTUAL", "V1.0.0", dots_per_mm_of_dpi(state.dpi), 8192, ""});
    break;
  }
  if (state.garble)
    for (char& c : reply)
      if (c >= '0' && c <= '9')
        c = '?';
  return reply;
}
