#pragma once
// The capture thread: reads frames from an open live or remote source and hands each one to
// the component's DoCapture, on the main thread (ThreadSafe) or on this thread.
//
// On the main thread the frames go over in batches: every frame that the library has ready
// when the thread asks (up to BatchFrames) is copied, and one call of the main thread delivers
// them all, one DoCapture each, in arrival order. A round trip to the main thread costs far
// more than a frame does, and with one per frame the main thread could not keep up with a
// busy adapter. The thread waits for each batch to be delivered, so it never runs more than
// one batch ahead: the frames after it wait in the kernel's ring, as before.
#include <cstdint>
#include <string_view>
#include <vector>

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

  // The most frames one batch holds.
  static constexpr int BatchFrames = 512;

 protected:
  void Run() override;

 private:
  // The frames of one batch: their headers, and their bytes one after the other.
  struct TBatch {
    std::vector<struct pcap_pkthdr> Headers;
    std::vector<size_t> Starts;
    std::vector<uint8_t> Bytes;
    void Add(const struct pcap_pkthdr* header, const uint8_t* data);
    void Clear();
  };
  static void Collect(uint8_t* batch, const struct pcap_pkthdr* header, const uint8_t* data);
  // Delivers one frame at a time on this thread, or on the main thread for a source that
  // cannot be asked for what it has ready without waiting for more (the capture helper's
  // stream).
  void RunFrameByFrame(struct pcap* handle, bool threadSafe);
  void RunBatched(struct pcap* handle);
  // The read failed: the error is kept and traced, and the library's words are why the
  // capture stopped.
  void ReadFailed(struct pcap* handle);
  // The source ended without being asked to.
  void SourceEnded(struct pcap* handle);
};
