// Connections to network label printers with waits of the caller's
// choosing, and the zpl:// device scheme on them.
#include "app/printer_link.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

namespace {

// How often a wait looks at its stop test.
constexpr std::chrono::milliseconds kStopCheck{100};

// A job's device waits this long for a status query's connection to the
// same printer to end; a query holds one for at most its 0.5 s budget.
constexpr std::chrono::milliseconds kClaimWait{1500};

// How long a job's device tries to connect, when opened and when connected
// again. PAPPL tries again every 5 s and holds the printer's lock
// meanwhile, so a short try costs nothing.
constexpr std::chrono::seconds kConnectTimeout{5};

// Writes made outside a job (PAPPL sending what it still buffers when it
// closes the device) wait no longer for a printer that does not read.
constexpr std::chrono::seconds kUnattendedWrite{10};

// A cancelled job's write stops once the printer has read nothing for this
// long: a printer that still reads gets the label finished.
constexpr std::chrono::seconds kCancelStall{2};

// PAPPL itself never reads a zpl:// device; when it does, it waits this long.
constexpr std::chrono::seconds kDeviceRead{1};

// What a connection waits for the printer: until the deadline, and, while
// stop is set, until stop(stopContext) turns true and the printer has read
// nothing for stall, so that a label the printer is still taking is
// finished rather than cut.
struct LinkWait {
  LinkClock::time_point deadline = LinkClock::time_point::max();
  bool (*stop)(void* context) = nullptr;
  void* stopContext = nullptr;
  std::chrono::milliseconds stall{0};
};

// The addresses that have a connection of this program now.
struct Claims {
  std::mutex mutex;
  std::condition_variable released;
  std::set<std::string> keys;
};

Claims& claims()
{
  static Claims table;
  return table;
}

// Milliseconds from now until the deadline, 0 when it has passed, at most
// slice when one is given.
int ms_until(LinkClock::time_point deadline, std::chrono::milliseconds slice)
{
  const LinkClock::time_point now = LinkClock::now();
  if (deadline <= now)
    return 0;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + std::chrono::milliseconds(1);
  return static_cast<int>(std::min(left, slice).count());
}

// Waits until fd is ready for events, the deadline passes or the stop test
// turns true with nothing moved since lastMoved for the wait's stall.
LinkResult wait_ready(int fd, short events, const LinkWait& wait, LinkClock::time_point lastMoved)
{
  for (;;) {
    if (wait.stop && LinkClock::now() - lastMoved >= wait.stall && wait.stop(wait.stopContext))
      return LinkResult::kStopped;
    const int ms = ms_until(wait.deadline, kStopCheck);
    if (ms == 0)
      return LinkResult::kTimedOut;
    pollfd ready{fd, events, 0};
    const int got = poll(&ready, 1, ms);
    if (got < 0 && errno != EINTR)
      return LinkResult::kLost;
    if (got > 0)
      return (ready.revents & (POLLERR | POLLNVAL)) && !(ready.revents & events) ? LinkResult::kLost
                                                                                   : LinkResult::kDone;
  }
}

// Connects one socket of the address list within the deadline.
int connect_one(const addrinfo& candidate, LinkClock::time_point deadline, int& error)
{
  const int fd = socket(candidate.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  if (connect(fd, candidate.ai_addr, candidate.ai_addrlen) == 0)
    return fd;
  error = errno;
  if (error == EINPROGRESS) {
    LinkWait wait;
    wait.deadline = deadline;
    socklen_t size = sizeof error;
    const LinkResult ready = wait_ready(fd, POLLOUT, wait, LinkClock::now());
    if (ready == LinkResult::kTimedOut)
      error = ETIMEDOUT;
    else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
      error = errno;
    if (ready != LinkResult::kTimedOut && error == 0)
      return fd;
  }
  close(fd);
  return -1;
}

// Sends every byte, waiting for the printer to read as wait allows.
LinkResult send_all(int fd, std::string_view bytes, const LinkWait& wait)
{
  LinkClock::time_point lastMoved = LinkClock::now();
  while (!bytes.empty()) {
    const ssize_t put = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (put > 0) {
      bytes.remove_prefix(static_cast<size_t>(put));
      lastMoved = LinkClock::now();
      continue;
    }
    if (put < 0 && errno == EINTR)
      continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
      return LinkResult::kLost;
    const LinkResult ready = wait_ready(fd, POLLOUT, wait, lastMoved);
    if (ready != LinkResult::kDone)
      return ready;
  }
  return LinkResult::kDone;
}

// Reads into reader until its reply is complete or garbled (kDone), the
// deadline passes or the connection ends.
LinkResult read_reply(int fd, ReplyReader& reader, LinkClock::time_point deadline)
{
  LinkWait wait;
  wait.deadline = deadline;
  char piece[kMaxReplyBytes];
  while (reader.progress == ReplyProgress::kNeedMore) {
    const ssize_t got = recv(fd, piece, sizeof piece, 0);
    if (got > 0) {
      reply_feed(reader, std::string_view(piece, static_cast<size_t>(got)));
      continue;
    }
    if (got == 0)
      return LinkResult::kLost;
    if (errno == EINTR)
      continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
      return LinkResult::kLost;
    const LinkResult ready = wait_ready(fd, POLLIN, wait, LinkClock::now());
    if (ready != LinkResult::kDone)
      return ready;
  }
  return LinkResult::kDone;
}

// The PAPPL device callbacks of the zpl:// scheme.

bool device_stop(void* context)
{
  const DeviceLink* link = static_cast<const DeviceLink*>(context);
  return link->job && papplJobIsCanceled(link->job);
}

bool device_open(pappl_device_t* device, const char* uri, const char*)
{
  DeviceLink* link = new (std::nothrow) DeviceLink;
  if (!link) {
    papplDeviceError(device, "Unable to allocate memory for the connection.");
    return false;
  }
  if (!parse_printer_address(uri, link->address)) {
    papplDeviceError(device, "Bad printer address in '%s'.", uri);
    delete link;
    return false;
  }
  link->key = address_key(link->address);
  if (!claim_address(link->key, kClaimWait)) {
    papplDeviceError(device, "The printer at %s is in use by another connection.", link->key.c_str());
    delete link;
    return false;
  }
  std::string error;
  link->fd = connect_printer(link->address, LinkClock::now() + kConnectTimeout, error);
  if (link->fd < 0) {
    papplDeviceError(device, "Unable to connect to %s: %s", link->key.c_str(), error.c_str());
    release_address(link->key);
    delete link;
    return false;
  }
  papplDeviceSetData(device, link);
  return true;
}

void device_close(pappl_device_t* device)
{
  DeviceLink* link = static_cast<DeviceLink*>(papplDeviceGetData(device));
  if (!link)
    return;
  close_connection(link->fd, link->cut);
  release_address(link->key);
  delete link;
  papplDeviceSetData(device, nullptr);
}

ssize_t device_read(pappl_device_t* device, void* buffer, size_t bytes)
{
  DeviceLink* link = static_cast<DeviceLink*>(papplDeviceGetData(device));
  if (!link || link->fd < 0)
    return -1;
  LinkWait wait;
  wait.deadline = LinkClock::now() + kDeviceRead;
  if (wait_ready(link->fd, POLLIN, wait, LinkClock::now()) != LinkResult::kDone)
    return -1;
  ssize_t got;
  while ((got = recv(link->fd, buffer, bytes, 0)) < 0 && errno == EINTR) {
  }
  if (got == 0)
    link->lost = true;
  return got;
}

// A job's bytes wait for the printer for as long as the job runs: a
// printer out of labels reads again once they are loaded. A cancel ends the
// wait, and the connection then holds part of a label.
ssize_t device_write(pappl_device_t* device, const void* buffer, size_t bytes)
{
  DeviceLink* link = static_cast<DeviceLink*>(papplDeviceGetData(device));
  if (!link || link->fd < 0 || link->lost || link->cut)
    return -1;
  LinkWait wait;
  if (link->job) {
    wait.stop = device_stop;
    wait.stopContext = link;
    wait.stall = kCancelStall;
  } else {
    wait.deadline = LinkClock::now() + kUnattendedWrite;
  }
  const LinkResult sent = send_all(link->fd, std::string_view(static_cast<const char*>(buffer), bytes), wait);
  if (sent == LinkResult::kLost)
    link->lost = true;
  else if (sent != LinkResult::kDone)
    link->cut = true;
  return sent == LinkResult::kDone ? static_cast<ssize_t>(bytes) : -1;
}

}  // namespace

bool split_device_uri(const char* uri, DeviceUriParts& parts)
{
  char userpass[256];
  parts.port = 0;
  if (!uri || httpSeparateURI(HTTP_URI_CODING_ALL, uri, parts.scheme, sizeof parts.scheme, userpass, sizeof userpass,
                              parts.host, sizeof parts.host, &parts.port, parts.resource,
                              sizeof parts.resource) < HTTP_URI_STATUS_OK)
    return false;
  if (char* query = std::strchr(parts.resource, '?'))
    *query = '\0';
  return true;
}

bool parse_printer_address(const char* uri, PrinterAddress& address)
{
  DeviceUriParts parts;
  if (!split_device_uri(uri, parts))
    return false;
  if ((std::strcmp(parts.scheme, kZplScheme) != 0 && std::strcmp(parts.scheme, "socket") != 0) ||
      parts.host[0] == '\0')
    return false;
  address.host = parts.host;
  address.port = parts.port > 0 ? parts.port : kDefaultPrinterPort;
  return true;
}

std::string address_key(const PrinterAddress& address)
{
  return address.host + ":" + std::to_string(address.port);
}

bool claim_address(const std::string& key, std::chrono::milliseconds wait)
{
  Claims& table = claims();
  std::unique_lock<std::mutex> lock(table.mutex);
  if (!table.released.wait_for(lock, wait, [&] { return table.keys.count(key) == 0; }))
    return false;
  return table.keys.insert(key).second;
}

void release_address(const std::string& key)
{
  Claims& table = claims();
  {
    const std::lock_guard<std::mutex> lock(table.mutex);
    table.keys.erase(key);
  }
  table.released.notify_all();
}

int connect_printer(const PrinterAddress& address, LinkClock::time_point deadline, std::string& error)
{
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int looked = getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &list);
  if (looked != 0) {
    error = gai_strerror(looked);
    return -1;
  }
  int fd = -1, cause = EHOSTUNREACH;
  for (const addrinfo* candidate = list; candidate && fd < 0; candidate = candidate->ai_next)
    fd = connect_one(*candidate, deadline, cause);
  freeaddrinfo(list);
  if (fd < 0)
    error = std::strerror(cause);
  return fd;
}

