// CUPS filter: CUPS raster (8-bit grey) in, ZPL labels out.
//
// Usage, as CUPS starts the last filter of a queue:
//   zplfilter-300 job-id user title copies options [file]
#include <cstdio>
#include <memory>

#include <cups/cups.h>

#include "common/log.h"
#include "filter/model.h"
#include "raster/raster.h"
#include "settings/settings.h"

namespace {

struct CupsFileCloser {
  void operator()(cups_file_t* file) const { cupsFileClose(file); }
};
using CupsFile = std::unique_ptr<cups_file_t, CupsFileCloser>;

constexpr char kUsage[] = "ERROR: rastertotarvo job-id user title copies options [file]\n";

// Builds the job's settings from the PPD and the options argument; the
// options are released before the first page is read.
void build_settings(LabelDoc* doc, char* argv[])
{
  cups_option_t* options = nullptr;
  const int num_options = cupsParseOptions(argv[5], 0, &options);
  set_pstops_options(doc, argv, num_options, options);
  cupsFreeOptions(num_options, options);

  WriteLog("setting PageSize:%dx%d", doc->pageWidth, doc->pageHeight);
  WriteLog("setting Speed:%d", doc->printSpeed);
  WriteLog("setting Darkness:%d", doc->darkness);
}

}  // namespace

int main(int argc, char* argv[])
{
  LabelDoc doc{};
  InitLog(kLogPath);
  WriteLog("Enter main");
  for (int i = 0; i < argc; ++i)
    WriteLog("argv[%d]:%s", i, argv[i]);
  WriteLog("Begin main");

  if (argc != 6 && argc != 7) {
    WriteLog("Input param is not enough");
    std::fwrite(kUsage, 1, sizeof kUsage - 1, stderr);
    return 1;
  }

  {
    CupsFile input(argc == 6 ? cupsFileStdin() : cupsFileOpen(argv[6], "r"));
    if (argc == 7)
      WriteLog("cups_file:%s", argv[6]);

    build_settings(&doc, argv);

    if (input) {
      WriteLog("cups_file is not null");
      print_bitmap(&doc, g_model, input.get());
    }
  }

  WriteLog("Exit main");
  CloseLog();
  return 0;
}
