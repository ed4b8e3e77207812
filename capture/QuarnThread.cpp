#include "capture/QuarnThread.h"

#include <pcap/pcap.h>

#include "support/ZebTrace.h"

bool TQuarnThread::Close() {
  const bool closed = TZebThread::Close();
  ZebWaitFor();
  return closed;
}

void TQuarnThread::Run() {
  if (!Quarn) return;
  // Both are taken once: changing ThreadSafe while the thread runs has no effect on it.
  pcap_t* const handle = Quarn->Handle();
  const bool threadSafe = Quarn->ThreadSafe();
  // A frame read while the source was opened comes first.
  const pcap_pkthdr* header = nullptr;
  const uint8_t* data = nullptr;
  bool haveFrame = Quarn->TakeFirstFrame(header, data);
  while (!Terminated()) {
    int result = 1;
    if (!haveFrame) {
      pcap_pkthdr* read;
      result = pcap_next_ex(handle, &read, &data);
      header = read;
    }
    haveFrame = false;
    if (Terminated()) return;  // a frame read as the stop came in is not delivered
    if (result == 0) continue;  // the read time-out passed without a frame
    if (result == -1) {
      Quarn->SetLastError("Quarn Error: pcap_next_ex return -1");
      TraceFmt("[Quarn] TQuarnThread.Run pcap_next_ex return -1 (%s)", Quarn->LastError());
      return;
    }
    // Any other result than a frame ends the thread quietly: a live source gives -2 only
    // when the read was broken off, which only the component's Close does.
    if (result != 1) return;
    Quarn->SetCurrent(header, data);
    // The library's header and bytes stay valid until the next read, and this thread does
    // not read again before the delivery has returned.
    if (threadSafe)
      Synchronize([this] { Quarn->DoCapture(); });
    else
      Quarn->DoCapture();
  }
}
