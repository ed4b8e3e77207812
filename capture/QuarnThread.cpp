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
  // A stream read as a file (the capture helper's) has no "what is ready now": a batch would
  // wait for frames that may be long in coming.
  if (threadSafe && !pcap_file(handle)) RunBatched(handle);
  else RunFrameByFrame(handle, threadSafe);
}

void TQuarnThread::ReadFailed() {
  Quarn->SetLastError("Quarn Error: pcap_next_ex return -1");
  TraceFmt("[Quarn] TQuarnThread.Run pcap_next_ex return -1 (%s)", Quarn->LastError());
}

void TQuarnThread::RunFrameByFrame(pcap_t* handle, bool threadSafe) {
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
    if (result == -1) return ReadFailed();
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

void TQuarnThread::TBatch::Add(const pcap_pkthdr* header, const uint8_t* data) {
  Headers.push_back(*header);
  Starts.push_back(Bytes.size());
  Bytes.insert(Bytes.end(), data, data + header->caplen);
}

void TQuarnThread::TBatch::Clear() {
  Headers.clear();
  Starts.clear();
  Bytes.clear();
}

void TQuarnThread::Collect(uint8_t* batch, const pcap_pkthdr* header, const uint8_t* data) {
  // The library's bytes are good only during this call: they are copied.
  reinterpret_cast<TBatch*>(batch)->Add(header, data);
}

void TQuarnThread::RunBatched(pcap_t* handle) {
  TBatch batch;
  batch.Headers.reserve(BatchFrames);
  batch.Starts.reserve(BatchFrames);
  batch.Bytes.reserve(size_t(BatchFrames) * 2048);
  // A frame read while the source was opened comes first.
  const pcap_pkthdr* header = nullptr;
  const uint8_t* data = nullptr;
  if (Quarn->TakeFirstFrame(header, data)) batch.Add(header, data);
  // Every frame of the batch, in order, on the main thread; those read before an error are
  // delivered like any other.
  const auto deliver = [&] {
    if (batch.Headers.empty()) return;
    Synchronize([&] {
      for (size_t i = 0; i < batch.Headers.size(); ++i) {
        Quarn->SetCurrent(&batch.Headers[i], batch.Bytes.data() + batch.Starts[i]);
        Quarn->DoCapture();
      }
    });
    batch.Clear();
  };
  while (!Terminated()) {
    // Whatever the library has ready (a ring block, what the daemon sent), or the first
    // frames to arrive within the read time-out.
    const int result = pcap_dispatch(handle, BatchFrames - int(batch.Headers.size()), Collect,
                                     reinterpret_cast<uint8_t*>(&batch));
    if (Terminated()) return;  // frames read as the stop came in are not delivered
    if (result == -1) {
      deliver();
      return ReadFailed();
    }
    if (result == -2) return;  // broken off: only the component's Close does that
    deliver();
  }
}
