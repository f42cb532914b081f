// Running the programs as CUPS would: a process with arguments, environment
// and standard input, its output and status collected, plainly or through
// a pipe the test reads while it cancels the job.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include "support.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The process environment with the test's changes applied.
std::vector<std::string> child_environment(const std::vector<std::string>& changes)
{
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    env.emplace_back(*e);
  for (const std::string& change : changes) {
    const bool remove = change[0] == '-';
    const std::string name = remove ? change.substr(1) : change.substr(0, change.find('='));
    for (auto it = env.begin(); it != env.end();)
      it = it->compare(0, name.size() + 1, name + "=") == 0 ? env.erase(it) : it + 1;
    if (!remove)
      env.push_back(change);
  }
  return env;
}

std::vector<char*> c_strings(std::vector<std::string>& strings)
{
  std::vector<char*> pointers;
  for (std::string& s : strings)
    pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// ASAN_OPTIONS for a sanitizer-built child. Freed pages must not pile up in
// the sanitizer's quarantine, or memory would grow with the page count for
// reasons of the test build alone. Under the sanitizer a memory cap goes to
// its allocator: it reserves terabytes of address space, so an address-space
// limit can't be used, and too large a request then returns null.
std::string sanitizer_options(const RunSetup& setup)
{
  const char* inherited = std::getenv("ASAN_OPTIONS");
  std::string options = inherited ? inherited : "";
  for (const std::string& change : setup.env)
    if (change.rfind("ASAN_OPTIONS=", 0) == 0)
      options = change.substr(13);
  options = "ASAN_OPTIONS=" + options + ":quarantine_size_mb=0";
#ifdef ZPL_TEST_ASAN
  if (setup.memoryCapMb)
    options += ":allocator_may_return_null=1:max_allocation_size_mb=" + std::to_string(setup.memoryCapMb);
#endif
  return options;
}

// The argument and environment vectors of a child, kept alive until exec.
struct ChildVectors {
  std::vector<std::string> args, env;
  std::vector<char*> argv, envp;

  ChildVectors(const std::vector<std::string>& arguments, const RunSetup& setup) : args(arguments)
  {
    std::vector<std::string> changes = setup.env;
    changes.push_back(sanitizer_options(setup));
    env = child_environment(changes);
    argv = c_strings(args);
    envp = c_strings(env);
  }
};

// Applies the setup inside the forked child. Returns false on failure.
bool prepare_child(const RunSetup& setup)
{
#ifndef ZPL_TEST_ASAN
  if (setup.memoryCapMb) {
    const rlim_t bytes = rlim_t{setup.memoryCapMb} << 20;
    const rlimit limit{bytes, bytes};
    if (setrlimit(RLIMIT_AS, &limit) != 0)
      return false;
  }
#endif
  if (chdir(setup.dir.c_str()) != 0 || (setup.removeDir && rmdir(setup.dir.c_str()) != 0))
    return false;
  if (setup.asNobody && geteuid() == 0)
    return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
  return true;
}

// In the forked child: the standard streams, the setup, then the program.
[[noreturn]] void exec_child(const std::string& program, ChildVectors& vectors, const RunSetup& setup, int in,
                             int out, int err)
{
  if (in < 0 || out < 0 || err < 0 || !prepare_child(setup))
    _exit(127);
  dup2(in, 0), dup2(out, 1), dup2(err, 2);
  execve(program.c_str(), vectors.argv.data(), vectors.envp.data());
  _exit(127);
}

int open_input(const std::string& path)
{
  return open(path.empty() ? "/dev/null" : path.c_str(), O_RDONLY);
}

int open_output(const std::string& path)
{
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
}

// Waits for the process and takes its status and peak memory.
void reap(pid_t pid, ProcessResult& result)
{
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) == pid) {
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.maxRssKb = usage.ru_maxrss;
  }
}

// Writes the bytes to fd in pieces with a pause between, as a slow filter
// before ours would; ends when they are written or nobody reads any more.
[[noreturn]] void feed_slowly(int fd, const std::string& bytes, size_t chunk, unsigned pauseUs)
{
  signal(SIGPIPE, SIG_IGN);
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, std::min(chunk, bytes.size() - done));
    if (n <= 0)
      _exit(0);
    done += static_cast<size_t>(n);
    usleep(pauseUs);
  }
  _exit(0);
}

// True once the process has a handler for SIGTERM (waits up to ten seconds),
// so that a signal sent next tests the handler and not the default action.
bool catches_sigterm(pid_t pid)
{
  for (int i = 0; i < 1000; ++i) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1) & 1))
        return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The pipe ends the parent keeps while the child runs.
