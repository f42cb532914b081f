// The printer's status through CUPS: the ~HQES query sent ahead of the
// labels, its reply read over the backend's back-channel within one small
// budget, and the STATE: lines that show it in lpstat and CUPS's web page.
// Shared by the raster filters and the command filter.
#pragma once

#include <array>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "common/cancel.h"
#include "status/printer_status.h"

// The CUPS reason of a condition. The paused printer keeps its labels until
// someone presses its button; the standard reason "paused" would stop the
// queue instead, so it gets a warning of our own, explained by the PPD's
// *cupsIPPReason. Conditions without a row of their own show as
// kOtherReason.
struct CupsReason {
  Condition condition;
  std::string_view reason;
};
inline constexpr std::array<CupsReason, 6> kCupsReasons{{
    {Condition::kMediaOut, "media-empty-error"},
    {Condition::kRibbonOut, "marker-supply-empty-error"},
    {Condition::kHeadOpen, "cover-open-error"},
    {Condition::kPaperJam, "media-jam-error"},
    {Condition::kPaused, "zplfilter-printer-paused-warning"},
    {Condition::kMediaNearEnd, "media-low-report"},
}};
inline constexpr std::string_view kOtherReason = "other-warning";

// One job's conversation with the printer.
struct StatusSession {
  ReplyReader reader = reply_reader(ReplyFormat::kErrorStatus);
  std::chrono::steady_clock::duration left = kStatusBudget;  // of the budget
  bool asked = false;        // the query went out; a reply is awaited
  bool sideChannel = true;   // false once a side-channel request went unanswered
};

// Asks the printer for its status when CUPS runs us with a backend whose
// back-channel works: asks the backend (CUPS_SC_CMD_GET_BIDI), then writes
// the query to out and flushes it. Without a backend, a back-channel or an
// answer within the budget, nothing is written.
void status_ask(StatusSession& session, FILE* out);

// Takes what the back-channel holds by now without waiting, and reports the
// reply once it is complete. For the moments between labels.
void status_collect(StatusSession& session);

// After the last label: has the backend send what it holds
// (CUPS_SC_CMD_DRAIN_OUTPUT), then waits for the rest of the reply within
// what is left of the budget, and reports it. Returns at once once the job
// is cancelled.
void status_finish(StatusSession& session, CancelFlag cancelled);
