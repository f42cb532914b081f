// Fuzz target: the settings layers. The input is lines of text:
//   line 0     the job's options argument, as cupsParseOptions reads it
//   line 1, 2  the job-id and copies arguments
//   line 3..13 the values of DefaultPageSize, DefaultDarkness,
//              DefaultPrintSpeed, DefaultVertical, DefaultHorizontal,
//              DefaultDottedLine, DefaultHalftone, DefaultPrintMode,
//              DefaultMediaTracking, DefaultMediaType and DefaultTearOffset
//              in the queue's PPD; a missing line leaves the attribute out,
//              an empty one gives it an empty value.
// The settings then make one small label, so extreme values reach the label
// commands too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <cups/cups.h>
#include <cups/raster.h>
#include <unistd.h>

#include "fuzz/fuzz_io.h"
#include "raster/raster.h"
#include "settings/settings.h"

namespace {

constexpr const char* kAttributes[] = {
    "DefaultPageSize",   "DefaultDarkness",   "DefaultPrintSpeed",
    "DefaultVertical",   "DefaultHorizontal", "DefaultDottedLine",
    "DefaultHalftone",   "DefaultPrintMode",  "DefaultMediaTracking",
    "DefaultMediaType",  "DefaultTearOffset",
};

// Lives for the whole fuzzing process; the PPD variable names it.
int g_ppd_fd = -1;
std::vector<uint8_t> g_raster;  // one 16 x 2 page, made once

std::vector<uint8_t> make_small_raster()
{
  std::vector<uint8_t> bytes;
  const int fd = memory_file(nullptr, 0);
  if (fd < 0)
    return bytes;
  if (cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE)) {
    cups_page_header2_t header{};
    header.cupsWidth = 16;
    header.cupsHeight = 2;
    header.cupsBitsPerColor = 8;
    header.cupsBitsPerPixel = 8;
    header.cupsBytesPerLine = 16;
    header.cupsColorSpace = CUPS_CSPACE_W;
    header.NumCopies = 1;
    unsigned char rows[32];
    for (unsigned i = 0; i < sizeof rows; ++i)
      rows[i] = static_cast<unsigned char>(i * 37);
    cupsRasterWriteHeader2(ras, &header);
    cupsRasterWritePixels(ras, rows, sizeof rows);
    cupsRasterClose(ras);
  }
  const off_t size = lseek(fd, 0, SEEK_END);
  if (size > 0) {
    bytes.resize(static_cast<size_t>(size));
    if (pread(fd, bytes.data(), bytes.size(), 0) != size)
      bytes.clear();
  }
  close(fd);
  return bytes;
}

std::vector<std::string> split_lines(std::string_view text)
{
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos)
      end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string make_ppd(const std::vector<std::string>& lines)
{
  std::string ppd = "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*ModelName: \"Fuzz\"\n";
  for (size_t k = 0; k < std::size(kAttributes); ++k) {
    if (3 + k < lines.size())
      ppd += std::string("*") + kAttributes[k] + ": " + lines[3 + k] + "\n";
  }
  return ppd;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  quiet_filter_output();
  g_raster = make_small_raster();
  g_ppd_fd = memory_file(nullptr, 0);
  if (g_raster.empty() || g_ppd_fd < 0) {
    std::fputs("fuzz_settings: setup failed\n", stderr);
    std::abort();
  }
  const std::string path = "/proc/self/fd/" + std::to_string(g_ppd_fd);
  setenv("PPD", path.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  // NUL cannot reach the filter through argv; cut there as exec would.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines = split_lines(text.substr(0, text.find('\0')));
  lines.resize(std::max<size_t>(lines.size(), 3));

  const std::string ppd = make_ppd(lines);
  if (!refill_memory_file(g_ppd_fd, reinterpret_cast<const uint8_t*>(ppd.data()), ppd.size()))
    return 0;

  char program[] = "zplfilter-300";
  char user[] = "user";
  char title[] = "title";
  char* argv[] = {program, lines[1].data(), user, title, lines[2].data(), lines[0].data(), nullptr};

  LabelDoc doc{};
  cups_option_t* options = nullptr;
  const int num_options = cupsParseOptions(argv[5], 0, &options);
  set_pstops_options(&doc, argv, num_options, options);
  cupsFreeOptions(num_options, options);

  const int fd = memory_file(g_raster.data(), g_raster.size());
  if (fd < 0)
    return 0;
  if (cups_file_t* input = cupsFileOpenFd(fd, "r")) {
    print_bitmap(&doc, kProfile300, input);
    cupsFileClose(input);
  }
  return 0;
}
