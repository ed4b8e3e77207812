// Run by the pipeline tests, to be killed: captures from the adapter named by its argument
// with the settings of a first start into a new temporary capture file (the second argument),
// as the window does, and reports on standard output the number of frames the file holds
// each time it has grown. It ends only when it is killed.
#include <cstdio>
#include <pcap/pcap.h>

#include "capture/Quarn.h"
#include "pipeline/CapturePipeline.h"
#include "platform/MainThread.h"

int main(int argc, char** argv) {
  std::string error;
  if (argc != 3) return 2;
  TCapturePipeline capture;
  TQuarn quarn;
  quarn.SetAdapterName(argv[1]);
  quarn.OnOpened = [&](TCustomQuarn& q) {
    return capture.StartLive(argv[2], pcap_datalink(q.Handle()), pcap_snapshot(q.Handle()), error)
               ? std::string()
               : error;
  };
  quarn.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR* h, const ETH_HDR* e) {
    capture.Add(h, reinterpret_cast<const uint8_t*>(e));
  };
  if (!quarn.Open(true)) {
    std::printf("error %s\n", quarn.LastError().c_str());
    return 1;
  }
  std::printf("open\n");
  std::fflush(stdout);
  // Frames are handed to this thread, as to the window's: serve them, and report what the
  // file holds whenever that changed.
  int32_t reported = 0;
  for (;;) {
    platform::WaitServingCalls(50, [] { return false; });
    if (const int32_t held = capture.Count(); held != reported) {
      reported = held;
      std::printf("%d\n", held);
      std::fflush(stdout);
    }
  }
}
