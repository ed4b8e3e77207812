#pragma once
// Work over many rows on two threads, for the display filter, the sort and find: the machine
// this program is measured on has two cores, and a frame's bytes, its row texts and libpcap's
// filter programs can all be read from two threads at once. Nothing here is for the window.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>

#include "pipeline/ShownRows.h"

// Runs work(worker, block) for every block from 0 to `blocks` - 1, taken in rising order by
// this thread (worker 0) and one more (worker 1); work returns the rows it went through. The
// progress handler is called on this thread only, after each of its blocks, with the rows done
// so far out of `rows`; when it returns false the remaining blocks are not started and the
// result is false. One block alone runs here without a second thread.
template <class TWork>
bool ForBlocks(int64_t blocks, const TRowsProgress& progress, int64_t rows, TWork&& work) {
  std::atomic<int64_t> next{0};
  std::atomic<int64_t> done{0};
  std::atomic<bool> stop{false};
  auto run = [&](int32_t worker, bool reports) {
    for (int64_t block; !stop.load(std::memory_order_relaxed) &&
                        (block = next.fetch_add(1, std::memory_order_relaxed)) < blocks;) {
      const int64_t passed = done.fetch_add(work(worker, block), std::memory_order_relaxed);
      if (reports && progress && !progress(passed, rows)) stop = true;
    }
  };
  if (blocks <= 1) {
    run(0, true);
  } else {
    std::thread second(run, 1, false);
    run(0, true);
    second.join();
  }
  return !stop.load();
}

// Rows taken per block: small enough for the progress bar to move and for the two threads to
// end together, large enough that taking a block costs nothing.
constexpr int64_t RowsPerBlock = 16 * 1024;

inline int64_t BlocksOf(int64_t rows) { return (rows + RowsPerBlock - 1) / RowsPerBlock; }
