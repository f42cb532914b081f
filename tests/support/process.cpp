// Running the filters as CUPS would: a process with arguments, environment
// and standard input, its output and status collected.
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "support.h"

extern char** environ;

namespace {

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
std::string sanitizer_options(unsigned memoryCapMb)
{
  const char* inherited = std::getenv("ASAN_OPTIONS");
  std::string options = std::string("ASAN_OPTIONS=") + (inherited ? inherited : "") + ":quarantine_size_mb=0";
#ifdef ZPL_TEST_ASAN
  if (memoryCapMb)
    options += ":allocator_may_return_null=1:max_allocation_size_mb=" + std::to_string(memoryCapMb);
#else
  (void)memoryCapMb;
#endif
  return options;
}

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
[[noreturn]] void exec_child(const std::string& program, std::vector<char*>& argv, std::vector<char*>& envp,
                             const RunSetup& setup, int in, int out, int err)
{
  if (in < 0 || out < 0 || err < 0 || !prepare_child(setup))
    _exit(127);
  dup2(in, 0), dup2(out, 1), dup2(err, 2);
  execve(program.c_str(), argv.data(), envp.data());
  _exit(127);
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

// Reads the filter's output per plan until it closes it, sending SIGTERM
// once the plan says so.
void take_output(int fd, pid_t pid, const PipePlan& plan, PipedResult& result)
{
  using Clock = std::chrono::steady_clock;
  std::vector<char> buffer(plan.readChunk);
  Clock::time_point first{};
  for (;;) {
    const bool started = !result.process.out.empty();
    if (result.readAtSignal == SIZE_MAX &&
        (result.process.out.size() >= plan.termAfterBytes ||
         (plan.termAfterMs && started && Clock::now() - first >= std::chrono::milliseconds(plan.termAfterMs)))) {
      kill(pid, SIGTERM);
      result.readAtSignal = result.process.out.size();
    }
    // With a signal still due, don't sleep in read past its moment.
    if (plan.termAfterMs && started && result.readAtSignal == SIZE_MAX) {
      const auto left = first + std::chrono::milliseconds(plan.termAfterMs) - Clock::now();
      const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      pollfd ready{fd, POLLIN, 0};
      if (poll(&ready, 1, static_cast<int>(std::max<decltype(waitMs)>(waitMs, 0))) <= 0)
        continue;
    }
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    if (!started)
      first = Clock::now();
    result.process.out.append(buffer.data(), static_cast<size_t>(n));
    if (plan.readPauseUs)
      usleep(plan.readPauseUs);
  }
}

}  // namespace

PipedResult run_piped(const std::string& program, const std::vector<std::string>& args, const RunSetup& setup,
                      const PipePlan& plan)
{
  PipedResult result;
  const std::string errPath = (setup.outDir.empty() ? setup.dir : setup.outDir) + "/.stderr";
  std::vector<std::string> changes = setup.env;
  changes.push_back(sanitizer_options(setup.memoryCapMb));
  std::vector<std::string> argStrings = args, envStrings = child_environment(changes);
  std::vector<char*> argv = c_strings(argStrings), envp = c_strings(envStrings);
  const bool fed = plan.feedChunk > 0;
  const std::string rasterBytes = fed ? read_file(setup.stdinPath) : std::string();

  // Close-on-exec: the filter must hold no end of its pipes but its own.
  int outPipe[2], inPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0 || (fed && pipe2(inPipe, O_CLOEXEC) != 0)) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return result;
  }
  result.pipeCapacity = static_cast<size_t>(fcntl(outPipe[0], F_GETPIPE_SZ));

  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = fed ? inPipe[0]
                       : open(setup.stdinPath.empty() ? "/dev/null" : setup.stdinPath.c_str(), O_RDONLY);
    exec_child(program, argv, envp, setup, in, outPipe[1], open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  }
  close(outPipe[1]);
  pid_t feeder = -1;
  if (fed) {
    feeder = fork();
    if (feeder == 0) {
      close(outPipe[0]);
      close(inPipe[0]);
      feed_slowly(inPipe[1], rasterBytes, plan.feedChunk, plan.feedPauseUs);
    }
    close(inPipe[0]);
    close(inPipe[1]);
  }
  if (plan.closeOutput)
    close(outPipe[0]);
  else if (pid > 0)
    take_output(outPipe[0], pid, plan, result);
  if (!plan.closeOutput)
    close(outPipe[0]);

  if (pid > 0)
    reap(pid, result.process);
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
  std::vector<std::string> changes = setup.env;
  changes.push_back(sanitizer_options(setup.memoryCapMb));
  std::vector<std::string> argStrings = args, envStrings = child_environment(changes);
  std::vector<char*> argv = c_strings(argStrings), envp = c_strings(envStrings);

  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0)
    return result;
  if (pid == 0) {
    const int in = open(setup.stdinPath.empty() ? "/dev/null" : setup.stdinPath.c_str(), O_RDONLY);
    const std::string& to = setup.stdoutPath.empty() ? outPath : setup.stdoutPath;
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    exec_child(program, argv, envp, setup, in, out, open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  }
  reap(pid, result);
  result.out = read_file(outPath);
  result.err = read_file(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return result;
}

ProcessResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const std::string& dir, const std::string& stdinPath,
                          const std::vector<std::string>& env)
{
  RunSetup setup;
  setup.dir = dir;
  setup.stdinPath = stdinPath;
  setup.env = env;
  return run_process(program, args, setup);
}

std::string make_temp_dir()
{
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/zplfilter-test-XXXXXX";
  if (!mkdtemp(pattern.data()))
    ADD_FAILURE() << "mkdtemp failed: " << std::strerror(errno);
  return pattern;
}

void remove_tree(const std::string& dir)
{
  nftw(dir.c_str(), [](const char* path, const struct stat*, int, FTW*) { return std::remove(path); }, 16,
       FTW_DEPTH | FTW_PHYS);
}

std::string read_file(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool write_file(const std::string& path, std::string_view text)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(out);
}

namespace {

// True when text at pos starts like "2026-12-08 00:56:37 ".
bool starts_with_stamp(const std::string& text, size_t pos)
{
  static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd ";
  if (pos + sizeof kShape - 1 > text.size())
    return false;
  for (size_t i = 0; i + 1 < sizeof kShape; ++i) {
    const char c = text[pos + i];
    if (kShape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != kShape[i])
      return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> log_messages(const std::string& logText)
{
  std::vector<std::string> messages;
  size_t start = 0;
  while (start < logText.size()) {
    // A message may hold its own line breaks; a line always starts with a stamp.
    size_t end = logText.find("\r\n", start);
    while (end != std::string::npos && end + 2 < logText.size() && !starts_with_stamp(logText, end + 2))
      end = logText.find("\r\n", end + 2);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log line without CR LF: " << logText.substr(start);
      break;
    }
    const std::string line = logText.substr(start, end - start);
    if (!starts_with_stamp(line + ' ', 0))
      ADD_FAILURE() << "malformed log stamp: " << line;
    messages.push_back(line.size() >= 20 ? line.substr(20) : line);
    start = end + 2;
  }
  return messages;
}
