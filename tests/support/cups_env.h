// CUPS set-ups of our own for whole jobs: a server-bin folder holding
// CUPS's filters beside ours, cupsfilter with our PPDs and MIME rules, and a
// scheduler on a free loopback port. Nothing outside the test's folders is
// touched.
//
// A queue and a job, as the tests print:
//     TempDir root;
//     ASSERT_TRUE(make_public_dir(root.path));  // the scheduler's filters run as lp
//     PrivateCupsd daemon;
//     ASSERT_TRUE(start_cupsd(daemon, root.path, make_server_bin(root.path, test_filters()),
//                             make_data_dir(root.path, build_paths().mimeSourceDir)));
//     ASSERT_TRUE(add_queue(daemon, "labels", model.ppd, root.path + "/out/labels.zpl"));
//     const std::string id = print_job(daemon, "labels", build_paths().samplePdf, {"-o", "Darkness=20"});
//     ASSERT_FALSE(id.empty());  // lp took it and the job completed
//     ... read_file(root.path + "/out/labels.zpl") ...
// The daemon is stopped by its destructor; TempDir removes the rest.
#pragma once

#include <string>
#include <vector>

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
// when ppdDir is given model/zplfilter is that folder. Returns the folder, or
// "" after reporting a failure.
std::string make_data_dir(const std::string& root, const std::string& mimeDir, const std::string& ppdDir = {});

// The cups-files.conf for cupsfilter -c that the tests share: CUPS's
// filters with ours, CUPS's MIME rules with ours from the source tree. ""
// after reporting a failure; the folder lives as long as the test program.
const std::string& shared_cupsfilter_conf();

// cupsfilter with the shared configuration and the PPD, from file to the
// MIME type `to` ("printer/foo": what the printer gets); extra arguments
// go before the file.
ProcessResult run_cupsfilter(const std::string& ppd, const std::string& file,
                             const std::vector<std::string>& extra = {}, const std::string& to = "printer/foo");

// A cupsd of our own: configuration, spool and logs under root, listening
// on 127.0.0.1:port, file: devices allowed; stopped when it goes out of
// scope.
struct PrivateCupsd {
  std::string root;
  std::string server;  // "127.0.0.1:<port>", for the -h option of the clients
  ServerProcess process;
};

// Writes the configuration under root (which must be public), starts cupsd
// and waits until it answers. serverBin is a folder from make_server_bin;
// dataDir is CUPS's data folder, or one from make_data_dir. False after
// reporting a failure.
bool start_cupsd(PrivateCupsd& daemon, const std::string& root, const std::string& serverBin,
                 const std::string& dataDir);

// Runs a CUPS client program (found in /usr/bin or /usr/sbin) in dir.
ProcessResult run_tool(const std::string& tool, const std::vector<std::string>& args, const std::string& dir,
                       const std::vector<std::string>& env = {});

// The last lines of the daemon's error log, for failure messages.
std::string cupsd_log_tail(const PrivateCupsd& daemon);

// Adds an enabled queue writing to the file output, or to the device when
// output is a URI ("socket://127.0.0.1:<port>/?snmp=false"): with the PPD
// file ppd, or with "-m <name>" when ppd is a name of the driver list.
// False after reporting a failure.
bool add_queue(const PrivateCupsd& daemon, const std::string& queue, const std::string& ppd,
               const std::string& output);

// Sends a file to a queue with lp and lp's own arguments ({"-n", "2", "-o",
// "Darkness=20"}); returns the job id ("labels-3"), or "" after reporting a
// failure.
std::string submit_job(const PrivateCupsd& daemon, const std::string& queue, const std::string& file,
                       const std::vector<std::string>& lpArgs = {});

// True once lpstat lists the job among the queue's completed ones.
bool job_completed(const PrivateCupsd& daemon, const std::string& queue, const std::string& jobId);

// Waits until the job is completed; fails (with the daemon's log) if the
// queue stops or the job takes more than two minutes.
bool wait_for_job(const PrivateCupsd& daemon, const std::string& queue, const std::string& jobId);

// submit_job, then wait_for_job: the job id once it completed, else "".
std::string print_job(const PrivateCupsd& daemon, const std::string& queue, const std::string& file,
                      const std::vector<std::string>& lpArgs = {});

// `cmake --install` of this build into root/stage, with the install prefix
// given or the build's own. Returns the stage, or "" after reporting.
std::string stage_install(const std::string& root, const std::string& prefix = {});

// What an install must give an administrator, checked on a running daemon:
// lpinfo -m lists every model as "<ppdPrefix>zplfilter-<dpi>.ppd Generic ZPL
// Label Printer <dpi>dpi, zplfilter"; a queue added per model by that name
// prints the bundled sample as two labels at the PPD's defaults; and a ZPL
// file reaches its device unchanged. Output goes to root/out.
void expect_installed_driver(const PrivateCupsd& daemon, const std::string& root, const std::string& ppdPrefix);

