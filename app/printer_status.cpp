// The printer's status in the printer application.
//
// Locks: PAPPL holds none of its locks while it runs the job callbacks;
// it runs the status callback from Get-Printer-Attributes with none, and
// from its web pages' printer list with the system's read lock. Here the
// only PAPPL calls that lock are papplPrinterSetReasons (the printer's
// write lock, once per change of reasons), papplJobSetReasons and
// papplJobSetMessage (the job's write lock) and papplSystemIsRunning (the
// system's read lock, from a job callback only), each taken alone. A
// watch's own mutex may be held around papplPrinterSetReasons; PAPPL never
// calls into this file while holding a printer's lock.
#include "app/printer_status.h"

#include <chrono>
#include <new>
#include <string>
#include <thread>

#include "app/models.h"

namespace {

constexpr std::chrono::seconds kFirstBackoff{5};
constexpr std::chrono::seconds kLongestBackoff{60};

// A job whose printer dropped the connection tries again this often, as
// PAPPL does for a device it can't open.
constexpr std::chrono::seconds kReconnectPause{5};
constexpr std::chrono::milliseconds kPauseSlice{100};

// How one query went.
enum class QueryOutcome : uint8_t {
  kAnswered,
  kGarbled,  // the reply was not one
  kSilent,   // no reply within the time given
  kLost,     // the connection ended
};

PrinterWatch* watch_of(pappl_printer_t* printer)
{
  pappl_pr_driver_data_t data;
  if (!papplPrinterGetDriverData(printer, &data))
    return nullptr;
  return static_cast<PrinterWatch*>(data.extension);
}

void delete_watch(pappl_printer_t*, pappl_pr_driver_data_t* data)
{
  delete static_cast<PrinterWatch*>(data->extension);
  data->extension = nullptr;
}

// Asks for the error status on a connection and reads the reply, all
// before the deadline. Whatever the printer sent unasked goes first.
QueryOutcome ask_error_status(int fd, LinkClock::time_point deadline, ErrorStatus& status)
{
  if (!drain_input(fd))
    return QueryOutcome::kLost;
  ReplyReader reader = reply_reader(ReplyFormat::kErrorStatus);
  switch (ask_printer(fd, kErrorStatusQuery, reader, deadline)) {
  case LinkResult::kDone: break;
  case LinkResult::kLost: return QueryOutcome::kLost;
  default: return QueryOutcome::kSilent;
  }
  if (reader.progress != ReplyProgress::kComplete)
    return QueryOutcome::kGarbled;
  status = reader.errorStatus;
  return QueryOutcome::kAnswered;
}

// Sets the wanted reasons of those this driver manages. The watch's mutex
// is held.
void set_reasons(pappl_printer_t* printer, PrinterWatch& watch, pappl_preason_t wanted)
{
  const ReasonChange change = reason_change(watch.ours, wanted);
  if (change.add != PAPPL_PREASON_NONE || change.remove != PAPPL_PREASON_NONE)
    papplPrinterSetReasons(printer, change.add, change.remove);
  watch.ours = wanted & kManagedReasons;
}

// Logs what the printer reports when it changed: each condition, and the
// ones that show only as "other".
void log_conditions(pappl_printer_t* printer, PrinterWatch& watch, const ErrorStatus& status)
{
  const ConditionSet conditions = conditions_of(status);
  const bool unknown = has_unknown_bits(status);
  if (conditions == watch.reported && unknown == watch.reportedUnknown)
    return;
  watch.reported = conditions;
  watch.reportedUnknown = unknown;
  if (conditions == 0 && !unknown) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "The printer reports no error or warning.");
    return;
  }
  // "media out, paused": the conditions' texts.
  const auto texts = [](ConditionSet set) { return join_conditions(set, &ConditionEntry::text, ", "); };
  if (conditions != 0)
    papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "The printer reports: %s.", texts(conditions).c_str());
  const ConditionSet other = conditions_without_reason(conditions);
  if (other != 0 || unknown)
    papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "Shown as 'other': %s%serrors %08X %08X, warnings %08X %08X.",
                    texts(other).c_str(), other != 0 ? "; " : "", status.errors2, status.errors1, status.warnings2,
                    status.warnings1);
}

// Takes a query's outcome into the watch and the printer's reasons. With
// countSilence false a missing reply is taken as late rather than silent.
void take_outcome(pappl_printer_t* printer, PrinterWatch& watch, QueryOutcome outcome, const ErrorStatus& status,
                  bool duringJob, bool countSilence)
{
  const LinkClock::time_point now = LinkClock::now();
  switch (outcome) {
  case QueryOutcome::kAnswered:
    note_answer(watch.backoff);
    log_conditions(printer, watch, status);
    set_reasons(printer, watch, reasons_of(conditions_of(status), has_unknown_bits(status), duringJob));
    return;
  case QueryOutcome::kGarbled:
  case QueryOutcome::kSilent:
    if (!countSilence)
      return;
    note_silence(watch.backoff, now);
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "The printer gave %s to ~HQES; asking again in %d s.",
                    outcome == QueryOutcome::kGarbled ? "no status reply" : "no answer",
                    static_cast<int>(backoff_delay(watch.backoff.silences).count()));
    set_reasons(printer, watch, watch.ours & ~PAPPL_PREASON_OFFLINE);
    return;
  case QueryOutcome::kLost:
    note_silence(watch.backoff, now);
    set_reasons(printer, watch, watch.ours | PAPPL_PREASON_OFFLINE);
    return;
  }
}

