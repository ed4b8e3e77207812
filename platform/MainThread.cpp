#include "platform/MainThread.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <unistd.h>

#include "platform/System.h"

namespace platform {
namespace {

// A call a worker waits on. It lives on the worker's stack for exactly as long as the worker
// waits; the main thread therefore marks it done and signals it under the queue lock, so the
// worker cannot return (and free it) before the main thread has let go of it.
struct PendingCall {
  explicit PendingCall(FunctionRef<void()> c) : call(c) {}
  FunctionRef<void()> call;
  PendingCall* next = nullptr;
  std::exception_ptr error;
  bool done = false;
  std::condition_variable doneSignal;
};

struct CallQueue {
  std::mutex lock;
  PendingCall* head = nullptr;
  PendingCall* tail = nullptr;
  // A wake-up has been sent (or there was nobody to send it to) and no drain has begun
  // since: later calls ride on it instead of posting an event each.
  bool wakePending = false;
  bool mainWaiting = false;  // the main thread sits in WaitServingCalls
  std::condition_variable mainSignal;

  // The wake-up runs outside the queue lock (it calls into the event loop); this lock only
  // keeps it from being replaced while it runs.
  std::mutex wakeLock;
  std::function<void()> wake;
};

CallQueue& Queue() {
  static CallQueue queue;
  return queue;
}

PendingCall* TakeAll(CallQueue& q) {
  PendingCall* calls = q.head;
  q.head = q.tail = nullptr;
  return calls;
}

void RunCalls(CallQueue& q, PendingCall* call) {
  while (call) {
    PendingCall* next = call->next;  // read first: once done, the call's memory may be gone
    try {
      call->call();
    } catch (...) {
      call->error = std::current_exception();
    }
    std::lock_guard lock(q.lock);
    call->done = true;
    call->doneSignal.notify_one();
    call = next;
  }
}

void Wake(CallQueue& q) {
  std::lock_guard lock(q.wakeLock);
  if (q.wake) q.wake();
}

}  // namespace

bool IsMainThread() {
  static thread_local const bool isMain = CurrentThreadId() == uint32_t(getpid());
  return isMain;
}

void Synchronize(FunctionRef<void()> call) {
  if (IsMainThread()) {
    call();
    return;
  }
  CallQueue& q = Queue();
  PendingCall pending(call);
  std::unique_lock lock(q.lock);
  if (q.tail)
    q.tail->next = &pending;
  else
    q.head = &pending;
  q.tail = &pending;
  if (q.mainWaiting) {
    q.mainSignal.notify_one();
  } else if (!q.wakePending) {
    q.wakePending = true;
    lock.unlock();
    Wake(q);
    lock.lock();
  }
  pending.doneSignal.wait(lock, [&] { return pending.done; });
  lock.unlock();
  if (pending.error) std::rethrow_exception(pending.error);
}

void SetMainThreadWakeUp(std::function<void()> wake) {
  CallQueue& q = Queue();
  {
    std::lock_guard lock(q.wakeLock);
    q.wake = std::move(wake);
  }
  bool pending;
  {
    std::lock_guard lock(q.lock);
    pending = q.head != nullptr;
    q.wakePending = pending;
  }
  if (pending) Wake(q);
}

void DrainMainThreadQueue() {
  CallQueue& q = Queue();
  PendingCall* calls;
  {
    std::lock_guard lock(q.lock);
    q.wakePending = false;
    calls = TakeAll(q);
  }
  RunCalls(q, calls);
}

bool WaitServingCalls(uint32_t ms, FunctionRef<bool()> done) {
  CallQueue& q = Queue();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    PendingCall* calls;
    bool timedOut;
    {
      std::unique_lock lock(q.lock);
      q.mainWaiting = true;
      timedOut = !q.mainSignal.wait_until(lock, deadline, [&] { return q.head || done(); });
      q.mainWaiting = false;
      calls = TakeAll(q);
    }
    RunCalls(q, calls);
    if (done()) return true;
    if (timedOut) return false;
  }
}

void WakeServingWait() {
  CallQueue& q = Queue();
  std::lock_guard lock(q.lock);
  if (q.mainWaiting) q.mainSignal.notify_all();
}

}  // namespace platform
