#include "support/ZebThread.h"

#include <exception>

#include "platform/System.h"
#include "support/ZebTrace.h"

void TZebThread::SetError(int32_t code) {
  if (ErrorCode == 0) ErrorCode = code;
}

bool TZebThread::Open() {
  if (State == Closed) {
    State = Opening;
    ErrorCode = 0;
    if (SetPriority(Priority)) {
      State = Opened;
      if (ResumeOnOpen) Resume();
      return true;
    }
    const int lastError = platform::LastError();
    SetError(ZEBERR_ERROR_IN_SETTHREADPRIORITY);
    TraceFmt("[ZebThread] TZebThread.Open Error=ZEBERR_ERROR_IN_SETTHREADPRIORITY GetLastError=%d",
             lastError);
    State = Closed;
    return false;
  }
  SetError(ZEBERR_NOT_CLOSED_STATE);
  Trace("[ZebThread] TZebThread.Open Error=ZEBERR_NOT_CLOSED_STATE");
  if (State == Ended) {
    Trace("[ZebThread] **********************************************");
    TraceFmt("[ZebThread] TZebThread.Open can not use thread any more(%s)", ClassName());
    Trace("[ZebThread] **********************************************");
  }
  return false;
}

bool TZebThread::Close() {
  if (State == Opened) {
    Terminate();
    // The worker may end on its own at this very moment; its Ended must not be overwritten,
    // or ZebWaitFor would wait for an end that has already come.
    uint8_t opened = Opened;
    State.compare_exchange_strong(opened, Closing);
    return true;
  }
  SetError(ZEBERR_NOT_OPENED_STATE);
  return false;
}

int32_t TZebThread::ZebWaitFor() {
  const std::string_view className = ClassName();
  const uint32_t start = platform::TickCount();
  while (State == Opened || State == Closing) {
    WaitFor(1);  // on the main thread this also runs calls queued through Synchronize
    if (platform::TickCount() - start > WaitTimeout) {
      Trace("[ZebThread] *************************************");
      TraceFmt("[ZebThread] TZebThread.ZebWaitFor time elapsed (%s)", className);
      Trace("[ZebThread] *************************************");
      return ZEBERR_WAIT_TIMEOUT;
    }
  }
  return 0;
}

void TZebThread::Execute() {
  const std::string_view className = ClassName();
  try {
    Run();
  } catch (const std::exception& e) {
    Trace("[ZebThread] *******************************************");
    TraceFmt("[ZebThread] TZebThread.Execute Exception occured (%s) %s", className, e.what());
    Trace("[ZebThread] *******************************************");
  }
}

void TZebThread::DoTerminate() {
  State = Ended;
  platform::Thread::DoTerminate();
}

void TZebThread::Shutdown() {
  if (ShutDown_) return;
  ShutDown_ = true;
  Close();
  if (State == Opened || State == Closing) ZebWaitFor();
  EndThread();
}
