// systemd's watchdog for the printer application. Whatever hangs PAPPL (a
// lock cycle of its own, see app/pappl-locks.md), a hung server must not
// stay hung: a thread asks the server every few seconds, as a client would,
// for its printers, and tells systemd the application is alive only when
// the answer came. Without answers systemd stops sending jobs to a dead
// process: it kills and restarts it (WatchdogSec= in the unit).
//
// Nothing of this runs without systemd: with NOTIFY_SOCKET unset no thread
// is started.
#pragma once

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

// What the self-check asks and how long it waits for the answer.
struct SelfCheck {
  std::string socketPath;  // the server's local socket
  std::chrono::milliseconds timeout{0};
  // Test builds only: while this file exists the check gets no answer, as
  // from a hung server. Empty in the installed program.
  std::string blockFile;
};

// Sends Get-Printers through the local socket and waits for the answer.
// The request takes the locks any client takes: the main loop accepts it
// (system write lock), it reads the system and every printer, and its
// thread ends (system write lock). True when answered within the timeout;
// otherwise false with the reason in error.
bool run_self_check(const SelfCheck& check, std::string& error);

// How often to check for systemd's watchdog interval (WATCHDOG_USEC): four
// times per interval, so that one slow answer does not cost a restart.
std::chrono::milliseconds check_period(uint64_t watchdogUsec);

// Owns the watchdog thread; stops it when it goes.
struct Watchdog {
  SelfCheck check;
  uint64_t watchdogUsec = 0;  // 0: systemd only waits for READY=1
  pthread_t thread{};
  bool running = false;
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;

  Watchdog() = default;
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog();
};

// When systemd waits for the service's notifications (NOTIFY_SOCKET), starts
// the thread: READY=1 after the first answered self-check, then, with the
// watchdog on (WATCHDOG_USEC), WATCHDOG=1 after every answered one and
// STATUS= with the reason after every one unanswered. Returns false only
// when the thread could not be started.
bool start_watchdog(Watchdog& dog, const std::string& socketPath, const std::string& blockFile);

// Stops the thread, if any, telling systemd the service is stopping.
void stop_watchdog(Watchdog& dog);
