// Printer-ready ZPL jobs: recognising them by their first bytes, and passing
// them to the printer unchanged, ending a cancelled job only where a label
// ends so that the printer never holds half a label.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr char kZplMimeType[] = "application/vnd.zebra-zpl";

// True when data, the first bytes of a document, starts as a ZPL stream, by
// the rules CUPS is given for the pass-through filter: white space, then a
// ZPL command (^ or ~ and a letter or @), optionally after the 7-byte
// dotted-line prefix, or ZebraDesigner's first line; and ^XA within.
bool looks_like_zpl(const uint8_t* data, size_t size);

// Where a ZPL stream stands: whether a label is open (^XA seen, its ^XZ not
// yet) and how much of a ^XA or ^XZ has been read so far.
struct ZplScan {
  bool inLabel = false;
  int matched = 0;  // 0, 1 ("^") or 2 ("^X")
};

// Advances the scan over size bytes and returns how many it read. With
// stopAtClose it stops right after the ^XZ that closes the open label, and
// reads nothing when no label is open.
size_t zpl_advance(ZplScan& scan, const uint8_t* data, size_t size, bool stopAtClose);

// Where the bytes go and how a cancel is noticed; plain function pointers so
// that the copy runs the same with a PAPPL device or a test buffer.
struct RawSink {
  void* context;
  bool (*write)(void* context, const uint8_t* data, size_t size);
  bool (*cancelled)(void* context);
};

// Copies the file fd to the sink unchanged. Once a cancel is noticed the
// copy ends where the open label, if any, ends. False when reading or
// writing fails.
bool copy_zpl_stream(int fd, const RawSink& sink);
