#pragma once
// Listens on 127.0.0.1:8908 for the trace datagrams, as a trace viewer would.
#include <string>
#include <vector>

class TraceListener {
 public:
  TraceListener();
  ~TraceListener();
  TraceListener(const TraceListener&) = delete;
  TraceListener& operator=(const TraceListener&) = delete;

  // Every datagram that has arrived so far (waits up to wait_ms for the first one).
  std::vector<std::string> Take(int wait_ms = 200);
  // The messages of the datagrams, without the thread id and its blank.
  std::vector<std::string> TakeMessages(int wait_ms = 200);

 private:
  int fd_ = -1;
};
