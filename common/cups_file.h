// The job's input of a CUPS filter, as a libcups file that closes itself.
#pragma once

#include <memory>

#include <cups/cups.h>

struct CupsFileCloser {
  void operator()(cups_file_t* file) const { cupsFileClose(file); }
};
using CupsFile = std::unique_ptr<cups_file_t, CupsFileCloser>;

// CUPS names the job's file as the seventh argument when it has one, and
// feeds the job on standard input when it does not. Null when the file
// can't be opened.
inline CupsFile open_job_input(int argc, char* argv[])
{
  return CupsFile(argc == 7 ? cupsFileOpen(argv[6], "r") : cupsFileStdin());
}
