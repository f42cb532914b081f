// systemd's watchdog for the printer application (see watchdog.h).
#include "app/watchdog.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <cups/cups.h>
#include <systemd/sd-daemon.h>

namespace {

using Clock = std::chrono::steady_clock;

// While the server starts, the self-check is tried this often until it
// first answers; failures then are expected and not reported.
constexpr std::chrono::milliseconds kStartRetry{250};

// No check waits less than this for its answer, however short systemd's
// interval: a busy server may take a moment to accept.
constexpr std::chrono::milliseconds kMinTimeout{1000};

// Closes an HTTP connection when it goes.
struct HttpOwner {
  http_t* http;
  ~HttpOwner() { httpClose(http); }
};

// Frees an IPP message when it goes.
struct IppOwner {
  ipp_t* ipp;
  ~IppOwner() { ippDelete(ipp); }
};

// CUPS's message for its last error; it may have none.
std::string last_cups_error()
{
  const char* text = cupsLastErrorString();
  return text ? text : ippErrorString(cupsLastError());
}

// "7.5 s" for 7500 ms, for the reasons.
std::string seconds_text(std::chrono::milliseconds span)
{
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(span.count()) / 1000.0);
  return text;
}

// The test builds' stand-in for a hung server: no answer for the whole
// timeout while the block file exists.
bool blocked(const SelfCheck& check)
{
  if (check.blockFile.empty() || access(check.blockFile.c_str(), F_OK) != 0)
    return false;
  std::this_thread::sleep_for(check.timeout);
  return true;
}

// Waits for the next check, or returns true when asked to stop.
bool wait_or_stop(Watchdog& dog, Clock::time_point until)
{
  std::unique_lock<std::mutex> lock(dog.mutex);
  return dog.wake.wait_until(lock, until, [&dog] { return dog.stopping; });
}

// Tells systemd one answered check: READY=1 the first time, then WATCHDOG=1
// (with the watchdog on). Returns false when there is no more to do.
bool report_answer(const Watchdog& dog, bool& ready, bool& failing)
{
  if (!ready)
    sd_notify(0, "READY=1\nSTATUS=Serving");
  else if (failing) {
    sd_notify(0, "STATUS=Serving");
    std::fprintf(stderr, "zpl-printer-app: the self-check is answered again\n");
  }
  ready = true;
  failing = false;
  if (dog.watchdogUsec == 0)
    return false;  // systemd only waited for READY=1
  sd_notify(0, "WATCHDOG=1");
  return true;
}

// Tells systemd why a check went unanswered; logged once per failing spell.
void report_failure(const std::string& error, bool& failing)
{
  sd_notifyf(0, "STATUS=Self-check failed: %s", error.c_str());
  if (!failing)
    std::fprintf(stderr, "zpl-printer-app: self-check failed: %s\n", error.c_str());
  failing = true;
}

// The watchdog thread: a self-check per period (every kStartRetry until the
// first answer), each reported to systemd, until stop_watchdog.
void* watch(void* context)
{
  Watchdog& dog = *static_cast<Watchdog*>(context);
  const std::chrono::milliseconds period = check_period(dog.watchdogUsec);
  bool ready = false, failing = false;
  Clock::time_point next = Clock::now();
  for (;;) {
    std::string error;
    const bool answered = run_self_check(dog.check, error);
    if (answered && !report_answer(dog, ready, failing))
      return nullptr;
    if (!answered && ready)
      report_failure(error, failing);
    next += ready ? period : kStartRetry;
    if (next < Clock::now())
      next = Clock::now();
    if (wait_or_stop(dog, next))
      return nullptr;
  }
}

}  // namespace

bool run_self_check(const SelfCheck& check, std::string& error)
{
  const std::string wait = seconds_text(check.timeout);
  if (blocked(check)) {
    error = "no answer within " + wait;
    return false;
  }
  const HttpOwner connection{httpConnect2(check.socketPath.c_str(), 0, nullptr, AF_LOCAL, HTTP_ENCRYPTION_NEVER, 1,
                                          static_cast<int>(check.timeout.count()), nullptr)};
  if (!connection.http) {
    error = "cannot connect to " + check.socketPath + ": " + std::strerror(errno);
    return false;
  }
  httpSetTimeout(connection.http, static_cast<double>(check.timeout.count()) / 1000.0, nullptr, nullptr);
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTERS);
  if (!request) {
    error = "cannot allocate the request";
    return false;
  }
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr, "ipp://localhost/ipp/system");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "watchdog");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-state");
  const IppOwner response{cupsDoRequest(connection.http, request, "/ipp/system")};
  if (!response.ipp) {
    error = "no answer within " + wait + " (" + last_cups_error() + ")";
    return false;
  }
  if (ippGetStatusCode(response.ipp) > IPP_STATUS_OK_EVENTS_COMPLETE) {
    error = std::string("Get-Printers answered ") + ippErrorString(ippGetStatusCode(response.ipp));
    return false;
  }
  return true;
}

std::chrono::milliseconds check_period(uint64_t watchdogUsec)
{
  if (watchdogUsec == 0)
    return kStartRetry;
  return std::chrono::milliseconds(watchdogUsec / 4000u);
}

Watchdog::~Watchdog()
{
  stop_watchdog(*this);
}

bool start_watchdog(Watchdog& dog, const std::string& socketPath, const std::string& blockFile)
{
  const char* notifySocket = std::getenv("NOTIFY_SOCKET");
  if (!notifySocket || !*notifySocket)
    return true;
  uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) <= 0)
    usec = 0;
  dog.watchdogUsec = usec;
  const std::chrono::milliseconds period = check_period(usec);
  dog.check = SelfCheck{socketPath, period < kMinTimeout ? kMinTimeout : period, blockFile};
  if (pthread_create(&dog.thread, nullptr, watch, &dog) != 0) {
    std::fprintf(stderr, "zpl-printer-app: cannot start the watchdog thread\n");
    return false;
  }
  dog.running = true;
  return true;
}

void stop_watchdog(Watchdog& dog)
{
  if (!dog.running)
    return;
  {
    const std::lock_guard<std::mutex> lock(dog.mutex);
    dog.stopping = true;
  }
  dog.wake.notify_all();
  pthread_join(dog.thread, nullptr);
  dog.running = false;
  sd_notify(0, "STOPPING=1");
}
