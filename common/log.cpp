#include "common/log.h"

#include <cstdarg>
#include <ctime>

FILE* pLogFile = nullptr;

FILE* InitLog(const char* path)
{
  // "w+" empties the file: the log holds the latest run only.
  pLogFile = std::fopen(path, "w+");
  return pLogFile;
}

int WriteLog(const char* format, ...)
{
  if (!pLogFile)
    return -1;

  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::fprintf(pLogFile, "%04d-%02d-%02d %02d:%02d:%02d ", local.tm_year + 1900,
               local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);

  va_list args;
  va_start(args, format);
  int written = std::vfprintf(pLogFile, format, args);
  va_end(args);

  std::fputs("\r\n", pLogFile);
  // A filter may be killed at any moment; every line must already be on disk.
  std::fflush(pLogFile);
  return written;
}

void CloseLog()
{
  if (pLogFile) {
    std::fclose(pLogFile);
    pLogFile = nullptr;
  }
}
