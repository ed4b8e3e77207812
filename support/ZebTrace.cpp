#include "support/ZebTrace.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TZebTrace* TraceLog = nullptr;

namespace {
// Creates the trace before main() runs and frees it after main() returns, so that every
// part of the program, on any thread, can trace for the whole run.
struct TraceLifetime {
  TraceLifetime() {
    if (!TraceLog) TraceLog = new TZebTrace;
  }
  ~TraceLifetime() {
    delete TraceLog;
    TraceLog = nullptr;
  }
} traceLifetime;

std::string Hex8(uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}
}  // namespace

TZebTrace::TZebTrace() {
  Enabled_ = Socket_.Open(DestHost_, uint16_t(DestPort_.load()));
  if (const char* prefix = std::getenv("TRELLAN_TRACE_PREFIX")) LogPrefix_ = prefix;
}

TZebTrace::~TZebTrace() {
  Socket_.Close();
  if (FileHandle_ > 0) ::close(FileHandle_);
}

void TZebTrace::SetDestPort(int32_t port) {
  DestPort_.store(port, std::memory_order_relaxed);
  Socket_.SetPort(uint16_t(port));
}

void TZebTrace::SetLogPrefix(std::string prefix) {
  std::lock_guard lock(FileLock_);
  LogPrefix_ = std::move(prefix);
}

void TZebTrace::Write(std::string_view message) {
  if (!Enabled_) return;
  bool toFile;
  std::string stamp;
  {
    std::lock_guard lock(FileLock_);
    toFile = !LogPrefix_.empty();
  }
  if (toFile) {
    const auto t = Clock();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d %03d : ", t.Hour, t.Minute, t.Second,
                  t.Millisecond);
    stamp = buf;
  }
  std::string line = stamp + Hex8(platform::CurrentThreadId()) + " ";
  line.append(message);
  Socket_.SendTo(line.data() + stamp.size(), line.size() - stamp.size());
  if (toFile) WriteToFile(line + "\r\n");
}

void TZebTrace::WriteToFile(const std::string& line) {
  std::lock_guard lock(FileLock_);
  if (FileHandle_ == -1 || LogPrefix_.empty()) return;
  const auto t = Clock();
  char day[16];
  std::snprintf(day, sizeof day, "%04d%02d%02d", t.Year, t.Month, t.Day);
  const std::string name = LogPrefix_ + day + ".txt";
  if (name != FileName_) {
    if (FileHandle_ > 0) ::close(FileHandle_);
    FileHandle_ = 0;
    FileName_ = name;
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
      FileHandle_ = -1;
      return;
    }
    FileHandle_ = fd;
  }
  if (::write(FileHandle_, line.data(), line.size()) != ssize_t(line.size())) {
    ::close(FileHandle_);
    FileHandle_ = -1;
  }
}

void Trace(std::string_view msg) { TraceFmt(msg); }
