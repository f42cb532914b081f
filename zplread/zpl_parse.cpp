#include "zplread/zpl_parse.h"

#include <cctype>

#include "zplread/text.h"

namespace {

constexpr std::string_view kDottedPrefix("\x1F\x1B\x1A\x01\x03\x01", 6);
constexpr size_t kMaxFaults = 20;         // per label; one more line says there are more
constexpr size_t kMaxCommands = 100000;   // kept per label; later ones still take effect

// Parameters run up to the next command or to a control byte.
bool ends_params(uint8_t c) { return c == '^' || c == '~' || (c < 0x20 && !is_space(static_cast<char>(c))); }

// Parameter index of a comma-separated list, trimmed; empty when missing.
std::string_view param(std::string_view params, int index)
{
  for (int i = 0; i < index; ++i) {
    const size_t comma = params.find(',');
    if (comma == std::string_view::npos)
      return {};
    params.remove_prefix(comma + 1);
  }
  return trim(params.substr(0, params.find(',')));
}

// Command names are letters, digits and '@' ("^A@", "^A0").
bool command_char(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '@'; }

// ^PR and ~SD take one or two digits; ^PR also a letter A to E.
bool setting_value(std::string_view text, bool letters)
{
  if (letters && text.size() == 1 && text[0] >= 'A' && text[0] <= 'E')
    return true;
  return !text.empty() && text.size() <= 2 && text.find_first_not_of("0123456789") == std::string_view::npos;
}

void add_fault(Label& label, std::string fault)
{
  if (label.faults.size() < kMaxFaults)
    label.faults.push_back(std::move(fault));
  else if (label.faults.size() == kMaxFaults)
    label.faults.push_back("more faults not listed");
}

void not_drawn(Label& label, const std::string& name)
{
  for (const std::string& seen : label.notDrawn)
    if (seen == name)
      return;
  label.notDrawn.push_back(name);
}

// What a label carries over to the next one, as a printer keeps its
// settings; field positions and quantities start afresh.
Label next_label(const Label* previous)
{
  Label next;
  if (previous) {
    next.width = previous->width;
    next.length = previous->length;
    next.inverted = previous->inverted;
    next.speed = previous->speed;
    next.darkness = previous->darkness;
  }
  return next;
}

struct ParseState {
  std::string_view bytes;
  size_t pos = 0;
  ZplStream out;
  Label label;            // the label being read, or the commands before its ^XA
  bool inFormat = false;  // between ^XA and ^XZ
  int64_t homeX = 0, homeY = 0;    // ^LH
  int64_t fieldX = 0, fieldY = 0;  // ^FO
};

bool label_started(const Label& label)
{
  return !label.commands.empty() || label.dottedLine >= 0 || !label.faults.empty();
}

// Tilde commands act the moment the printer reads them, outside any format:
// a status query sent ahead of a label's dotted-line prefix leaves that
// prefix the label's own.
bool only_tilde_commands(const Label& label)
{
  if (label.dottedLine >= 0 || !label.faults.empty())
    return false;
  for (const Command& cmd : label.commands)
    if (cmd.prefix != '~')
      return false;
  return true;
}

// ^PW or ^LL: a size in dots that can be drawn.
void set_dots(Label& label, const Command& cmd, int64_t& dots)
{
  const std::string_view text = param(cmd.params, 0);
  int64_t value = 0;
  if (!parse_number(text, value) || value <= 0) {
    add_fault(label, "^" + cmd.code + " " + quoted(text) + " is not a size in dots");
    dots = -1;
  } else if (value > kMaxLabelDots) {
    add_fault(label, "^" + cmd.code + " " + std::to_string(value) + " is more than the " +
                         std::to_string(kMaxLabelDots) + " dots zplpreview draws");
    dots = -1;
  } else {
    dots = value;
  }
}

// A position "x,y": two whole numbers from 0 to kMaxLabelDots; a missing one is 0.
bool set_position(Label& label, const Command& cmd, int64_t& x, int64_t& y)
{
  int64_t px = 0, py = 0;
  const std::string_view tx = param(cmd.params, 0), ty = param(cmd.params, 1);
  if ((!tx.empty() && !parse_number(tx, px)) || (!ty.empty() && !parse_number(ty, py)) || px < 0 || px > kMaxLabelDots ||
      py < 0 || py > kMaxLabelDots) {
    add_fault(label, "^" + cmd.code + " " + quoted(trim(cmd.params)) + " is not a position in dots");
    return false;
  }
  x = px;
  y = py;
  return true;
}

void apply_command(ParseState& st, const Command& cmd)
{
  Label& label = st.label;
  const std::string& code = cmd.code;
  const std::string name = cmd.prefix + code;
  if (cmd.prefix == '~') {
    if (code == "SD") {
      const std::string_view p = param(cmd.params, 0);
      if (setting_value(p, false))
        label.darkness = std::string(p);
      else
        add_fault(label, "~SD " + quoted(p) + " is not a darkness");
    } else {
      not_drawn(label, name);
    }
    return;
  }
  if (code == "PW") {
    set_dots(label, cmd, label.width);
  } else if (code == "LL") {
    set_dots(label, cmd, label.length);
  } else if (code == "PO") {
    const std::string_view p = param(cmd.params, 0);
    if (p == "I" || p == "N")
      label.inverted = p == "I";
    else
      not_drawn(label, "^PO " + quoted(p));
  } else if (code == "LH") {
    set_position(label, cmd, st.homeX, st.homeY);
  } else if (code == "FO") {
    set_position(label, cmd, st.fieldX, st.fieldY);
    const std::string_view z = param(cmd.params, 2);
    if (!z.empty() && z != "0")
      not_drawn(label, "^FO justification " + quoted(z));
  } else if (code == "FS") {
    st.fieldX = st.fieldY = 0;
  } else if (code == "GF") {
    Graphic g = decode_graphic(cmd.params);
    g.x = st.homeX + st.fieldX;
    g.y = st.homeY + st.fieldY;
    label.graphics.push_back(std::move(g));
  } else if (code == "PR") {
    const std::string_view p = param(cmd.params, 0);
    if (setting_value(p, true))
      label.speed = std::string(p);
    else
      add_fault(label, "^PR " + quoted(p) + " is not a print rate");
  } else if (code == "PQ") {
    const std::string_view p = param(cmd.params, 0);
    if (!p.empty() && (!parse_number(p, label.copies) || label.copies < 1))
      add_fault(label, "^PQ " + quoted(p) + " is not a number of copies");
  } else {
    not_drawn(label, name);
  }
}

// Ends the label being read: its graphics' faults go first, named by the
// graphic when there are several.
void close_label(ParseState& st)
{
  Label& label = st.label;
  std::vector<std::string> faults;
  for (size_t k = 0; k < label.graphics.size(); ++k) {
    const std::string& fault = label.graphics[k].fault;
    if (!fault.empty())
      faults.push_back(label.graphics.size() > 1 ? "graphic " + std::to_string(k + 1) + ": " + fault : fault);
  }
  faults.insert(faults.end(), label.faults.begin(), label.faults.end());
  label.faults = std::move(faults);
  label.number = static_cast<int>(st.out.labels.size()) + 1;
  st.out.labels.push_back(std::move(label));
  st.label = next_label(&st.out.labels.back());
  st.inFormat = false;
  st.homeX = st.homeY = st.fieldX = st.fieldY = 0;
}

// Starts a label at ^XA; a label still open never got its ^XZ.
void open_label(ParseState& st, uint64_t offset)
{
  if (st.inFormat) {
    add_fault(st.label, "does not end with ^XZ: a new ^XA follows at offset " + std::to_string(offset));
    close_label(st);
  }
  if (!label_started(st.label))
    st.label.offset = offset;
  st.inFormat = true;
}

// Reads the command at st.pos, a '^' or '~'.
void read_command(ParseState& st)
{
  const std::string_view bytes = st.bytes;
  const size_t start = st.pos;
  if (!label_started(st.label) && !st.inFormat)
    st.label.offset = start;
  if (start + 3 > bytes.size() || ends_params(static_cast<uint8_t>(bytes[start + 1])) ||
      ends_params(static_cast<uint8_t>(bytes[start + 2])) || is_space(bytes[start + 1])) {
    add_fault(st.label, "command cut short at offset " + std::to_string(start));
    st.pos = start + 1;
    return;
  }
  Command cmd;
  cmd.prefix = bytes[start];
  cmd.code = {static_cast<char>(std::toupper(static_cast<unsigned char>(bytes[start + 1]))),
              static_cast<char>(std::toupper(static_cast<unsigned char>(bytes[start + 2])))};
  cmd.offset = start;
  size_t end = start + 3;
  // ^XZ ends the label there; what follows belongs to the next one.
  if (!(cmd.prefix == '^' && cmd.code == "XZ"))
    while (end < bytes.size() && !ends_params(static_cast<uint8_t>(bytes[end])))
      ++end;
  cmd.params = bytes.substr(start + 3, end - start - 3);
  while (!cmd.params.empty() && (cmd.params.back() == '\r' || cmd.params.back() == '\n'))
    cmd.params.remove_suffix(1);
  st.pos = end;

  const bool isXA = cmd.prefix == '^' && cmd.code == "XA", isXZ = cmd.prefix == '^' && cmd.code == "XZ";
  if (isXA)
    open_label(st, start);
  const bool known = command_char(cmd.code[0]) && command_char(cmd.code[1]);
  if (!known)
    add_fault(st.label, quoted(bytes.substr(start, 3)) + " at offset " + std::to_string(start) + " is not a ZPL command");
  if (isXZ && !st.inFormat) {
    add_fault(st.label, "^XZ at offset " + std::to_string(start) + " ends no label");
    return;
  }
  if (st.label.commands.size() <= kMaxCommands)
    st.label.commands.push_back(cmd);
  if (st.label.commands.size() == kMaxCommands + 1 && st.label.commands.back().offset == start)
    add_fault(st.label, "more than " + std::to_string(kMaxCommands) + " commands; later ones are not kept");
  if (isXA && !trim(cmd.params).empty())
    add_fault(st.label, "stray text after ^XA: " + quoted(trim(cmd.params)));
  if (isXZ) {
    st.label.ended = true;
    close_label(st);
  } else if (!isXA && known) {
    apply_command(st, cmd);
  }
}

}  // namespace

