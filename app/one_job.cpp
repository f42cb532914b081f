// One job at a time per printer (see one_job.h and pappl-locks.md).
#include "app/one_job.h"

void limit_to_one_job(pappl_printer_t* printer)
{
  papplPrinterSetMaxActiveJobs(printer, 1);
}

namespace {

void limit_printer(pappl_printer_t* printer, void*)
{
  limit_to_one_job(printer);
}

}  // namespace

void limit_every_printer(pappl_system_t* system)
{
  papplSystemIteratePrinters(system, limit_printer, nullptr);
}
