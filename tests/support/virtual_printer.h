// zpl-virtual-printer for the tests: a printer on a free loopback port,
// its files in a folder of the test, its state set while it runs.
//
//     TempDir dir;
//     VirtualPrinter printer;  // ended when it goes out of scope
//     ASSERT_TRUE(start_virtual_printer(printer, dir.file("printer")));
//     ASSERT_TRUE(set_printer_state(printer, {"media-out", "split 4"}));
//     ... point a queue at virtual_printer_uri(printer), print ...
//     ASSERT_TRUE(wait_for_kept(printer, before));
//     ... read_file(printer.folder + "/" + kept_files(printer).back()) ...
//
// The state file takes the program's own lines (see its manual page): a
// condition's name, "dpi N", "silent", "delay MS", "split N", "garble",
// "close-after N", "stop-reading". It is replaced at once by a rename, so
// the printer never reads half of it.
//
// printer_conditions() is what each state must become, in CUPS and in the
// printer application alike; walk_conditions() sets them in order, and
// each step shows its reasons appearing and the step before's leaving.
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support.h"

struct VirtualPrinter {
  std::string folder;  // kept labels, the state file, printer.log
  int port = -1;
  ServerProcess process;
};

// Starts the program with --port 0 --folder folder and the extra arguments,
// and waits for the port it names. False after reporting a failure.
bool start_virtual_printer(VirtualPrinter& printer, const std::string& folder,
                           const std::vector<std::string>& args = {});

// socket://127.0.0.1:<port>/?snmp=false: a CUPS queue's device on it,
// without the seconds the socket backend spends on SNMP first.
std::string virtual_printer_uri(const VirtualPrinter& printer);

// Replaces the state file with these lines.
bool set_printer_state(const VirtualPrinter& printer, const std::vector<std::string>& lines);

using Reasons = std::set<std::string>;

// A state of the printer and the reasons it must give: a CUPS queue's
// (the filters' STATE: lines, as lpstat shows them) and the printer
// application's printer-state-reasons.
struct PrinterCondition {
  std::vector<std::string> state;  // the state file's lines
  Reasons cups, app;
};

// Every condition the front ends name, the ones shown as "other", replies
// in four pieces, and last a printer with nothing to report. No two steps
// in a row give either front end the same reasons.
const std::vector<PrinterCondition>& printer_conditions();

// Sets each state of printer_conditions() in turn and calls check with
// its row, under a trace that names the state. Stops, failing the test,
// when a state can't be set.
void walk_conditions(const VirtualPrinter& printer, const std::function<void(const PrinterCondition&)>& check);

// The names of the files it kept whose names start with prefix ("label-",
// "commands-", "" for both), in the order they were finished.
std::vector<std::string> kept_files(const VirtualPrinter& printer, const std::string& prefix = "");

// Waits until it has kept more than count files whose names start with
// prefix; fails the test after two minutes.
bool wait_for_kept(const VirtualPrinter& printer, size_t count, const std::string& prefix = "");

// The kept files whose names start with prefix, from the index first on,
// joined: what the printer received since then ("label-": in labels).
std::string kept_bytes(const VirtualPrinter& printer, size_t first, const std::string& prefix = "");

// Its log so far, for failure messages.
std::string printer_log(const VirtualPrinter& printer);
