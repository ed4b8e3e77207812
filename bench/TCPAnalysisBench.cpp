// trellan-tcpbench: TCP analysis of a capture file, timed apart from reading it.
//
//   trellan-tcpbench FILE [RUNS]
//
// Reads FILE into a pipeline once, then RUNS times (default 3) takes every frame into a new
// TTCPAnalysis and prints the wall and CPU time, the rate, the frames with trouble and the
// memory the analysis holds.
#include <cstdio>

#include "bench/BenchSupport.h"
#include "pipeline/CapturePipeline.h"
#include "pipeline/TCPAnalysis.h"

int main(int argc, char** argv) {
  const auto args = bench::FileAndRuns(argc, argv);
  if (!args) return 2;
  TCapturePipeline capture;
  std::string error;
  if (capture.ReadFile(args->File, "", error) != TCapturePipeline::TReadResult::Complete) {
    std::fprintf(stderr, "trellan-tcpbench: %s\n", error.c_str());
    return 1;
  }
  const int32_t frames = capture.Store().Count();
  double best = 0;
  for (int run = 0; run < args->Runs; ++run) {
    TTCPAnalysis analysis;
    const double cpu = bench::ThreadCpuSeconds();
    const auto start = bench::Clock::now();
    analysis.TakeIn(capture.Store(), frames);
    const double wall = bench::Seconds(start, bench::Clock::now());
    uint64_t troubled = 0;
    for (uint64_t count : analysis.Counts()) troubled += count;
    std::printf("run %d: %d frames in %.3f s (cpu %.3f s), %.1f M frames/s, %llu troubles, "
                "%zu bytes held (%.1f a frame), %zu connections with trouble\n",
                run + 1, frames, wall, bench::ThreadCpuSeconds() - cpu, frames / wall / 1e6,
                static_cast<unsigned long long>(troubled), analysis.Bytes(),
                double(analysis.Bytes()) / frames, analysis.Conversations().size());
    if (run == 0 || wall < best) best = wall;
  }
  std::printf("best: %.3f s, %.1f M frames/s\n", best, frames / best / 1e6);
  return 0;
}
