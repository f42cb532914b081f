// A private zpl-printer-app server for the end-to-end tests: its state,
// socket, spool and log under a folder of the test, listening on a free
// loopback port, with a folder device per printer. Nothing outside the
// folder is used.
//
//     TempDir root;
//     PrinterApp app;  // ends the server when it goes out of scope
//     ASSERT_TRUE(start_printer_app(app, build_paths().printerApp, root.path));
//     ASSERT_EQ(run_app(app, {"add", "-d", "p203", "-v", "file://" + out, "-m", "zpl_203dpi"}).status, 0);
//     const int job = submit_to_app(app, "p203", "label", pwg_sample(test_model(203), root.path));
//     const std::string printed = wait_for_closed_file(out + "/label.prn");
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <cups/cups.h>

#include "support.h"

// The server, ended when it goes out of scope.
struct PrinterApp {
  std::string program;  // the zpl-printer-app binary
  std::string root;     // state/, spool/, app.log, server.out
  int port = -1;
  ServerProcess process;
};

// Starts `server` on a free loopback port and waits until both its local
// socket and its port answer; env adds "NAME=value" entries to the server's
// environment only (the sub-commands of run_app() do not get them). False
// after reporting a failure.
bool start_printer_app(PrinterApp& app, const std::string& program, const std::string& root,
                       const std::vector<std::string>& env = {});

// Runs a sub-command (add, submit, drivers, shutdown, ...) against the server.
ProcessResult run_app(const PrinterApp& app, const std::vector<std::string>& args);

// `submit` of a file to a printer as job title; returns the job id, or 0
// after reporting a failure. extra goes before the file ({"-o", "copies=3"}).
int submit_to_app(const PrinterApp& app, const std::string& printer, const std::string& title,
                  const std::string& file, const std::vector<std::string>& extra = {});

// Sends `shutdown` and waits up to 30 s for the server to end. Returns its
// exit status, or -1 when it did not end (it is then killed, and the test
// fails).
int shutdown_printer_app(PrinterApp& app);

// ipp://127.0.0.1:<port>/ipp/print/<printer>
std::string printer_uri(const PrinterApp& app, const std::string& printer);

// An IPP connection to the server; close with httpClose. A server that
// stops answering fails a request on it after 30 s instead of hanging the
// test.
http_t* connect_app(const PrinterApp& app);

// A request of the operation for a printer of the server, with printer-uri,
// requesting-user-name and, unless 0, job-id. Send it with send_app_request.
ipp_t* app_request(const PrinterApp& app, ipp_op_t operation, const std::string& printer, int jobId = 0);

// Sends the request (and frees it) on a connection of its own, with the
// file as its document when one is named; returns the response for the
// caller to free with ippDelete, or null when the server can't be reached.
ipp_t* send_app_request(const PrinterApp& app, const std::string& printer, ipp_t* request,
                        const std::string& file = {});

// A printer attribute's values as text, joined by commas ("idle" for
// printer-state 3, "media-empty,media-needed"), or "" when no answer came.
std::string printer_attribute(const PrinterApp& app, const std::string& printer, const char* name);

// The body of a page of the web interface; "" after reporting a failure
// when the server can't be reached or does not answer 200 OK.
std::string get_web_page(const PrinterApp& app, const std::string& path);

// Posts a form of the web interface as a browser does: the page first, for
// its form's session token, then the fields ("a=1&b=2", URL-encoded).
// Returns the banner of the answer ("Changes saved.") or what went wrong.
std::string submit_web_form(const PrinterApp& app, const std::string& path, const std::string& fields);

// The job-state of a job (IPP_JSTATE_*), or 0 when it can't be had.
int job_state(const PrinterApp& app, const std::string& printer, int jobId);

// Waits until the job is completed, cancelled or aborted, for up to limit;
// its state then, or at the limit.
int wait_for_job_end(const PrinterApp& app, const std::string& printer, int jobId,
                     std::chrono::seconds limit = std::chrono::seconds(60));

// The id of the printer's job being printed, or 0.
int processing_job(const PrinterApp& app, const std::string& printer);

// Cancels the job; false when the server refused or can't be reached.
bool cancel_job(const PrinterApp& app, const std::string& printer, int jobId);

// Polls the file until it holds exactly expected, for up to 30 s (a job
// shows completed before PAPPL has closed its file). Returns what it holds
// last.
std::string wait_for_content(const std::string& path, const std::string& expected);

// Waits (up to timeout, looking at least once) until the file exists and
// no process holds it open any more: a folder device's job file is then
// complete, whatever the job state says. Returns its content; fails the
// test on the timeout.
std::string wait_for_closed_file(const std::string& path,
                                 std::chrono::steady_clock::duration timeout = std::chrono::seconds(60));

// The bundled sample's pages as 8-bit grey PWG raster at the model's
// resolution, 4 x 6 in, as a driverless client sends them: made by
// Ghostscript into dir; lastPage limits the pages. Returns the file's path.
std::string pwg_sample(const TestModel& model, const std::string& dir, int lastPage = 0);

// The last lines of the server's log, for failure messages.
std::string app_log_tail(const PrinterApp& app);
