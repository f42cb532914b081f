// zpl-printer-app under systemd's watchdog. The self-check must fail, and
// within its timeout, when the server can't answer: a check that hung with
// the server would keep the watchdog from noticing. And the application
// itself: the test stands in for systemd with a notify socket of its own and
// blocks the self-check (a switch of the test build) as a hung server
// would; the pings must stop while it is blocked and come back after.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/watchdog.h"
#include "printer_app.h"

namespace {

// A unix socket of the given type bound to path; closed when it goes.
struct LocalSocket {
  int fd = -1;
  LocalSocket(const std::string& path, int type)
  {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path || (fd = socket(AF_UNIX, type, 0)) < 0)
      return;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd);
      fd = -1;
    }
  }
  LocalSocket(const LocalSocket&) = delete;
  LocalSocket& operator=(const LocalSocket&) = delete;
  ~LocalSocket()
  {
    if (fd >= 0)
      close(fd);
  }
};

TEST(SelfCheck, FailsWithinItsTimeoutWhenTheServerCannotAnswer)
{
  const TempDir dir;
  // Takes connections into its backlog and never accepts them, as the
  // socket of a server whose main loop hangs.
  const LocalSocket silent(dir.file("silent.sock"), SOCK_STREAM);
  ASSERT_TRUE(silent.fd >= 0 && listen(silent.fd, 8) == 0);
  const struct {
    const char* name;
    std::string socketPath;
    const char* reason;  // in the error
  } cases[] = {
      {"nothing listens", dir.file("none.sock"), "cannot connect to"},
      {"never answers", dir.file("silent.sock"), "no answer within 0.3 s"},
  };
  for (const auto& test : cases) {
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(run_self_check(SelfCheck{test.socketPath, std::chrono::milliseconds(300), {}}, error)) << test.name;
    // Without a timeout of its own a blocking CUPS connection waits for the
    // answer for ever.
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(took.count(), 20000) << test.name;
    EXPECT_NE(error.find(test.reason), std::string::npos) << test.name << ": " << error;
  }
}

bool has_line(const std::string& message, const std::string& prefix)
{
  return ("\n" + message).find("\n" + prefix) != std::string::npos;
}

// Reads notifications until one has a line starting with prefix, for up to
// 30 s. Returns every message read before that one; found tells whether it
// came.
std::vector<std::string> read_until(const LocalSocket& notify, const std::string& prefix, bool& found)
{
  std::vector<std::string> before;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (found = false; !found;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{notify.fd, POLLIN, 0};
    char buffer[4096];
    ssize_t size = -1;
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
        (size = recv(notify.fd, buffer, sizeof buffer, 0)) < 0)
      break;
    before.emplace_back(buffer, static_cast<size_t>(size));
    found = has_line(before.back(), prefix);
  }
  if (found)
    before.pop_back();
  return before;
}

size_t count_with(const std::vector<std::string>& messages, const std::string& prefix)
{
  return static_cast<size_t>(
      std::count_if(messages.begin(), messages.end(), [&](const std::string& m) { return has_line(m, prefix); }));
}

TEST(Watchdog, PingsStopWhileTheSelfCheckIsBlocked)
{
  const TempDir root;
  const std::string block = root.file("block");
  const LocalSocket notify(root.file("notify.sock"), SOCK_DGRAM);
  ASSERT_GE(notify.fd, 0);
  PrinterApp app;
  // A 4 s interval: a self-check every second.
  ASSERT_TRUE(start_printer_app(app, build_paths().testPrinterApp, root.path,
                                {"NOTIFY_SOCKET=" + root.file("notify.sock"), "WATCHDOG_USEC=4000000",
                                 "ZPL_TEST_BLOCK_SELF_CHECK=" + block}));
  bool found = false;
  read_until(notify, "READY=1", found);
  ASSERT_TRUE(found) << "no READY=1\n" << app_log_tail(app);
  read_until(notify, "WATCHDOG=1", found);
  ASSERT_TRUE(found) << "no WATCHDOG=1";

  // Blocked: a check that began before may still ping, but once one has
  // failed, none may until the block goes.
  ASSERT_TRUE(write_file(block, ""));
  read_until(notify, "STATUS=Self-check failed", found);
  ASSERT_TRUE(found) << "the blocked self-check was not reported";
  const std::vector<std::string> blocked = read_until(notify, "STATUS=Self-check failed", found);
  ASSERT_TRUE(found) << "the self-check stopped being tried";
  EXPECT_EQ(count_with(blocked, "WATCHDOG=1"), 0u);

  ASSERT_EQ(unlink(block.c_str()), 0);
  const std::vector<std::string> unblocked = read_until(notify, "WATCHDOG=1", found);
  EXPECT_TRUE(found) << "no WATCHDOG=1 after the block went";
  EXPECT_EQ(count_with(unblocked, "STATUS=Serving"), 1u);

  EXPECT_EQ(shutdown_printer_app(app), 0) << app_log_tail(app);
  read_until(notify, "STOPPING=1", found);
  EXPECT_TRUE(found) << "no STOPPING=1 at the end";
}

}  // namespace