struct PipedChild {
  pid_t pid = -1;
  int out = -1;       // read end of standard output
  int heldInput = -1; // write end of an input held open until the signal
};

// Sends SIGTERM as the plan has it, and then lets the input go.
void cancel(PipedChild& child, PipedResult& result)
{
  EXPECT_TRUE(catches_sigterm(child.pid)) << "the program never caught SIGTERM";
  kill(child.pid, SIGTERM);
  result.readAtSignal = result.process.out.size();
  // The filter before ours ends with the job too.
  if (child.heldInput >= 0)
    close(child.heldInput), child.heldInput = -1;
}

// Reads the program's output per plan until it closes it, sending SIGTERM
// once the plan says so, never reading past the byte count it names.
void take_output(PipedChild& child, const PipePlan& plan, PipedResult& result)
{
  std::vector<char> buffer(plan.readChunk);
  std::string& out = result.process.out;
  Clock::time_point first{};
  const auto delay = std::chrono::milliseconds(plan.termAfterMs);
  for (;;) {
    const bool timed = plan.termAfterMs && !out.empty();  // the clock runs from the first byte
    if (result.readAtSignal == SIZE_MAX &&
        (out.size() >= plan.termAfterBytes || (timed && Clock::now() >= first + delay)))
      cancel(child, result);
    const bool due = result.readAtSignal == SIZE_MAX;
    size_t want = buffer.size();
    if (due && plan.termAfterBytes != SIZE_MAX)
      want = std::min(want, plan.termAfterBytes - out.size());
    // With a signal still due, don't sleep in read past its moment.
    if (due && timed) {
      const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(first + delay - Clock::now()).count();
      pollfd ready{child.out, POLLIN, 0};
      if (poll(&ready, 1, static_cast<int>(std::max<decltype(waitMs)>(waitMs, 0))) <= 0)
        continue;
    }
    const ssize_t n = read(child.out, buffer.data(), want);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    if (out.empty())
      first = Clock::now();
    out.append(buffer.data(), static_cast<size_t>(n));
    if (plan.readPauseUs)
      usleep(plan.readPauseUs);
  }
}

// Starts the child and, for a fed input, the process that feeds it. The
// output's read end is closed before the fork when nobody is to read, so
// that the program never finds a reader, however late the test runs.
bool start_piped(const std::string& program, ChildVectors& vectors, const RunSetup& setup, const PipePlan& plan,
                 const std::string& errPath, PipedChild& child, pid_t& feeder, PipedResult& result)
{
  const bool piped = plan.feedChunk > 0 || plan.holdInput;
  // Close-on-exec: the program must hold no end of its pipes but its own.
  int outPipe[2], inPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0 || (piped && pipe2(inPipe, O_CLOEXEC) != 0)) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return false;
  }
  result.pipeCapacity = static_cast<size_t>(fcntl(outPipe[0], F_GETPIPE_SZ));
  if (plan.closeOutput)
    close(outPipe[0]), outPipe[0] = -1;
  const std::string input = plan.feedChunk > 0 ? read_file(setup.stdinPath) : std::string();

  std::fflush(nullptr);
  child.pid = fork();
  if (child.pid == 0)
    exec_child(program, vectors, setup, piped ? inPipe[0] : open_input(setup.stdinPath), outPipe[1],
               open_output(errPath));
  close(outPipe[1]);
  child.out = outPipe[0];
  if (plan.feedChunk > 0) {
    feeder = fork();
    if (feeder == 0) {
      close(inPipe[0]);
      if (outPipe[0] >= 0)
        close(outPipe[0]);
      feed_slowly(inPipe[1], input, plan.feedChunk, plan.feedPauseUs);
    }
  }
  if (piped) {
    close(inPipe[0]);
    if (plan.holdInput)
      child.heldInput = inPipe[1];
    else
      close(inPipe[1]);
  }
  return child.pid > 0;
}

}  // namespace

