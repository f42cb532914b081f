// The printer application's own connection to a network label printer, and
// the `zpl://host[:port]` device scheme built on it. PAPPL 1.3.1's socket
// device waits up to 10 s for every read and blocks in every write for as
// long as the printer does not read, with no way to shorten either; this
// connection waits only as long as its caller allows, so that a status
// query fits in its budget and a job stuck on a printer that stopped
// reading can still be cancelled. A printer takes one connection at a
// time: every connection of this file to an address is registered, and a
// second one waits or is not made.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <pappl/pappl.h>

#include "status/printer_status.h"

using LinkClock = std::chrono::steady_clock;

// The scheme of the printer application's own device.
inline constexpr char kZplScheme[] = "zpl";

// The raw print port of a network label printer.
inline constexpr int kDefaultPrinterPort = 9100;

// Where a network printer listens.
struct PrinterAddress {
  std::string host;
  int port = kDefaultPrinterPort;
};

// A device URI taken apart, its resource without the query.
struct DeviceUriParts {
  char scheme[32];
  char host[256];
  int port;
  char resource[1024];
};

// False for a URI that is none (httpSeparateURI can't take it apart).
bool split_device_uri(const char* uri, DeviceUriParts& parts);

// The address in a zpl:// or socket:// device URI ("zpl://10.0.0.5:6101",
// "socket://printer/"); the port is 9100 when the URI names none. False for
// other schemes and for URIs without a host.
bool parse_printer_address(const char* uri, PrinterAddress& address);

// "host:port": the key under which connections to an address are counted.
std::string address_key(const PrinterAddress& address);

// Takes the address for one connection. Waits up to wait for a connection
// made elsewhere to end; false when it is still in use then.
bool claim_address(const std::string& key, std::chrono::milliseconds wait);

// Gives the address back.
void release_address(const std::string& key);

// How a transfer on a connection ended.
enum class LinkResult : uint8_t {
  kDone,
  kTimedOut,  // the deadline passed first
  kStopped,   // the caller's stop test said so (a cancelled job)
  kLost,      // the printer closed or reset the connection
};

// Connects to the address within the deadline; a non-blocking socket, or -1
// with the cause in error.
int connect_printer(const PrinterAddress& address, LinkClock::time_point deadline, std::string& error);

// Sends the query and reads its reply into reader, both before the deadline:
// kDone once the reply is complete or garbled.
LinkResult ask_printer(int fd, std::string_view query, ReplyReader& reader, LinkClock::time_point deadline);

// Reads and drops what the printer sent unasked, such as a reply that came
// too late for its query. False when the connection has ended.
bool drain_input(int fd);

// Closes fd; with reset, as a reset that drops whatever the printer has not
// read yet, so that it never gets the rest of a label cut short.
void close_connection(int fd, bool reset);

// --- the zpl:// device ---

// A zpl:// device's connection, as its open callback made it.
struct DeviceLink {
  PrinterAddress address;
  std::string key;
  int fd = -1;
  pappl_job_t* job = nullptr;  // writes wait for the printer until this job is cancelled
  bool lost = false;           // the printer closed the connection
  bool cut = false;            // a write stopped half way: the printer holds part of a label
};

// Registers the zpl:// scheme with PAPPL, after PAPPL's own schemes.
void add_zpl_scheme();

// The connection of a job's device when the printer's device URI is a
// zpl:// one, else null (PAPPL's own devices keep their data to themselves).
DeviceLink* device_link(pappl_printer_t* printer, pappl_device_t* device);

// Replaces a lost or cut connection by a new one, trying as long as the
// device's open callback does. False with the cause in error.
bool reconnect(DeviceLink& link, std::string& error);
