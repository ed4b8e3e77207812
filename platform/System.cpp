#include "platform/System.h"

#include <cerrno>
#include <ctime>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

namespace platform {

uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
  return uint32_t(ms);
}

uint32_t CurrentThreadId() { return uint32_t(gettid()); }

int LastError() { return errno; }

LocalTime Now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  const time_t secs = tv.tv_sec;
  localtime_r(&secs, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
          local.tm_min,        local.tm_sec,      int(tv.tv_usec / 1000)};
}

}  // namespace platform
