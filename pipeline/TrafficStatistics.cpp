#include "pipeline/TrafficStatistics.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>

#include "platform/ReservedArray.h"

#include "pipeline/ShownRows.h"

namespace {
constexpr const char* KindNames[TrafficKindCount] = {"Ethernet", "IPv4", "IPv6", "TCP", "UDP"};

int64_t TimeOf(const PCAP_PKTHDR& h) {
  return int64_t(uint32_t(h.ts.tv_sec)) * 1'000'000'000 + int64_t(h.ts.tv_usec) * 1000;
}

// A conversation's key: both ends, the lower first, so that either direction finds it.
// Compared as words: a call of memcmp per probe cost more than the probe.
template <size_t N>
struct TKeyBytes {
  alignas(8) std::array<uint8_t, N> Bytes{};
  bool operator==(const TKeyBytes& other) const {
    static_assert(N % 8 == 0);
    uint64_t difference = 0;
    for (size_t i = 0; i < N; i += 8) {
      uint64_t a, b;
      std::memcpy(&a, Bytes.data() + i, 8);
      std::memcpy(&b, other.Bytes.data() + i, 8);
      difference |= a ^ b;
    }
    return difference == 0;
  }
};
using TPairKey = TKeyBytes<40>;
using TEndKey = TKeyBytes<24>;

template <size_t N>
uint64_t HashBytes(const std::array<uint8_t, N>& bytes) {
  // Eight bytes at a time through a multiply-and-fold mix: the keys are short and fixed.
  uint64_t h = 0x9E3779B97F4A7C15ull;
  size_t i = 0;
  for (; i + 8 <= N; i += 8) {
    uint64_t w;
    std::memcpy(&w, bytes.data() + i, 8);
    const __uint128_t m = __uint128_t(h ^ w) * 0xA0761D6478BD642Full;
    h = uint64_t(m) ^ uint64_t(m >> 64);
  }
  uint64_t rest = 0;
  std::memcpy(&rest, bytes.data() + i, N - i);
  const __uint128_t m = __uint128_t(h ^ rest) * 0xE7037ED1A0B428DBull;
  return uint64_t(m) ^ uint64_t(m >> 64);
}

// Rows appended in place: an array that never moves (no copy as it grows) and that fills
// huge pages once it is large, since a fresh small page costs a fault each.
template <class T>
class TRows {
 public:
  TRows() : Items_(TFrameStore::Capacity, 1024) {}
  size_t size() const { return Count_; }
  T& operator[](size_t i) { return Items_[i]; }
  const T& operator[](size_t i) const { return Items_[i]; }
  // False when the array has no room left (the address space is short).
  bool push_back(const T& item) {
    if (Count_ >= Items_.Capacity()) return false;
    if (Count_ * sizeof(T) == platform::HugePage) Items_.FillInHugePages();
    new (&Items_[Count_]) T(item);
    ++Count_;
    return true;
  }
  void Prefetch(size_t i) const { __builtin_prefetch(Items_.Data() + i, 1); }
  std::vector<T> Copy() const { return std::vector<T>(Items_.Data(), Items_.Data() + Count_); }
  size_t Bytes() const { return Items_.CommittedBytes(Count_); }

 private:
  platform::TReservedArray<T> Items_;
  size_t Count_ = 0;
};

// An open-addressing map from a fixed-size key to the index of its row: the tables take one
// lookup per frame and kind, so the probes stay in one array and never allocate per entry.
template <class TKey>
class TRowIndex {
 public:
  // The row of `key`, or `next` (which the caller then appends) when it has none yet.
  // Room for `more` keys without growing, so that the slots prefetched stay the slots probed.
  void Reserve(size_t more) {
    while ((Used_ + more) * 4 > Size_ * 3) Grow();
  }
  void Prefetch(uint64_t h) const { __builtin_prefetch(&(*Slots_)[size_t(h) & (Size_ - 1)], 1); }
  uint32_t Find(const TKey& key, uint64_t h, uint32_t next, bool& added) {
    if ((Used_ + 1) * 4 > Size_ * 3) Grow();
    const size_t mask = Size_ - 1;
    for (size_t i = size_t(h) & mask;; i = (i + 1) & mask) {
      TSlot& slot = (*Slots_)[i];
      if (slot.Row == 0) {
        slot.Key = key;
        slot.Row = next + 1;
        ++Used_;
        added = true;
        return next;
      }
      if (slot.Key == key) {
        added = false;
        return slot.Row - 1;
      }
    }
  }
  size_t Bytes() const { return Size_ * sizeof(TSlot); }

