// zpl-printer-app under systemd's watchdog: the test stands in for systemd
// with a notify socket of its own, and blocks the application's self-check
// (a switch of the test build) as a hung server would: the pings must stop
// while it is blocked and come back after.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "printer_app.h"

namespace {

// The datagram socket systemd would read the service's notifications from.
struct NotifySocket {
  int fd = -1;
  ~NotifySocket()
  {
    if (fd >= 0)
      close(fd);
  }
};

bool bind_notify_socket(NotifySocket& notify, const std::string& path)
{
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  notify.fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  return notify.fd >= 0 && bind(notify.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool has_line(const std::string& message, const std::string& prefix)
{
  for (size_t at = 0; at < message.size();) {
    if (message.compare(at, prefix.size(), prefix) == 0)
      return true;
    const size_t end = message.find('\n', at);
    at = end == std::string::npos ? message.size() : end + 1;
  }
  return false;
}

// Reads notifications until one has a line starting with prefix, for up to
// 30 s. Returns every message read before that one; found tells whether it
// came.
std::vector<std::string> read_until(const NotifySocket& notify, const std::string& prefix, bool& found)
{
  std::vector<std::string> before;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  found = false;
  while (!found) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{notify.fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
      break;
    char buffer[4096];
    const ssize_t size = recv(notify.fd, buffer, sizeof buffer, 0);
    if (size < 0)
      break;
    const std::string message(buffer, static_cast<size_t>(size));
    found = has_line(message, prefix);
    if (!found)
      before.push_back(message);
  }
  return before;
}

size_t count_with(const std::vector<std::string>& messages, const std::string& prefix)
{
  size_t count = 0;
  for (const std::string& message : messages)
    count += has_line(message, prefix);
  return count;
}

TEST(Watchdog, PingsStopWhileTheSelfCheckIsBlocked)
{
  const std::string root = make_temp_dir();
  const std::string block = root + "/block";
  NotifySocket notify;
  ASSERT_TRUE(bind_notify_socket(notify, root + "/notify.sock"));
  PrinterApp app;
  // A 4 s interval: a self-check every second.
  ASSERT_TRUE(start_printer_app(app, TEST_PRINTER_APP, root,
                                {"NOTIFY_SOCKET=" + root + "/notify.sock", "WATCHDOG_USEC=4000000",
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
  remove_tree(root);
}

}  // namespace
