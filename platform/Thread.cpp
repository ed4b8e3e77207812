#include "platform/Thread.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

#include "platform/System.h"

namespace platform {

Thread::Thread() {
  Thread_ = std::thread(&Thread::Main, this);
  // SetPriority needs the thread's id, which only the thread itself can tell.
  std::unique_lock lock(Lock_);
  Gate_.wait(lock, [this] { return ThreadId_ != 0; });
}

Thread::~Thread() {
  {
    std::lock_guard lock(Lock_);
    if (Thread_.joinable() && Thread_.get_id() != std::this_thread::get_id()) {
      if (!Resumed_) {
        RunBody_ = false;
      } else if (!Finished_.load()) {
        std::fputs("platform::Thread destroyed while its Execute runs: the most-derived "
                   "destructor must call EndThread() first\n", stderr);
        std::abort();
      }
    }
  }
  EndThread();
}

void Thread::Resume() {
  std::lock_guard lock(Lock_);
  Resumed_ = true;
  Gate_.notify_all();
}

bool Thread::FreeOnTerminate() const {
  std::lock_guard lock(Lock_);
  return FreeOnTerminate_;
}

void Thread::SetFreeOnTerminate(bool value) {
  std::lock_guard lock(Lock_);
  FreeOnTerminate_ = value;
}

bool Thread::SetPriority(int nice) {
  // Once the thread has ended its id may already belong to another thread.
  if (Finished_.load()) {
    errno = ESRCH;
    return false;
  }
  return setpriority(PRIO_PROCESS, ThreadId_, nice) == 0;
}

bool Thread::WaitFor(uint32_t ms) {
  if (IsMainThread()) return WaitServingCalls(ms, [this] { return Finished_.load(); });
  std::unique_lock lock(Lock_);
  return Gate_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Finished_.load(); });
}

void Thread::EndThread() {
  if (!Thread_.joinable()) return;
  if (Thread_.get_id() == std::this_thread::get_id()) {
    Thread_.detach();
    return;
  }
  Terminate();
  {
    std::lock_guard lock(Lock_);
    Ending_ = true;
    Resumed_ = true;
    Gate_.notify_all();
  }
  // On the main thread the worker may be blocked in Synchronize: serve it until it ends.
  if (IsMainThread()) {
    while (!WaitFor(1000)) {
    }
  }
  Thread_.join();
}

void Thread::Main(Thread* self) {
  bool runBody;
  {
    std::unique_lock lock(self->Lock_);
    self->ThreadId_ = CurrentThreadId();
    self->Gate_.notify_all();
    self->Gate_.wait(lock, [self] { return self->Resumed_; });
    runBody = self->RunBody_;
  }
  if (runBody) {
    self->Execute();
    self->DoTerminate();
  }
  bool freeSelf;
  {
    std::lock_guard lock(self->Lock_);
    freeSelf = runBody && self->FreeOnTerminate_ && !self->Ending_;
    self->Finished_.store(true);
    self->Gate_.notify_all();
  }
  WakeServingWait();
  if (freeSelf) delete self;
}

}  // namespace platform
