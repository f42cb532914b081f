// The shared harness of the tests. Every test program links the library
// test_support (tests/support.cmake) and includes this header; a test that
// needs a scheduler of its own also includes cups_env.h, one that needs the
// printer application printer_app.h, one that needs a printer that answers
// virtual_printer.h.
//
// How the pieces fit:
//
// - The model table. test_models() has one row per profile of
//   common/profile.h (kModels), with what the tests add: the test build of
//   the model's filter and its PPD. Parameterise with
//   ::testing::ValuesIn(test_models()) and name the cases with ParamName()
//   (a parameter struct of a test's own needs a `name`, and a PrintTo for
//   a readable ctest listing);
//   test_model(203) picks one row. Expected sizes come from dots(), in exact
//   integer arithmetic, not from the product's own conversion.
//
// - Folders and files. A TempDir is a fresh folder under $TMPDIR, removed
//   with its contents by its destructor: make it a fixture member or a
//   local, never copy it.
//
// - Running a program. run_process() runs any program with an argument
//   vector (argv[0] included) and a RunSetup (working folder, standard
//   input, environment changes, memory cap, a user without rights) and
//   returns its status, standard output and error, and peak memory;
//   run_program() is the short form. A filter on pages, as CUPS starts it:
//       TempDir dir;
//       const ProcessResult r = run_filter(model.filter, {noise_page(40, 8, 1)}, dir.path, {"Darkness=20"});
//   run_filter() writes the raster to dir/job.ras, passes it by name (or on
//   standard input with FilterJob::onStdin) and runs without a PPD unless
//   FilterJob::env names one; filter_labels() returns just the labels of a
//   run that must succeed.
//
// - Running piped. run_piped() gives the program's standard output to a
//   pipe that the test reads per a PipePlan: as fast as it comes or slowly;
//   SIGTERM after so many bytes or so long after the first one, sent only
//   once the program catches SIGTERM (so the handler is what is tested);
//   the input fed slowly through a pipe, or held open empty until the
//   signal; or nobody reading at all (the read end is closed before the
//   fork, so every write fails with EPIPE whatever the machine's load).
//
// - Labels. decode_labels() takes a stream of labels apart as a printer
//   would, sharing no code with the filter: use it as
//       std::vector<DecodedLabel> labels;
//       ASSERT_TRUE(decode_labels(r.out, labels));
//   pack_reference() is what a page must become at a threshold, and
//   reference_label() a whole label built from the printer's side, byte for
//   byte. zlib_stream(), base64_reference() (RFC 4648, with its own
//   alphabet), graphic_field() and hex_field() build graphic data by hand.
//
// - The diagnostic log: read_log(dir) returns its messages, stamps
//   checked; log_line() takes one from the end and gives a readable
//   stand-in instead of undefined behaviour when the log is shorter.
//
// - ZPL samples: zpl_samples() and not_zpl_samples() are the files every
//   recogniser of ZPL (CUPS's MIME rules, zplpass, the printer application)
//   must agree on.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <cups/raster.h>
#include <gtest/gtest.h>

#include "common/profile.h"

// Defined when the tests are built with AddressSanitizer, whose allocator
// takes memory caps and prints warnings of its own.
#if defined(__SANITIZE_ADDRESS__)
#define ZPL_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZPL_TEST_ASAN 1
#endif
#endif

// --- the model table ---

// A printer model as the tests see it: its profile, and the programs and
// files this build made for it.
struct TestModel {
  std::string name;  // "300dpi": test names and messages
  const ModelProfile* profile = nullptr;
  int dpi = 0;
  int threshold = 0;     // grey values below it print
  bool header = false;   // labels start with the dotted-line header
  std::string filter;    // the test build of zplfilter-<dpi>: its log is quilby.log in the working folder
  std::string installed; // "zplfilter-<dpi>", its name in CUPS's filter folder
  std::string ppd;       // the PPD built for it
};

// Every model of common/profile.h, in its order there.
const std::vector<TestModel>& test_models();
// The row of one resolution (the test fails when there is none).
const TestModel& test_model(int dpi);

// Millimetres to the model's dots, truncated toward zero, in integers.
int dots(const TestModel& model, int mm);

