#include "bench/BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace bench {

namespace {
double CpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
}  // namespace

std::optional<TArguments> FileAndRuns(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
    return std::nullopt;
  }
  TArguments arguments;
  arguments.File = argv[1];
  if (argc > 2) arguments.Runs = std::max(1, std::atoi(argv[2]));
  return arguments;
}

double ProcessCpuSeconds() { return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }
double ThreadCpuSeconds() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

const char* PageCacheName(TPageCache state) {
  return state == TPageCache::Written ? "written" : "reread";
}

bool PrepareCopy(const std::string& source, const std::string& copy, TPageCache state,
                 std::string& error) {
  const bool write = state == TPageCache::Written;
  const int fd = open(copy.c_str(), write ? O_RDWR | O_CREAT | O_TRUNC : O_RDONLY, 0644);
  bool ok = fd >= 0;
  std::vector<char> piece(64 << 10);
  if (ok && write) {
    const int from = open(source.c_str(), O_RDONLY);
    ok = from >= 0;
    for (ssize_t got; ok && (got = ::read(from, piece.data(), piece.size())) > 0;)
      ok = ::write(fd, piece.data(), size_t(got)) == got;
    if (from >= 0) close(from);
  }
  // Synced either way: the kernel drops only clean pages, and writing back later would charge
  // the measurement for it.
  ok = ok && fsync(fd) == 0;
  if (ok && !write) {
    ok = posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    for (ssize_t got = 1; ok && got > 0;) {
      got = ::read(fd, piece.data(), piece.size());
      ok = got >= 0;
    }
  }
  if (!ok) error = copy + ": " + std::strerror(errno);
  if (fd >= 0) close(fd);
  return ok;
}

int InEachPageCacheState(const std::string& source, const std::string& dir,
                         const std::string& name,
                         const std::function<int(const std::string& file)>& measure) {
  const std::string copy = dir + "/" + name;
  int result = 0;
  for (const TPageCache state : PageCacheStates) {
    std::string error;
    if (!PrepareCopy(source, copy, state, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      unlink(copy.c_str());
      return 1;
    }
    std::printf("== page cache: %s (%s)\n", PageCacheName(state), copy.c_str());
    std::fflush(stdout);
    result |= measure(copy);
  }
  unlink(copy.c_str());
  return result;
}

bool HaveCommand(const std::string& name) {
  return Run({"sh", "-c", "command -v '" + name + "'"}).Ok;
}

TRunResult Run(const std::vector<std::string>& argv, bool countLines) {
  TRunResult result;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int out[2] = {-1, -1};
  if (countLines && pipe2(out, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (countLines) posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  else posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);

  const Clock::time_point start = Clock::now();
  pid_t pid;
  const bool started = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&fa);
  if (countLines) close(out[1]);
  if (countLines && started) {
    result.Lines = 0;
    char buf[1 << 16];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
      result.Lines += std::count(buf, buf + n, '\n');
  }
  if (countLines) close(out[0]);
  if (!started) return result;

  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.Wall = Seconds(start, Clock::now());
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  result.Cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  result.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return result;
}

}  // namespace bench