 private:
  // Row + 1; 0 for a free slot, so that fresh (zero) memory is an empty table.
  struct TSlot {
    TKey Key;
    uint32_t Row;
  };
  using TSlots = platform::TReservedArray<TSlot>;
  void Grow() {
    const size_t size = Size_ ? Size_ * 2 : 64;
    auto slots = std::make_unique<TSlots>(size, size);
    if (size * sizeof(TSlot) >= platform::HugePage) slots->FillInHugePages();
    const size_t mask = size - 1;
    for (size_t j = 0; j < Size_; ++j) {
      const TSlot& slot = (*Slots_)[j];
      if (slot.Row == 0) continue;
      size_t i = size_t(HashBytes(slot.Key.Bytes)) & mask;
      while ((*slots)[i].Row != 0) i = (i + 1) & mask;
      (*slots)[i] = slot;
    }
    Slots_ = std::move(slots);
    Size_ = size;
  }
  std::unique_ptr<TSlots> Slots_;
  size_t Size_ = 0;
  size_t Used_ = 0;
};

TEndKey EndKeyOf(const TTrafficAddress& a) {
  TEndKey key;
  std::memcpy(key.Bytes.data(), a.Bytes.data(), 16);
  key.Bytes[16] = uint8_t(a.Port >> 8);
  key.Bytes[17] = uint8_t(a.Port);
  return key;
}

bool Lower(const TTrafficAddress& a, const TTrafficAddress& b) {
  const int c = std::memcmp(a.Bytes.data(), b.Bytes.data(), 16);
  return c < 0 || (c == 0 && a.Port < b.Port);
}

// The key of the unordered pair {a, b}.
TPairKey PairKeyOf(const TTrafficAddress& a, const TTrafficAddress& b) {
  const bool swap = Lower(b, a);
  const TTrafficAddress& low = swap ? b : a;
  const TTrafficAddress& high = swap ? a : b;
  TPairKey key;
  std::memcpy(key.Bytes.data(), low.Bytes.data(), 16);
  std::memcpy(key.Bytes.data() + 16, high.Bytes.data(), 16);
  key.Bytes[32] = uint8_t(low.Port >> 8);
  key.Bytes[33] = uint8_t(low.Port);
  key.Bytes[34] = uint8_t(high.Port >> 8);
  key.Bytes[35] = uint8_t(high.Port);
  return key;
}

std::string EtherTypeName(int32_t type) {
  switch (type) {
    case 0x0800: return "IPv4";
    case 0x86DD: return "IPv6";
    case 0x0806: return "ARP";
    case 0x8100: return "VLAN";
    case 0x88A8: return "VLAN (802.1ad)";
    case 0x9100: return "VLAN (QinQ)";
    default: break;
  }
  if (type >= 0 && type <= 1500) return "IEEE 802.3 (LLC)";
  char text[24];
  std::snprintf(text, sizeof text, "EtherType 0x%04X", unsigned(type));
  return text;
}

std::string IPProtocolName(int32_t protocol) {
  switch (protocol) {
    case 1: return "ICMP";
    case 6: return "TCP";
    case 17: return "UDP";
    case 58: return "ICMPv6";
    default: return "IP protocol " + std::to_string(protocol);
  }
}
}  // namespace

const char* TrafficKindName(TTrafficKind kind) { return KindNames[int(kind)]; }

std::optional<TTrafficKind> TrafficKindByName(std::string_view name) {
  std::string folded;
  for (char c : name) folded += char(std::tolower(static_cast<unsigned char>(c)));
  if (folded == "eth" || folded == "ethernet") return TTrafficKind::Ethernet;
  if (folded == "ip" || folded == "ipv4") return TTrafficKind::IPv4;
  if (folded == "ipv6") return TTrafficKind::IPv6;
  if (folded == "tcp") return TTrafficKind::TCP;
  if (folded == "udp") return TTrafficKind::UDP;
  return std::nullopt;
}

