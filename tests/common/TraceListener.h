#pragma once
// Listens for the trace datagrams, as a trace viewer would.
#include <cstdint>
#include <string>
#include <vector>

class TZebTrace;

class TraceListener {
 public:
  // Listens on a port of its own and points `trace` (the program's trace by default) there
  // for as long as it lives. On the well-known port a datagram reaches only one of the
  // listeners, and every program that traces sends there: another test run on the machine
  // would take this test's lines or add its own.
  explicit TraceListener(TZebTrace* trace = nullptr);
  // Listens on the well-known port 127.0.0.1:8908 beside whatever else listens there, and
  // leaves the trace alone.
  struct WellKnownPort {};
  explicit TraceListener(WellKnownPort);
  ~TraceListener();
  TraceListener(const TraceListener&) = delete;
  TraceListener& operator=(const TraceListener&) = delete;

  // Every datagram that has arrived so far (waits up to wait_ms for the first one).
  std::vector<std::string> Take(int wait_ms = 200);
  // The messages of the datagrams, without the thread id and its blank.
  std::vector<std::string> TakeMessages(int wait_ms = 200);

 private:
  void Listen(uint16_t port);

  int fd_ = -1;
  TZebTrace* trace_ = nullptr;
  int32_t savedPort_ = 0;
};
