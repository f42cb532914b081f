// Times whole filter processes, taking turns: round 1 runs every command
// once, then round 2, and so on, so that a change in machine load falls on
// all of them alike. For each command it prints one tab-separated line:
//   name  median_ms  min_ms  max_ms  q1_ms  q3_ms  peak_rss_kib
// peak_rss_kib is the largest resident size of any of its runs.
//
// Usage: zpl-runner rounds commands.tsv
// Each line of commands.tsv: name, stdin file, environment ("-" for none,
// else NAME=value[;NAME=value]), program, arguments: all separated by tabs.
// Standard output and standard error of the commands go to /dev/null.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Command {
  std::string name;
  std::string input;
  std::vector<std::string> env;
  std::vector<std::string> argv;
  std::vector<double> ms;
  long peakKib = 0;
};

std::vector<std::string> split(const std::string& line, char sep)
{
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = line.find(sep, start);
    parts.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos)
      return parts;
    start = end + 1;
  }
}

bool read_commands(const char* path, std::vector<Command>& commands)
{
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    const std::vector<std::string> f = split(line, '\t');
    if (f.size() < 4) {
      std::fprintf(stderr, "zpl-runner: bad line: %s\n", line.c_str());
      return false;
    }
    Command c;
    c.name = f[0];
    c.input = f[1];
    if (f[2] != "-")
      c.env = split(f[2], ';');
    c.argv.assign(f.begin() + 3, f.end());
    commands.push_back(std::move(c));
  }
  return !commands.empty();
}

double now_ms()
{
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Runs one command to its end; false if it could not start or failed.
bool run_once(Command& c)
{
  std::vector<char*> argv;
  for (std::string& a : c.argv)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  const double start = now_ms();
  const pid_t pid = fork();
  if (pid < 0)
    return false;
  if (pid == 0) {
    const int in = open(c.input.c_str(), O_RDONLY);
    const int null = open("/dev/null", O_WRONLY);
    if (in < 0 || null < 0)
      _exit(126);
    dup2(in, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    for (std::string& e : c.env)
      putenv(e.data());
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR)
      return false;
  }
  c.ms.push_back(now_ms() - start);
  c.peakKib = std::max(c.peakKib, usage.ru_maxrss);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "zpl-runner: %s ended with status %d\n", c.name.c_str(), status);
    return false;
  }
  return true;
}

// The value at fraction q of the sorted sample, linear between neighbours.
double quantile(const std::vector<double>& sorted, double q)
{
  const double pos = q * static_cast<double>(sorted.size() - 1);
  const size_t lo = static_cast<size_t>(pos);
  const size_t hi = std::min(lo + 1, sorted.size() - 1);
  return sorted[lo] + (sorted[hi] - sorted[lo]) * (pos - static_cast<double>(lo));
}

}  // namespace

int main(int argc, char* argv[])
{
  if (argc != 3) {
    std::fputs("usage: zpl-runner rounds commands.tsv\n", stderr);
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  std::vector<Command> commands;
  if (rounds < 1 || !read_commands(argv[2], commands))
    return 2;

  // One untimed run each first: page cache and dynamic linking warmed alike.
  for (Command& c : commands) {
    if (!run_once(c))
      return 1;
    c.ms.clear();
    c.peakKib = 0;
  }
  for (int r = 0; r < rounds; ++r)
    for (Command& c : commands)
      if (!run_once(c))
        return 1;

  for (Command& c : commands) {
    std::vector<double> s = c.ms;
    std::sort(s.begin(), s.end());
    std::printf("%s\t%.2f\t%.2f\t%.2f\t%.2f\t%.2f\t%ld\n", c.name.c_str(), quantile(s, 0.5), s.front(),
                s.back(), quantile(s, 0.25), quantile(s, 0.75), c.peakKib);
  }
  return 0;
}
