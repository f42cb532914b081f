// A private printer application server for the end-to-end tests.
#include "printer_app.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "cups_env.h"

namespace {

#ifdef ZPL_TEST_ASAN
// PAPPL's own leaks, which stacks show only when unwound the slow way, and
// its own race at shutdown (see the suppression files).
constexpr char kLeakOptions[] = "suppressions=" LSAN_SUPPRESSIONS ":fast_unwind_on_malloc=0";
constexpr char kServerAsanOptions[] = ":suppressions=" ASAN_SUPPRESSIONS;
#endif

std::vector<std::string> app_environment(const PrinterApp& app)
{
  // PAPPL puts its state file and local socket under SNAP_COMMON.
  std::vector<std::string> env{"SNAP_COMMON=" + app.root + "/state"};
#ifdef ZPL_TEST_ASAN
  env.push_back(std::string("LSAN_OPTIONS=") + kLeakOptions);
#endif
  return env;
}

// True when a connection to the address can be made now.
bool answers(const sockaddr* address, socklen_t size)
{
  const int fd = socket(address->sa_family, SOCK_STREAM, 0);
  if (fd < 0)
    return false;
  const bool ok = connect(fd, address, size) == 0;
  close(fd);
  return ok;
}

bool port_answers(int port)
{
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return answers(reinterpret_cast<sockaddr*>(&address), sizeof address);
}

bool socket_answers(const std::string& path)
{
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return answers(reinterpret_cast<sockaddr*>(&address), sizeof address);
}

// The exit status once the process has ended, -2 while it runs.
int ended(pid_t pid)
{
  int status = 0;
  if (waitpid(pid, &status, WNOHANG) != pid)
    return -2;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void kill_server(PrinterApp& app)
{
  if (app.pid <= 0)
    return;
  kill(app.pid, SIGTERM);
  for (int i = 0; i < 50 && ended(app.pid) == -2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (kill(app.pid, SIGKILL) == 0)
    waitpid(app.pid, nullptr, 0);
  app.pid = -1;
}

}  // namespace

PrinterApp::~PrinterApp()
{
  kill_server(*this);
}

bool start_printer_app(PrinterApp& app, const std::string& program, const std::string& root,
                       const std::vector<std::string>& env)
{
  app.program = program;
  app.root = root;
  app.port = free_loopback_port();
  if (app.port < 0) {
    ADD_FAILURE() << "no free loopback port";
    return false;
  }
  for (const char* dir : {"state", "spool"})
    if (!make_public_dir(root + "/" + dir))
      return false;

  const std::string out = root + "/server.out", port = "server-port=" + std::to_string(app.port);
  const std::string spool = "spool-directory=" + root + "/spool", log = "log-file=" + root + "/app.log";
  const std::string stateDir = root + "/state";
#ifdef ZPL_TEST_ASAN
  const char* inherited = std::getenv("ASAN_OPTIONS");
  const std::string asanOptions = std::string(inherited ? inherited : "") + kServerAsanOptions;
#endif
  std::fflush(nullptr);
  app.pid = fork();
  if (app.pid < 0) {
    ADD_FAILURE() << "fork failed";
    return false;
  }
  if (app.pid == 0) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0)
      dup2(fd, 1), dup2(fd, 2);
    setenv("SNAP_COMMON", stateDir.c_str(), 1);
    for (const std::string& entry : env)
      putenv(const_cast<char*>(entry.c_str()));
#ifdef ZPL_TEST_ASAN
    setenv("LSAN_OPTIONS", kLeakOptions, 1);
    setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
#endif
    // The timeout ends the server even if the test process itself is killed.
    execlp("timeout", "timeout", "-k", "5", "600", program.c_str(), "server", "-o", port.c_str(), "-o",
           spool.c_str(), "-o", log.c_str(), "-o", "log-level=debug", static_cast<char*>(nullptr));
    _exit(127);
  }

  // add and submit start a server of their own when the socket does not
  // answer yet: wait for it before using them.
  const std::string socketPath = root + "/state/" + program.substr(program.rfind('/') + 1) + ".sock";
  for (int i = 0; i < 300; ++i) {
    const int status = ended(app.pid);
    if (status != -2) {
      app.pid = -1;
      ADD_FAILURE() << "the server ended at start with status " << status << ":\n" << read_file(out);
      return false;
    }
    if (socket_answers(socketPath) && port_answers(app.port))
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ADD_FAILURE() << "the server does not answer on port " << app.port << "\n" << read_file(out);
  kill_server(app);
  return false;
}

ProcessResult run_app(const PrinterApp& app, const std::vector<std::string>& args)
{
  std::vector<std::string> argv{app.program};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(app.program, argv, app.root, {}, app_environment(app));
}

int shutdown_printer_app(PrinterApp& app)
{
  // PAPPL 1.3.1 may end the server before the answer to the shutdown
  // request is out; the command then reports a lost connection although the
  // server ends as asked. What counts is that it ends, and how.
  const ProcessResult request = run_app(app, {"shutdown"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    const int status = ended(app.pid);
    if (status != -2) {
      app.pid = -1;
      return status;
    }
    // The server notices a shutdown at its next wake-up; a connection is one.
    port_answers(app.port);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ADD_FAILURE() << "the server did not end after `shutdown`: " << request.out << request.err;
  kill_server(app);
  return -1;
}

std::string printer_uri(const PrinterApp& app, const std::string& printer)
{
  return "ipp://127.0.0.1:" + std::to_string(app.port) + "/ipp/print/" + printer;
}

http_t* connect_app(const PrinterApp& app)
{
  return httpConnect2("127.0.0.1", app.port, nullptr, AF_INET, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
}

int job_state(const PrinterApp& app, const std::string& printer, int jobId)
{
  http_t* http = connect_app(app);
  if (!http)
    return 0;
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printer_uri(app, printer).c_str());
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "test");
  ipp_t* response = cupsDoRequest(http, request, ("/ipp/print/" + printer).c_str());
  const int state = ippGetInteger(ippFindAttribute(response, "job-state", IPP_TAG_ENUM), 0);
  ippDelete(response);
  httpClose(http);
  return state;
}

std::string wait_for_content(const std::string& path, const std::string& expected)
{
  std::string content;
  for (int i = 0; i < 300; ++i) {
    content = read_file(path);
    if (content == expected)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return content;
}

std::string app_log_tail(const PrinterApp& app)
{
  const std::string log = read_file(app.root + "/app.log");
  const size_t keep = 6000;
  return "--- zpl-printer-app log (end) ---\n" + (log.size() > keep ? log.substr(log.size() - keep) : log);
}
