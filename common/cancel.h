// How a CUPS filter learns that its job was cancelled. CUPS cancels a job
// with SIGTERM to every filter and the backend at once; the backend keeps
// taking data, so a filter finishes what it is writing (a label, a command)
// and the printer never holds half of it.
#pragma once

#include <csignal>

// Set once SIGTERM came; read between labels and commands.
using CancelFlag = const volatile std::sig_atomic_t*;

// Installs the handlers: SIGTERM sets the flag, and restarted calls go on;
// SIGPIPE is ignored, so that a reader that is gone shows as a failed
// write instead of ending the filter unnoticed. Returns the flag.
CancelFlag watch_for_cancel();