ZplStream parse_zpl(std::string_view bytes)
{
  ParseState st;
  st.bytes = bytes;
  while (st.pos < bytes.size()) {
    const char c = bytes[st.pos];
    if (is_space(c)) {
      ++st.pos;
    } else if (c == '^' || c == '~') {
      read_command(st);
    } else if (bytes.substr(st.pos, kDottedPrefix.size()) == kDottedPrefix &&
               st.pos + kDottedPrefix.size() < bytes.size()) {
      // The prefix of the next label: one still open never got its ^XZ.
      if (st.inFormat) {
        add_fault(st.label, "does not end with ^XZ: a dotted-line prefix follows at offset " + std::to_string(st.pos));
        close_label(st);
      }
      if (!label_started(st.label))
        st.label.offset = st.pos;
      else if (!only_tilde_commands(st.label))
        add_fault(st.label, "a second dotted-line prefix at offset " + std::to_string(st.pos));
      st.label.dottedLine = static_cast<uint8_t>(bytes[st.pos + kDottedPrefix.size()]);
      st.pos += kDottedPrefix.size() + 1;
    } else {
      const size_t start = st.pos;
      if (!label_started(st.label) && !st.inFormat)
        st.label.offset = start;
      do
        ++st.pos;
      while (st.pos < bytes.size() && !is_space(bytes[st.pos]) && bytes[st.pos] != '^' &&
             bytes[st.pos] != '~' && bytes[st.pos] != '\x1F');
      add_fault(st.label, std::to_string(st.pos - start) + " stray bytes at offset " + std::to_string(start));
    }
  }
  if (st.inFormat) {
    add_fault(st.label, "does not end with ^XZ");
    close_label(st);
  } else if (label_started(st.label)) {
    // Settings or bytes with no ^XA after them: no label to put them in.
    std::string commands;
    for (const Command& cmd : st.label.commands)
      commands += (commands.empty() ? "" : " ") + (cmd.prefix + cmd.code);
    if (st.label.dottedLine >= 0)
      st.out.faults.push_back("a dotted-line prefix after the last label, with no label after it");
    if (!commands.empty())
      st.out.faults.push_back("commands after the last label, outside any ^XA..^XZ: " + commands);
    for (const std::string& fault : st.label.faults)
      st.out.faults.push_back(fault + " (after the last label)");
  }
  return st.out;
}

bool stream_sound(const ZplStream& stream)
{
  if (stream.labels.empty() || !stream.faults.empty())
    return false;
  for (const Label& label : stream.labels)
    if (!label.faults.empty())
      return false;
  return true;
}
