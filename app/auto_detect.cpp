// Auto-detection of a printer's model from its ~HI reply.
#include "app/auto_detect.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "app/models.h"
#include "app/printer_link.h"

namespace {

// A printer answers ~HI within milliseconds; adding a printer may wait a
// little longer than a job would.
constexpr std::chrono::seconds kDetectBudget{2};

// PAPPL's devices other than ours wait up to 10 s per read: a reply in more
// pieces than this is not waited for.
constexpr int kDeviceReads = 4;

// The server's system, for the log. PAPPL's auto-add callback gets none.
std::atomic<pappl_system_t*> g_logSystem{nullptr};

void log_detection(pappl_loglevel_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

void log_detection(pappl_loglevel_t level, const char* format, ...)
{
  char message[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (pappl_system_t* system = g_logSystem.load())
    papplLog(system, level, "%s", message);
  else
    std::fprintf(stderr, "%s\n", message);
}

// "zpl_300dpi, zpl_203dpi or zpl_600dpi".
std::string driver_names()
{
  std::string names;
  for (size_t i = 0; i < std::size(kModels); ++i)
    names += (i == 0 ? "" : i + 1 == std::size(kModels) ? " or " : ", ") + driver_name(*kModels[i]);
  return names;
}

// Asks a network printer on a connection of its own, with short waits.
bool ask_over_network(const PrinterAddress& address, ReplyReader& reader, std::string& why)
{
  const LinkClock::time_point deadline = LinkClock::now() + kDetectBudget;
  const std::string key = address_key(address);
  if (!claim_address(key, std::chrono::duration_cast<std::chrono::milliseconds>(kDetectBudget))) {
    why = "another connection to " + key + " is open";
    return false;
  }
  const int fd = connect_printer(address, deadline, why);
  const LinkResult read = fd >= 0 ? ask_printer(fd, kIdentificationQuery, reader, deadline) : LinkResult::kLost;
  close_connection(fd, false);
  release_address(key);
  if (fd >= 0 && read != LinkResult::kDone)
    why = read == LinkResult::kTimedOut ? "no answer to ~HI within " + std::to_string(kDetectBudget.count()) + " s"
                                        : "the connection ended before the answer to ~HI";
  return fd >= 0 && read == LinkResult::kDone;
}

// Asks through PAPPL's own device for the URI (USB printers), whose reads
// wait as PAPPL makes them.
bool ask_through_device(const char* uri, ReplyReader& reader, std::string& why)
{
  pappl_device_t* device = papplDeviceOpen(uri, "auto", papplLogDevice, g_logSystem.load());
  if (!device) {
    why = "the device can't be opened";
    return false;
  }
  const bool asked = papplDeviceWrite(device, kIdentificationQuery.data(), kIdentificationQuery.size()) ==
                     static_cast<ssize_t>(kIdentificationQuery.size());
  papplDeviceFlush(device);
  char piece[kMaxReplyBytes];
  for (int i = 0; asked && i < kDeviceReads && reader.progress == ReplyProgress::kNeedMore; ++i) {
    const ssize_t got = papplDeviceRead(device, piece, sizeof piece);
    if (got <= 0)
      break;
    reply_feed(reader, std::string_view(piece, static_cast<size_t>(got)));
  }
  papplDeviceClose(device);
  if (reader.progress == ReplyProgress::kNeedMore)
    why = "no answer to ~HI";
  return reader.progress != ReplyProgress::kNeedMore;
}

// Sends ~HI to the printer at the URI and reads its reply. False with the
// cause in why when there is no reply to read.
bool ask_identity(const char* uri, ReplyReader& reader, std::string& why)
{
  PrinterAddress address;
  if (parse_printer_address(uri, address))
    return ask_over_network(address, reader, why);
  if (std::strncmp(uri, "file:", 5) == 0) {
    why = "a file is no printer to ask";
    return false;
  }
  return ask_through_device(uri, reader, why);
}

}  // namespace

Detection model_of_identity(const PrinterIdentity& identity)
{
  Detection detection;
  const std::string who = identity.model + " " + identity.version;
  const int dpi = dpi_of_dots_per_mm(identity.dotsPerMm);
  detection.model = find_model(dpi);
  detection.why = detection.model ? who + " prints " + std::to_string(identity.dotsPerMm) + " dots/mm (" +
                                        std::to_string(dpi) + " dpi)"
                                  : who + " prints " + std::to_string(identity.dotsPerMm) +
                                        " dots/mm, which no model here prints (8, 12 or 24)";
  return detection;
}

const ModelProfile* model_of_device_id(const char* deviceId)
{
  if (!deviceId || !*deviceId)
    return nullptr;
  cups_option_t* pairs = nullptr;
  const int count = papplDeviceParseID(deviceId, &pairs);
  const char* make = cupsGetOption("MFG", count, pairs);
  const char* model = cupsGetOption("MDL", count, pairs);
  const ModelProfile* found = nullptr;
  for (const ModelProfile* candidate : kModels)
    if (make && model && driver_description(*candidate) == std::string(make) + " " + model)
      found = candidate;
  cupsFreeOptions(count, pairs);
  return found;
}

void set_detection_log(pappl_system_t* system)
{
  g_logSystem.store(system);
}

const char* zpl_autoadd_callback(const char*, const char* deviceUri, const char* deviceId, void*)
{
  if (const ModelProfile* model = model_of_device_id(deviceId))
    return kept_driver_name(*model);
  if (!deviceUri) {
    log_detection(PAPPL_LOGLEVEL_ERROR, "Auto-detection asks the printer itself, and there is no printer to ask.");
    return nullptr;
  }
  ReplyReader reader = reply_reader(ReplyFormat::kIdentification);
  std::string why;
  Detection detection;
  if (ask_identity(deviceUri, reader, why) && reader.progress == ReplyProgress::kComplete)
    detection = model_of_identity(reader.identity);
  else
    detection.why = why.empty() ? "its answer to ~HI is not an identification" : why;
  if (!detection.model) {
    log_detection(PAPPL_LOGLEVEL_ERROR,
                  "Unable to detect the model of the printer at %s: %s. Add it with its model instead: %s.",
                  deviceUri, detection.why.c_str(), driver_names().c_str());
    return nullptr;
  }
  log_detection(PAPPL_LOGLEVEL_INFO, "Detected the printer at %s: %s, driver %s.", deviceUri, detection.why.c_str(),
                kept_driver_name(*detection.model));
  return kept_driver_name(*detection.model);
}
