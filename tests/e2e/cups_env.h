// A private CUPS set-up for whole jobs: a server-bin folder holding CUPS's
// own filters beside ours, the rasters CUPS makes, and a scheduler of our own
// on a loopback port. Nothing outside the test's temp folder is touched.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include <cups/raster.h>

#include "support.h"

// One of our programs for a private CUPS: its installed name and the file
// built for the tests.
struct FilterProgram {
  std::string name;  // "zplfilter-300"
  std::string path;
};
using FilterPrograms = std::vector<FilterProgram>;

// The filter of every model, the ZPL pass-through and the command filter,
// as the tests build them.
FilterPrograms test_filters();

// Makes root/serverbin: filter/ links every CUPS filter and holds copies of
// ours under their installed names; the other program folders are links to
// the system's. Returns the folder, or "" after reporting a failure.
std::string make_server_bin(const std::string& root, const FilterPrograms& programs);

// Makes root/data, a CUPS data folder: links to everything of CUPS's own,
// but mime/ links CUPS's MIME files and holds copies of the *.types and
// *.convs files of mimeDir (ours, from the source tree or an install), and
// when ppdDir is given model/ holds only that folder. Returns the folder, or
// "" after reporting a failure.
std::string make_data_dir(const std::string& root, const std::string& mimeDir, const std::string& ppdDir = {});

// Makes a cups-files.conf under root for cupsfilter -c: a server-bin folder
// from make_server_bin and a data folder whose MIME rules include those of
// mimeDir. Returns its path, or "" after reporting a failure.
std::string make_cupsfilter_conf(const std::string& root, const FilterPrograms& programs, const std::string& mimeDir);

// The raster pages a CUPS raster file holds, with the first header for the
// caller to check colour space and depth. False with a reason on failure.
bool read_raster_pages(const std::string& path, std::vector<GreyPage>& pages,
                       cups_page_header2_t& firstHeader, std::string& error);

// Number of pixels of exactly the given grey value over all pages.
size_t count_grey(const std::vector<GreyPage>& pages, uint8_t grey);

// A temp folder removed with its contents when it goes out of scope.
struct TempRoot {
  std::string path;
  ~TempRoot() { remove_tree(path); }
};

// Makes folders (with parents) readable and searchable by every user, as the
// scheduler's unprivileged filters need. False after reporting a failure.
bool make_public_dir(const std::string& path);

// A loopback TCP port that nothing listens on now.
int free_loopback_port();

// A cupsd of our own: configuration, spool and logs under root, listening on
// 127.0.0.1:port, file: devices allowed. The destructor stops it, so a test
// that fails half way never leaves it running; a timeout wrapper ends it even
// if the test process itself is killed.
struct PrivateCupsd {
  std::string root;
  std::string server;  // "127.0.0.1:<port>", for the -h option of the clients
  pid_t pid = -1;

  PrivateCupsd() = default;
  PrivateCupsd(const PrivateCupsd&) = delete;
  PrivateCupsd& operator=(const PrivateCupsd&) = delete;
  ~PrivateCupsd();
};

// Writes the configuration under root, starts cupsd and waits until it
// answers. serverBin is a folder from make_server_bin; dataDir is CUPS's
// data folder, or one whose model/ holds extra PPDs. False after reporting.
bool start_cupsd(PrivateCupsd& daemon, const std::string& root, const std::string& serverBin,
                 const std::string& dataDir);

// Stops the daemon if it runs and waits for it.
void stop_cupsd(PrivateCupsd& daemon);

// Runs a CUPS client program (found on PATH or in /usr/sbin) in dir.
ProcessResult run_tool(const std::string& tool, const std::vector<std::string>& args, const std::string& dir,
                       const std::vector<std::string>& env = {});

// The last lines of the daemon's error log, for failure messages.
std::string cupsd_log_tail(const PrivateCupsd& daemon);

// Sends a file to a queue with lp and the given "-o" options and copies;
// returns the job id ("labels-300dpi-1"), or "" after reporting a failure.
std::string print_file(const PrivateCupsd& daemon, const std::string& queue, const std::string& file,
                       const std::vector<std::string>& options = {}, int copies = 1);

// Waits until the job is completed; fails (with the daemon's log) if the
// queue stops or the job takes more than two minutes.
bool wait_for_job(const PrivateCupsd& daemon, const std::string& queue, const std::string& jobId);
