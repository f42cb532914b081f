// The `server` sub-command's -o options, read into what PAPPL's system
// object is created with. PAPPL reads them itself only for its default
// system; ours adds the ZPL document type, so it reads them here.
#pragma once

#include <string>

#include <pappl/pappl.h>

struct ServerConfig {
  pappl_soptions_t options = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE;
  int port = 0;  // 0: PAPPL picks one
  std::string spoolDir;
  std::string logFile;  // empty: PAPPL's default
  pappl_loglevel_t logLevel = PAPPL_LOGLEVEL_WARN;
  bool listen = true;           // false for a private server (local socket only)
  std::string listenHost;       // empty: every address
  std::string serverHostname;   // empty: the machine's name
  std::string adminGroup;
  std::string authService;
};

// The loopback name the server listens on unless listen-hostname says
// otherwise: printers are reachable from other machines only on request.
inline constexpr char kDefaultListenHost[] = "localhost";

// Reads server-port, spool-directory, log-file, log-level, server-options,
// listen-hostname ("*" for every address), server-hostname, admin-group,
// auth-service and private-server. The spool folder defaults as PAPPL's own
// server does for baseName: under $SNAP_COMMON, /var/spool as root, the
// temp folder otherwise. False with a message in error for a bad value.
bool read_server_config(const char* baseName, int numOptions, cups_option_t* options, ServerConfig& config,
                        std::string& error);

// The state file PAPPL's own server keeps for baseName: under $SNAP_COMMON,
// /var/lib as root, $XDG_CONFIG_HOME or ~/.config otherwise, the temp folder
// as a last resort. The application loads and saves its state itself (see
// app/one_job.h), so it must find the file PAPPL would have used.
std::string default_state_file(const char* baseName);

// The local socket PAPPL's server listens on and its sub-commands talk
// through: $TMPDIR/<name><uid>.sock for a user, $SNAP_COMMON/<name>.sock or
// /run/<name>.sock for root.
std::string local_socket_path(const char* baseName);