PipedResult run_piped(const std::string& program, const std::vector<std::string>& args, const RunSetup& setup,
                      const PipePlan& plan)
{
  PipedResult result;
  const std::string errPath = (setup.outDir.empty() ? setup.dir : setup.outDir) + "/.stderr";
  ChildVectors vectors(args, setup);
  PipedChild child;
  pid_t feeder = -1;
  const bool started = start_piped(program, vectors, setup, plan, errPath, child, feeder, result);
  std::this_thread::sleep_for(std::chrono::milliseconds(plan.startDelayMs));
  if (started && child.out >= 0)
    take_output(child, plan, result);
  if (child.out >= 0)
    close(child.out);
  if (child.heldInput >= 0)
    close(child.heldInput);
  if (child.pid > 0)
    reap(child.pid, result.process);
  if (feeder > 0)
    waitpid(feeder, nullptr, 0);
  result.process.err = read_file(errPath);
  unlink(errPath.c_str());
  return result;
}

ProcessResult run_process(const std::string& program, const std::vector<std::string>& args, const RunSetup& setup)
{
  ProcessResult result;
  const std::string outDir = setup.outDir.empty() ? setup.dir : setup.outDir;
  const std::string outPath = outDir + "/.stdout", errPath = outDir + "/.stderr";
  ChildVectors vectors(args, setup);

  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0)
    return result;
  if (pid == 0)
    exec_child(program, vectors, setup, open_input(setup.stdinPath),
               open_output(setup.stdoutPath.empty() ? outPath : setup.stdoutPath), open_output(errPath));
  reap(pid, result);
  result.out = read_file(outPath);
  result.err = read_file(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return result;
}

void expect_silent(const ProcessResult& result)
{
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

ProcessResult run_program(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                          const std::string& stdinPath, const std::vector<std::string>& env)
{
  RunSetup setup;
  setup.dir = dir;
  setup.stdinPath = stdinPath;
  setup.env = env;
  return run_process(program, args, setup);
}

std::vector<std::string> filter_args(const std::string& program, const std::string& options, const std::string& file)
{
  std::vector<std::string> args{program, "7", "alice", "labels", "1", options};
  if (!file.empty())
    args.push_back(file);
  return args;
}

ProcessResult run_filter(const std::string& program, const std::vector<GreyPage>& pages, const std::string& dir,
                         const FilterJob& job)
{
  const std::string raster = dir + "/job.ras";
  EXPECT_TRUE(write_raster(raster, pages, job.mode)) << raster;
  return run_program(program, filter_args(program, job.options, job.onStdin ? "" : raster), dir,
                     job.onStdin ? raster : "", job.env);
}

std::string filter_labels(const std::string& program, const std::vector<GreyPage>& pages, const std::string& options)
{
  const TempDir dir;
  const ProcessResult result = run_filter(program, pages, dir.path, {options});
  EXPECT_EQ(result.status, 0) << result.err;
  return result.out;
}

namespace {

sockaddr_in loopback_address(int port)
{
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

int free_loopback_port()
{
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int port = 20000 + static_cast<int>(random() % 20000);
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0)
      return -1;
    const sockaddr_in address = loopback_address(port);
    // Binding proves the port free now; the server binds it again moments later.
    const bool free = bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    if (free)
      return port;
  }
  return -1;
}

int connect_loopback(int port)
{
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = loopback_address(port);
  if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

pid_t start_server(const std::vector<std::string>& args, const std::string& outPath,
                   const std::vector<std::string>& env)
{
  std::vector<std::string> command{"/usr/bin/timeout", "-k", "5", "600"};
  command.insert(command.end(), args.begin(), args.end());
  RunSetup setup;
  setup.dir = "/";
  setup.env = env;
  ChildVectors vectors(command, setup);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open_output(outPath);
    exec_child(command[0], vectors, setup, open_input(""), out, out);
  }
  if (pid < 0)
    ADD_FAILURE() << "fork failed";
  return pid;
}

int server_status(pid_t pid)
{
  int status = 0;
  if (waitpid(pid, &status, WNOHANG) != pid)
    return kStillRunning;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void stop_server(pid_t& pid)
{
  if (pid <= 0)
    return;
  kill(pid, SIGTERM);
  bool ended = false;
  for (int i = 0; i < 100 && !(ended = server_status(pid) != kStillRunning); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // Not reaped yet, so the pid is still that server's.
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  pid = -1;
}

bool wait_until_answering(ServerProcess& server, const std::string& outPath, const std::function<bool()>& answering)
{
  for (int i = 0; i < 300 && server.pid > 0; ++i) {
    const int status = server_status(server.pid);
    if (status != kStillRunning) {
      server.pid = -1;
      ADD_FAILURE() << "the server ended at start with status " << status << ":\n" << read_file(outPath);
      return false;
    }
    if (answering())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ADD_FAILURE() << "the server does not answer:\n" << read_file(outPath);
  stop_server(server.pid);
  return false;
}
