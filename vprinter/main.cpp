// zpl-virtual-printer: a ZPL label printer on a loopback port, for trying a
// queue or the printer application without a printer, and for the tests.
// It keeps every label it receives as a file (and a PNG picture on
// request), answers ~HQES, ~HS and ~HI from a state file that may change
// while it runs, and puts on the faults that file asks for.
//
//   zpl-virtual-printer [--port N] [--folder DIR] [--state FILE] [--dpi 203|300|600] [--png]
//
// One line per event on standard output, the first one naming the port.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/text.h"
#include "vprinter/control.h"
#include "vprinter/intake.h"
#include "zplread/render.h"
#include "zplread/report.h"
#include "zplread/zpl_parse.h"

namespace fs = std::filesystem;

namespace {

constexpr char kUsage[] =
    "usage: zpl-virtual-printer [--port N] [--folder DIR] [--state FILE] [--dpi 203|300|600] [--png]\n";
constexpr int kPollMs = 100;             // how often a waiting printer looks at its state
constexpr unsigned kPiecePauseMs = 30;   // between the pieces of a split answer
constexpr uintmax_t kMaxDrawnFile = uintmax_t{256} << 20;

// Set by SIGTERM or SIGINT: the printer finishes what it received and ends.
volatile sig_atomic_t g_stop = 0;

void on_stop(int) { g_stop = 1; }

struct Options {
  int port = 9100;
  std::string folder = "labels";
  std::string statePath;  // empty: <folder>/state
  int dpi = 203;
  bool png = false;
  bool help = false;
};

// Owns a descriptor: closed when it goes out of scope.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int value) : fd(value) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd()
  {
    if (fd >= 0)
      close(fd);
  }
};

// The running printer: what it was started with, what it received.
struct Printer {
  Options options;
  PrinterState base;      // from the command line; the state file goes on top
  PrinterState state;     // as last read
  std::string problems;   // of the state file as last reported
  Intake intake;
  uint32_t connections = 0;
  bool failed = false;    // a label could not be kept: the printer ends
};

// A port number, 0 to 65535, digits only.
bool parse_port(std::string_view text, int& port)
{
  uint32_t value = 0;
  if (!parse_digits(text, value) || value > 65535)
    return false;
  port = static_cast<int>(value);
  return true;
}

// Reads the command line into options; false for a wrong one.
bool parse_options(int argc, char* argv[], Options& options)
{
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      continue;
    }
    if (arg == "--png") {
      options.png = true;
      continue;
    }
    if (!value || value[0] == '\0')
      return false;
    ++i;
    if (arg == "--port") {
      if (!parse_port(value, options.port))
        return false;
    } else if (arg == "--folder") {
      options.folder = value;
    } else if (arg == "--state") {
      options.statePath = value;
    } else if (arg == "--dpi") {
      if (!parse_dpi(value, options.dpi))
        return false;
    } else {
      return false;
    }
  }
  if (options.statePath.empty())
    options.statePath = options.folder + "/state";
  return true;
}

// The printer's state from its file now; problems are reported when they
// change, so a bad line is told once, not at every look.
const PrinterState& look_at_state(Printer& printer)
{
  std::string problems;
  printer.state = read_state_file(printer.options.statePath, printer.base, problems);
  if (problems != printer.problems && !problems.empty())
    std::printf("state file %s: %s", printer.options.statePath.c_str(), problems.c_str());
  printer.problems = problems;
  return printer.state;
}

// Files keep their numbers across runs: the first new one comes after the
// highest label-NNNN or commands-NNNN already in the folder.
uint32_t highest_file_number(const std::string& folder)
{
  uint32_t highest = 0;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    unsigned number = 0;
    if (std::sscanf(name.c_str(), "label-%u.zpl", &number) == 1 ||
        std::sscanf(name.c_str(), "commands-%u.zpl", &number) == 1)
      highest = std::max<uint32_t>(highest, number);
  }
  return highest;
}