std::string AddressText(const TTrafficAddress& address) {
  const uint8_t* b = address.Bytes.data();
  if (address.Family == 4)
    return IPToStr(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]);
  std::string text;
  if (address.Family == 6) {
    IPv6Text(b, text);
    return text;
  }
  char mac[18];
  std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4],
                b[5]);
  return mac;
}

// ---- The tables -----------------------------------------------------------------------------

struct TTrafficStatistics::TTables {
  struct TKindTables {
    TRowIndex<TPairKey> ConversationIndex;
    TRows<TConversationStats> Conversations;
    TRowIndex<TEndKey> EndpointIndex;
    TRows<TEndpointStats> Endpoints;
    // The ends of the last frame counted and their rows: frames of one conversation come in
    // runs, and a run is counted without a lookup.
    bool HaveLast = false;
    TTrafficAddress LastSource, LastDestination;
    uint32_t LastRow = 0, LastEndRow[2] = {};
  };
  std::array<TKindTables, TrafficKindCount> Kinds;

  // The protocol tree while frames come: each node's children found by their code.
  struct TNode {
    int64_t Code;
    uint32_t FirstChild = 0, NextSibling = 0;  // 0: none (node 0 is the root)
    uint64_t Frames = 0, Bytes = 0;
  };
  std::vector<TNode> Nodes{TNode{-1}};
  uint32_t Child(uint32_t parent, int64_t code) {
    uint32_t last = 0;
    for (uint32_t n = Nodes[parent].FirstChild; n; n = Nodes[n].NextSibling) {
      if (Nodes[n].Code == code) return n;
      last = n;
    }
    const auto added = uint32_t(Nodes.size());
    Nodes.push_back(TNode{code});
    (last ? Nodes[last].NextSibling : Nodes[parent].FirstChild) = added;
    return added;
  }
  uint32_t Count(uint32_t parent, int64_t code, uint64_t bytes) {
    const uint32_t node = Child(parent, code);
    ++Nodes[node].Frames;
    Nodes[node].Bytes += bytes;
    return node;
  }

  uint8_t Wanted = AllKinds;

  // Frames are counted in batches: the keys of a batch are looked up in steps, each step
  // prefetching what the next one reads (slots, then rows), so that the cache misses of a
  // table of millions of conversations overlap instead of following one another.
  struct TPending {
    TTrafficKind Kind;
    TTrafficAddress Source, Destination;
    int32_t Number;
    int64_t Time;
    uint64_t Bytes;
    TPairKey Key;
    uint64_t Hash, EndHash[2];
    TEndKey EndKey[2];
    uint32_t Row, EndRow[2];
  };
  static constexpr size_t Batch = 32;
  std::array<TPending, Batch> Pending;
  size_t PendingCount = 0;

  void Add(TTrafficKind kind, const TTrafficAddress& source, const TTrafficAddress& destination,
           int32_t number, int64_t time, uint64_t bytes) {
    if (!(Wanted >> int(kind) & 1)) return;
    TKindTables& t = Kinds[size_t(kind)];
    if (t.HaveLast && t.LastSource == source && t.LastDestination == destination) {
      // Its rows exist already, and counts add up in any order: no need to wait for the batch.
      Count(t, t.LastRow, t.LastEndRow, source, time, bytes);
      return;
    }
    TPending& p = Pending[PendingCount++];
    p.Kind = kind;
    p.Source = source;
    p.Destination = destination;
    p.Number = number;
    p.Time = time;
    p.Bytes = bytes;
    if (PendingCount == Batch) Flush();
  }

