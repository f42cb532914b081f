// zplcommand: the CUPS filter for maintenance command files
// (application/vnd.cups-command: a "#CUPS-COMMAND" line, then one command
// per line), which CUPS's web page and "lp" of such a file send. Each
// command becomes what a ZPL printer does it with; the status report is the
// raster filters' status query.
//
//     zplcommand job-id user title copies options [file]
#include <strings.h>

#include <cstdio>
#include <string_view>
#include <vector>

#include <cups/cups.h>

#include "common/cancel.h"
#include "common/cups_file.h"
#include "status/cups_status.h"

namespace {

// A command the PPDs list in *cupsCommands, and the ZPL it sends; the
// status report sends the query instead.
struct CommandEntry {
  std::string_view name;
  std::string_view zpl;
  bool reportsStatus;
};
constexpr CommandEntry kCommands[] = {
    {"PrintSelfTestPage", "~WC\r\n", false},  // the printer's configuration label
    {"ReportStatus", "", true},
    {"zplfilter.Calibrate", "~JC\r\n", false},  // measures the label and gap lengths
};

constexpr char kUsage[] = "ERROR: zplcommand job-id user title copies options [file]\n";

// The table row of a command, named in any case as CUPS's own command
// filter takes them; null for an unknown one.
const CommandEntry* find_command(const char* name)
{
  for (const CommandEntry& entry : kCommands)
    if (entry.name.size() == std::char_traits<char>::length(name) &&
        strncasecmp(entry.name.data(), name, entry.name.size()) == 0)
      return &entry;
  return nullptr;
}

// Reads every command of the file. Each unknown one gets an ERROR line;
// false then, and nothing may be sent.
bool read_commands(cups_file_t* file, std::vector<const CommandEntry*>& commands)
{
  char line[1024];
  char* value = nullptr;
  int number = 0;
  bool known = true;
  while (cupsFileGetConf(file, line, sizeof line, &value, &number)) {
    const CommandEntry* entry = find_command(line);
    if (!entry) {
      std::fprintf(stderr, "ERROR: Unknown printer command \"%s\"; nothing was sent to the printer\n", line);
      known = false;
    } else {
      commands.push_back(entry);
    }
  }
  return known;
}

// Asks the printer for its status and reports it, once per job.
void report_status(StatusSession& session, CancelFlag cancelled)
{
  if (session.asked)
    return;
  status_ask(session, stdout);
  if (!session.asked) {
    std::fputs("INFO: The printer's status can't be asked over this connection\n", stderr);
    return;
  }
  status_finish(session, cancelled);
  if (session.reader.progress != ReplyProgress::kComplete)
    std::fputs("INFO: The printer did not report its status\n", stderr);
}

// Sends the commands in order, none after the job was cancelled. Returns
// 0, or 1 when the printer side can't take them.
int run_commands(const std::vector<const CommandEntry*>& commands, CancelFlag cancelled)
{
  StatusSession session;
  for (const CommandEntry* command : commands) {
    if (*cancelled)
      break;
    std::fprintf(stderr, "DEBUG: Printer command %.*s\n", static_cast<int>(command->name.size()), command->name.data());
    if (command->reportsStatus) {
      report_status(session, cancelled);
      continue;
    }
    std::fwrite(command->zpl.data(), 1, command->zpl.size(), stdout);
    if (std::fflush(stdout) != 0) {
      std::perror("ERROR: Unable to send the command");
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
  const CancelFlag cancelled = watch_for_cancel();
  if (argc != 6 && argc != 7) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  const CupsFile file = open_job_input(argc, argv);
  if (!file) {
    std::perror("ERROR: Unable to open the command file");
    return 1;
  }
  std::vector<const CommandEntry*> commands;
  if (!read_commands(file.get(), commands))
    return 1;
  return run_commands(commands, cancelled);
}
