// Taking a stream of ZPL labels apart the way a printer reads it: the
// labels between ^XA and ^XZ, their commands, the settings a preview needs
// and their graphic fields.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zplread/graphic.h"

// The largest label length or width the reader draws, in dots.
inline constexpr int64_t kMaxLabelDots = 32000;

// One command as it came. code and params point into the parsed stream.
struct Command {
  char prefix = '^';         // '^' or '~'
  std::string code;          // two characters, upper case: "PW", "GF"
  std::string_view params;   // up to the next command, CR and LF at the end removed
  uint64_t offset = 0;       // of the prefix in the stream
};

struct Label {
  int number = 0;           // 1 for the first label of the stream
  uint64_t offset = 0;      // where its first byte is (prefix or command)
  int dottedLine = -1;      // m of the 7-byte prefix 1F 1B 1A 01 03 01 m, -1 without one
  int64_t width = -1;       // ^PW in dots, -1 when absent or unusable
  int64_t length = -1;      // ^LL in dots, -1 when absent or unusable
  bool inverted = false;    // ^POI: the label is turned by 180 degrees
  std::string speed;        // ^PR as given, empty when absent
  std::string darkness;     // ~SD as given, empty when absent
  int64_t copies = 1;       // ^PQ
  bool ended = false;       // closed by ^XZ
  std::vector<Command> commands;        // every command, ^XA and ^XZ included
  std::vector<Graphic> graphics;        // every ^GF, in order
  std::vector<std::string> notDrawn;    // commands the preview ignores, each once ("^MN")
  std::vector<std::string> faults;      // what is wrong; empty for a sound label
};

struct ZplStream {
  std::vector<Label> labels;
  std::vector<std::string> faults;  // what is outside every label: stray bytes, commands after the last ^XZ
};

// Splits bytes into labels and checks each one. Labels point into bytes,
// which must outlive the result.
ZplStream parse_zpl(std::string_view bytes);

// True when no label and nothing outside the labels has a fault, and there
// is at least one label.
bool stream_sound(const ZplStream& stream);
