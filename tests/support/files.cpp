// Temporary folders, whole files, and the diagnostic log as a test reads it.
#include <ftw.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support.h"

namespace {

// A fresh folder under $TMPDIR, or /tmp.
std::string make_temp_dir()
{
  const char* base = std::getenv("TMPDIR");
  std::string path = std::string(base && *base ? base : "/tmp") + "/zplfilter-test-XXXXXX";
  if (!mkdtemp(path.data()))
    ADD_FAILURE() << "mkdtemp failed: " << std::strerror(errno);
  return path;
}

// Removes the folder and everything in it.
void remove_tree(const std::string& path)
{
  // Folders a test made read-only must still be emptied: open them first.
  nftw(path.c_str(), [](const char* p, const struct stat*, int type, FTW*) {
    if (type == FTW_D)
      chmod(p, 0700);
    return 0;
  }, 16, FTW_PHYS);
  nftw(path.c_str(), [](const char* p, const struct stat*, int, FTW*) { return std::remove(p); }, 16,
       FTW_DEPTH | FTW_PHYS);
}

}  // namespace

TempDir::TempDir() : path(make_temp_dir()) {}

TempDir::~TempDir()
{
  remove_tree(path);
}

std::string TempDir::file(std::string_view name) const
{
  return path + "/" + std::string(name);
}

bool make_public_dir(const std::string& path)
{
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec || chmod(path.c_str(), 0755) != 0) {
    ADD_FAILURE() << "cannot make folder " << path;
    return false;
  }
  return true;
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

std::string file_tail(const std::string& path, std::string_view title)
{
  const std::string text = read_file(path);
  const size_t keep = 6000;
  return "--- " + std::string(title) + " (end) ---\n" + (text.size() > keep ? text.substr(text.size() - keep) : text);
}

std::string write_ppd(const std::string& dir, std::string_view lines, std::string_view name)
{
  const std::string path = dir + "/" + std::string(name) + ".ppd";
  EXPECT_TRUE(write_file(path, "*PPD-Adobe: \"4.3\"\n" + std::string(lines))) << path;
  return path;
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

std::vector<std::string> read_log(const std::string& dir)
{
  return log_messages(read_file(dir + "/quilby.log"));
}

std::string log_line(const std::vector<std::string>& messages, size_t fromEnd)
{
  if (fromEnd >= messages.size())
    return "(the log has only " + std::to_string(messages.size()) + " lines)";
  return messages[messages.size() - 1 - fromEnd];
}
