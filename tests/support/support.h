// Shared helpers of the tests: CUPS rasters made with libcups itself, the
// filters run as processes, and an independent decoder of the ZPL they write.
#pragma once

#include <cstdint>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <cups/raster.h>

// Defined when the tests are built with AddressSanitizer, whose allocator
// takes memory caps and prints warnings of its own.
#if defined(__SANITIZE_ADDRESS__)
#define ZPL_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZPL_TEST_ASAN 1
#endif
#endif

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

// The page header the filter gets for a page: 8-bit grey, colour space W.
cups_page_header2_t grey_header(uint32_t width, uint32_t height, unsigned copies);

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

// Writes an uncompressed raster stream, header after header, exactly as given.
bool write_raw_pages(const std::string& path, const std::vector<RawPage>& pages);

// --- processes and files ---

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

// Runs program with args as its argument vector (argv[0] included), its
// output collected and its status and peak memory taken.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& args, const RunSetup& setup);

// The same in folder dir, standard input from stdinPath (empty: /dev/null),
// env entries as in RunSetup.
ProcessResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const std::string& dir, const std::string& stdinPath = {},
                          const std::vector<std::string>& env = {});

// How a test takes a running filter's standard output through a pipe, and
// when it cancels the job with SIGTERM, as CUPS does.
struct PipePlan {
  size_t readChunk = 65536;         // output bytes taken per read
  unsigned readPauseUs = 0;         // pause after each read: a slow reader
  size_t termAfterBytes = SIZE_MAX; // SIGTERM once this much output has been read,
  unsigned termAfterMs = 0;         // or this long after the first output byte (0: never)
  bool closeOutput = false;         // nobody reads: every write fails with EPIPE
  size_t feedChunk = 0;             // when set, the raster comes through a pipe in
  unsigned feedPauseUs = 0;         // pieces of this size, with this pause between
};

struct PipedResult {
  ProcessResult process;          // out holds every byte read
  size_t readAtSignal = SIZE_MAX; // output bytes read when SIGTERM was sent; SIZE_MAX: not sent
  size_t pipeCapacity = 0;        // what the output pipe holds unread
};

// Runs program as run_process does (setup.stdoutPath unused), standard
// output to a pipe read by the test according to plan.
PipedResult run_piped(const std::string& program, const std::vector<std::string>& args, const RunSetup& setup,
                      const PipePlan& plan);

// A fresh folder under the test temp folder, removed with its contents by
// remove_tree.
std::string make_temp_dir();
void remove_tree(const std::string& dir);

std::string read_file(const std::string& path);
bool write_file(const std::string& path, std::string_view text);

// The message parts of the diagnostic log lines, time stamps removed; fails
// the test (EXPECT) for a line whose stamp or CR LF is malformed.
std::vector<std::string> log_messages(const std::string& logText);

// --- decoding the filter's output ---

struct DecodedLabel {
  bool hasHeader = false;  // the 7-byte dotted-line prefix
  uint8_t dottedLine = 0;
  std::string setup;  // the text commands before ^GFA, CR LF included
  int width = 0;      // ^PW
  int length = 0;     // ^LL
  int speed = 0;      // ^PR
  int darkness = 0;   // ~SD
  int copies = 0;     // ^PQ
  uint32_t totalBytes = 0, graphicBytes = 0, rowBytes = 0;  // ^GFA counts
  std::string base64;
  uint16_t crcSent = 0;
  std::vector<uint8_t> packed;  // the inflated graphic
};

// Splits a stream of labels and checks each one as a printer would: layout,
// CRC, base64 and zlib stream, counts. On failure returns false with the
// reason in error.
bool decode_labels(std::string_view stream, std::vector<DecodedLabel>& labels, std::string& error);

// The packed page a correct filter makes of a grey page at a threshold.
std::vector<uint8_t> pack_reference(const GreyPage& page, int threshold);

// CRC-16/XMODEM computed bit by bit, independent of the filter's table.
uint16_t crc16_reference(std::string_view text);