  void Flush() {
    const size_t n = PendingCount;
    PendingCount = 0;
    for (TKindTables& t : Kinds) {
      t.ConversationIndex.Reserve(n);
      t.EndpointIndex.Reserve(2 * n);
    }
    for (size_t k = 0; k < n; ++k) {
      TPending& p = Pending[k];
      p.Key = PairKeyOf(p.Source, p.Destination);
      p.Hash = HashBytes(p.Key.Bytes);
      Kinds[size_t(p.Kind)].ConversationIndex.Prefetch(p.Hash);
    }
    for (size_t k = 0; k < n; ++k) {
      TPending& p = Pending[k];
      TKindTables& t = Kinds[size_t(p.Kind)];
      bool added = false;
      p.Row = t.ConversationIndex.Find(p.Key, p.Hash, uint32_t(t.Conversations.size()), added);
      if (added) {
        TConversationStats c;
        c.A = p.Source;
        c.B = p.Destination;
        c.FirstTime = c.LastTime = p.Time;
        c.FirstFrame = p.Number;
        t.Conversations.push_back(c);
      }
      t.Conversations.Prefetch(p.Row);
      for (int side = 0; side < 2; ++side) {
        p.EndKey[side] = EndKeyOf(side == 0 ? p.Source : p.Destination);
        p.EndHash[side] = HashBytes(p.EndKey[side].Bytes);
        t.EndpointIndex.Prefetch(p.EndHash[side]);
      }
    }
    for (size_t k = 0; k < n; ++k) {
      TPending& p = Pending[k];
      TKindTables& t = Kinds[size_t(p.Kind)];
      for (int side = 0; side < 2; ++side) {
        bool added = false;
        p.EndRow[side] = t.EndpointIndex.Find(p.EndKey[side], p.EndHash[side],
                                              uint32_t(t.Endpoints.size()), added);
        if (added) {
          TEndpointStats s;
          s.Address = side == 0 ? p.Source : p.Destination;
          s.FirstFrame = p.Number;
          t.Endpoints.push_back(s);
        }
        t.Endpoints.Prefetch(p.EndRow[side]);
      }
    }
    for (size_t k = 0; k < n; ++k) Count(Pending[k]);
  }

  void Count(const TPending& p) {
    TKindTables& t = Kinds[size_t(p.Kind)];
    Count(t, p.Row, p.EndRow, p.Source, p.Time, p.Bytes);
    t.HaveLast = true;
    t.LastSource = p.Source;
    t.LastDestination = p.Destination;
    t.LastRow = p.Row;
    t.LastEndRow[0] = p.EndRow[0];
    t.LastEndRow[1] = p.EndRow[1];
  }

  static void Count(TKindTables& t, uint32_t row, const uint32_t endRow[2],
                    const TTrafficAddress& source, int64_t time, uint64_t bytes) {
    // No room (address space short): the conversation is left out, as is each later one.
    if (row < t.Conversations.size()) {
      TConversationStats& c = t.Conversations[row];
      // A conversation of an address with itself goes A to B every time.
      if (c.A == source) {
        ++c.FramesAToB;
        c.BytesAToB += bytes;
      } else {
        ++c.FramesBToA;
        c.BytesBToA += bytes;
      }
      // Frames stamped out of order: the conversation spans from the earliest to the latest.
      c.FirstTime = std::min(c.FirstTime, time);
      c.LastTime = std::max(c.LastTime, time);
    }
    for (int side = 0; side < 2; ++side) {
      if (endRow[side] >= t.Endpoints.size()) continue;
      TEndpointStats& s = t.Endpoints[endRow[side]];
      if (side == 0) {
        ++s.TxFrames;
        s.TxBytes += bytes;
      } else {
        ++s.RxFrames;
        s.RxBytes += bytes;
      }
    }
  }

  TProtocolNode Tree(uint32_t node) const;
};

namespace {
// Codes of the protocol tree's levels, kept apart so that an EtherType never meets an IP
// protocol of the same number among one node's children.
constexpr int64_t LinkCode = 1ll << 40, EtherCode = 2ll << 40, IPCode = 3ll << 40,
                  PayloadCode = 4ll << 40;

std::string NodeName(int64_t code) {
  const int64_t value = code & ((1ll << 40) - 1);
  switch (code >> 40) {
    case 1: return LinkTypeText(int32_t(value));
    case 2: return EtherTypeName(int32_t(value));
    case 3: return IPProtocolName(int32_t(value));
    case 4: return value ? "With payload" : "Without payload";
    default: return "Frame";
  }
}
}  // namespace

