// zplpreview: checks the labels a ZPL stream holds as a printer would, and
// draws them.
//
//   zplpreview [--dpi 300|203|600] [--png PREFIX] [FILE]
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

#include "common/profile.h"
#include "zplread/render.h"
#include "zplread/report.h"
#include "zplread/zpl_parse.h"

namespace {

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

// The command line, naming the resolution of every model there is.
std::string usage()
{
  std::string dpis;
  for (const ModelProfile* model : kModels)
    dpis += (dpis.empty() ? "" : "|") + std::to_string(model->dpi);
  return "usage: zplpreview [--dpi " + dpis + "] [--png PREFIX] [FILE|-]\n";
}

// The resolution of a model as given after --dpi, or 0 for none: digits
// only, so that "300x" or "0300" is not taken for a model.
int model_dpi(const char* text)
{
  for (const ModelProfile* model : kModels)
    if (std::to_string(model->dpi) == text)
      return model->dpi;
  return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
  int dpi = 0;
  const char* pngPrefix = nullptr;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dpi" && i + 1 < argc && model_dpi(argv[i + 1]) != 0) {
      dpi = model_dpi(argv[++i]);
    } else if (arg == "--png" && i + 1 < argc && argv[i + 1][0] != '\0') {
      pngPrefix = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(usage().c_str(), stdout);
      return 0;
    } else if ((arg[0] != '-' || arg == "-") && !path) {
      path = argv[i];
    } else {
      std::fputs(usage().c_str(), stderr);
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
