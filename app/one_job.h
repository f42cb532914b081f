// One job at a time per printer: how this application keeps PAPPL 1.3.1 out
// of the deadlock that concurrent raster clients drive it into.
//
// A PWG or Apple raster Print-Job is printed while it streams in, on the
// client's own thread. When it finds its printer already printing, PAPPL
// answers server-error-busy and aborts the new job in
// _papplJobCopyDocumentData, write-locking the printer, then the job, then
// the system. Everything that walks the printers (saving the state after
// every job, cleaning old jobs, Get-Printer-Attributes, Get-Printers, the
// web pages) read-locks the system, then a printer. With clients retrying
// on busy, as CUPS does, the two meet within a minute and every thread ends
// up waiting on one of the two locks.
//
// With at most one active job per printer, a second job is refused when it
// is created, before PAPPL takes any lock for it, and the aborting path is
// never reached. The whole analysis, with what PAPPL calls are safe from
// which callback, is in app/pappl-locks.md.
#pragma once

#include <pappl/pappl.h>

// Lets the printer hold one active job (pending, held or printing); PAPPL
// answers server-error-busy to any other until it ends. Every printer added
// while the server runs gets it from the printer creation callback.
void limit_to_one_job(pappl_printer_t* printer);

// Gives the limit to every printer of the system, whatever its saved state
// says. Only before the system runs: it locks the system, then each
// printer.
void limit_every_printer(pappl_system_t* system);
