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