// Listens on the loopback address; port 0 takes any free one. Prints the
// address it listens on. Returns the socket, or -1 after saying why.
int listen_loopback(int port)
{
  Fd listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener.fd < 0 || setsockopt(listener.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(listener.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener.fd, 4) != 0 ||
      getsockname(listener.fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    std::fprintf(stderr, "zpl-virtual-printer: can't listen on 127.0.0.1:%d: %s\n", port, std::strerror(errno));
    return -1;
  }
  std::printf("zpl-virtual-printer: listening on 127.0.0.1:%u\n", ntohs(address.sin_port));
  const int fd = listener.fd;
  listener.fd = -1;
  return fd;
}

// Waits up to ms milliseconds, less when the printer is told to stop.
void pause_ms(uint32_t ms)
{
  for (uint32_t waited = 0; waited < ms && !g_stop; waited += kPollMs)
    poll(nullptr, 0, static_cast<int>(std::min<uint32_t>(kPollMs, ms - waited)));
}

// Writes all bytes; a peer that went away simply gets no more.
void write_all(int fd, std::string_view bytes)
{
  while (!bytes.empty()) {
    const ssize_t put = write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0)
      return;
    bytes.remove_prefix(static_cast<size_t>(put));
  }
}

// The conditions a state reports, for the log: "media-out paused", "ready".
std::string condition_names(ConditionSet conditions)
{
  const std::string names = join_conditions(conditions, &ConditionEntry::name, " ");
  return names.empty() ? "ready" : names;
}

// Answers a query as the state file says now: late, in pieces, garbled,
// or not at all.
void answer(Printer& printer, int fd, ReplyFormat format, const char* query)
{
  const PrinterState& state = look_at_state(printer);
  if (state.silent) {
    std::printf("%s: not answered (silent)\n", query);
    return;
  }
  pause_ms(state.delayMs);
  const std::string reply = reply_for(format, state);
  const size_t piece = (reply.size() + state.pieces - 1) / state.pieces;
  for (size_t at = 0; at < reply.size(); at += piece) {
    if (at > 0)
      pause_ms(kPiecePauseMs);
    write_all(fd, std::string_view(reply).substr(at, piece));
  }
  std::printf("%s: answered%s%s, %s, %d dpi\n", query, state.garble ? " garbled" : "",
              state.pieces > 1 ? (" in " + std::to_string(state.pieces) + " pieces").c_str() : "",
              condition_names(state.conditions).c_str(), state.dpi);
}

// Acts on a command the moment it is read, as a printer does.
void act(Printer& printer, int fd, Action action)
{
  switch (action) {
  case Action::kNone: break;
  case Action::kAnswerErrorStatus: answer(printer, fd, ReplyFormat::kErrorStatus, "~HQES"); break;
  case Action::kAnswerHostStatus: answer(printer, fd, ReplyFormat::kHostStatus, "~HS"); break;
  case Action::kAnswerIdentification: answer(printer, fd, ReplyFormat::kIdentification, "~HI"); break;
  case Action::kSelfTest: std::printf("~WC: printed the configuration label\n"); break;
  case Action::kCalibrate: std::printf("~JC: calibrated the media\n"); break;
  }
}

// Tells what a finished file holds, and draws its label with --png.
void describe_file(const Printer& printer, const std::string& path)
{
  const std::string name = fs::path(path).filename().string();
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  if (ec || size > kMaxDrawnFile || name.rfind("label-", 0) != 0) {
    std::printf("%s: %ju bytes\n", name.c_str(), ec ? uintmax_t{0} : size);
    return;
  }
  std::string bytes(size, '\0');
  FILE* file = std::fopen(path.c_str(), "rb");
  const bool read = file && std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file)
    std::fclose(file);
  const ZplStream stream = parse_zpl(bytes);
  if (!read || stream.labels.empty()) {
    std::printf("%s: %ju bytes, no label in it\n", name.c_str(), size);
    return;
  }
  const Label& label = stream.labels.front();
  std::printf("%s: %s\n", name.c_str(), describe_label(label, printer.state.dpi).c_str());
  std::string error;
  if (printer.options.png && !write_png(path.substr(0, path.size() - 4) + ".png", label, error))
    std::printf("%s: %s\n", name.c_str(), error.c_str());
}

