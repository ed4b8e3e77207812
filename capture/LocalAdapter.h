#pragma once
// Opening a local adapter, shared by the capture component and the capture helper
// (trellan-capture), so that both open it with the same settings and report the same texts.
// It needs libpcap only.
#include <pcap/pcap.h>

// The kernel ring a local adapter is read from (see LocalAdapter.cpp).
constexpr int LocalRingBytes = 32 << 20;

// Opens the local adapter `name` as pcap_open would, with a ring of `ringBytes` (the larger one
// unless told otherwise); on failure returns
// null with the library's text in errbuf (PCAP_ERRBUF_SIZE bytes) and, when `status` is given,
// the status of the step that failed there (PCAP_ERROR_PERM_DENIED when rights are lacking).
pcap_t* OpenLocalAdapter(const char* name, int snaplen, int flags, int readTimeout, char* errbuf,
                         int* status = nullptr, int ringBytes = LocalRingBytes);

// The netmask for the filter compiler: that of the adapter's first IPv4 address.
bpf_u_int32 NetmaskOf(const pcap_if_t* adapter);
