#include "vprinter/intake.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "common/text.h"

namespace {

// The commands, upper case, as they end the window.
struct CommandText {
  std::string_view text;
  Action action;
};
constexpr CommandText kCommands[] = {
    {"~HQES", Action::kAnswerErrorStatus}, {"~HS", Action::kAnswerHostStatus}, {"~HI", Action::kAnswerIdentification},
    {"~WC", Action::kSelfTest},           {"~JC", Action::kCalibrate},
};
constexpr std::string_view kLabelEnd = "^XZ";

std::string receiving_path(const Intake& intake) { return intake.folder + "/.receiving.zpl"; }

// True when the window ends with text.
bool window_ends_with(const Intake& intake, std::string_view text)
{
  const std::string_view window(intake.window, sizeof intake.window);
  return window.substr(window.size() - text.size()) == text;
}

// Closes the file being received and gives it its name, kind-NNNN.zpl.
// Returns the path, or "" with the reason in error.
std::string finish(Intake& intake, const char* kind, std::string& error)
{
  const bool written = !std::ferror(intake.file);
  const bool closed = std::fclose(intake.file) == 0;
  intake.file = nullptr;
  intake.afterEnd = intake.afterCr = false;
  char name[32];
  std::snprintf(name, sizeof name, "/%s-%04u.zpl", kind, ++intake.lastNumber);
  const std::string path = intake.folder + name;
  if (!written || !closed || std::rename(receiving_path(intake).c_str(), path.c_str()) != 0) {
    error = "can't write " + path + ": " + std::strerror(errno);
    return {};
  }
  return path;
}

// Writes a byte of the file being received.
void put(Intake& intake, char c)
{
  std::fputc(c, intake.file);
}

}  // namespace

IntakeStep intake_byte(Intake& intake, char c)
{
  IntakeStep step;
  if (intake.afterEnd) {
    if ((c == '\r' && !intake.afterCr) || c == '\n') {
      put(intake, c);
      intake.afterCr = c == '\r';
      if (c == '\n')
        step.finished = finish(intake, "label", step.error);
      return step;
    }
    step.finished = finish(intake, "label", step.error);
  }
  if (!intake.file) {
    // Line ends and spaces between labels belong to none.
    if (is_space(c))
      return step;
    intake.file = std::fopen(receiving_path(intake).c_str(), "wb");
    if (!intake.file) {
      step.error = "can't write " + receiving_path(intake) + ": " + std::strerror(errno);
      return step;
    }
  }
  put(intake, c);
  std::memmove(intake.window, intake.window + 1, sizeof intake.window - 1);
  intake.window[sizeof intake.window - 1] = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (window_ends_with(intake, kLabelEnd)) {
    ++intake.labels;
    intake.afterEnd = true;
    step.labelEnded = true;
    return step;
  }
  for (const CommandText& command : kCommands)
    if (window_ends_with(intake, command.text))
      step.action = command.action;
  return step;
}

std::string intake_end(Intake& intake, std::string& error)
{
  std::memset(intake.window, 0, sizeof intake.window);
  intake.labels = 0;
  if (!intake.file)
    return {};
  return finish(intake, intake.afterEnd ? "label" : "commands", error);
}

void intake_abandon(Intake& intake)
{
  if (!intake.file)
    return;
  std::fclose(intake.file);
  intake.file = nullptr;
  std::remove(receiving_path(intake).c_str());
}
