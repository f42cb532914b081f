#include "status/cups_status.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <cups/sidechannel.h>

namespace {

using Clock = std::chrono::steady_clock;

// CUPS gives every filter the back-channel, the backend's copy of what the
// printer sends, on descriptor 3 (its side channel is CUPS_SC_FD, 4).
constexpr int kBackChannelFd = 3;

// True when fd is open and a socket, or a pipe when pipes will do.
bool is_channel(int fd, bool pipeWillDo)
{
  struct stat st {};
  return fstat(fd, &st) == 0 && (S_ISSOCK(st.st_mode) || (pipeWillDo && S_ISFIFO(st.st_mode)));
}

// CUPS names the printer in DEVICE_URI and hands the channels to a backend
// behind us; a file: device has no backend, and a program started by hand
// may have anything at all on descriptors 3 and 4.
bool backend_present()
{
  const char* uri = std::getenv("DEVICE_URI");
  return uri && *uri && std::strncmp(uri, "file:", 5) != 0 && is_channel(CUPS_SC_FD, false) &&
         is_channel(kBackChannelFd, true);
}

// A CUPS timeout in seconds; never negative, which CUPS takes as forever.
double seconds(Clock::duration d)
{
  return d <= Clock::duration::zero() ? 0.0 : std::chrono::duration<double>(d).count();
}

// Runs call and charges the time it took to the budget.
template <typename Call>
auto timed(StatusSession& session, Call call)
{
  const Clock::time_point start = Clock::now();
  const auto result = call();
  session.left -= Clock::now() - start;
  return result;
}

// One side-channel request, its write and the wait for the answer within
// what is left of the budget. An answer that comes too late would be read
// as the answer to the next request, so after one no request follows.
cups_sc_status_t side_request(StatusSession& session, cups_sc_command_t command, char* data, int* size)
{
  const Clock::duration none = Clock::duration::zero();
  cups_sc_command_t answered = CUPS_SC_CMD_NONE;
  cups_sc_status_t status = CUPS_SC_STATUS_NONE;
  const auto write = [&] {
    return cupsSideChannelWrite(command, CUPS_SC_STATUS_NONE, nullptr, 0, seconds(session.left));
  };
  const auto read = [&] { return cupsSideChannelRead(&answered, &status, data, size, seconds(session.left)); };
  const bool ok = session.sideChannel && session.left > none && timed(session, write) == 0 && session.left > none &&
                  timed(session, read) == 0 && answered == command;
  if (!ok) {
    session.sideChannel = false;
    return CUPS_SC_STATUS_TIMEOUT;
  }
  return status;
}

// Up to 48 bytes of a reply for a log line, control bytes as \xNN.
std::string printable(std::string_view bytes)
{
  std::string text;
  for (char c : bytes.substr(0, 48)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      text += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    }
  }
  return text;
}

// Writes the STATE: lines for a reply: every reason of kCupsReasons the
// conditions name (and kOtherReason for unknown ones) set, every other one
// cleared.
void report_conditions(ConditionSet conditions, bool unknown)
{
  std::string set, clear;
  ConditionSet named = 0;
  for (const CupsReason& row : kCupsReasons) {
    named |= condition_bit(row.condition);
    std::string& list = (conditions & condition_bit(row.condition)) ? set : clear;
    list += std::string(list.empty() ? "" : ",") + std::string(row.reason);
  }
  std::string& other = (unknown || (conditions & ~named)) ? set : clear;
  other += std::string(other.empty() ? "" : ",") + std::string(kOtherReason);
  if (!clear.empty())
    std::fprintf(stderr, "STATE: -%s\n", clear.c_str());
  if (!set.empty())
    std::fprintf(stderr, "STATE: +%s\n", set.c_str());
}

// The reader's verdict for CUPS: the reasons of a complete reply, a log
// line for a garbled one.
void report_reply(const ReplyReader& reader)
{
  if (reader.progress == ReplyProgress::kGarbled) {
    std::fprintf(stderr, "DEBUG: The printer's status reply is garbled; no reason changed: %s\n",
                 printable(std::string_view(reader.text.data(), reader.size)).c_str());
    return;
  }
  const ConditionSet conditions = conditions_of(reader.errorStatus);
  std::string names = join_conditions(conditions, &ConditionEntry::text, ", ");
  const bool unknown = has_unknown_bits(reader.errorStatus);
  if (unknown)
    names += std::string(names.empty() ? "" : ", ") + "other conditions";
  std::fprintf(stderr, "DEBUG: The printer reports: %s\n", names.empty() ? "ready" : names.c_str());
  report_conditions(conditions, unknown);
}

// Feeds what the back-channel holds to the reader, waiting up to wait (and
// no longer than the budget) for each piece, until the reply is complete
// or garbled, nothing more comes, or the job is cancelled.
void read_reply(StatusSession& session, bool wait, CancelFlag cancelled)
{
  char piece[256];
  while (session.reader.progress == ReplyProgress::kNeedMore && !(cancelled && *cancelled)) {
    if (wait && session.left <= Clock::duration::zero())
      break;
    const double timeout = wait ? seconds(session.left) : 0.0;
    const ssize_t got = timed(session, [&] { return cupsBackChannelRead(piece, sizeof piece, timeout); });
    if (got <= 0)
      break;
    if (reply_feed(session.reader, std::string_view(piece, static_cast<size_t>(got))) != ReplyProgress::kNeedMore)
      report_reply(session.reader);
  }
}

}  // namespace

void status_ask(StatusSession& session, FILE* out)
{
  if (!backend_present())
    return;
  char bidi = 0;
  int size = 1;
  const cups_sc_status_t status = side_request(session, CUPS_SC_CMD_GET_BIDI, &bidi, &size);
  if (status != CUPS_SC_STATUS_OK || size != 1 || bidi != CUPS_SC_BIDI_SUPPORTED) {
    const char* why =
        status == CUPS_SC_STATUS_OK ? "the backend has no back-channel" : "the backend did not answer in time";
    std::fprintf(stderr, "DEBUG: The printer's status is not asked: %s\n", why);
    return;
  }
  std::fwrite(kErrorStatusQuery.data(), 1, kErrorStatusQuery.size(), out);
  session.asked = std::fflush(out) == 0;
  std::fputs("DEBUG: Asked the printer for its status (~HQES)\n", stderr);
}

void status_collect(StatusSession& session)
{
  if (session.asked)
    read_reply(session, false, nullptr);
}

void status_finish(StatusSession& session, CancelFlag cancelled)
{
  if (!session.asked || session.reader.progress != ReplyProgress::kNeedMore || (cancelled && *cancelled))
    return;
  status_collect(session);
  if (session.reader.progress != ReplyProgress::kNeedMore)
    return;
  // Before its first write the socket backend answers "not implemented",
  // after it the data reaches the printer first; either way the reply may
  // still come, so it is read whatever the answer.
  char none[1];
  int size = 0;
  side_request(session, CUPS_SC_CMD_DRAIN_OUTPUT, none, &size);
  read_reply(session, true, cancelled);
  if (session.reader.progress == ReplyProgress::kNeedMore)
    std::fprintf(stderr, "DEBUG: The printer did not report its status within %d ms; no reason changed\n",
                 static_cast<int>(kStatusBudget.count()));
}
