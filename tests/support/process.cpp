// Running the filters as CUPS would: a process with arguments, environment
// and standard input, its output and status collected.
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cctype>
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

}  // namespace

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
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || !prepare_child(setup))
      _exit(127);
    dup2(in, 0), dup2(out, 1), dup2(err, 2);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) == pid) {
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.maxRssKb = usage.ru_maxrss;
  }
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
