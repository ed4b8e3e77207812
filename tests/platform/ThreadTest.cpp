#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/System.h"

namespace {

using namespace std::chrono_literals;
using platform::CurrentThreadId;

// What a probe thread did, kept outside it so that it can be read after the thread is gone.
struct Record {
  std::atomic<int> Executions{0};
  std::atomic<bool> SawTerminated{false};
  std::atomic<bool> ExecuteReturned{false};
  std::atomic<uint32_t> ExecuteThread{0};
  std::atomic<uint32_t> EndNotificationThread{0};
  std::atomic<bool> EndedAfterExecute{false};
  std::atomic<uint32_t> DestroyedOn{0};
  std::atomic<int> CallsOnMainThread{0};
};

bool WaitUntil(const std::atomic<bool>& flag) {
  for (int i = 0; i < 10000 && !flag; ++i) std::this_thread::sleep_for(1ms);
  return flag;
}

// Loops until terminated; with Synchronize set, it hands `Calls` calls to the main thread
// instead.
class ProbeThread : public platform::Thread {
 public:
  explicit ProbeThread(Record& record, int synchronizedCalls = 0)
      : Record_(record), Calls_(synchronizedCalls) {}
  ~ProbeThread() override {
    EndThread();
    Record_.DestroyedOn = CurrentThreadId();
  }
  std::atomic<bool> Started{false};

 protected:
  void Execute() override {
    Record_.ExecuteThread = CurrentThreadId();
    ++Record_.Executions;
    Started = true;
    for (int i = 0; i < Calls_; ++i)
      Synchronize([this] { Record_.CallsOnMainThread += platform::IsMainThread(); });
    while (Calls_ == 0 && !Terminated()) std::this_thread::sleep_for(1ms);
    Record_.SawTerminated = Terminated();
    Record_.ExecuteReturned = true;
  }
  void DoTerminate() override {
    Record_.EndedAfterExecute = Record_.ExecuteReturned.load();
    Record_.EndNotificationThread = CurrentThreadId();
  }

 private:
  Record& Record_;
  const int Calls_;
};

TEST(Thread, RunsOnlyOnceResumedAndEndsWithItsNotification) {
  Record record;
  ProbeThread thread(record);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(record.Executions, 0) << "the thread must stay parked until resumed";
  EXPECT_FALSE(thread.WaitFor(10));

  thread.Resume();
  ASSERT_TRUE(WaitUntil(thread.Started));
  EXPECT_FALSE(thread.WaitFor(20)) << "Execute runs until it is terminated";
  thread.Terminate();
  bool endSeenElsewhere = false;
  std::thread other([&] { endSeenElsewhere = thread.WaitFor(10000); });
  other.join();
  EXPECT_TRUE(endSeenElsewhere);
  EXPECT_TRUE(thread.WaitFor(10000));

  EXPECT_EQ(record.Executions, 1);
  EXPECT_TRUE(record.SawTerminated);
  EXPECT_NE(record.ExecuteThread, CurrentThreadId());
  EXPECT_EQ(record.EndNotificationThread, record.ExecuteThread);
  EXPECT_TRUE(record.EndedAfterExecute);
}

TEST(Thread, DestructionEndsParkedAndRunningThreads) {
  Record parked;
  { ProbeThread thread(parked); }
  EXPECT_EQ(parked.Executions, 1) << "a thread never resumed runs to its end at destruction";
  EXPECT_TRUE(parked.SawTerminated) << "...and sees the termination request at once";
  EXPECT_TRUE(parked.EndedAfterExecute);

  Record running;
  {
    ProbeThread thread(running);
    thread.Resume();
    ASSERT_TRUE(WaitUntil(thread.Started));
  }
  EXPECT_TRUE(running.ExecuteReturned) << "destruction joins the thread";
  EXPECT_TRUE(running.SawTerminated);
}

TEST(Thread, MainThreadWaitsServeSynchronizeSoABlockedWorkerCanEnd) {
  Record waited;
  ProbeThread thread(waited, 100);
  thread.Resume();
  EXPECT_TRUE(thread.WaitFor(10000));
  EXPECT_EQ(waited.CallsOnMainThread, 100);

  // A worker blocked in Synchronize when the main thread destroys it: the destruction's
  // join must serve the call, not deadlock on it.
  Record destroyed;
  {
    ProbeThread blocked(destroyed, 1);
    blocked.Resume();
    ASSERT_TRUE(WaitUntil(blocked.Started));
  }
  EXPECT_EQ(destroyed.CallsOnMainThread, 1);
  EXPECT_TRUE(destroyed.ExecuteReturned);
}

TEST(Thread, FreeOnTerminateDeletesTheObjectOnItsOwnThread) {
  Record record;
  auto* thread = new ProbeThread(record);
  thread->SetFreeOnTerminate(true);
  thread->Resume();
  ASSERT_TRUE(WaitUntil(thread->Started));
  thread->Terminate();
  for (int i = 0; i < 10000 && record.DestroyedOn == 0; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_NE(record.DestroyedOn, 0u);
  EXPECT_EQ(record.DestroyedOn, record.ExecuteThread);
  EXPECT_TRUE(record.EndedAfterExecute) << "the object goes only after its end notification";
}

}  // namespace