TProtocolNode TTrafficStatistics::TTables::Tree(uint32_t node) const {
  TProtocolNode out;
  out.Name = NodeName(Nodes[node].Code);
  out.Frames = Nodes[node].Frames;
  out.Bytes = Nodes[node].Bytes;
  for (uint32_t child = Nodes[node].FirstChild; child; child = Nodes[child].NextSibling)
    out.Children.push_back(Tree(child));
  // Most frames first, as a reader scans a hierarchy.
  std::stable_sort(out.Children.begin(), out.Children.end(),
                   [](const TProtocolNode& a, const TProtocolNode& b) { return a.Frames > b.Frames; });
  return out;
}

TTrafficStatistics::TTrafficStatistics() : Tables_(std::make_unique<TTables>()) {
  Root_.Name = "Frame";
}
TTrafficStatistics::~TTrafficStatistics() = default;
TTrafficStatistics::TTrafficStatistics(TTrafficStatistics&& other) noexcept {
  *this = std::move(other);
}
TTrafficStatistics& TTrafficStatistics::operator=(TTrafficStatistics&& other) noexcept {
  Interval_ = other.Interval_;
  Filter_ = other.Filter_;
  Limit_ = other.Limit_;
  Kinds_ = other.Kinds_;
  Taken_.store(other.Taken_.load(std::memory_order_relaxed), std::memory_order_release);
  Start_ = other.Start_;
  IntervalsCut_ = other.IntervalsCut_;
  Totals_ = std::move(other.Totals_);
  Root_ = std::move(other.Root_);
  Intervals_ = std::move(other.Intervals_);
  Tables_ = std::move(other.Tables_);
  return *this;
}

bool TTrafficStatistics::TakeIn(const TFrameStore& store, int32_t count,
                                const std::function<bool(int64_t, int64_t)>& progress) {
  const bool filtering = Filter_ && !Filter_->Empty();
  bool stopped = false;
  store.ReadFrames(Taken_ + 1, count, [&](const TFrame& frame) {
    Count(frame, !filtering || Filter_->Matches(frame));
    Taken_.store(frame.Index, std::memory_order_release);
    stopped = progress && frame.Index % 65536 == 0 && !progress(frame.Index, count);
    return !stopped;
  });
  Tables_->Flush();
  Root_ = Tables_->Tree(0);
  return !stopped;
}

