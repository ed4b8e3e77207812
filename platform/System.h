#pragma once
// Small host services: clock, thread identity, last error, local time.
#include <cstdint>
#include <string>

namespace platform {

// Milliseconds from a monotonic clock, truncated to 32 bits (wraps after about 49 days;
// callers compare differences, which stay right across the wrap).
uint32_t TickCount();

// The kernel's id of the calling thread (what `ps -L` and /proc show).
uint32_t CurrentThreadId();

// errno of the last failed call on this thread.
int LastError();

struct LocalTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};
LocalTime Now();

}  // namespace platform
