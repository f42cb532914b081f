// zpl-printer-app: an IPP Everywhere printer application for ZPL label
// printers, built on PAPPL and the filters' core.
//
//   zpl-printer-app server -o server-port=8631 -o log-file=-
//   zpl-printer-app add -d labels -v zpl://printer -m auto
//   zpl-printer-app submit -d labels label.pdf
#include <libgen.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <pappl/pappl.h>

#include "app/auto_detect.h"
#include "app/driver.h"
#include "app/label_page.h"
#include "app/models.h"
#include "app/one_job.h"
#include "app/printer_link.h"
#include "app/server_config.h"
#include "app/watchdog.h"

namespace {

// The name PAPPL derives its state, socket and spool paths from.
std::string g_baseName = "zpl-printer-app";

constexpr char kSystemName[] = "ZPL Label Printers";
constexpr char kFooterHtml[] =
    "zpl-printer-app " ZPL_APP_VERSION " &middot; ZPL labels from the zplfilter core";

// What the server keeps for as long as papplMainloop runs.
struct ServerContext {
  bool serving = false;  // the `server` sub-command, not `drivers`
  std::string stateFile;
  Watchdog watchdog;
};

// PAPPL creates the system for `server` and for `drivers`, which lists the
// drivers and deletes it again: that one must neither load the state (it
// would remove the running server's finished job files when it deletes the
// system) nor talk to systemd. PAPPL takes its sub-command from anywhere
// in the arguments.
bool runs_server(int argc, char* argv[])
{
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "server") == 0)
      return true;
  return false;
}

// PAPPL's save callback: the state file PAPPL's own server would write.
bool save_state(pappl_system_t* system, void* stateFile)
{
  return papplSystemSaveState(system, static_cast<const char*>(stateFile));
}

// The state PAPPL's own server would load, with one job at a time on every
// printer (see app/one_job.h); then the state is saved to the same file.
// Setting a save callback keeps papplMainloop from loading it once more.
void load_state(pappl_system_t* system, ServerContext& context)
{
  context.stateFile = default_state_file(g_baseName.c_str());
  papplSystemLoadState(system, context.stateFile.c_str());
  limit_every_printer(system);
  papplSystemSetSaveCallback(system, save_state, context.stateFile.data());
}

// The test builds' switch that blocks the watchdog's self-check.
std::string self_check_block_file()
{
#ifdef ZPL_TEST_HOOKS
  if (const char* path = std::getenv("ZPL_TEST_BLOCK_SELF_CHECK"))
    return path;
#endif
  return {};
}

// PAPPL's printer creation callback, for every printer added and every one
// of the saved state: one job at a time, and the "Label Mode" page.
void zpl_printer_created(pappl_printer_t* printer, void*)
{
  limit_to_one_job(printer);
  add_label_mode_page(printer);
}

// Creates the system as PAPPL's default server would, listening on the
// loopback address unless told otherwise, and taking ZPL by content; its
// printers take one job at a time and may be zpl:// ones, the driver
// "auto" asks the printer, and under systemd the watchdog runs.
pappl_system_t* make_system(int numOptions, cups_option_t* options, void* data)
{
  ServerContext& context = *static_cast<ServerContext*>(data);
  ServerConfig config;
  std::string error;
  if (!read_server_config(g_baseName.c_str(), numOptions, options, config, error)) {
    std::fprintf(stderr, "%s: %s\n", g_baseName.c_str(), error.c_str());
    return nullptr;
  }
  pappl_system_t* system = papplSystemCreate(
      config.options, kSystemName, config.port, "_print,_universal", config.spoolDir.c_str(),
      config.logFile.empty() ? nullptr : config.logFile.c_str(), config.logLevel,
      config.authService.empty() ? nullptr : config.authService.c_str(), false);
  if (!system)
    return nullptr;
  if (!config.adminGroup.empty())
    papplSystemSetAdminGroup(system, config.adminGroup.c_str());
  if (!config.serverHostname.empty())
    papplSystemSetHostName(system, config.serverHostname.c_str());
  if (config.listen &&
      !papplSystemAddListeners(system, config.listenHost.empty() ? nullptr : config.listenHost.c_str())) {
    std::fprintf(stderr, "%s: cannot listen on %s port %d\n", g_baseName.c_str(),
                 config.listenHost.empty() ? "every address" : config.listenHost.c_str(), config.port);
    papplSystemDelete(system);
    return nullptr;
  }
  papplSystemSetMIMECallback(system, zpl_mime_callback, nullptr);
  add_zpl_scheme();
  set_detection_log(system);
  auto& drivers = pappl_drivers();
  // The auto-add callback also gives a printer of the saved state that was
  // added as "auto" its model back, so it is set before the state loads.
  papplSystemSetPrinterDrivers(system, static_cast<int>(drivers.size()), drivers.data(),
                               zpl_autoadd_callback, zpl_printer_created, zpl_driver_callback, nullptr);
  papplSystemAddStringsData(system, "/zpl-printer-app-en.strings", "en", kEnglishStrings);
  if (!context.serving)
    return system;
  load_state(system, context);
  if (!start_watchdog(context.watchdog, local_socket_path(g_baseName.c_str()), self_check_block_file())) {
    papplSystemDelete(system);
    return nullptr;
  }
  return system;
}

}  // namespace

int main(int argc, char* argv[])
{
  if (argc > 0) {
    std::string path = argv[0];
    g_baseName = basename(path.data());
  }
  auto& drivers = pappl_drivers();
  ServerContext context;
  context.serving = runs_server(argc, argv);
  const int status = papplMainloop(argc, argv, ZPL_APP_VERSION, kFooterHtml, static_cast<int>(drivers.size()),
                                   drivers.data(), zpl_autoadd_callback, zpl_driver_callback,
                                   /*subcmd_name*/ nullptr, /*subcmd_cb*/ nullptr, make_system,
                                   /*usage_cb*/ nullptr, &context);
  stop_watchdog(context.watchdog);
  return status;
}
