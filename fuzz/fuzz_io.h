// What both fuzz targets need around the filter: in-memory files and a
// quiet standard output.
#pragma once

#include <cstddef>
#include <cstdint>

// A new anonymous in-memory file holding the bytes, positioned at its start.
// Returns its descriptor, or -1.
int memory_file(const uint8_t* data, size_t size);

// Replaces the contents of an in-memory file and rewinds it. Returns false
// on failure.
bool refill_memory_file(int fd, const uint8_t* data, size_t size);

// Sends standard output to /dev/null and opens the diagnostic log there too,
// so every log format is exercised without filling a disk.
void quiet_filter_output();