// Names parameterised cases after their parameter's `name` member, and
// tuples after each member's name joined by '_'.
struct ParamName {
  template <typename T>
  std::string operator()(const ::testing::TestParamInfo<T>& info) const
  {
    return name_of(info.param);
  }
  template <typename T>
  static std::string name_of(const T& param)
  {
    return std::string(param.name);
  }
  template <typename... T>
  static std::string name_of(const std::tuple<T...>& params)
  {
    std::string joined;
    std::apply([&](const auto&... p) { ((joined += (joined.empty() ? "" : "_") + name_of(p)), ...); }, params);
    return joined;
  }
};

// Prints a model as its name in gtest's messages and ctest's listing.
void PrintTo(const TestModel& model, std::ostream* os);

// The programs and files of this build, where CMake put them.
struct BuildPaths {
  std::string zplpass, zplpreview;
  std::string zplcommand;            // the command filter for application/vnd.cups-command files
  std::string virtualPrinter;        // zpl-virtual-printer
  std::string printerApp;            // empty where PAPPL was not found
  std::string testPrinterApp;        // the same with the test switches of app/main.cpp
  std::string samplePdf, samplePs;   // the bundled sample label
  std::string mimeSourceDir;         // our .types and .convs in the source tree
  std::string cmake, binaryDir;      // for `cmake --install`
  std::string filterDir, mimeDir;    // where an install puts the filters and MIME files
  std::string installPrefix;         // the build's install prefix
  std::string ppdInstallDir;         // where the PPDs go: absolute, or under the prefix
};
const BuildPaths& build_paths();

// The PPDs' folder of an install with the given prefix.
std::string ppd_install_dir(const std::string& prefix);

// --- folders and files ---

// A fresh folder, removed with everything in it by the destructor.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // path + "/" + name.
  std::string file(std::string_view name) const;

  std::string path;
};

// Makes folders (with parents) readable and searchable by every user, as
// the scheduler's unprivileged filters need. False after reporting a failure.
bool make_public_dir(const std::string& path);

std::string read_file(const std::string& path);
bool write_file(const std::string& path, std::string_view text);

// The end of a log file under a title line, for failure messages.
std::string file_tail(const std::string& path, std::string_view title);

// Writes dir/name.ppd: a PPD header and the attribute lines given. Returns
// the path; run a filter with env {"PPD=" + path} to use it.
std::string write_ppd(const std::string& dir, std::string_view lines, std::string_view name = "queue");

// --- rasters ---

// One page of 8-bit grey pixels, row after row, width bytes per row.
struct GreyPage {
  uint32_t width = 0;
  uint32_t height = 0;
  unsigned copies = 1;
  std::vector<uint8_t> pixels;
  // When set, the page header claims this many rows but only pixels.size()
  // / width rows follow (the stream is cut there).
  uint32_t claimedHeight = 0;
};

GreyPage white_page(uint32_t width, uint32_t height, unsigned copies = 1);
// A page of pseudo-random grey values, the same for the same seed.
GreyPage noise_page(uint32_t width, uint32_t height, uint32_t seed, unsigned copies = 1);

// Writes pages as a CUPS raster stream; mode selects plain or compressed.
// A page with claimedHeight set ends the stream after its rows.
bool write_raster(const std::string& path, const std::vector<GreyPage>& pages,
                  cups_mode_t mode = CUPS_RASTER_WRITE_COMPRESSED);

// One page of a hand-made stream: a header as it stands and the bytes after
// it, for headers that libcups would not write itself.
struct RawPage {
  cups_page_header2_t header;
  std::vector<uint8_t> data;
};

// The page as libcups would write it, uncompressed.
RawPage raw_page(const GreyPage& page);
// A header that claims what it likes, followed by dataBytes zero bytes.
RawPage claimed_page(uint32_t width, uint32_t height, uint32_t bytesPerLine, uint32_t bitsPerPixel = 8,
                     size_t dataBytes = 0);

// Writes an uncompressed raster stream, header after header, exactly as given.
bool write_raw_pages(const std::string& path, const std::vector<RawPage>& pages);

// The pages of a CUPS or PWG raster file, with the first header for the
// caller to check colour space and depth. Fails with the reason.
::testing::AssertionResult read_raster_pages(const std::string& path, std::vector<GreyPage>& pages,
                                             cups_page_header2_t& firstHeader);

// Number of pixels of exactly the given grey value over all pages.
size_t count_grey(const std::vector<GreyPage>& pages, uint8_t grey);

// --- processes ---