LinkResult ask_printer(int fd, std::string_view query, ReplyReader& reader, LinkClock::time_point deadline)
{
  LinkWait wait;
  wait.deadline = deadline;
  const LinkResult sent = send_all(fd, query, wait);
  return sent == LinkResult::kDone ? read_reply(fd, reader, deadline) : sent;
}

bool drain_input(int fd)
{
  char piece[4096];
  for (;;) {
    const ssize_t got = recv(fd, piece, sizeof piece, MSG_DONTWAIT);
    if (got > 0)
      continue;
    if (got < 0 && errno == EINTR)
      continue;
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

void close_connection(int fd, bool reset)
{
  if (fd < 0)
    return;
  if (reset) {
    const linger abortive{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  }
  close(fd);
}

void add_zpl_scheme()
{
  // PAPPL 1.3.1 adds its own schemes only while it has none at all, on the
  // first use of any: use one first, or ours would be the only scheme.
  papplDeviceIsSupported("socket://localhost/");
  papplDeviceAddScheme(kZplScheme, PAPPL_DEVTYPE_CUSTOM_NETWORK, nullptr, device_open, device_close, device_read,
                       device_write, nullptr, nullptr);
}

DeviceLink* device_link(pappl_printer_t* printer, pappl_device_t* device)
{
  const char* uri = papplPrinterGetDeviceURI(printer);
  const size_t schemeLength = std::strlen(kZplScheme);
  if (!device || !uri || std::strncmp(uri, kZplScheme, schemeLength) != 0 || uri[schemeLength] != ':')
    return nullptr;
  return static_cast<DeviceLink*>(papplDeviceGetData(device));
}

bool reconnect(DeviceLink& link, std::string& error)
{
  close_connection(link.fd, link.cut);
  link.fd = connect_printer(link.address, LinkClock::now() + kConnectTimeout, error);
  link.lost = false;
  link.cut = false;
  return link.fd >= 0;
}
