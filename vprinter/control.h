// What the virtual printer is and does at a given moment: the conditions it
// reports, its resolution and the faults it puts on, as its state file
// says. The file is read again whenever it matters (a query, a label end, a
// new connection, every 100 ms while the printer does not read), so that a
// test or a user changes the printer while it runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "status/printer_status.h"

struct PrinterState {
  ConditionSet conditions = 0;  // what ~HQES and ~HS report
  int dpi = 203;                // what ~HI reports, as 8, 12 or 24 dots/mm
  bool silent = false;          // no query is answered
  uint32_t delayMs = 0;         // wait before each answer
  uint32_t pieces = 1;          // each answer in this many writes
  bool garble = false;          // answers with every digit replaced
  uint32_t closeAfter = 0;      // labels a connection takes before it is closed; 0: no limit
  bool stopReading = false;     // nothing more is read from the connection
};

// A resolution some model has, 203, 300 or 600, in digits only; dpi is left
// alone otherwise.
bool parse_dpi(std::string_view text, int& dpi);

// The state of a file's text on top of base (the command line's state):
// one setting per line, blank lines and "#" comments skipped. A condition's
// name (media-out, ribbon-out, head-open, paper-jam, paused, media-near-end,
// and the others of kConditions) turns it on; "dpi N", "silent",
// "delay MS", "split N", "garble", "close-after N" and "stop-reading" set
// the rest. Lines that mean nothing are listed in problems, one per line,
// and change nothing.
PrinterState parse_state(std::string_view text, const PrinterState& base, std::string& problems);

// The state of the file at path; a missing file gives base. problems as
// for parse_state, plus a file that can't be read.
PrinterState read_state_file(const std::string& path, const PrinterState& base, std::string& problems);

// The reply to a query as this printer gives it: format_error_status and
// the others filled from the state, garbled when it says so.
std::string reply_for(ReplyFormat format, const PrinterState& state);
