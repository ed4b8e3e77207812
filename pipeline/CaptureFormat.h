#pragma once
// The two formats a capture is saved in, and the writing of a capture file in the other one.
#include <string>

#include "capture/MappedFile.h"
#include "platform/Files.h"

enum class TCaptureFormat { Pcap, Pcapng };

// pcapng for a name that ends ".pcapng" in any letter case; otherwise classic pcap, the
// format of the live capture's file and of tcpdump's.
TCaptureFormat FormatOfName(const std::string& path);
// The format of the capture file `file` holds, told by its first bytes.
TCaptureFormat FormatOf(const TMappedFile& file);

// Writes the frames of the capture file `file`, as libpcap reads them, to `out` in `format`,
// the other format than the file's:
// - pcapng: a section, one interface with the file's link type and snapshot length, and one
//   enhanced packet block a frame with its time at the file's resolution (microseconds, or
//   nanoseconds, which the interface then says);
// - pcap: what pcap_dump writes, microsecond times; a pcap file has one link type, so a frame
//   of another fails with EINVAL.
// False with errno set.
bool WriteCaptureAs(const TMappedFile& file, TCaptureFormat format, platform::TFileBeside& out);