// Waits up to a pause for the job to be cancelled; true when it was.
bool cancelled_while_pausing(pappl_job_t* job, std::chrono::milliseconds pause)
{
  for (auto waited = std::chrono::milliseconds(0); waited < pause; waited += kPauseSlice) {
    if (papplJobIsCanceled(job))
      return true;
    std::this_thread::sleep_for(kPauseSlice);
  }
  return papplJobIsCanceled(job);
}

// Connects again to a printer that dropped the connection, until it
// answers, the job is cancelled or the server stops; offline meanwhile.
bool restore_connection(pappl_job_t* job, pappl_printer_t* printer, PrinterWatch& watch, DeviceLink& link)
{
  bool told = false;
  std::string error;
  while (!reconnect(link, error)) {
    if (!told) {
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to connect to the printer again: %s; trying every %d s.",
                  error.c_str(), static_cast<int>(kReconnectPause.count()));
      const std::lock_guard<std::mutex> lock(watch.mutex);
      set_reasons(printer, watch, watch.ours | PAPPL_PREASON_OFFLINE);
      told = true;
    }
    if (cancelled_while_pausing(job, kReconnectPause) || !papplSystemIsRunning(papplPrinterGetSystem(printer)))
      return false;
  }
  return true;
}

// The job ends because the printer dropped the connection: the job says
// so, and the printer shows offline until it answers again.
void report_lost(pappl_job_t* job, pappl_printer_t* printer, PrinterWatch* watch, JobStatus& status)
{
  if (status.failed)
    return;
  status.failed = true;
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The printer closed the connection; the job is aborted.");
  papplJobSetMessage(job, "The printer closed the connection.");
  papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
  if (!watch)
    return;
  const std::lock_guard<std::mutex> lock(watch->mutex);
  note_silence(watch->backoff, LinkClock::now());
  set_reasons(printer, *watch, (watch->ours | PAPPL_PREASON_OFFLINE) & ~PAPPL_PREASON_MEDIA_NEEDED);
}

// Asks within what is left of the job's budget and takes the outcome.
QueryOutcome ask_during_job(pappl_printer_t* printer, PrinterWatch& watch, DeviceLink& link, JobStatus& status,
                            bool duringJob, bool countSilence)
{
  const LinkClock::time_point start = LinkClock::now();
  ErrorStatus reply;
  const QueryOutcome outcome = ask_error_status(link.fd, start + status.left, reply);
  status.left -= std::min(status.left, LinkClock::now() - start);
  if (outcome == QueryOutcome::kLost)
    link.lost = true;
  const std::lock_guard<std::mutex> lock(watch.mutex);
  take_outcome(printer, watch, outcome, reply, duringJob, countSilence);
  return outcome;
}

bool due(PrinterWatch& watch)
{
  const std::lock_guard<std::mutex> lock(watch.mutex);
  return query_due(watch.backoff, LinkClock::now());
}

}  // namespace

pappl_preason_t reasons_of(ConditionSet conditions, bool unknownBits, bool duringJob)
{
  pappl_preason_t reasons = PAPPL_PREASON_NONE;
  for (const PapplReason& row : kPapplReasons)
    if (conditions & condition_bit(row.condition))
      reasons |= row.reason;
  if (duringJob && (conditions & condition_bit(Condition::kMediaOut)))
    reasons |= PAPPL_PREASON_MEDIA_NEEDED;
  if (unknownBits || conditions_without_reason(conditions) != 0)
    reasons |= PAPPL_PREASON_OTHER;
  return reasons;
}

ConditionSet conditions_without_reason(ConditionSet conditions)
{
  for (const PapplReason& row : kPapplReasons)
    conditions &= ~condition_bit(row.condition);
  return conditions;
}

ReasonChange reason_change(pappl_preason_t ours, pappl_preason_t wanted)
{
  ours &= kManagedReasons;
  wanted &= kManagedReasons;
  return {static_cast<pappl_preason_t>(wanted & ~ours), static_cast<pappl_preason_t>(ours & ~wanted)};
}

std::chrono::seconds backoff_delay(uint32_t silences)
{
  if (silences == 0)
    return std::chrono::seconds(0);
  std::chrono::seconds delay = kFirstBackoff;
  for (uint32_t i = 1; i < silences && delay < kLongestBackoff; ++i)
    delay *= 2;
  return std::min(delay, kLongestBackoff);
}

