#include "capture/LocalAdapter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>

// The netmask is taken as stored (network order). Linux lists IPv6 and other families beside
// IPv4, in no fixed order, so the first IPv4 netmask is taken rather than whatever family
// happens to come first.
bpf_u_int32 NetmaskOf(const pcap_if_t* adapter) {
  if (adapter) {
    for (const pcap_addr_t* a = adapter->addresses; a; a = a->next) {
      if (a->netmask && a->netmask->sa_family == AF_INET) {
        sockaddr_in mask;
        std::memcpy(&mask, a->netmask, sizeof mask);
        return mask.sin_addr.s_addr;
      }
    }
  }
  return PCAP_NETMASK_UNKNOWN;
}

// The ring: on Linux the library cuts it into blocks of 256 KiB, and a block is handed over
// when it is full or when the read time-out passes. With the library's default of 2 MiB (8
// blocks) and the default time-out of a millisecond, the ring therefore held 8 ms of traffic,
// however light it was; with ThreadSafe every frame waits for the main thread, and a main
// thread busy for longer than that (painting, a layout) lost frames at any rate. A ring of
// 32 MiB (128 blocks) holds 128 ms of light traffic, and 32 MiB of frames when it is heavy.
//
// On Linux a read time-out of 0 does not hand frames over at once: it means no time-out at
// all, and the kernel then passes a ring block on only when it is full, so light traffic never
// arrives (a negative one makes every read return at once, and the capture thread spins). A
// time-out of 0 or less therefore asks for immediate mode, which hands each frame over as it
// arrives and needs no time-out; the read then waits without one, and Close still wakes it.
pcap_t* OpenLocalAdapter(const char* name, int snaplen, int flags, int readTimeout, char* errbuf,
                         int* statusOut, int ringBytes) {
  if (statusOut) *statusOut = PCAP_ERROR;
  pcap_t* handle = pcap_create(name, errbuf);
  if (!handle) return nullptr;
  const bool immediate = (flags & PCAP_OPENFLAG_MAX_RESPONSIVENESS) || readTimeout <= 0;
  int status = pcap_set_snaplen(handle, snaplen);
  if (status >= 0 && (flags & PCAP_OPENFLAG_PROMISCUOUS)) status = pcap_set_promisc(handle, 1);
  if (status >= 0 && immediate) status = pcap_set_immediate_mode(handle, 1);
  if (status >= 0) status = pcap_set_timeout(handle, std::max(readTimeout, 0));
  if (status >= 0) status = pcap_set_buffer_size(handle, ringBytes);
  if (status >= 0) status = pcap_activate(handle);
  if (statusOut) *statusOut = status;
  if (status >= 0) return handle;
  if (status == PCAP_ERROR)
    std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", name, pcap_geterr(handle));
  else if (status == PCAP_ERROR_NO_SUCH_DEVICE || status == PCAP_ERROR_PERM_DENIED ||
           status == PCAP_ERROR_PROMISC_PERM_DENIED)
    std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s (%s)", name, pcap_statustostr(status),
                  pcap_geterr(handle));
  else
    std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", name, pcap_statustostr(status));
  pcap_close(handle);
  return nullptr;
}
