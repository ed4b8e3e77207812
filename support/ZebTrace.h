#pragma once
// The diagnostic trace: every line goes out as one UDP datagram to 127.0.0.1:8908, where a
// viewer may listen, and, when a file prefix is set, into a daily text file as well.
// Tracing never reports a failure and never blocks the caller.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/DatagramSocket.h"
#include "platform/Format.h"
#include "platform/System.h"

class TZebTrace {
 public:
  TZebTrace();
  ~TZebTrace();
  TZebTrace(const TZebTrace&) = delete;
  TZebTrace& operator=(const TZebTrace&) = delete;

  // Builds the line for the calling thread and sends it (and writes it to the daily file).
  void Write(std::string_view message);

  bool Enabled() const { return Enabled_; }
  const std::string& DestHost() const { return DestHost_; }
  int32_t DestPort() const { return DestPort_.load(std::memory_order_relaxed); }
  // Another port on the same host. A datagram reaches only one of the sockets listening on a
  // port, so where several programs trace side by side (test runs on one machine), each
  // listener that must see every line of its own program, and only those, takes a port of its
  // own and points the trace there. Any thread may be tracing meanwhile.
  void SetDestPort(int32_t port);
  const std::string& FileName() const { return FileName_; }
  int FileHandle() const { return FileHandle_; }

  // A directory with its trailing "/" (or any prefix) for the daily file; empty = no file.
  // Nothing in the program sets it: it comes from the environment variable
  // TRELLAN_TRACE_PREFIX when the trace starts, for whoever wants a trace on disk.
  const std::string& LogPrefix() const { return LogPrefix_; }
  void SetLogPrefix(std::string prefix);

  // Source of the local time for the stamp and the day's file name (tests move the date).
  std::function<platform::LocalTime()> Clock = platform::Now;

 private:
  void WriteToFile(const std::string& line);

  bool Enabled_ = false;
  platform::DatagramSocket Socket_;
  std::string DestHost_ = "127.0.0.1";
  std::atomic<int32_t> DestPort_{8908};
  int FileHandle_ = 0;  // 0 none yet, -1 file logging failed and stays off
  std::string FileName_;
  std::string LogPrefix_;
  std::mutex FileLock_;  // only the file sink; datagrams need no lock
};

// The process-wide trace, created at program start and freed at program end.
extern TZebTrace* TraceLog;

void Trace(std::string_view msg);

template <class... Args>
void TraceFmt(std::string_view fmt, const Args&... args) {
  if (!TraceLog || !TraceLog->Enabled()) return;
  TraceLog->Write(platform::Format(fmt, {platform::FormatArg(args)...}));
}
