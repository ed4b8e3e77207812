#pragma once
// TZebThread: the base of the program's worker threads. It puts a discipline on the platform
// thread: created suspended and Closed, opened once (priority set, then resumed), closed
// once (termination requested), waited for with a bounded, polling wait. Misuse is reported
// through ErrorCode and trace lines, never by exceptions, and an exception escaping the work
// ends the thread with trace lines instead of ending the process.
//
// A subclass overrides Run (the work; it returns when done or once Terminated() is seen),
// overrides ClassName with its own name for the trace lines, and calls Shutdown() first in
// its destructor (see below):
//
//   class TWorker : public TZebThread {
//    public:
//     ~TWorker() override { Shutdown(); }
//     std::string_view ClassName() const override { return "TWorker"; }
//    protected:
//     void Run() override {
//       while (!Terminated()) Synchronize([&] { /* runs on the main thread */ });
//     }
//   };
//
// Callers set Priority, ResumeOnOpen, WaitTimeout and SetFreeOnTerminate between
// construction and Open.
#include <atomic>
#include <cstdint>
#include <string_view>

#include "platform/Thread.h"

constexpr int32_t ZEBERR_NOT_CLOSED_STATE = 8007;            // Open when State is not Closed
constexpr int32_t ZEBERR_NOT_OPENED_STATE = 8008;            // Close when State is not Opened
constexpr int32_t ZEBERR_WAIT_TIMEOUT = 8501;                // ZebWaitFor gave up (returned only)
constexpr int32_t ZEBERR_ERROR_IN_SETTHREADPRIORITY = 8507;  // the priority was refused in Open

class TZebThread : public platform::Thread {
 public:
  // Values of State.
  static constexpr uint8_t Ended = 0;
  static constexpr uint8_t Closed = 1;
  static constexpr uint8_t Opening = 2;
  static constexpr uint8_t Opened = 3;
  static constexpr uint8_t Closing = 4;

  TZebThread() = default;  // the platform thread exists now, suspended

  // Closed: sets the priority and, with ResumeOnOpen, resumes the thread. Otherwise fails
  // with ZEBERR_NOT_CLOSED_STATE (a thread runs at most once).
  bool Open();
  // Opened: requests termination and goes to Closing. Otherwise fails with
  // ZEBERR_NOT_OPENED_STATE.
  bool Close();
  // Waits, in 1 ms slices and for at most WaitTimeout ms, until the thread has left Opened
  // and Closing; 0, or ZEBERR_WAIT_TIMEOUT (the thread is left running). On the main thread
  // calls queued through Synchronize run during the wait, and nothing else does.
  int32_t ZebWaitFor();

  using platform::Thread::Terminated;

  // The name of the most-derived class, for the trace lines.
  virtual std::string_view ClassName() const { return "TZebThread"; }

  // Written by the owner (Open, Close) and by the worker (DoTerminate).
  std::atomic<uint8_t> State{Closed};
  // The first error since the last successful start of Open; 0 = none.
  int32_t ErrorCode = 0;
  uint32_t WaitTimeout = 10000;  // ms
  int32_t Priority = 0;          // the thread's nice value; 0 = normal
  bool ResumeOnOpen = true;

 protected:
  // Runs on the worker: Run inside the exception trap.
  void Execute() override;
  // Runs on the worker after Execute: State becomes Ended.
  void DoTerminate() override;
  virtual void Run() = 0;

  // The destruction sequence: Close, ZebWaitFor while the thread still runs, then the
  // platform thread's end (which lets a thread that was never opened run Run once, with
  // Terminated() already true, and joins it). Every concrete subclass calls it first in its
  // destructor, so that Run and ClassName are still its own while the thread winds down.
  // Later calls (from the destructors of intermediate classes) do nothing.
  void Shutdown();

 private:
  void SetError(int32_t code);

  bool ShutDown_ = false;
};
