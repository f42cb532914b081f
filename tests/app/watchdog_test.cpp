// The watchdog's self-check against servers that can't answer: it must
// fail, and fail within its timeout, since a check that hangs with the
// server would keep the watchdog from noticing anything.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/watchdog.h"
#include "support.h"

namespace {

// A local socket that takes connections into its backlog and never
// accepts them, as the socket of a server whose main loop hangs.
struct SilentSocket {
  int fd = -1;
  ~SilentSocket()
  {
    if (fd >= 0)
      close(fd);
  }
};

bool listen_silently(SilentSocket& silent, const std::string& path)
{
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  silent.fd = socket(AF_UNIX, SOCK_STREAM, 0);
  return silent.fd >= 0 && bind(silent.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
         listen(silent.fd, 8) == 0;
}

TEST(SelfCheck, FailsWithinItsTimeoutWhenTheServerCannotAnswer)
{
  const std::string dir = make_temp_dir();
  SilentSocket silent;
  ASSERT_TRUE(listen_silently(silent, dir + "/silent.sock"));
  struct Case {
    const char* name;
    std::string socketPath;
    const char* reason;  // in the error
  };
  const Case cases[] = {
      {"nothing listens", dir + "/none.sock", "cannot connect to"},
      {"never answers", dir + "/silent.sock", "no answer within 0.3 s"},
  };
  for (const Case& test : cases) {
    const SelfCheck check{test.socketPath, std::chrono::milliseconds(300), {}};
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(run_self_check(check, error)) << test.name;
    // Without its own timeout CUPS waits a minute for the answer.
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(took.count(), 20000) << test.name;
    EXPECT_NE(error.find(test.reason), std::string::npos) << test.name << ": " << error;
  }
  remove_tree(dir);
}

}  // namespace
