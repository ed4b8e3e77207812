#include "platform/MainThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Stands in for the user interface's event loop: the wake-up posts an event, and the loop
// drains the queue once per event, as the Qt loop will.
class EventLoop {
 public:
  EventLoop() {
    platform::SetMainThreadWakeUp([this] {
      std::lock_guard lock(Lock_);
      ++Posted_;
      ++Wakes;
      Signal_.notify_one();
    });
  }
  ~EventLoop() { platform::SetMainThreadWakeUp(nullptr); }

  // Handles posted events until `done` is true.
  void RunUntil(const std::atomic<bool>& done) {
    while (!done) RunOnce();
  }

  // Handles one posted event, if one comes within 10 ms.
  void RunOnce() {
    std::unique_lock lock(Lock_);
    if (!Signal_.wait_for(lock, 10ms, [this] { return Posted_ > 0; })) return;
    --Posted_;
    lock.unlock();
    platform::DrainMainThreadQueue();
  }

  std::atomic<int> Wakes{0};

 private:
  std::mutex Lock_;
  std::condition_variable Signal_;
  int Posted_ = 0;
};

TEST(MainThread, SynchronizeHandsEachCallToTheMainThreadAndWaitsForIt) {
  EXPECT_TRUE(platform::IsMainThread());
  bool ranAtOnce = false;
  platform::Synchronize([&] { ranAtOnce = true; });
  EXPECT_TRUE(ranAtOnce) << "on the main thread the call runs at once";

  constexpr int kWorkers = 2, kCalls = 2000;
  EventLoop loop;
  // Written only by the calls: if a call ran off the main thread, or a worker went on before
  // its call had run, the counts (and ThreadSanitizer) would tell.
  int handled[kWorkers] = {};
  std::atomic<int> offMainThread{0}, workersOnMainThread{0}, outOfStep{0}, finished{0};
  std::atomic<bool> allDone{false};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      workersOnMainThread += platform::IsMainThread();
      for (int i = 0; i < kCalls; ++i) {
        platform::Synchronize([&] {
          offMainThread += !platform::IsMainThread();
          ++handled[w];
        });
        outOfStep += handled[w] != i + 1;
      }
      if (++finished == kWorkers) allDone = true;
    });
  }
  loop.RunUntil(allDone);
  for (auto& worker : workers) worker.join();

  EXPECT_EQ(workersOnMainThread, 0);
  EXPECT_EQ(offMainThread, 0);
  EXPECT_EQ(outOfStep, 0);
  EXPECT_EQ(handled[0], kCalls);
  EXPECT_EQ(handled[1], kCalls);
  EXPECT_LE(loop.Wakes, kWorkers * kCalls) << "at most one posted event per call";
}

TEST(MainThread, ACallQueuedBeforeTheWakeUpIsInstalledStillRuns) {
  std::atomic<bool> ran{false};
  std::thread worker([&] { platform::Synchronize([&] { ran = true; }); });
  std::this_thread::sleep_for(20ms);  // the call is queued with nobody to wake
  EventLoop loop;
  loop.RunUntil(ran);
  worker.join();
  EXPECT_TRUE(ran);
}

TEST(MainThread, AnExceptionThrownByTheCallIsThrownInTheWorker) {
  std::string message;
  int number = 0;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      platform::Synchronize([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error& e) {
      message = e.what();
    }
    try {
      platform::Synchronize([] { throw 42; });
    } catch (int n) {
      number = n;
    }
    done = true;
    platform::WakeServingWait();
  });
  // The bounded wait of the main thread serves the calls; the exceptions must not escape here.
  EXPECT_TRUE(platform::WaitServingCalls(10000, [&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(message, "handler failed");
  EXPECT_EQ(number, 42);
}

// A call may run a nested event loop (a modal prompt shown by a frame handler). Calls of other
// workers queued meanwhile must be served by that loop, not wait for the outer drain.
TEST(MainThread, ACallThatRunsANestedLoopStillLetsOtherWorkersThrough) {
  EventLoop loop;
  std::atomic<bool> otherDone{false}, allDone{false};
  int otherCalls = 0;
  std::thread modal([&] {
    platform::Synchronize([&] { loop.RunUntil(otherDone); });
    allDone = true;
  });
  std::thread other([&] {
    std::this_thread::sleep_for(20ms);  // the first call is inside its nested loop by now
    for (int i = 0; i < 500; ++i) platform::Synchronize([&] { ++otherCalls; });
    otherDone = true;
  });
  loop.RunUntil(allDone);
  modal.join();
  other.join();
  EXPECT_EQ(otherCalls, 500);
}

// Workers that never let up must not keep the main thread from its event loop: however fast
// calls come, a drain ends within a few milliseconds and the loop gets its turn.
TEST(MainThread, AFloodOfCallsStillReturnsToTheEventLoopThread) {
  EventLoop loop;
  std::atomic<bool> stop{false};
  std::atomic<int> finished{0};
  std::atomic<bool> allDone{false};
  long calls = 0;
  std::vector<std::thread> workers;
  for (int w = 0; w < 2; ++w)  // two, so that a call is queued whenever the other one runs
    workers.emplace_back([&] {
      while (!stop) platform::Synchronize([&] { ++calls; });
      if (++finished == 2) allDone = true;
    });
  auto longest = std::chrono::steady_clock::duration::zero();
  const auto end = std::chrono::steady_clock::now() + 300ms;
  while (std::chrono::steady_clock::now() < end) {
    const auto start = std::chrono::steady_clock::now();
    loop.RunOnce();  // one turn of the loop: at most one drain
    longest = std::max(longest, std::chrono::steady_clock::now() - start);
  }
  stop = true;
  loop.RunUntil(allDone);
  for (auto& worker : workers) worker.join();
  EXPECT_GT(calls, 0);
  EXPECT_LT(longest, 100ms) << calls << " calls";
}

}  // namespace
