// zplpass: the CUPS filter for jobs that are ZPL already (labels from a
// carrier or a label service). The printer speaks ZPL, so the job's bytes go
// to it unchanged, once per copy; CUPS only learns from us how many labels
// passed. What is not ZPL at all is refused, so that a file with a wrong name
// never reaches the printer as a stream of garbage.
//
//     zplpass job-id user title copies options [file]
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/cancel.h"

namespace {

constexpr size_t kChunk = 64 * 1024;

// The 300 dpi model's labels start with this dotted-tear-line switch,
// followed by 00 (off) or 01 (on); it is the only binary a job of ours holds
// before its first ^XA.
constexpr unsigned char kDottedLine[] = {0x1F, 0x1B, 0x1A, 0x01, 0x03, 0x01};
constexpr size_t kDottedLineSize = sizeof kDottedLine + 1;

// Closes a descriptor of ours (never the standard ones) when it goes out of scope.
struct FdOwner {
  int fd = -1;
  FdOwner() = default;
  FdOwner(const FdOwner&) = delete;
  FdOwner& operator=(const FdOwner&) = delete;
  ~FdOwner()
  {
    if (fd > 2)
      close(fd);
  }
};

// Where the copy stands: between two labels, inside one (after its ^XA), or
// just past a ^XZ, where the line end that follows still belongs to it.
enum class Spot : uint8_t { Between, InLabel, AfterEnd, AfterEndCr };

// One copy's progress through the job, and the label count of all copies.
struct Scan {
  Spot spot = Spot::Between;
  bool clean = true;       // nothing of a next label written yet: a place to stop
  uint8_t before[2] = {};  // the two bytes before, for commands cut by a chunk end
  uint64_t labels = 0;     // labels passed over all copies, for the PAGE lines
};

// How one copy ended: at the end of the job, at a label end after SIGTERM,
// or with an ERROR line.
enum class PassEnd : uint8_t { Done, Stopped, Failed };

// The job's copies (argument 4); anything but a positive number means one.
long parse_copies(const char* text)
{
  char* end = nullptr;
  errno = 0;
  const long copies = std::strtol(text, &end, 10);
  return (errno != 0 || end == text || *end != '\0' || copies < 1) ? 1 : copies;
}

// read(2) that retries when a signal interrupts it.
ssize_t read_some(int fd, unsigned char* buffer, size_t size)
{
  ssize_t got;
  do
    got = read(fd, buffer, size);
  while (got < 0 && errno == EINTR);
  return got;
}

// Writes all bytes to fd. Nothing is buffered in between, so what CUPS has
// got from us is always whole labels plus the one being written.
bool write_all(int fd, const unsigned char* data, size_t size)
{
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0)
      return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

// Writes a range to the printer, with an ERROR line when that fails.
bool send(const unsigned char* data, size_t size)
{
  if (write_all(STDOUT_FILENO, data, size))
    return true;
  std::fprintf(stderr, "ERROR: Unable to write to the printer: %s\n", std::strerror(errno));
  return false;
}

// True when the byte completes ^X<letter> (either case) after the two before it.
bool completes(const uint8_t before[2], uint8_t byte, char letter)
{
  return before[0] == '^' && (before[1] | 0x20) == 'x' && (byte | 0x20) == letter;
}

// Moves the scan over one byte. Returns true when this byte is the Z of a
// label's ^XZ. A byte after a label's end that is not its line end is
// looked at again as the first byte between labels.
bool step(Scan& scan, uint8_t byte)
{
  bool labelEnd = false;
  switch (scan.spot) {
  case Spot::AfterEndCr:
  case Spot::AfterEnd:
    if (byte == '\r' && scan.spot == Spot::AfterEnd) {
      scan.spot = Spot::AfterEndCr;
      break;
    }
    scan.spot = Spot::Between;
    scan.clean = true;
    if (byte == '\n')
      break;
    [[fallthrough]];
  case Spot::Between:
    scan.clean = false;
    if (completes(scan.before, byte, 'a'))
      scan.spot = Spot::InLabel;
    break;
  case Spot::InLabel:
    if (completes(scan.before, byte, 'z')) {
      scan.spot = Spot::AfterEnd;
      labelEnd = true;
    }
    break;
  }
  scan.before[0] = scan.before[1];
  scan.before[1] = byte;
  return labelEnd;
}

// True when the copy may stop in front of this byte: the job is cancelled
// and the bytes so far end with a whole label and its line end. A byte that
// is not a line end closes the line-end part of the label before it.
bool stop_before(const Scan& scan, uint8_t byte, CancelFlag cancelled)
{
  if (!*cancelled)
    return false;
  if (scan.spot == Spot::Between)
    return scan.clean;
  return (scan.spot == Spot::AfterEnd && byte != '\r' && byte != '\n') ||
         (scan.spot == Spot::AfterEndCr && byte != '\n');
}

// Copies the input once to the printer, as it stands, and writes a PAGE line
// as each label's ^XZ has been passed on.
PassEnd copy_once(int in, Scan& scan, CancelFlag cancelled)
{
  static unsigned char buffer[kChunk];
  scan.spot = Spot::Between;
  scan.clean = true;
  scan.before[0] = scan.before[1] = 0;
  for (;;) {
    const ssize_t got = read_some(in, buffer, sizeof buffer);
    if (got < 0) {
      std::fprintf(stderr, "ERROR: Unable to read the job: %s\n", std::strerror(errno));
      return PassEnd::Failed;
    }
    if (got == 0)
      return PassEnd::Done;
    size_t from = 0;
    for (size_t i = 0; i < static_cast<size_t>(got); ++i) {
      if (stop_before(scan, buffer[i], cancelled))
        return send(buffer + from, i - from) ? PassEnd::Stopped : PassEnd::Failed;
      if (!step(scan, buffer[i]))
        continue;
      if (!send(buffer + from, i + 1 - from))
        return PassEnd::Failed;
      from = i + 1;
      std::fprintf(stderr, "PAGE: %llu 1\n", static_cast<unsigned long long>(++scan.labels));
    }
    if (!send(buffer + from, static_cast<size_t>(got) - from))
      return PassEnd::Failed;
  }
}

// True for the bytes a ZPL text may hold: everything but control bytes
// other than white space.
bool text_byte(uint8_t byte)
{
  return byte >= 0x20 ? byte != 0x7F : (byte >= '\t' && byte <= '\r');
}

enum class Verdict : uint8_t { Zpl, NoLabel, Binary, ReadError };

// Decides, before anything is sent, whether the input is ZPL: a ^XA must
// come, and before it only text (commands such as ~SD, downloads in hex,
// white space), after the dotted-line switch our 300 dpi labels start with.
// A PDF, an image or other binary fails at its first control byte, even if
// "^XA" happens to occur in it later. The input is a file here, so the first
// read holds the whole switch if the job starts with one.
Verdict check_zpl(int in)
{
  static unsigned char buffer[kChunk];
  uint8_t before[2] = {};
  for (bool first = true;; first = false) {
    const ssize_t got = read_some(in, buffer, sizeof buffer);
    if (got < 0)
      return Verdict::ReadError;
    if (got == 0)
      return Verdict::NoLabel;
    size_t i = 0;
    if (first && static_cast<size_t>(got) >= kDottedLineSize &&
        std::memcmp(buffer, kDottedLine, sizeof kDottedLine) == 0 && buffer[sizeof kDottedLine] <= 1)
      i = kDottedLineSize;
    for (; i < static_cast<size_t>(got); ++i) {
      if (!text_byte(buffer[i]))
        return Verdict::Binary;
      if (completes(before, buffer[i], 'a'))
        return Verdict::Zpl;
      before[0] = before[1];
      before[1] = buffer[i];
    }
  }
}

// Copies a pipe into an unlinked file under TMPDIR (CUPS points it at its
// own spool), so that the check and every copy can read the job from its
// start. On disk rather than in memory: a job may be any size. Returns the
// file's descriptor at its start, or -1: after an ERROR line, or quietly
// when SIGTERM comes first (nothing has been sent, so nothing is cut).
int spool_pipe(int in, CancelFlag cancelled)
{
  const char* dir = std::getenv("TMPDIR");
  char path[4096];
  std::snprintf(path, sizeof path, "%s/zplpass-XXXXXX", dir && *dir ? dir : "/tmp");
  const int fd = mkstemp(path);
  if (fd < 0) {
    std::fprintf(stderr, "ERROR: Unable to spool the job in %s: %s\n", path, std::strerror(errno));
    return -1;
  }
  unlink(path);
  static unsigned char buffer[kChunk];
  for (;;) {
    if (*cancelled) {
      close(fd);
      return -1;
    }
    const ssize_t got = read_some(in, buffer, sizeof buffer);
    if (got == 0 && lseek(fd, 0, SEEK_SET) == 0)
      return fd;
    if (got <= 0 || !write_all(fd, buffer, static_cast<size_t>(got))) {
      std::fprintf(stderr, "ERROR: Unable to spool the job: %s\n", std::strerror(errno));
      close(fd);
      return -1;
    }
  }
}

// Opens the job: the named file, or standard input. Input that can't be
// read twice (a pipe, when CUPS decompresses a job for us) is spooled first.
// Returns -1 after an ERROR line, or quietly when cancelled while spooling.
int open_job(int argc, char* argv[], CancelFlag cancelled)
{
  int fd = STDIN_FILENO;
  if (argc == 7) {
    fd = open(argv[6], O_RDONLY);
    if (fd < 0) {
      std::fprintf(stderr, "ERROR: Unable to open %s: %s\n", argv[6], std::strerror(errno));
      return -1;
    }
  }
  if (lseek(fd, 0, SEEK_CUR) >= 0)
    return fd;
  const int spooled = spool_pipe(fd, cancelled);
  if (fd > 2)
    close(fd);
  return spooled;
}

// Refuses what is not ZPL, then sends the job once per copy from where it
// started. Returns the exit status.
int pass_job(int in, long copies, CancelFlag cancelled)
{
  const off_t start = lseek(in, 0, SEEK_CUR);
  const Verdict verdict = check_zpl(in);
  switch (verdict) {
  case Verdict::Zpl:
    break;
  case Verdict::NoLabel:
    std::fputs("ERROR: Not a ZPL job: it holds no ^XA label start; nothing was sent to the printer\n", stderr);
    return 1;
  case Verdict::Binary:
    std::fputs("ERROR: Not a ZPL job: binary data before its first ^XA; nothing was sent to the printer\n", stderr);
    return 1;
  case Verdict::ReadError:
    std::fprintf(stderr, "ERROR: Unable to read the job: %s\n", std::strerror(errno));
    return 1;
  }
  Scan scan;
  for (long copy = 0; copy < copies && !*cancelled; ++copy) {
    if (lseek(in, start, SEEK_SET) < 0) {
      std::fprintf(stderr, "ERROR: Unable to read the job again: %s\n", std::strerror(errno));
      return 1;
    }
    const PassEnd end = copy_once(in, scan, cancelled);
    if (end == PassEnd::Failed)
      return 1;
    if (end == PassEnd::Stopped)
      break;
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
  if (argc != 6 && argc != 7) {
    std::fputs("ERROR: Usage: zplpass job-id user title copies options [file]\n", stderr);
    return 1;
  }
  // A cancelled job's label is finished and nothing after it is sent.
  const CancelFlag cancelled = watch_for_cancel();
  FdOwner in;
  in.fd = open_job(argc, argv, cancelled);
  // Cancelled before anything was sent: the job just ends.
  if (*cancelled)
    return 0;
  if (in.fd < 0)
    return 1;
  return pass_job(in.fd, parse_copies(argv[4]), cancelled);
}