void TTrafficStatistics::Count(const TFrame& frame, bool shown) {
  const int64_t time = TimeOf(frame.PktHdr);
  const uint64_t bytes = frame.PktHdr.len;
  if (Totals_.Frames == 0 && Intervals_.empty()) Start_ = time;
  // Frames and bytes per interval, of every frame: the graph's filtered line is drawn over
  // the line of all of them. A frame stamped before the first counts in the first interval.
  const int64_t since = time - Start_;
  const size_t interval = since <= 0 ? 0 : size_t(since / Interval_);
  if (interval < MaxIntervals) {
    if (Intervals_.size() <= interval) Intervals_.resize(interval + 1);
    TIntervalCounts& i = Intervals_[interval];
    ++i.Frames;
    i.Bytes += bytes;
    if (!i.FirstFrame) i.FirstFrame = frame.Index;
    if (shown) {
      ++i.ShownFrames;
      i.ShownBytes += bytes;
      if (!i.FirstShownFrame) i.FirstShownFrame = frame.Index;
    }
  } else {
    IntervalsCut_ = true;
  }
  if (Limit_ && !shown) return;

  if (Totals_.Frames == 0) Totals_.FirstTime = time;
  ++Totals_.Frames;
  Totals_.CapturedBytes += frame.PktHdr.caplen;
  Totals_.WireBytes += bytes;
  Totals_.LastTime = std::max(Totals_.LastTime, time);
  Totals_.FirstTime = std::min(Totals_.FirstTime, time);
  if (std::find(Totals_.LinkTypes.begin(), Totals_.LinkTypes.end(), frame.LinkType) ==
      Totals_.LinkTypes.end())
    Totals_.LinkTypes.push_back(frame.LinkType);

  TTables& t = *Tables_;
  t.Wanted = Kinds_;
  ++t.Nodes[0].Frames;
  t.Nodes[0].Bytes += bytes;
  uint32_t node = t.Count(0, LinkCode | frame.LinkType, bytes);
  if (!frame.Readable) return;

  // The traffic as deeply as it can be decoded, whatever the views' decoding.
  TPacketLayers layers;
  DecodeLayers(frame.LinkType, true, frame.Data(), frame.DataEnd(), layers);
  const uint8_t* end = layers.End;
  const int32_t number = frame.Index;

  if (layers.LinkProtocol >= 0) {
    node = t.Count(node, EtherCode | layers.LinkProtocol, bytes);
    for (int32_t tag = 0; tag < layers.TagCount; ++tag) {
      const uint8_t* type = layers.Tags + 4 * tag + 2;
      if (!Captured(type, 2, end)) break;
      node = t.Count(node, EtherCode | (type[0] << 8 | type[1]), bytes);
    }
  }
  if (layers.DstMac && layers.SrcMac) {
    TTrafficAddress source, destination;
    std::memcpy(source.Bytes.data(), layers.SrcMac, 6);
    std::memcpy(destination.Bytes.data(), layers.DstMac, 6);
    t.Add(TTrafficKind::Ethernet, source, destination, number, time, bytes);
  }
  if (!layers.IsIP()) return;

  TTrafficAddress source, destination;
  bool addressed = false;
  if (layers.Network == TNetworkKind::IPv4) {
    const IP_HDR* ip = layers.IP();
    if (Captured(ip->SrcIP, end) && Captured(ip->DstIP, end)) {
      std::memcpy(source.Bytes.data(), ip->SrcIP.b, 4);
      std::memcpy(destination.Bytes.data(), ip->DstIP.b, 4);
      source.Family = destination.Family = 4;
      addressed = true;
      t.Add(TTrafficKind::IPv4, source, destination, number, time, bytes);
    }
  } else {
    const auto* ip = reinterpret_cast<const IPV6_HDR*>(layers.NetworkHeader);
    if (Captured(ip->SrcIP, end) && Captured(ip->DstIP, end)) {
      std::memcpy(source.Bytes.data(), ip->SrcIP, 16);
      std::memcpy(destination.Bytes.data(), ip->DstIP, 16);
      source.Family = destination.Family = 6;
      addressed = true;
      t.Add(TTrafficKind::IPv6, source, destination, number, time, bytes);
    }
  }
  // A later fragment, or a header cut before its upper layer, carries no part of that
  // layer's header: it stays an IP packet, as the tools users compare with count it.
  if (layers.Protocol < 0 || !layers.Transport || !Captured(layers.Transport, 1, end)) return;
  node = t.Count(node, IPCode | layers.Protocol, bytes);

  const TCP_HDR* tcp = layers.TCP();
  const UDP_HDR* udp = layers.UDP();
  if (tcp) t.Count(node, PayloadCode | int64_t(TCPPayload(layers)), bytes);
  if (udp) t.Count(node, PayloadCode | int64_t(UDPPayload(layers)), bytes);
  // Ports: the first four bytes of either header.
  const uint8_t* ports = tcp || udp ? layers.Transport : nullptr;
  if (!addressed || !ports || !Captured(ports, 4, end)) return;
  // A routing header names the final destination, which the connection is with (its
  // checksum is over that address too).
  if (layers.FinalDestination) std::memcpy(destination.Bytes.data(), layers.FinalDestination, 16);
  source.Port = uint16_t(ports[0] << 8 | ports[1]);
  destination.Port = uint16_t(ports[2] << 8 | ports[3]);
  t.Add(tcp ? TTrafficKind::TCP : TTrafficKind::UDP, source, destination, number, time, bytes);
}

std::vector<TConversationStats> TTrafficStatistics::Conversations(TTrafficKind kind) const {
  return Tables_->Kinds[size_t(kind)].Conversations.Copy();
}

