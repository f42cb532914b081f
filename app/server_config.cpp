// The server's -o options.
#include "app/server_config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

struct Named {
  const char* name;
  unsigned value;
};

constexpr Named kLogLevels[] = {
    {"fatal", PAPPL_LOGLEVEL_FATAL}, {"error", PAPPL_LOGLEVEL_ERROR}, {"warn", PAPPL_LOGLEVEL_WARN},
    {"info", PAPPL_LOGLEVEL_INFO},   {"debug", PAPPL_LOGLEVEL_DEBUG},
};

// server-options words that switch a feature on; "no-..." words switch the
// default ones off.
constexpr Named kServerOptionsOn[] = {
    {"dnssd-host", PAPPL_SOPTIONS_DNSSD_HOST}, {"raw-socket", PAPPL_SOPTIONS_RAW_SOCKET},
    {"usb-printer", PAPPL_SOPTIONS_USB_PRINTER}, {"web-log", PAPPL_SOPTIONS_WEB_LOG},
    {"web-network", PAPPL_SOPTIONS_WEB_NETWORK}, {"web-remote", PAPPL_SOPTIONS_WEB_REMOTE},
    {"web-security", PAPPL_SOPTIONS_WEB_SECURITY}, {"web-tls", PAPPL_SOPTIONS_WEB_TLS},
    {"no-tls", PAPPL_SOPTIONS_NO_TLS},
};
constexpr Named kServerOptionsOff[] = {
    {"no-multi-queue", PAPPL_SOPTIONS_MULTI_QUEUE},
    {"no-web-interface", PAPPL_SOPTIONS_WEB_INTERFACE},
};

const Named* find_named(const Named* table, size_t count, const std::string& name)
{
  for (size_t i = 0; i < count; ++i)
    if (name == table[i].name)
      return &table[i];
  return nullptr;
}

// Applies a comma-separated server-options list. False naming the first
// word that is none of the known ones.
bool apply_server_options(const char* list, pappl_soptions_t& options, std::string& error)
{
  std::string rest = list;
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string word = rest.substr(0, comma);
    rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
    if (word == "none" || word.empty())
      continue;
    if (const Named* on = find_named(kServerOptionsOn, std::size(kServerOptionsOn), word))
      options |= on->value;
    else if (const Named* off = find_named(kServerOptionsOff, std::size(kServerOptionsOff), word))
      options &= ~off->value;
    else {
      error = "unknown server-options value '" + word + "'";
      return false;
    }
  }
  return true;
}

// The folder PAPPL keeps temporary files, user sockets and spools in.
std::string temp_dir()
{
  return papplGetTempDir();
}

// PAPPL's own server keeps its spool folder in the same places.
std::string default_spool_dir(const char* baseName)
{
  if (const char* snap = std::getenv("SNAP_COMMON"))
    return std::string(snap) + "/" + baseName + ".d";
  if (getuid() == 0)
    return std::string("/var/spool/") + baseName;
  return temp_dir() + "/" + baseName + std::to_string(getuid()) + ".d";
}

// Copies an option's value into field when it is given.
void take(const char* name, int numOptions, cups_option_t* options, std::string& field)
{
  if (const char* value = cupsGetOption(name, numOptions, options))
    field = value;
}

}  // namespace

bool read_server_config(const char* baseName, int numOptions, cups_option_t* options, ServerConfig& config,
                        std::string& error)
{
  if (const char* value = cupsGetOption("server-port", numOptions, options)) {
    char* end = nullptr;
    errno = 0;
    const long port = std::strtol(value, &end, 10);
    if (!*value || *end || errno || port < 0 || port > 65535) {
      error = std::string("bad server-port value '") + value + "'";
      return false;
    }
    config.port = static_cast<int>(port);
  }
  if (const char* value = cupsGetOption("log-level", numOptions, options)) {
    const Named* level = find_named(kLogLevels, std::size(kLogLevels), value);
    if (!level) {
      error = std::string("bad log-level value '") + value + "'";
      return false;
    }
    config.logLevel = static_cast<pappl_loglevel_t>(level->value);
  }
  if (const char* value = cupsGetOption("server-options", numOptions, options))
    if (!apply_server_options(value, config.options, error))
      return false;

  config.spoolDir = default_spool_dir(baseName);
  take("spool-directory", numOptions, options, config.spoolDir);
  take("log-file", numOptions, options, config.logFile);
  config.listenHost = kDefaultListenHost;
  take("listen-hostname", numOptions, options, config.listenHost);
  if (config.listenHost == "*")
    config.listenHost.clear();
  take("server-hostname", numOptions, options, config.serverHostname);
  take("admin-group", numOptions, options, config.adminGroup);
  take("auth-service", numOptions, options, config.authService);
  config.listen = cupsGetOption("private-server", numOptions, options) == nullptr;
  return true;
}

std::string default_state_file(const char* baseName)
{
  const std::string name = std::string(baseName) + ".state";
  if (const char* snap = std::getenv("SNAP_COMMON")) {
    if (access(snap, X_OK) == 0)
      return std::string(snap) + "/" + name;
  } else if (getuid() == 0) {
    return "/var/lib/" + name;
  } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) {
    if (access(xdg, X_OK) == 0)
      return std::string(xdg) + "/" + name;
  } else if (const char* home = std::getenv("HOME")) {
    const std::string config = std::string(home) + "/.config";
    if (access(config.c_str(), X_OK) == 0 || (errno == ENOENT && mkdir(config.c_str(), 0777) == 0))
      return config + "/" + name;
  }
  return temp_dir() + "/" + baseName + std::to_string(getuid()) + ".state";
}

std::string local_socket_path(const char* baseName)
{
  if (getuid() != 0)
    return temp_dir() + "/" + baseName + std::to_string(getuid()) + ".sock";
  if (const char* snap = std::getenv("SNAP_COMMON"))
    return std::string(snap) + "/" + baseName + ".sock";
  return std::string("/run/") + baseName + ".sock";
}
