#pragma once
#include "capture/Quarn.h"
class TQuarnThread {
 public:
  explicit TQuarnThread(TCustomQuarn*) {}
  bool ResumeOnOpen = true;
  void SetFreeOnTerminate(bool) {}
  bool Open() { return false; }
  bool Close() { return false; }
  void Terminate() {}
};
