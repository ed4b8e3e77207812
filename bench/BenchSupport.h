#pragma once
// What the timed benchmark tools share: a clock, and running a reference command with its
// output thrown away (or counted), so that it can be timed in the same run as our own code.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace bench {
using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// The arguments every tool takes: FILE [RUNS], three runs when RUNS is not given. Prints the
// usage and gives nothing when FILE is missing.
struct TArguments {
  std::string File;
  int Runs = 3;
};
std::optional<TArguments> FileAndRuns(int argc, char** argv);

// CPU seconds used so far by this process (every thread) or by the calling thread. Unlike the
// wall clock, they do not grow when other work on the machine takes a core away.
double ProcessCpuSeconds();
double ThreadCpuSeconds();

// True when `name` is a command found on PATH.
bool HaveCommand(const std::string& name);

struct TRunResult {
  bool Ok = false;     // started and exited with status 0
  double Wall = 0;     // seconds from start to exit
  double Cpu = 0;      // user plus system seconds of the command
  long Lines = -1;     // lines it wrote, when they were counted
};

// Runs argv (argv[0] looked up on PATH) with standard error sent to /dev/null and standard
// output sent to /dev/null, or read here and its lines counted.
TRunResult Run(const std::vector<std::string>& argv, bool countLines = false);
}  // namespace bench
