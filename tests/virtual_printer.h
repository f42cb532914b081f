// zpl-virtual-printer for the tests: started on a free loopback port with
// its folder in the test's temp folder, its state set by renaming a file
// into place, its kept files listed, stopped when it goes out of scope.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct VirtualPrinter {
  std::string folder;  // labels, state file and log
  int port = -1;
  pid_t pid = -1;

  VirtualPrinter() = default;
  VirtualPrinter(const VirtualPrinter&) = delete;
  VirtualPrinter& operator=(const VirtualPrinter&) = delete;
  ~VirtualPrinter();
};

// Starts the program (VIRTUAL_PRINTER) with --port 0 --folder folder and
// the extra arguments, and waits for the port it names. False after
// reporting a failure.
bool start_printer(VirtualPrinter& printer, const std::string& folder, const std::vector<std::string>& args = {});

// Replaces the state file with these lines at once.
bool set_printer_state(const VirtualPrinter& printer, const std::vector<std::string>& lines);

// The names of the files it kept whose names start with prefix ("label-",
// "commands-", "" for both), in the order they were finished.
std::vector<std::string> kept_files(const VirtualPrinter& printer, const std::string& prefix = "");

// Waits until it has kept more than count files; false after two minutes.
bool wait_for_kept(const VirtualPrinter& printer, size_t count);

// Its log so far, for failure messages.
std::string printer_log(const VirtualPrinter& printer);

// A connection to it, closed when it goes out of scope.
struct PrinterConnection {
  int fd = -1;
  PrinterConnection() = default;
  PrinterConnection(const PrinterConnection&) = delete;
  PrinterConnection& operator=(const PrinterConnection&) = delete;
  ~PrinterConnection();
};

bool connect_printer(const VirtualPrinter& printer, PrinterConnection& connection);

// Sends all bytes. False when the connection can't take them.
bool send_bytes(const PrinterConnection& connection, const std::string& bytes);

// What arrives within waitMs milliseconds of quiet, one entry per read,
// until then or until the peer closes (closed set then).
std::vector<std::string> read_pieces(const PrinterConnection& connection, int waitMs, bool* closed = nullptr);
