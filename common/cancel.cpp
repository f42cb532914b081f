#include "common/cancel.h"

#include <signal.h>

namespace {

volatile std::sig_atomic_t g_cancelled = 0;

void on_sigterm(int) { g_cancelled = 1; }

}  // namespace

CancelFlag watch_for_cancel()
{
  struct sigaction action {};
  action.sa_handler = on_sigterm;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);

  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
  return &g_cancelled;
}
