#include "platform/MainThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <sched.h>
#include <unistd.h>

#include "platform/System.h"

namespace platform {
namespace {

// A capture thread hands every frame to the main thread and waits for it, so the hand-off is
// paid once per frame, and a thread that goes to sleep and is woken costs two context
// switches on each side. Both sides therefore first spin for a short while: the worker for
// its call to be done (the main thread usually runs it within microseconds), the main thread
// for the next call after a drain (a worker with frames buffered queues it within a
// microsecond). While frames flow, neither sleeps and no system call is made; when they stop,
// each side has spent at most this long before it sleeps as before.
constexpr auto SpinTime = std::chrono::microseconds(50);
// However fast calls keep coming, one drain returns to the event loop after this long, so
// that input and painting are served between frames.
constexpr auto LongestDrain = std::chrono::milliseconds(2);

// Spins until `ready()` or SpinTime has passed; returns ready(). The spin yields the core at
// every turn: where the other side shares this core (a small machine, busy with the traffic it
// captures), it then runs at once instead of after the spin.
template <class TReady>
bool SpinFor(TReady ready) {
  const auto until = std::chrono::steady_clock::now() + SpinTime;
  for (;;) {
    if (ready()) return true;
    sched_yield();
    if (std::chrono::steady_clock::now() >= until) return ready();
  }
}

// A call a worker waits on. It lives on the worker's stack for exactly as long as the worker
// waits. A worker that saw `done` while spinning returns at once, so the main thread touches
// nothing of the call after setting `done`; a worker that went to sleep (`sleeping`, set under
// the queue lock) cannot return before the main thread, which sets `done` under that lock,
// has signalled it and let the lock go.
struct PendingCall {
  explicit PendingCall(FunctionRef<void()> c) : call(c) {}
  FunctionRef<void()> call;
  PendingCall* next = nullptr;
  std::exception_ptr error;
  std::atomic<bool> done{false};
  bool sleeping = false;
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
  // The main thread spins for the next call after a drain and will take it without a
  // wake-up. Set only outside the calls, so a call that runs a nested event loop (a modal
  // prompt) never leaves it set.
  bool mainSpinning = false;
  // head is not null; read without the lock by the spinning main thread.
  std::atomic<bool> queued{false};
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
  q.queued.store(false, std::memory_order_relaxed);
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
    const bool sleeping = call->sleeping;
    // A worker that is not asleep may return the moment it sees this, so it is the last touch
    // of the call unless the worker sleeps (and then waits for the lock we hold).
    call->done.store(true, std::memory_order_release);
    if (sleeping) call->doneSignal.notify_one();
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
  q.queued.store(true, std::memory_order_release);
  if (q.mainWaiting) {
    q.mainSignal.notify_one();
  } else if (!q.wakePending && !q.mainSpinning) {
    q.wakePending = true;
    lock.unlock();
    Wake(q);
    lock.lock();
  }
  lock.unlock();
  if (!SpinFor([&] { return pending.done.load(std::memory_order_acquire); })) {
    lock.lock();
    while (!pending.done.load(std::memory_order_relaxed)) {
      pending.sleeping = true;
      pending.doneSignal.wait(lock);
    }
    lock.unlock();
  }
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
  const auto until = std::chrono::steady_clock::now() + LongestDrain;
  PendingCall* calls;
  {
    std::lock_guard lock(q.lock);
    q.wakePending = false;
    calls = TakeAll(q);
  }
  while (calls) {
    RunCalls(q, calls);
    if (std::chrono::steady_clock::now() >= until) return;  // a call queued since has woken us
    {
      std::lock_guard lock(q.lock);
      calls = TakeAll(q);
      if (calls) continue;
      q.mainSpinning = true;
    }
    SpinFor([&] { return q.queued.load(std::memory_order_acquire); });
    std::lock_guard lock(q.lock);
    q.mainSpinning = false;
    calls = TakeAll(q);
  }
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
