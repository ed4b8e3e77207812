#include "capture/QuarnThread.h"

#include <cstring>
#include <exception>
#include <pcap/pcap.h>

#include "support/ZebTrace.h"

namespace {
// What the library said of the last failure on the handle; its buffer may lack the zero.
std::string LibraryError(pcap_t* handle) {
  const char* text = pcap_geterr(handle);
  return text ? std::string(text, strnlen(text, PCAP_ERRBUF_SIZE)) : std::string();
}

// A stream read as a file is the capture helper's: whatever ends it, the helper is why.
constexpr const char* HelperEnded = "the capture helper stopped sending frames";
}  // namespace

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
  try {
    if (threadSafe && !pcap_file(handle)) RunBatched(handle);
    else RunFrameByFrame(handle, threadSafe);
  } catch (const std::exception& e) {
    // The thread's end traces it; the window must learn of it as of any other end.
    Quarn->SetStopReason(e.what());
    throw;
  }
}

void TQuarnThread::ReadFailed(pcap_t* handle) {
  Quarn->SetLastError("Quarn Error: pcap_next_ex return -1");
  std::string reason = pcap_file(handle) ? HelperEnded : LibraryError(handle);
  Quarn->SetStopReason(reason.empty() ? Quarn->LastError() : std::move(reason));
  TraceFmt("[Quarn] TQuarnThread.Run pcap_next_ex return -1 (%s)", Quarn->LastError());
}

void TQuarnThread::SourceEnded(pcap_t* handle) {
  // A live source gives -2 only when the read was broken off, which only the component's Close
  // does, after asking the thread to end; a stream read as a file gives it at its end.
  if (Terminated()) return;
  Quarn->SetStopReason(pcap_file(handle) ? HelperEnded : "the library broke the read off");
  TraceFmt("[Quarn] TQuarnThread.Run the source ended (%s)", Quarn->StopReason());
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
    if (result == -1) return ReadFailed(handle);
    if (result != 1) return SourceEnded(handle);
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
      return ReadFailed(handle);
    }
    if (result == -2) return SourceEnded(handle);
    deliver();
  }
}
