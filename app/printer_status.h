// The printer's status in the printer application: the ~HQES query asked
// when PAPPL wants the printer's state (its status callback) and at the
// start and end of every job, mapped onto PAPPL's printer-state-reasons;
// a printer that does not answer is left alone for a while; a connection
// the printer drops ends the job and shows the printer offline.
//
// Only zpl:// printers are asked during jobs: PAPPL's own socket device
// waits 10 s for a reply that never comes. socket:// printers are asked on
// a connection of their own, only while PAPPL has none open to them.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include <pappl/pappl.h>

#include "app/printer_link.h"
#include "common/profile.h"
#include "status/printer_status.h"

// --- which reasons ---

// The reasons of the conditions PAPPL has a reason for. The other
// conditions, and bits the table does not know, show as "other".
struct PapplReason {
  Condition condition;
  pappl_preason_t reason;
};
inline constexpr PapplReason kPapplReasons[] = {
    {Condition::kMediaOut, PAPPL_PREASON_MEDIA_EMPTY},
    {Condition::kPaperJam, PAPPL_PREASON_MEDIA_JAM},
    {Condition::kHeadOpen, PAPPL_PREASON_COVER_OPEN},
    {Condition::kRibbonOut, PAPPL_PREASON_MARKER_SUPPLY_EMPTY},
    {Condition::kMediaNearEnd, PAPPL_PREASON_MEDIA_LOW},
};

// Every reason this driver sets and clears, those of the table among them,
// so that a row added there is managed too; the others are PAPPL's.
inline constexpr pappl_preason_t kManagedReasons = [] {
  pappl_preason_t reasons = PAPPL_PREASON_MEDIA_NEEDED | PAPPL_PREASON_OTHER | PAPPL_PREASON_OFFLINE;
  for (const PapplReason& row : kPapplReasons)
    reasons |= row.reason;
  return reasons;
}();

// The reasons of a reply's conditions; media out also needs media while a
// job waits for it.
pappl_preason_t reasons_of(ConditionSet conditions, bool unknownBits, bool duringJob);

// The conditions no reason of its own names, for the log line of "other".
ConditionSet conditions_without_reason(ConditionSet conditions);

// What to add and remove to go from the reasons this driver set to the
// wanted ones; never a reason outside kManagedReasons.
struct ReasonChange {
  pappl_preason_t add = PAPPL_PREASON_NONE;
  pappl_preason_t remove = PAPPL_PREASON_NONE;
};
ReasonChange reason_change(pappl_preason_t ours, pappl_preason_t wanted);

// --- when to ask ---

// A printer that did not answer is asked again after 5 s, then after twice
// as long each time it stays silent, and at least once a minute.
struct QueryBackoff {
  uint32_t silences = 0;  // unanswered queries in a row
  LinkClock::time_point next{};
};

std::chrono::seconds backoff_delay(uint32_t silences);
bool query_due(const QueryBackoff& backoff, LinkClock::time_point now);
void note_answer(QueryBackoff& backoff);
void note_silence(QueryBackoff& backoff, LinkClock::time_point now);

// --- per printer and per job ---

// What the driver keeps for a printer: its model (PAPPL keeps the driver
// name "auto" for an auto-detected printer) and its status.
struct PrinterWatch {
  const ModelProfile* model = nullptr;
  std::mutex mutex;  // guards what follows
  QueryBackoff backoff;
  pappl_preason_t ours = PAPPL_PREASON_NONE;  // reasons this driver set
  ConditionSet reported = 0;                  // conditions of the last answer
  bool reportedUnknown = false;
};

// One job's share of the conversation.
struct JobStatus {
  LinkClock::duration left = kStatusBudget;  // of the job's budget
  bool answered = false;                     // the query at the start was answered
  bool failed = false;                       // the job's end has been reported
};

// Gives a new printer's driver data its watch, the status callback and the
// deletion callback that frees the watch. False when out of memory.
bool attach_printer_watch(pappl_pr_driver_data_t* data, const ModelProfile& model);

// The printer's model: the one its watch was made for.
const ModelProfile* printer_model(pappl_printer_t* printer);

// At the start of a job: reconnects a zpl:// printer that dropped the
// connection (waiting for it as PAPPL does for a device it can't open) and
// asks for its status when due. False when the job can't be printed.
bool status_job_start(pappl_job_t* job, pappl_device_t* device, JobStatus& status);

// A write of the job failed: when the printer dropped the connection, the
// job says so and the printer shows offline.
void status_job_failed(pappl_job_t* job, pappl_device_t* device, JobStatus& status);

// At the end of a job: asks again when the start was answered, which also
// proves the printer read every label before the query. False when the
// printer dropped the connection, so that labels may be lost.
bool status_job_end(pappl_job_t* job, pappl_device_t* device, JobStatus& status);

// PAPPL's status callback: asks an idle network printer on a connection of
// its own, when no other connection is open to it.
bool zpl_status_callback(pappl_printer_t* printer);
