#pragma once
// What the Statistics menu shows of a capture: a summary, the protocol hierarchy, the
// conversations and endpoints of five kinds, and frames and bytes per interval of time. They
// describe the traffic, not the views: every frame is decoded as deeply as the program can
// (every link type, VLAN tags, IPv6 and its extension headers), whatever the views' decoding.
//
// One object takes the frames in once, in capture order, and can take in the frames a running
// capture adds later (TakeIn again), so that a window refreshed once a second costs only the
// new frames. It keeps no frame: a few counters per conversation, endpoint, protocol and
// interval. Nothing here knows a widget; the windows and `trellan-rows --stats` print the same
// figures.
//
// Bytes are the frames' lengths on the wire (the Len column), as the tools users compare with
// count them; the summary also has the captured bytes.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/FrameStore.h"

class TDisplayFilter;

// The tabs of the Conversations and Endpoints windows.
enum class TTrafficKind : uint8_t { Ethernet, IPv4, IPv6, TCP, UDP };
constexpr int TrafficKindCount = 5;
// "Ethernet", "IPv4", "IPv6", "TCP", "UDP".
const char* TrafficKindName(TTrafficKind kind);
// The kind a command line names: "eth", "ip" (or "ipv4"), "ipv6", "tcp", "udp" (tshark's names),
// or a tab's name in any letter case.
std::optional<TTrafficKind> TrafficKindByName(std::string_view name);
inline bool HasPorts(TTrafficKind kind) {
  return kind == TTrafficKind::TCP || kind == TTrafficKind::UDP;
}

// One end of a conversation: a MAC address (its first 6 bytes), an IPv4 address (first 4) or
// an IPv6 address, and for TCP and UDP a port; Family says which of IPv4 and IPv6 a TCP or
// UDP end is.
struct TTrafficAddress {
  std::array<uint8_t, 16> Bytes{};
  uint16_t Port = 0;
  uint8_t Family = 0;  // 4 or 6 for IP addresses; 0 for a MAC address
  bool operator==(const TTrafficAddress&) const = default;
};
// The address alone ("00:11:22:33:44:55", "10.0.0.1", "2001:db8::1").
std::string AddressText(const TTrafficAddress& address);

struct TConversationStats {
  // A is the source of the conversation's first frame.
  TTrafficAddress A, B;
  uint64_t FramesAToB = 0, BytesAToB = 0, FramesBToA = 0, BytesBToA = 0;
  // Time stamps of the first and the last frame, in nanoseconds since the epoch.
  int64_t FirstTime = 0, LastTime = 0;
  int32_t FirstFrame = 0;  // the store's number of the first frame
  uint64_t Frames() const { return FramesAToB + FramesBToA; }
  uint64_t Bytes() const { return BytesAToB + BytesBToA; }
};

struct TEndpointStats {
  TTrafficAddress Address;
  uint64_t TxFrames = 0, TxBytes = 0, RxFrames = 0, RxBytes = 0;
  int32_t FirstFrame = 0;
  uint64_t Frames() const { return TxFrames + RxFrames; }
  uint64_t Bytes() const { return TxBytes + RxBytes; }
};

// A protocol as the program decodes it, and the protocols found inside it.
struct TProtocolNode {
  std::string Name;
  uint64_t Frames = 0, Bytes = 0;
  std::vector<TProtocolNode> Children;
};

struct TCaptureTotals {
  int64_t Frames = 0;
  uint64_t CapturedBytes = 0, WireBytes = 0;
  // Nanoseconds since the epoch; both 0 without frames.
  int64_t FirstTime = 0, LastTime = 0;
  // The link types met, in the order they were met.
  std::vector<int32_t> LinkTypes;
};

// Frames and bytes per interval from the first frame's time, and the frames of each that the
// display filter passes (the I/O graph's second line; equal to the first without a filter).
struct TIntervalCounts {
  uint64_t Frames = 0, Bytes = 0, ShownFrames = 0, ShownBytes = 0;
  int32_t FirstFrame = 0;       // the first frame of the interval, 0 when it has none
  int32_t FirstShownFrame = 0;  // the first one the display filter passes
};

