#pragma once
// A worker thread object in the classic shape: the thread is created suspended, started by
// Resume, asked to stop through a terminated flag, and sends an end notification.
//
// The OS thread exists from construction on, parked on a gate until Resume opens it, so that
// its priority can be set before it runs. It then runs Execute and, on the same thread,
// DoTerminate (the end notification), and ends.
//
// Destruction. The most-derived class's destructor calls EndThread() first, while its
// Execute and its members still exist. EndThread requests termination, releases a thread
// that was never resumed so that it runs to its end (Execute then runs once, with
// Terminated() already true, and must return at once), and joins it. On the main thread the
// join serves calls queued through Synchronize meanwhile, so a worker blocked in one can
// reach its end. ~Thread only checks that this has happened: a thread that was never resumed
// is released without running Execute or DoTerminate (their overriders are gone by then);
// destroying a thread whose Execute still runs without EndThread is a programming error and
// aborts the process.
//
// FreeOnTerminate: the object deletes itself on its own thread right after DoTerminate. Such
// an object must be allocated with a plain `new` and, once resumed, belongs to itself:
// nobody may delete it, wait for it or touch it afterwards. One that is destroyed by its
// owner (before it is resumed, or while the owner's EndThread runs) does not delete itself.
//
// An exception escaping Execute ends the process, as with any std::thread; subclasses trap
// what they can handle.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/FunctionRef.h"
#include "platform/MainThread.h"

namespace platform {

class Thread {
 public:
  Thread();  // throws std::system_error when no thread can be created
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Opens the gate of a parked thread; does nothing on one that already runs.
  void Resume();

  void Terminate() { Terminated_.store(true); }
  bool Terminated() const { return Terminated_.load(); }

  bool FreeOnTerminate() const;
  void SetFreeOnTerminate(bool value);

  // Sets the thread's nice value (0 normal, -20 highest, 19 lowest; Linux clamps values out
  // of that range). False when the system refuses, with errno as LastError(): EACCES for a
  // raise the caller may not make, ESRCH once the thread has ended.
  bool SetPriority(int nice);

  // The handle wait: waits up to `ms` milliseconds for the end of the thread and tells
  // whether it has ended. On the main thread it runs queued calls while it waits (see
  // WaitServingCalls), so a thread blocked in Synchronize can end.
  bool WaitFor(uint32_t ms);

 protected:
  virtual void Execute() = 0;
  // The end notification, run on the thread right after Execute.
  virtual void DoTerminate() {}

  // Has the main thread run `call` (see platform::Synchronize).
  static void Synchronize(FunctionRef<void()> call) { platform::Synchronize(call); }

  // Terminates, releases and joins, as described above. Safe to call more than once and on
  // the thread itself (a FreeOnTerminate object deleting itself), where it only lets go.
  void EndThread();

 private:
  static void Main(Thread* self);

  std::atomic<bool> Terminated_{false};
  mutable std::mutex Lock_;
  std::condition_variable Gate_;  // signals the thread's start, its resume and its end
  uint32_t ThreadId_ = 0;
  bool Resumed_ = false;
  bool RunBody_ = true;  // false: released by ~Thread, end without Execute
  bool Ending_ = false;  // the owner is ending the thread: it must not delete itself
  bool FreeOnTerminate_ = false;
  std::atomic<bool> Finished_{false};
  std::thread Thread_;  // last: the thread starts once everything above exists
};

}  // namespace platform