struct ProcessResult {
  int status = -1;  // exit status, or -1 when the process did not exit
  std::string out;
  std::string err;
  long maxRssKb = -1;  // peak resident size of the process
};

// How a process is started.
struct RunSetup {
  std::string dir;                // working folder
  std::string stdinPath;          // standard input; empty: /dev/null
  std::vector<std::string> env;   // "NAME=value" set or replaced, "-NAME" removed
  std::string outDir;             // where output is collected; empty: dir
  bool removeDir = false;         // remove the (empty) working folder first
  bool asNobody = false;          // as root, run as uid/gid 65534
  unsigned memoryCapMb = 0;       // largest allocation the process can get
  std::string stdoutPath;         // standard output; empty: collected in out
};

// Checks a run that ended well with nothing to print and nothing to say.
void expect_silent(const ProcessResult& result);

// Runs program with args as its argument vector (argv[0] included) and
// waits for it.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& args, const RunSetup& setup);

// The same in folder dir, standard input from stdinPath (empty: /dev/null).
ProcessResult run_program(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                          const std::string& stdinPath = {}, const std::vector<std::string>& env = {});

// How the test takes a program's standard output through a pipe, and when
// it cancels the job with SIGTERM, as CUPS does.
struct PipePlan {
  size_t readChunk = 65536;          // output bytes taken per read
  unsigned readPauseUs = 0;          // pause after each read: a slow reader
  size_t termAfterBytes = SIZE_MAX;  // SIGTERM once exactly this much output has been read,
  unsigned termAfterMs = 0;          // or this long after the first output byte (0: never)
  bool closeOutput = false;          // nobody reads: every write fails with EPIPE
  unsigned startDelayMs = 0;         // the test waits this long after the fork: a loaded machine
  size_t feedChunk = 0;              // when set, standard input comes through a pipe in
  unsigned feedPauseUs = 0;          // pieces of this size, with this pause between
  bool holdInput = false;            // standard input is a pipe left empty and open until the signal
};

struct PipedResult {
  ProcessResult process;           // out holds every byte read
  size_t readAtSignal = SIZE_MAX;  // output bytes read when SIGTERM was sent; SIZE_MAX: not sent
  size_t pipeCapacity = 0;         // what the output pipe holds unread
};

// Runs program as run_process does (setup.stdoutPath unused), standard
// output to a pipe read per plan.
PipedResult run_piped(const std::string& program, const std::vector<std::string>& args, const RunSetup& setup,
                      const PipePlan& plan);

// A loopback TCP port that nothing listens on now.
int free_loopback_port();

// A connection to 127.0.0.1:port (close-on-exec), or -1.
int connect_loopback(int port);

// A long-running program (a scheduler, a server) started under `timeout`,
// so that it ends within ten minutes even if the test process is killed;
// its standard output and error go to outPath. Returns its pid, or -1
// after reporting a failure.
pid_t start_server(const std::vector<std::string>& args, const std::string& outPath,
                   const std::vector<std::string>& env = {});

// The exit status of a server that has ended, or kStillRunning.
constexpr int kStillRunning = -2;
int server_status(pid_t pid);

// Ends a server if it runs: SIGTERM, SIGKILL ten seconds later; waits for
// it and sets pid to -1.
void stop_server(pid_t& pid);

// Owns a server from start_server(): ends it when it goes out of scope, so
// that a test failing half way never leaves one running. Not copyable.
struct ServerProcess {
  pid_t pid = -1;

  ServerProcess() = default;
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  ~ServerProcess() { stop_server(pid); }
};

// Waits up to 15 s until answering() says the server answers. When it ends
// first or never answers, fails the test with what it wrote to outPath,
// stops it and returns false.
bool wait_until_answering(ServerProcess& server, const std::string& outPath, const std::function<bool()>& answering);

// A filter's job as CUPS starts it.
struct FilterJob {
  std::string options;                           // the job's options, argv[5]
  std::vector<std::string> env{"-PPD"};          // environment changes; default: no PPD
  cups_mode_t mode = CUPS_RASTER_WRITE_COMPRESSED;
  bool onStdin = false;                          // the raster on standard input, no file argument
};

// The argument vector CUPS gives a filter: program, job id, user, title,
// one copy, options and, unless empty, the file.
std::vector<std::string> filter_args(const std::string& program, const std::string& options,
                                     const std::string& file);

