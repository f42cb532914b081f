// CUPS filter: CUPS raster (8-bit grey) in, ZPL labels out.
//
// Usage, as CUPS starts the last filter of a queue:
//   zplfilter-300 job-id user title copies options [file]
#include <cstdio>

#include <cups/cups.h>

#include "common/cancel.h"
#include "common/cups_file.h"
#include "common/log.h"
#include "filter/model.h"
#include "raster/raster.h"
#include "settings/settings.h"
#include "status/cups_status.h"

namespace {

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

// Between labels: takes whatever part of the printer's status reply has
// come back by now, without waiting.
void collect_status(void* session)
{
  status_collect(*static_cast<StatusSession*>(session));
}

// Prints every page of the job. The status query goes ahead of the first
// label and its reply is taken between labels and after the last one: the
// labels never wait for it. Returns the page loop's status.
int print_job(const LabelDoc& doc, cups_file_t* input, CancelFlag cancelled)
{
  StatusSession printerStatus;
  if (doc.statusQuery == StatusQuery::kAuto)
    status_ask(printerStatus, stdout);
  if (printerStatus.asked)
    WriteLog("asked the printer for its status");
  const int status = print_bitmap(&doc, g_model, input, cancelled, {collect_status, &printerStatus});
  if (status == 0)
    status_finish(printerStatus, cancelled);
  return status;
}

}  // namespace

int main(int argc, char* argv[])
{
  // The page loop reads the flag between pages and finishes the label it
  // is writing.
  const CancelFlag cancelled = watch_for_cancel();
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
    const CupsFile input = open_job_input(argc, argv);
    if (argc == 7)
      WriteLog("cups_file:%s", argv[6]);

    build_settings(&doc, argv);

    if (input) {
      WriteLog("cups_file is not null");
      status = print_job(doc, input.get(), cancelled);
    }
  }

  WriteLog("Exit main");
  CloseLog();
  return status;
}
