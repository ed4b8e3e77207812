#include "support/ZebThread.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/System.h"
#include "tests/common/Process.h"
#include "tests/common/TraceListener.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

std::string Stars(int count) { return "[ZebThread] " + std::string(size_t(count), '*'); }

void SleepUntil(const std::atomic<bool>& flag) {
  for (int i = 0; i < 10000 && !flag; ++i) std::this_thread::sleep_for(1ms);
}

// A worker whose Run is whatever the test gives it.
class TProbeThread : public TZebThread {
 public:
  ~TProbeThread() override { Shutdown(); }
  std::string_view ClassName() const override { return "TProbeThread"; }

  void CallOnMainThread(platform::FunctionRef<void()> call) { Synchronize(call); }

  std::function<void()> Work;
  std::atomic<bool> Started{false};
  std::atomic<bool> Released{false};

 protected:
  void Run() override {
    Started = true;
    if (Work) Work();
  }
};

TEST(ZebThread, OpenAndCloseFollowTheStateTable) {
  TraceListener trace;
  TProbeThread thread;
  thread.Work = [&] {
    while (!thread.Terminated()) std::this_thread::sleep_for(1ms);
    SleepUntil(thread.Released);
  };
  EXPECT_EQ(thread.State, TZebThread::Closed);
  EXPECT_EQ(thread.WaitTimeout, 10000u);
  EXPECT_TRUE(thread.ResumeOnOpen);

  EXPECT_EQ(thread.ZebWaitFor(), 0) << "a thread never opened is not waited for";
  EXPECT_FALSE(thread.Close());
  EXPECT_EQ(thread.ErrorCode, ZEBERR_NOT_OPENED_STATE);
  EXPECT_EQ(thread.State, TZebThread::Closed);
  EXPECT_EQ(trace.TakeMessages(), Lines{});

  EXPECT_TRUE(thread.Open());
  EXPECT_EQ(thread.State, TZebThread::Opened);
  EXPECT_EQ(thread.ErrorCode, 0) << "a successful Open starts a new error history";
  SleepUntil(thread.Started);
  EXPECT_TRUE(thread.Started);

  EXPECT_FALSE(thread.Open());
  EXPECT_EQ(thread.State, TZebThread::Opened);
  EXPECT_FALSE(thread.Terminated());
  EXPECT_EQ(thread.ErrorCode, ZEBERR_NOT_CLOSED_STATE);
  EXPECT_EQ(trace.TakeMessages(),
            Lines{"[ZebThread] TZebThread.Open Error=ZEBERR_NOT_CLOSED_STATE"});

  EXPECT_TRUE(thread.Close());
  EXPECT_EQ(thread.State, TZebThread::Closing);
  EXPECT_TRUE(thread.Terminated());
  EXPECT_FALSE(thread.Close());
  EXPECT_EQ(thread.ErrorCode, ZEBERR_NOT_CLOSED_STATE) << "the first error stays";

  thread.Released = true;
  EXPECT_EQ(thread.ZebWaitFor(), 0);
  EXPECT_EQ(thread.State, TZebThread::Ended);

  EXPECT_FALSE(thread.Open()) << "a thread runs once";
  EXPECT_EQ(thread.State, TZebThread::Ended);
  EXPECT_EQ(trace.TakeMessages(),
            (Lines{"[ZebThread] TZebThread.Open Error=ZEBERR_NOT_CLOSED_STATE", Stars(46),
                   "[ZebThread] TZebThread.Open can not use thread any more(TProbeThread)",
                   Stars(46)}));
}

TEST(ZebThread, AnExceptionInRunEndsTheThreadWithThreeTraceLines) {
  TraceListener trace;
  struct Case {
    std::string message;
    std::function<void(TProbeThread&)> work;
  };
  const Case cases[] = {
      {"frame handler failed",
       [](TProbeThread&) { throw std::runtime_error("frame handler failed"); }},
      // Thrown by a call the main thread runs for the worker: it comes back to the worker
      // and ends it the same way.
      {"handler on the main thread", [](TProbeThread& thread) {
         thread.CallOnMainThread([] { throw std::runtime_error("handler on the main thread"); });
       }}};
  for (const Case& c : cases) {
    TProbeThread thread;
    thread.Work = [&] { c.work(thread); };
    EXPECT_TRUE(thread.Open());
    EXPECT_EQ(thread.ZebWaitFor(), 0);
    EXPECT_EQ(thread.State, TZebThread::Ended);
    EXPECT_EQ(trace.TakeMessages(),
              (Lines{Stars(43),
                     "[ZebThread] TZebThread.Execute Exception occured (TProbeThread) " + c.message,
                     Stars(43)}));
  }
}

