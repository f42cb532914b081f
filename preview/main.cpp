// zplpreview: checks the labels a ZPL stream holds as a printer would, and
// draws them.
//
//   zplpreview [--dpi 203|300] [--png PREFIX] [FILE]
//
// One line per label on standard output; every fault also on standard
// error, naming its label. With --png, label n is drawn to PREFIX-n.png.
// Exit status 0 when every label is sound, 1 when any is not (or there is
// none), 2 for a wrong command line or a file that can't be read or written.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "preview/render.h"
#include "preview/report.h"
#include "preview/zpl_parse.h"

namespace {

constexpr char kUsage[] = "usage: zplpreview [--dpi 203|300] [--png PREFIX] [FILE|-]\n";
constexpr size_t kMaxInput = size_t{256} << 20;

// Reads the whole input, at most kMaxInput bytes.
bool read_input(const char* path, std::string& bytes)
{
  const bool useStdin = !path || std::strcmp(path, "-") == 0;
  FILE* file = useStdin ? stdin : std::fopen(path, "rb");
  if (!file) {
    std::fprintf(stderr, "zplpreview: can't open %s: %s\n", path, std::strerror(errno));
    return false;
  }
  char chunk[65536];
  size_t got = 0;
  bool ok = true;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    if (bytes.size() + got > kMaxInput) {
      std::fprintf(stderr, "zplpreview: %s is larger than the %zu MiB zplpreview reads\n", useStdin ? "input" : path,
                   kMaxInput >> 20);
      ok = false;
      break;
    }
    bytes.append(chunk, got);
  }
  if (ok && std::ferror(file)) {
    std::fprintf(stderr, "zplpreview: can't read %s\n", useStdin ? "standard input" : path);
    ok = false;
  }
  if (!useStdin)
    std::fclose(file);
  return ok;
}

}  // namespace

int main(int argc, char* argv[])
{
  int dpi = 0;
  const char* pngPrefix = nullptr;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dpi" && i + 1 < argc && (std::strcmp(argv[i + 1], "203") == 0 || std::strcmp(argv[i + 1], "300") == 0)) {
      dpi = std::atoi(argv[++i]);
    } else if (arg == "--png" && i + 1 < argc && argv[i + 1][0] != '\0') {
      pngPrefix = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if ((arg[0] != '-' || arg == "-") && !path) {
      path = argv[i];
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }

  std::string bytes;
  if (!read_input(path, bytes))
    return 2;

  const ZplStream stream = parse_zpl(bytes);
  int status = stream_sound(stream) ? 0 : 1;
  for (const Label& label : stream.labels) {
    std::printf("%s\n", describe_label(label, dpi).c_str());
    for (const std::string& fault : label.faults)
      std::fprintf(stderr, "zplpreview: label %d: %s\n", label.number, fault.c_str());
    if (pngPrefix) {
      const std::string png = std::string(pngPrefix) + "-" + std::to_string(label.number) + ".png";
      std::string error;
      if (!write_png(png, label, error)) {
        std::fprintf(stderr, "zplpreview: label %d: %s\n", label.number, error.c_str());
        status = 2;
      }
    }
  }
  for (const std::string& fault : stream.faults)
    std::fprintf(stderr, "zplpreview: %s\n", fault.c_str());
  if (stream.labels.empty())
    std::fprintf(stderr, "zplpreview: no label in the input\n");
  return status;
}