// Writes the pages to dir/job.ras and runs the filter on them in dir.
ProcessResult run_filter(const std::string& program, const std::vector<GreyPage>& pages, const std::string& dir,
                         const FilterJob& job = {});

// The labels a filter writes for the pages in a folder of its own; fails
// the test when the filter does not exit with 0.
std::string filter_labels(const std::string& program, const std::vector<GreyPage>& pages,
                          const std::string& options = "");

// --- labels ---

// The switch ahead of the 300 dpi model's labels, before its value byte
// (0: no dotted line, 1: a dotted line).
inline const std::string kDottedLineSwitch("\x1F\x1B\x1A\x01\x03\x01", 6);

struct DecodedLabel {
  bool hasHeader = false;  // the 7-byte dotted-line prefix
  uint8_t dottedLine = 0;
  std::string setup;  // the text commands before ^GFA, CR LF included
  int width = 0;      // ^PW
  int length = 0;     // ^LL
  int speed = 0;      // ^PR
  int darkness = 0;   // ~SD
  int copies = 0;     // ^PQ
  uint32_t totalBytes = 0, rowBytes = 0;  // ^GFA counts (its field count must equal the first)
  std::vector<uint8_t> packed;  // the inflated graphic
};

// Splits a stream of labels and checks each one as a printer would: layout,
// CRC, base64 and zlib stream, counts. Fails with the label and the reason.
::testing::AssertionResult decode_labels(std::string_view stream, std::vector<DecodedLabel>& labels);

// The offsets just past each label's closing "^XZ" CR LF.
std::vector<size_t> label_ends(std::string_view stream);

// The packed page a correct filter makes of a grey page at a threshold.
std::vector<uint8_t> pack_reference(const GreyPage& page, int threshold);

// CRC-16/XMODEM computed bit by bit, independent of the filter's table.
uint16_t crc16_reference(std::string_view text);

// Padded base64 with RFC 4648's alphabet, written out here.
std::string base64_reference(const std::vector<uint8_t>& raw);

// The zlib stream of bytes at zlib's default level.
std::vector<uint8_t> zlib_stream(const std::vector<uint8_t>& bytes);

// form (":Z64:" or ":B64:"), the base64 text of bytes, ":" and the text's
// CRC in four upper-case hexadecimal digits.
std::string graphic_field(std::string_view form, const std::vector<uint8_t>& bytes);
// The same around a given base64 text.
std::string graphic_field_text(std::string_view form, const std::string& text);

// Plain hexadecimal of bytes, a line break after every row.
std::string hex_field(const std::vector<uint8_t>& bytes, size_t rowBytes);

// The job settings a label shows; the defaults are the built-in ones.
struct LabelSettings {
  int widthMm = 60, lengthMm = 40, speed = 4, darkness = 7, dottedLine = 0;
  // Media handling: the letters of ^MM, ^MN and ^MT (0: none sent), and the
  // ~TA line ahead of the format as the printer must get it (empty: none).
  char mode = 'T', tracking = 0, type = 0;
  std::string tearLine{};
};

// One whole label for the page as the model's filter must write it, built
// from the printer's side.
std::string reference_label(const TestModel& model, const GreyPage& page, const LabelSettings& settings = {});

// --- the diagnostic log ---

// The message parts of the log's lines, stamps removed; fails the test
// (EXPECT) for a line whose stamp or CR LF is malformed.
std::vector<std::string> log_messages(const std::string& logText);

// The messages of dir/quilby.log, where the test builds log.
std::vector<std::string> read_log(const std::string& dir);

// The message fromEnd lines before the last (0: the last), or a text
// saying the log is shorter, so that a comparison fails readably.
std::string log_line(const std::vector<std::string>& messages, size_t fromEnd = 0);

// --- ZPL samples ---

struct ZplSample {
  std::string name;
  std::string bytes;
  int labels = 0;  // ^XA...^XZ labels it holds
};

// A label with a hex graphic of the given size, ^XA to ^XZ and the line
// end, behind the 300 dpi model's dotted-line switch when asked.
std::string hex_label(size_t graphicBytes, bool dottedLine, std::string_view lineEnd = "\r\n");

// Jobs that are ZPL by their content, whatever their name.
const std::vector<ZplSample>& zpl_samples();
// Files that are not ZPL, though some hold a ^XA somewhere.
const std::vector<ZplSample>& not_zpl_samples();

