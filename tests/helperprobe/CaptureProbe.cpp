// Run by the helper tests as an ordinary user: captures UDP on the loopback adapter with the
// settings of a first start (read time-out 1) and the given filter, and reports on standard
// output: "open" or "error TEXT" after the open, then each datagram's payload as it arrives,
// and "closed" once standard input has ended and the capture is closed.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "capture/Quarn.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  TQuarn quarn;
  quarn.SetAdapterName("lo");
  quarn.SetFilter(argv[1]);
  quarn.SetReadTimeout(1);
  quarn.SetThreadSafe(false);
  quarn.OnCapture = [](TCustomQuarn&, const PCAP_PKTHDR* h, const ETH_HDR* e) {
    const auto* bytes = reinterpret_cast<const char*>(e);
    const std::string payload(bytes + 42, h->caplen > 42 ? h->caplen - 42 : 0);
    std::printf("%s\n", payload.c_str());
    std::fflush(stdout);
  };
  if (!quarn.Open(true)) {
    std::printf("error %s\n", quarn.LastError().c_str());
    return 1;
  }
  std::printf("open\n");
  std::fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  if (!quarn.Close()) return 1;
  std::printf("closed\n");
  return 0;
}
