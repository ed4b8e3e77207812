#pragma once
// The capture thread: reads frames from an open live or remote source and hands each one to
// the component's DoCapture, on the main thread (ThreadSafe) or on this thread.
#include <string_view>

#include "capture/Quarn.h"
#include "support/ZebThread.h"

class TQuarnThread : public TZebThread {
 public:
  explicit TQuarnThread(TCustomQuarn* quarn) : Quarn(quarn) {}
  ~TQuarnThread() override { Shutdown(); }

  std::string_view ClassName() const override { return "TQuarnThread"; }

  // TZebThread's Close, then the bounded wait for the thread's end, whatever Close gave.
  // The wait's own result is dropped: a time-out has been traced by the wait.
  bool Close();

  TCustomQuarn* const Quarn;

 protected:
  void Run() override;
};