bool query_due(const QueryBackoff& backoff, LinkClock::time_point now)
{
  return backoff.silences == 0 || now >= backoff.next;
}

void note_answer(QueryBackoff& backoff)
{
  backoff = QueryBackoff{};
}

void note_silence(QueryBackoff& backoff, LinkClock::time_point now)
{
  if (backoff.silences < UINT32_MAX)
    ++backoff.silences;
  backoff.next = now + backoff_delay(backoff.silences);
}

bool attach_printer_watch(pappl_pr_driver_data_t* data, const ModelProfile& model)
{
  PrinterWatch* watch = new (std::nothrow) PrinterWatch;
  if (!watch)
    return false;
  watch->model = &model;
  data->extension = watch;
  data->delete_cb = delete_watch;
  data->status_cb = zpl_status_callback;
  return true;
}

const ModelProfile* printer_model(pappl_printer_t* printer)
{
  const PrinterWatch* watch = watch_of(printer);
  return watch ? watch->model : model_for_driver(papplPrinterGetDriverName(printer));
}

bool status_job_start(pappl_job_t* job, pappl_device_t* device, JobStatus& status)
{
  pappl_printer_t* printer = papplJobGetPrinter(job);
  PrinterWatch* watch = watch_of(printer);
  DeviceLink* link = device_link(printer, device);
  PrinterAddress address;
  // Without a device the job has not reached the printer: nothing to learn.
  if (!watch || !device || !parse_printer_address(papplPrinterGetDeviceURI(printer), address))
    return true;
  if (link) {
    link->job = job;
    // PAPPL keeps the connection open between queued jobs; the printer may
    // have closed it meanwhile.
    if (link->fd >= 0 && !drain_input(link->fd))
      link->lost = true;
    if ((link->fd < 0 || link->lost || link->cut) && !restore_connection(job, printer, *watch, *link)) {
      link->job = nullptr;
      return false;
    }
  }
  {
    // Whichever device, the job is connected: the printer is reachable.
    const std::lock_guard<std::mutex> lock(watch->mutex);
    set_reasons(printer, *watch, watch->ours & ~PAPPL_PREASON_OFFLINE);
  }
  if (!link || !due(*watch))
    return true;
  papplDeviceFlush(device);
  status.answered = ask_during_job(printer, *watch, *link, status, true, true) == QueryOutcome::kAnswered;
  return true;
}

void status_job_failed(pappl_job_t* job, pappl_device_t* device, JobStatus& status)
{
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const DeviceLink* link = device_link(printer, device);
  PrinterAddress address;
  // No device: the job could not open one, and said so.
  if (!device || papplJobIsCanceled(job) || !parse_printer_address(papplPrinterGetDeviceURI(printer), address))
    return;
  // PAPPL's socket device does not say why a write failed; on a network
  // connection it is the connection that failed.
  if (!link || link->lost)
    report_lost(job, printer, watch_of(printer), status);
}

bool status_job_end(pappl_job_t* job, pappl_device_t* device, JobStatus& status)
{
  pappl_printer_t* printer = papplJobGetPrinter(job);
  PrinterWatch* watch = watch_of(printer);
  DeviceLink* link = device_link(printer, device);
  if (!watch || !link)
    return !status.failed;
  papplDeviceFlush(device);
  if (!link->lost && !link->cut && !papplJobIsCanceled(job)) {
    if (status.answered && status.left > LinkClock::duration::zero() && due(*watch))
      ask_during_job(printer, *watch, *link, status, false, false);
    else if (!drain_input(link->fd))
      link->lost = true;
  }
  link->job = nullptr;
  if (link->lost) {
    report_lost(job, printer, watch, status);
    return false;
  }
  const std::lock_guard<std::mutex> lock(watch->mutex);
  set_reasons(printer, *watch, watch->ours & ~PAPPL_PREASON_MEDIA_NEEDED);
  return !status.failed;
}

bool zpl_status_callback(pappl_printer_t* printer)
{
  PrinterWatch* watch = watch_of(printer);
  PrinterAddress address;
  if (!watch || !parse_printer_address(papplPrinterGetDeviceURI(printer), address) || !due(*watch))
    return true;
  // A job's connection, or another status query's, is open: not a second one.
  const std::string key = address_key(address);
  if (!claim_address(key, std::chrono::milliseconds(0)))
    return true;
  const LinkClock::time_point deadline = LinkClock::now() + kStatusBudget;
  std::string error;
  const int fd = connect_printer(address, deadline, error);
  ErrorStatus reply;
  const QueryOutcome outcome = fd < 0 ? QueryOutcome::kLost : ask_error_status(fd, deadline, reply);
  close_connection(fd, false);
  release_address(key);
  const std::lock_guard<std::mutex> lock(watch->mutex);
  if (fd < 0 && !(watch->ours & PAPPL_PREASON_OFFLINE))
    papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "Unable to reach the printer at %s: %s", key.c_str(), error.c_str());
  take_outcome(printer, *watch, outcome, reply, false, true);
  return true;
}