TEST(ZebThread, ZebWaitForGivesUpAfterWaitTimeoutButServesPendingCalls) {
  TraceListener trace;
  {
    TProbeThread stubborn;
    stubborn.WaitTimeout = 50;
    stubborn.Work = [&] { SleepUntil(stubborn.Released); };  // does not look at Terminated
    EXPECT_TRUE(stubborn.Open());
    EXPECT_TRUE(stubborn.Close());
    EXPECT_EQ(stubborn.ZebWaitFor(), ZEBERR_WAIT_TIMEOUT);
    EXPECT_EQ(stubborn.State, TZebThread::Closing) << "the time-out leaves the thread running";
    EXPECT_EQ(trace.TakeMessages(),
              (Lines{Stars(37), "[ZebThread] TZebThread.ZebWaitFor time elapsed (TProbeThread)",
                     Stars(37)}));
    stubborn.Released = true;
    stubborn.WaitTimeout = 10000;
    EXPECT_EQ(stubborn.ZebWaitFor(), 0);
    EXPECT_EQ(stubborn.State, TZebThread::Ended);
  }

  // The worker's last delivery is queued only after the main thread has begun to wait for
  // its end, as when a capture is closed while a frame is on its way.
  TProbeThread delivering;
  uint32_t deliveredOn = 0;
  delivering.Work = [&] {
    while (!delivering.Terminated()) std::this_thread::sleep_for(1ms);
    delivering.CallOnMainThread([&] { deliveredOn = platform::CurrentThreadId(); });
  };
  EXPECT_TRUE(delivering.Open());
  SleepUntil(delivering.Started);
  EXPECT_TRUE(delivering.Close());
  EXPECT_EQ(delivering.ZebWaitFor(), 0);
  EXPECT_EQ(deliveredOn, platform::CurrentThreadId());
  EXPECT_EQ(trace.TakeMessages(), Lines{});
}

TEST(ZebThread, DestructionStopsARunningThreadAndReleasesANeverOpenedOne) {
  std::atomic<int> runs{0};
  std::atomic<bool> sawTerminated{false}, returned{false};
  auto work = [&](TProbeThread& thread) {
    return [&] {
      ++runs;
      while (!thread.Terminated()) std::this_thread::sleep_for(1ms);
      sawTerminated = true;
      returned = true;
    };
  };
  {
    TProbeThread running;
    running.Work = work(running);
    EXPECT_TRUE(running.Open());
    SleepUntil(running.Started);
  }
  EXPECT_TRUE(returned) << "destruction waits for Run to return";
  EXPECT_EQ(runs, 1);

  runs = 0;
  sawTerminated = false;
  {
    TProbeThread neverOpened;
    neverOpened.Work = work(neverOpened);
  }
  EXPECT_EQ(runs, 1) << "Run gets its one turn at destruction";
  EXPECT_TRUE(sawTerminated) << "...with termination already requested, so it does no work";
}

TEST(ZebThread, OpenGivesTheThreadItsPriority) {
  const int nice = std::min(getpriority(PRIO_PROCESS, 0) + 5, 19);
  TProbeThread thread;
  std::atomic<int> seen{-100};
  thread.Work = [&] { seen = getpriority(PRIO_PROCESS, platform::CurrentThreadId()); };
  thread.Priority = nice;
  EXPECT_TRUE(thread.Open());
  EXPECT_EQ(thread.ZebWaitFor(), 0);
  EXPECT_EQ(seen, nice);
}

// Whether, without CAP_SYS_NICE, the system refuses to give a thread the nice value `nice`.
bool RefusesNice(int nice) {
  if (WithoutCapability::Effective(CAP_SYS_NICE)) return false;
  rlimit limit{};
  getrlimit(RLIMIT_NICE, &limit);
  return limit.rlim_cur == RLIM_INFINITY ? false : 20 - int(limit.rlim_cur) > nice;
}

TEST(ZebThread, ARefusedPriorityLeavesTheThreadClosed) {
  WithoutCapability ordinaryUser(CAP_SYS_NICE);
  if (!RefusesNice(-5))
    GTEST_SKIP() << "this process may raise thread priorities (RLIMIT_NICE), nothing refuses";
  TraceListener trace;
  TProbeThread thread;
  thread.Priority = -5;
  EXPECT_FALSE(thread.Open());
  EXPECT_EQ(thread.State, TZebThread::Closed);
  EXPECT_EQ(thread.ErrorCode, ZEBERR_ERROR_IN_SETTHREADPRIORITY);
  EXPECT_EQ(trace.TakeMessages(),
            Lines{"[ZebThread] TZebThread.Open Error=ZEBERR_ERROR_IN_SETTHREADPRIORITY "
                  "GetLastError=" + std::to_string(EACCES)});
  EXPECT_FALSE(thread.Started) << "a refused thread is not resumed";

  thread.Priority = 0;
  EXPECT_TRUE(thread.Open()) << "a refusal leaves the thread usable";
  EXPECT_EQ(thread.ErrorCode, 0);
  EXPECT_EQ(thread.ZebWaitFor(), 0);
}

}  // namespace
