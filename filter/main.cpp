// CUPS filter: CUPS raster (8-bit grey) in, ZPL labels out.
//
// Usage, as CUPS starts the last filter of a queue:
//   zplfilter-300 job-id user title copies options [file]
#include <csignal>
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

// Set when CUPS cancels the job. The page loop reads it between pages.
volatile std::sig_atomic_t g_cancelled = 0;

void on_sigterm(int) { g_cancelled = 1; }

// CUPS cancels a job with SIGTERM to every filter and the backend at once;
// the backend keeps taking data, so the label being written is finished and
// the printer never holds half a graphic. A reader that is gone must show as
// a failed write, not end the filter unnoticed.
void handle_signals()
{
  struct sigaction action {};
  action.sa_handler = on_sigterm;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);

  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
}

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
  log_media_settings(*doc);
}

}  // namespace

int main(int argc, char* argv[])
{
  handle_signals();
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

  int status = 0;
  {
    CupsFile input(argc == 6 ? cupsFileStdin() : cupsFileOpen(argv[6], "r"));
    if (argc == 7)
      WriteLog("cups_file:%s", argv[6]);

    build_settings(&doc, argv);

    if (input) {
      WriteLog("cups_file is not null");
      status = print_bitmap(&doc, g_model, input.get(), &g_cancelled);
    }
  }

  WriteLog("Exit main");
  CloseLog();
  return status;
}
