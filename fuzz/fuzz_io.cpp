#include "fuzz/fuzz_io.h"

#include <cstdio>

#include <sys/mman.h>
#include <unistd.h>

#include "common/log.h"

// A header may announce a grey page of up to 4 GiB and the filter will try to
// allocate it. Here an allocation above 32 MB (some six times the grey page of
// the longest named label at 300 dpi) fails as it would on a machine without
// the memory, so the fuzzer exercises the refusal path instead of reporting
// an out-of-memory, and big pages do not starve it of executions. The cap
// stays above what libFuzzer allocates for itself (20 MB) and far below its
// own malloc limit.
extern "C" const char* __asan_default_options()
{
  return "allocator_may_return_null=1:max_allocation_size_mb=32:detect_leaks=1";
}

int memory_file(const uint8_t* data, size_t size)
{
  const int fd = memfd_create("fuzz-input", MFD_CLOEXEC);
  if (fd < 0)
    return -1;
  if (!refill_memory_file(fd, data, size)) {
    close(fd);
    return -1;
  }
  return fd;
}

bool refill_memory_file(int fd, const uint8_t* data, size_t size)
{
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
    return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return lseek(fd, 0, SEEK_SET) == 0;
}

void quiet_filter_output()
{
  if (!std::freopen("/dev/null", "w", stdout))
    std::perror("freopen /dev/null");
  pLogFile = std::fopen("/dev/null", "w");
}
