// What the virtual printer does with the bytes it receives: each label,
// from the first byte after the previous one (commands ahead of it
// included) to its ^XZ and the line end after that, becomes a file of its
// own; the queries and maintenance commands it must act on are picked out
// as they pass, as a printer acts on tilde commands the moment it reads
// them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// What the printer does the moment it has read a command.
enum class Action : uint8_t {
  kNone,
  kAnswerErrorStatus,     // ~HQES
  kAnswerHostStatus,      // ~HS
  kAnswerIdentification,  // ~HI
  kSelfTest,              // ~WC: print the configuration label
  kCalibrate,             // ~JC
};

// The receiving side of the printer. Files go into folder as
// label-NNNN.zpl, or commands-NNNN.zpl for bytes that end a connection
// without a ^XZ, numbered in the order they are finished; a file is written
// under a temporary name and renamed when whole.
struct Intake {
  std::string folder;
  uint32_t lastNumber = 0;   // of the last file finished
  FILE* file = nullptr;      // being received; null between files
  bool afterEnd = false;     // a ^XZ was read, its line end may follow
  bool afterCr = false;      // ... and its CR
  char window[5] = {};       // the last bytes read, upper case, newest last
  uint32_t labels = 0;       // label ends read on this connection
};

// What one byte did.
struct IntakeStep {
  Action action = Action::kNone;  // completed by this byte
  bool labelEnded = false;           // the byte was the Z of a ^XZ
  std::string finished;              // a file finished before this byte: its path
  std::string error;                 // a file that could not be written
};

// Takes the next byte of the connection.
IntakeStep intake_byte(Intake& intake, char c);

// The connection ended: finishes the file being received, if any. Returns
// its path, or "" for none; error as in IntakeStep.
std::string intake_end(Intake& intake, std::string& error);

// Closes and removes a file being received when the printer stops for good.
void intake_abandon(Intake& intake);