// Takes a finished file or a failure from the intake.
void took(Printer& printer, const std::string& finished, const std::string& error)
{
  if (!error.empty()) {
    std::fprintf(stderr, "zpl-virtual-printer: %s\n", error.c_str());
    printer.failed = true;
    g_stop = 1;
  }
  if (!finished.empty())
    describe_file(printer, finished);
}

// Feeds one read to the intake and acts on it. False once the connection
// must close: after the state's number of labels, the rest of the read is
// lost, as when a printer drops the connection.
bool take_bytes(Printer& printer, int fd, std::string_view bytes)
{
  Intake& intake = printer.intake;
  bool closing = false;
  for (char c : bytes) {
    if (printer.failed || (closing && !(intake.afterEnd && (c == '\r' || c == '\n'))))
      return false;
    const IntakeStep step = intake_byte(intake, c);
    took(printer, step.finished, step.error);
    act(printer, fd, step.action);
    if (step.labelEnded) {
      const PrinterState& state = look_at_state(printer);
      closing = state.closeAfter != 0 && intake.labels >= state.closeAfter;
    }
  }
  return !closing;
}

// Serves one connection until the peer ends it, the state closes it or the
// printer stops.
void serve(Printer& printer, int fd)
{
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  char buffer[65536];
  bool open = true;
  while (open && !g_stop) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, kPollMs) <= 0)
      continue;
    // The state as it is once the bytes are there: a change made before
    // they were sent holds for them.
    if (look_at_state(printer).stopReading) {
      pause_ms(kPollMs);
      continue;
    }
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    open = got > 0 && take_bytes(printer, fd, std::string_view(buffer, static_cast<size_t>(got)));
  }
  const uint32_t labels = printer.intake.labels;
  std::string error;
  const std::string finished = intake_end(printer.intake, error);
  took(printer, finished, error);
  std::printf("connection %u closed after %u label%s\n", printer.connections, labels, labels == 1 ? "" : "s");
}

// Accepts connections one at a time, as a label printer does, until told
// to stop.
void run(Printer& printer, int listener)
{
  while (!g_stop) {
    pollfd ready{listener, POLLIN, 0};
    if (poll(&ready, 1, kPollMs) <= 0)
      continue;
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    Fd connection(accept4(listener, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC));
    if (connection.fd < 0)
      continue;
    char address[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    std::printf("connection %u from %s:%u\n", ++printer.connections, address, ntohs(peer.sin_port));
    look_at_state(printer);
    serve(printer, connection.fd);
  }
}

// SIGTERM and SIGINT end the printer between reads; a peer that goes away
// while it answers must not end it.
void handle_signals()
{
  struct sigaction action {};
  action.sa_handler = on_stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
}

}  // namespace

int main(int argc, char* argv[])
{
  Printer printer;
  if (!parse_options(argc, argv, printer.options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (printer.options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // Whoever reads the log sees each event as it happens.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  handle_signals();
  std::error_code ec;
  fs::create_directories(printer.options.folder, ec);
  if (ec) {
    std::fprintf(stderr, "zpl-virtual-printer: can't make %s: %s\n", printer.options.folder.c_str(),
                 ec.message().c_str());
    return 1;
  }
  printer.base.dpi = printer.options.dpi;
  printer.intake.folder = printer.options.folder;
  printer.intake.lastNumber = highest_file_number(printer.options.folder);
  const Fd listener(listen_loopback(printer.options.port));
  if (listener.fd < 0)
    return 1;
  std::printf("keeping labels in %s; state file %s\n", printer.options.folder.c_str(),
              printer.options.statePath.c_str());
  run(printer, listener.fd);
  intake_abandon(printer.intake);
  return printer.failed ? 1 : 0;
}
