// Private diagnostic log of the filter: one time-stamped line per event,
// kept apart from the CUPS-facing messages on standard error.
#pragma once

#include <cstdio>

// The open log, or null when it is closed or could not be opened.
extern FILE* pLogFile;

// Opens the log file at path and empties it. Returns the stream, or null.
FILE* InitLog(const char* path);

// Writes one line: a local-time stamp, the formatted message and CR LF,
// flushed at once. Returns what the message part produced, or -1 with no
// open log.
int WriteLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Closes the log; later WriteLog calls do nothing.
void CloseLog();
