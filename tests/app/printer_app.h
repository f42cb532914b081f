// A private zpl-printer-app server for the end-to-end tests: its state,
// socket, spool and log under a temp folder, listening on a free loopback
// port, with a folder device per printer. Nothing outside the folder is used.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include <cups/cups.h>

#include "support.h"

struct PrinterApp {
  std::string program;  // the zpl-printer-app binary
  std::string root;     // state/, spool/, app.log, server.out
  int port = -1;
  pid_t pid = -1;

  PrinterApp() = default;
  PrinterApp(const PrinterApp&) = delete;
  PrinterApp& operator=(const PrinterApp&) = delete;
  // Ends a server still running, so that a failed test never leaves one.
  ~PrinterApp();
};

// Starts `server` on a free loopback port and waits until both its local
// socket and its port answer; env adds "NAME=value" entries to the server's
// environment. False after reporting a failure.
bool start_printer_app(PrinterApp& app, const std::string& program, const std::string& root,
                       const std::vector<std::string>& env = {});

// Runs a sub-command (add, submit, drivers, shutdown, ...) against the server.
ProcessResult run_app(const PrinterApp& app, const std::vector<std::string>& args);

// Sends `shutdown` and waits up to 30 s for the server to end. Returns its
// exit status, or -1 when it did not end (it is then killed, and the test
// fails).
int shutdown_printer_app(PrinterApp& app);

// ipp://127.0.0.1:<port>/ipp/print/<printer>
std::string printer_uri(const PrinterApp& app, const std::string& printer);

// An IPP connection to the server; close with httpClose.
http_t* connect_app(const PrinterApp& app);

// The job-state of a job (IPP_JSTATE_*), or 0 when it can't be had.
int job_state(const PrinterApp& app, const std::string& printer, int jobId);

// Polls the file until it holds exactly expected, for up to 30 s (a job
// shows completed before PAPPL has closed its file). Returns what it holds
// last.
std::string wait_for_content(const std::string& path, const std::string& expected);

// The last lines of the server's log, for failure messages.
std::string app_log_tail(const PrinterApp& app);