class TTrafficStatistics {
 public:
  // The interval of the I/O counts: 1 s unless set before the first TakeIn.
  static constexpr int64_t DefaultInterval = 1'000'000'000;
  void SetInterval(int64_t nanoseconds) { Interval_ = nanoseconds > 0 ? nanoseconds : 1; }
  int64_t Interval() const { return Interval_; }
  // Counts only the frames `filter` passes ("Limit to display filter"); the I/O counts keep
  // every frame and mark those it passes. The filter stays the caller's and must live as long
  // as TakeIn is called; set before the first TakeIn. nullptr or an empty filter: all frames.
  void SetFilter(const TDisplayFilter* filter, bool limit) {
    Filter_ = filter;
    Limit_ = limit;
  }

  // The kinds of conversation and endpoint kept (bit 1 << kind each); all unless set before
  // the first TakeIn. A table not asked for costs nothing.
  static constexpr uint8_t AllKinds = (1 << TrafficKindCount) - 1;
  void SetKinds(uint8_t kinds) { Kinds_ = kinds; }

  // Takes in frames Taken() + 1 to `count` of `store`. False when `progress` (frames taken in,
  // of count) stopped it: what was taken in so far stays counted and a later call goes on.
  bool TakeIn(const TFrameStore& store, int32_t count,
              const std::function<bool(int64_t, int64_t)>& progress = {});
  // Safe to ask from another thread while one takes frames in.
  int32_t Taken() const { return Taken_.load(std::memory_order_acquire); }

  const TCaptureTotals& Totals() const { return Totals_; }
  // Frames (of those counted) the display filter passed; all of them without one.
  const TProtocolNode& Protocols() const { return Root_; }
  // In the order of their first frame: copies, or one row at a time in place.
  std::vector<TConversationStats> Conversations(TTrafficKind kind) const;
  std::vector<TEndpointStats> Endpoints(TTrafficKind kind) const;
  size_t ConversationCount(TTrafficKind kind) const;
  const TConversationStats& Conversation(TTrafficKind kind, size_t row) const;
  size_t EndpointCount(TTrafficKind kind) const;
  const TEndpointStats& Endpoint(TTrafficKind kind, size_t row) const;
  const std::vector<TIntervalCounts>& Intervals() const { return Intervals_; }
  // The first frame's time stamp, which the intervals and the conversations' relative starts
  // count from (nanoseconds since the epoch).
  int64_t StartTime() const { return Start_; }
  // At most this many intervals are kept (40 MiB): a capture longer than that many intervals
  // keeps the first ones, and IntervalsCut() says that later frames were left out of them.
  static constexpr size_t MaxIntervals = size_t(1) << 20;
  bool IntervalsCut() const { return IntervalsCut_; }
  // Memory held, for the benchmarks.
  size_t Bytes() const;

  TTrafficStatistics();
  ~TTrafficStatistics();
  TTrafficStatistics(TTrafficStatistics&&) noexcept;
  TTrafficStatistics& operator=(TTrafficStatistics&&) noexcept;

 private:
  struct TTables;
  void Count(const TFrame& frame, bool shown);
  int64_t Interval_ = DefaultInterval;
  const TDisplayFilter* Filter_ = nullptr;
  bool Limit_ = false;
  uint8_t Kinds_ = AllKinds;
  std::atomic<int32_t> Taken_{0};
  int64_t Start_ = 0;
  bool IntervalsCut_ = false;
  TCaptureTotals Totals_;
  TProtocolNode Root_;
  std::vector<TIntervalCounts> Intervals_;
  std::unique_ptr<TTables> Tables_;
};

// ---- Texts shared by trellan-rows --stats and the windows -------------------------------------

// "Ethernet", "Linux cooked", "Raw IP", "IEEE 802.11", ... or "DLT 147" for a link type, by the
// values pcap_datalink gives.
std::string LinkTypeText(int32_t linkType);
// The libpcap expression that selects one conversation (both directions) or one endpoint:
// "ether host A and ether host B", "host A and host B", "host A and host B and tcp port P and
// tcp port Q" (the two ports given once when equal); "host A and tcp port P" for an endpoint.
std::string ConversationFilter(TTrafficKind kind, const TConversationStats& conversation);
std::string EndpointFilter(TTrafficKind kind, const TEndpointStats& endpoint);
