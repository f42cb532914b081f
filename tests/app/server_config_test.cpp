// The server sub-command's -o options as the application reads them: the
// defaults (loopback only, PAPPL's spool folders), every accepted value, and
// refusals of bad ones.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "app/server_config.h"

namespace {

// Reads an option string as `server -o ...` would, with SNAP_COMMON set as
// the tests set it.
bool read(const char* text, ServerConfig& config, std::string& error)
{
  setenv("SNAP_COMMON", "/snap/common", 1);
  cups_option_t* options = nullptr;
  const int count = cupsParseOptions(text, 0, &options);
  const bool ok = read_server_config("zpl-printer-app", count, options, config, error);
  cupsFreeOptions(count, options);
  return ok;
}

TEST(ServerConfig, DefaultsListenOnLoopbackWithPapplsPaths)
{
  ServerConfig config;
  std::string error;
  ASSERT_TRUE(read("", config, error)) << error;
  EXPECT_EQ(config.port, 0);
  EXPECT_TRUE(config.listen);
  EXPECT_EQ(config.listenHost, "localhost");
  EXPECT_EQ(config.options, unsigned{PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE});
  EXPECT_EQ(config.spoolDir, "/snap/common/zpl-printer-app.d");
  EXPECT_EQ(config.logFile, "");
  EXPECT_EQ(config.logLevel, PAPPL_LOGLEVEL_WARN);
}

TEST(ServerConfig, EveryOptionIsTaken)
{
  ServerConfig config;
  std::string error;
  ASSERT_TRUE(read("server-port=8631 spool-directory=/var/tmp/spool log-file=- log-level=debug "
                   "listen-hostname=* server-hostname=labels.example admin-group=lpadmin auth-service=cups "
                   "server-options=no-tls,web-log,no-web-interface",
                   config, error))
      << error;
  EXPECT_EQ(config.port, 8631);
  EXPECT_EQ(config.spoolDir, "/var/tmp/spool");
  EXPECT_EQ(config.logFile, "-");
  EXPECT_EQ(config.logLevel, PAPPL_LOGLEVEL_DEBUG);
  EXPECT_EQ(config.listenHost, "");  // every address
  EXPECT_EQ(config.serverHostname, "labels.example");
  EXPECT_EQ(config.adminGroup, "lpadmin");
  EXPECT_EQ(config.authService, "cups");
  EXPECT_EQ(config.options, unsigned{PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_NO_TLS | PAPPL_SOPTIONS_WEB_LOG});

  ServerConfig one;
  ASSERT_TRUE(read("listen-hostname=192.0.2.7 private-server=true server-options=none", one, error)) << error;
  EXPECT_EQ(one.listenHost, "192.0.2.7");
  EXPECT_FALSE(one.listen);
  EXPECT_EQ(one.options, unsigned{PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE});
}

TEST(ServerConfig, BadValuesAreRefusedByName)
{
  for (const char* bad : {"server-port=http", "server-port=8631x", "server-port=-1", "server-port=70000",
                          "server-port=", "log-level=loud", "server-options=no-tls,fast"}) {
    ServerConfig config;
    std::string error;
    EXPECT_FALSE(read(bad, config, error)) << bad;
    const std::string name(bad, std::string(bad).find('='));
    EXPECT_NE(error.find(name), std::string::npos) << error;
  }
}

}  // namespace