std::vector<TEndpointStats> TTrafficStatistics::Endpoints(TTrafficKind kind) const {
  return Tables_->Kinds[size_t(kind)].Endpoints.Copy();
}

size_t TTrafficStatistics::ConversationCount(TTrafficKind kind) const {
  return Tables_->Kinds[size_t(kind)].Conversations.size();
}
const TConversationStats& TTrafficStatistics::Conversation(TTrafficKind kind, size_t row) const {
  return Tables_->Kinds[size_t(kind)].Conversations[row];
}
size_t TTrafficStatistics::EndpointCount(TTrafficKind kind) const {
  return Tables_->Kinds[size_t(kind)].Endpoints.size();
}
const TEndpointStats& TTrafficStatistics::Endpoint(TTrafficKind kind, size_t row) const {
  return Tables_->Kinds[size_t(kind)].Endpoints[row];
}

size_t TTrafficStatistics::Bytes() const {
  size_t bytes = Intervals_.capacity() * sizeof(TIntervalCounts) +
                 Tables_->Nodes.capacity() * sizeof(TTables::TNode);
  for (const auto& k : Tables_->Kinds)
    bytes += k.ConversationIndex.Bytes() + k.EndpointIndex.Bytes() +
             k.Conversations.Bytes() + k.Endpoints.Bytes();
  return bytes;
}

// ---- Texts ----------------------------------------------------------------------------------

std::string LinkTypeText(int32_t linkType) {
  if (const char* text = pcap_datalink_val_to_description(linkType)) return text;
  return "DLT " + std::to_string(linkType);
}

namespace {
// "host A" for IPv4 ("ip host": ARP names addresses too), "ip6 host A", "ether host A".
std::string HostTerm(TTrafficKind kind, const char* direction, const TTrafficAddress& a) {
  const std::string prefix = kind == TTrafficKind::Ethernet ? "ether " : "";
  return prefix + direction + "host " + AddressText(a);
}

std::string PortTerm(const char* direction, const TTrafficAddress& a) {
  return std::string(direction) + "port " + std::to_string(a.Port);
}

std::string ProtocolOf(TTrafficKind kind, uint8_t family) {
  switch (kind) {
    case TTrafficKind::IPv4: return "ip";
    case TTrafficKind::IPv6: return "ip6";
    case TTrafficKind::TCP: return family == 6 ? "ip6 and tcp" : "ip and tcp";
    case TTrafficKind::UDP: return family == 6 ? "ip6 and udp" : "ip and udp";
    default: return {};
  }
}

// Frames from `from` to `to`: "src host A and dst host B" (with ports for TCP and UDP).
std::string OneWay(TTrafficKind kind, const TTrafficAddress& from, const TTrafficAddress& to) {
  std::string text = HostTerm(kind, "src ", from) + " and " + HostTerm(kind, "dst ", to);
  if (HasPorts(kind)) text += " and " + PortTerm("src ", from) + " and " + PortTerm("dst ", to);
  return text;
}
}  // namespace

std::string ConversationFilter(TTrafficKind kind, const TConversationStats& c) {
  // Each direction spelt out: "host A and host B and port P and port Q" would also pass
  // A:Q to B:P, another conversation of the same two hosts.
  std::string text = "(" + OneWay(kind, c.A, c.B) + ") or (" + OneWay(kind, c.B, c.A) + ")";
  const std::string protocol = ProtocolOf(kind, c.A.Family);
  return protocol.empty() ? text : protocol + " and (" + text + ")";
}

std::string EndpointFilter(TTrafficKind kind, const TEndpointStats& e) {
  std::string text = HostTerm(kind, "", e.Address);
  if (HasPorts(kind))
    text = "(" + HostTerm(kind, "src ", e.Address) + " and " + PortTerm("src ", e.Address) +
           ") or (" + HostTerm(kind, "dst ", e.Address) + " and " + PortTerm("dst ", e.Address) + ")";
  const std::string protocol = ProtocolOf(kind, e.Address.Family);
  return protocol.empty() ? text : protocol + " and (" + text + ")";
}
