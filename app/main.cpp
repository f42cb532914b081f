// zpl-printer-app: an IPP Everywhere printer application for ZPL label
// printers, built on PAPPL and the filters' core.
//
//   zpl-printer-app server -o server-port=8631 -o log-file=-
//   zpl-printer-app add -d labels -v socket://printer -m zpl_203dpi
//   zpl-printer-app submit -d labels label.pdf
#include <libgen.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "app/driver.h"
#include "app/label_page.h"
#include "app/models.h"
#include "app/server_config.h"

namespace {

// The name PAPPL derives its state, socket and spool paths from.
std::string g_baseName = "zpl-printer-app";

constexpr char kSystemName[] = "ZPL Label Printers";
constexpr char kFooterHtml[] =
    "zpl-printer-app " ZPL_APP_VERSION " &middot; ZPL labels from the zplfilter core";

// One driver per printer model, named zpl_<dpi>dpi.
struct DriverList {
  std::vector<std::string> names, descriptions;
  std::vector<pappl_pr_driver_t> drivers;
};

DriverList& driver_list()
{
  static DriverList list = [] {
    DriverList made;
    for (const ModelProfile* model : kModels) {
      made.names.push_back(driver_name(*model));
      made.descriptions.push_back(driver_description(*model));
    }
    for (size_t i = 0; i < made.names.size(); ++i)
      made.drivers.push_back({made.names[i].c_str(), made.descriptions[i].c_str(), "CMD:ZPL;", nullptr});
    return made;
  }();
  return list;
}

// Creates the system as PAPPL's default server would, listening on the
// loopback address unless told otherwise, and taking ZPL by content. The
// drivers are set here, not by papplMainloop, for the page every printer
// gets when it is created.
pappl_system_t* make_system(int numOptions, cups_option_t* options, void* data)
{
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
  DriverList& list = *static_cast<DriverList*>(data);
  papplSystemSetPrinterDrivers(system, static_cast<int>(list.drivers.size()), list.drivers.data(),
                               /*autoadd_cb*/ nullptr, zpl_printer_created, zpl_driver_callback, nullptr);
  papplSystemAddStringsData(system, "/zpl-printer-app-en.strings", "en", kEnglishStrings);
  return system;
}

}  // namespace

int main(int argc, char* argv[])
{
  if (argc > 0) {
    std::string path = argv[0];
    g_baseName = basename(path.data());
  }
  DriverList& list = driver_list();
  return papplMainloop(argc, argv, ZPL_APP_VERSION, kFooterHtml, static_cast<int>(list.drivers.size()),
                       list.drivers.data(), /*autoadd_cb*/ nullptr,
                       zpl_driver_callback, /*subcmd_name*/ nullptr, /*subcmd_cb*/ nullptr, make_system,
                       /*usage_cb*/ nullptr, &list);
}
