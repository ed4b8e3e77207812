#include "pipeline/TCPAnalysis.h"

#include <algorithm>
#include <cstring>

#include "capture/PacketLayers.h"
#include "platform/ReservedArray.h"

// The rules follow what tshark 4.0 reports (tcp.analysis.*), checked segment by segment on
// crafted captures; where tshark differs from the user guide's wording, tshark wins and the
// comment says so. Everything is per direction of a connection; sequence numbers compare
// modulo 2^32.
namespace {
constexpr uint8_t FinFlag = 0x01, SynFlag = 0x02, RstFlag = 0x04, AckFlag = 0x10;
// Times of a connection are kept in microseconds since its first frame (the capture files'
// resolution), in 32 bits: a connection's state stays small, and differences are taken modulo
// 2^32 µs (71 minutes), so only a gap of a multiple of 71 minutes within a few milliseconds
// could be misjudged.
constexpr uint32_t Millisecond = 1000;
// A retransmission this soon after the other side's last duplicate ACK is a fast one.
constexpr uint32_t FastRetransmissionWindow = 20 * Millisecond;
// Out-of-order threshold when the handshake (and with it the initial RTT) was not seen.
constexpr uint32_t DefaultOutOfOrderThreshold = 3 * Millisecond;
// A direction's window scale: unknown while its SYN was not seen, none when its SYN had no
// option (or its peer's had none: scaling holds only when both offer it), else the shift + 2.
// Zero is unknown, so that a new connection's memory, zero as the system gives it, needs no
// filling.
constexpr uint8_t ScaleUnknown = 0, ScaleNone = 1, ScaleShift = 2;

bool After(uint32_t a, uint32_t b) { return int32_t(a - b) > 0; }

struct TSegment {
  int32_t Frame;
  int64_t Time;     // nanoseconds since the epoch
  uint32_t Micros;  // since the connection's first frame
  uint32_t Seq, Ack, Length;
  uint16_t Window;
  uint8_t Flags;
  uint8_t Scale;  // the SYN's window scale option + ScaleShift, or ScaleNone
};

struct TDirection {
  uint32_t NextSeq = 0;  // 0 until the direction's first segment, as tshark keeps it
  uint32_t LastAck = 0;
  uint32_t DupAcks = 0;
  int32_t LastNonDupAckFrame = 0;
  uint32_t NextSeqTime = 0;  // when NextSeq last moved
  uint32_t LastAckTime = 0;
  uint32_t InitialSeq = 0;  // of the SYN, when SynSeen
  uint16_t Window = 0;      // as the last segment gave it, unscaled
  uint8_t Scale = ScaleUnknown;
  bool SynSeen = false;
  bool LastWasKeepAlive = false;
  bool LastWasZeroWindowProbe = false;
};

// A frame's address and port pair (A its source).
struct TPair {
  std::array<uint8_t, 16> A{}, B{};
  uint16_t PortA = 0, PortB = 0;
  uint8_t Family = 4;
};

// The pair as a connection keeps it, from its first frame: IPv4 addresses in place, IPv6
// ones as the index of their 32 bytes in a table of their own.
struct TEnds {
  uint32_t A = 0, B = 0;
  uint16_t PortA = 0, PortB = 0;
  uint8_t Family = 0;
};

// All zero when new. About 130 bytes.
struct TConnection {
  TEnds Ends;
  std::array<TDirection, 2> Sides;  // 0: A to B
  uint32_t SynTime = 0;     // + 1, so that 0 says no SYN was seen
  uint32_t InitialRtt = 0;  // SYN to the ACK that ends the handshake; 0 unknown
  uint32_t Frames[2] = {0, 0};
  uint64_t Bytes[2] = {0, 0};
  int64_t FirstTime = 0, LastTime = 0;
  int32_t FirstFrame = 0;
  uint32_t Trouble = 0;  // index + 1 of its counts, once it has any trouble
};

struct TDupAckRecord {
  int32_t Frame;
  uint32_t Count;
  int32_t Of;
};

uint64_t Mix(uint64_t h, uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  return h;
}
}  // namespace

struct TTCPAnalysis::TState {
  // The verdicts, 2 bytes a frame, in an array that never moves: the main thread reads
  // frames below Taken() while the worker writes the next ones.
  platform::TReservedArray<uint16_t> Verdicts{TFrameStore::Capacity};
  // Duplicate ACKs are a small part of the frames: their count and frame are kept for them
  // alone, in frame order, found by binary search.
  platform::TReservedArray<TDupAckRecord> DupAcks{TFrameStore::Capacity};
  std::atomic<size_t> DupAckCount{0};

  // Never moves either, so that a million new connections cost no copying.
  platform::TReservedArray<TConnection> Connections{TFrameStore::Capacity};
  size_t ConnectionCount = 0;
  std::vector<std::array<uint8_t, 32>> IPv6Addresses;
  std::vector<std::array<uint32_t, TCPTroubleKinds>> TroubleCounts;
  std::vector<int32_t> FirstTroubleFrames;
  // Open addressing, linear probing: connection index + 1, 0 for an empty slot; the pair's
  // hash beside it so that most probes need no look at the connection.
  std::vector<uint32_t> Slots;
  std::vector<uint32_t> SlotHashes;
  size_t Used = 0;

  // The connection of this address and port pair (either orientation), its slot, and
  // whether the frame goes from B to A.
  size_t Find(const TPair& pair, uint32_t hash, bool& reversed) const {
    const size_t mask = Slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      if (!Slots[i]) return i;
      if (SlotHashes[i] != hash) continue;
      const TEnds& e = Connections[Slots[i] - 1].Ends;
      if (e.Family != pair.Family) continue;
      const TPair kept = Pair(e);
      if (kept.A == pair.A && kept.B == pair.B && e.PortA == pair.PortA && e.PortB == pair.PortB) {
        reversed = false;
        return i;
      }
      if (kept.A == pair.B && kept.B == pair.A && e.PortA == pair.PortB && e.PortB == pair.PortA) {
        reversed = true;
        return i;
      }
    }
  }

  TPair Pair(const TEnds& e) const {
    TPair pair;
    pair.Family = e.Family;
    pair.PortA = e.PortA;
    pair.PortB = e.PortB;
    if (e.Family == 6) {
      const auto& both = IPv6Addresses[e.A];
      std::copy_n(both.begin(), 16, pair.A.begin());
      std::copy_n(both.begin() + 16, 16, pair.B.begin());
    } else {
      std::memcpy(pair.A.data(), &e.A, 4);
      std::memcpy(pair.B.data(), &e.B, 4);
    }
    return pair;
  }

  TEnds Ends(const TPair& pair) {
    TEnds e;
    e.Family = pair.Family;
    e.PortA = pair.PortA;
    e.PortB = pair.PortB;
    if (pair.Family == 6) {
      e.A = uint32_t(IPv6Addresses.size());
      auto& both = IPv6Addresses.emplace_back();
      std::copy_n(pair.A.begin(), 16, both.begin());
      std::copy_n(pair.B.begin(), 16, both.begin() + 16);
    } else {
      std::memcpy(&e.A, pair.A.data(), 4);
      std::memcpy(&e.B, pair.B.data(), 4);
    }
    return e;
  }

  void Grow() {
    std::vector<uint32_t> slots(std::max<size_t>(1024, Slots.size() * 2)), hashes(slots.size());
    const size_t mask = slots.size() - 1;
    for (size_t i = 0; i < Slots.size(); ++i) {
      if (!Slots[i]) continue;
      size_t j = SlotHashes[i] & mask;
      while (slots[j]) j = (j + 1) & mask;
      slots[j] = Slots[i];
      hashes[j] = SlotHashes[i];
    }
    Slots.swap(slots);
    SlotHashes.swap(hashes);
  }
};

// The same hash for both orientations of a pair.
static uint32_t PairHash(const TPair& e) {
  uint64_t a = 0, b = 0;
  for (size_t i = 0; i < 16; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, e.A.data() + i, 8);
    std::memcpy(&y, e.B.data() + i, 8);
    a = Mix(a, x);
    b = Mix(b, y);
  }
  a = Mix(a, e.PortA);
  b = Mix(b, e.PortB);
  const uint64_t h = (a ^ b) * 0xFF51AFD7ED558CCDull + (a + b);
  return uint32_t(h >> 32) ^ uint32_t(h);
}

namespace {
// The window scale option of a SYN: its shift (at most 14, as RFC 7323 caps it) + ScaleShift,
// or ScaleNone without one.
uint8_t WindowScaleOption(const TCP_HDR* tcp, const uint8_t* end) {
  const uint8_t* options = nullptr;
  int32_t length = 0;
  if (!GetTCPOption(tcp, end, &options, &length)) return ScaleNone;
  const uint8_t* p = options;
  const uint8_t* stop = options + length;
  while (p < stop && p < end) {
    const uint8_t kind = *p;
    if (kind == 0) break;
    if (kind == 1) {
      ++p;
      continue;
    }
    if (p + 1 >= stop || p + 1 >= end || p[1] < 2) break;
    if (kind == 3 && p[1] == 3 && p + 2 < stop && p + 2 < end)
      return uint8_t(std::min<int>(p[2], 14) + ScaleShift);
    p += p[1];
  }
  return ScaleNone;
}

// The troubles of one segment of direction `fwd`, whose peer is `rev`; updates both as tshark
// does. `dupAck` receives the count and the frame repeated of a duplicate ACK.
uint16_t JudgeSegment(const TSegment& s, TConnection& c, TDirection& fwd, TDirection& rev,
                      TDupAckRecord& dupAck) {
  uint16_t verdict = 0;
  const bool control = s.Flags & (SynFlag | FinFlag | RstFlag);
  if (s.Flags & RstFlag) verdict |= TCPReset;

  if (s.Flags & SynFlag) {
    fwd.SynSeen = true;
    fwd.InitialSeq = s.Seq;
    fwd.Scale = s.Scale;
    // Scaling holds only when both SYNs offer it.
    if (rev.SynSeen && (fwd.Scale == ScaleNone || rev.Scale == ScaleNone))
      fwd.Scale = rev.Scale = ScaleNone;
    if (!(s.Flags & AckFlag) && !c.SynTime) c.SynTime = s.Micros + 1;
  } else if (s.Flags & AckFlag && c.SynTime && !c.InitialRtt && rev.SynSeen && fwd.SynSeen &&
             !fwd.LastAck) {
    // The handshake's last segment: the first ACK of the side that sent the SYN.
    c.InitialRtt = std::max(s.Micros + 1 - c.SynTime, 1u);
  }

  const uint32_t end = s.Seq + s.Length;
  const uint32_t next = end + (s.Flags & (SynFlag | FinFlag) ? 1 : 0);
  bool keepAlive = false, zeroWindowProbe = false, lost = false, notDuplicate = false;
  // A zero-window probe (one byte at the next sequence number into a closed window): tshark
  // judges nothing else of it, and the byte does not move the next expected number.
  if (s.Length == 1 && s.Seq == fwd.NextSeq && rev.Window == 0 && rev.LastAck) {
    zeroWindowProbe = true;
  } else {
    if (s.Window == 0 && !control) verdict |= TCPZeroWindow;
    if (fwd.NextSeq && After(s.Seq, fwd.NextSeq) && !(s.Flags & RstFlag)) {
      verdict |= TCPPreviousSegmentNotCaptured;
      lost = true;
    }
    if (s.Length <= 1 && !control && s.Seq == fwd.NextSeq - 1) {
      verdict |= TCPKeepAlive;
      keepAlive = true;
    }
    const bool sameAck = s.Length == 0 && !control && s.Seq == fwd.NextSeq && s.Ack == fwd.LastAck;
    // A window update: the window changed on an otherwise repeated ACK.
    if (sameAck && s.Window && s.Window != fwd.Window) notDuplicate = true;
    // Window full: the bytes reach the right edge of the peer's window, which is known once
    // its SYN was seen (tshark judges none while the peer's scale is unknown).
    if (s.Length > 0 && !control && rev.Scale != ScaleUnknown &&
        end == rev.LastAck + (uint32_t(rev.Window) << (rev.Scale >= ScaleShift ? rev.Scale - ScaleShift : 0)))
      verdict |= TCPWindowFull;
    // The ACK of a keep-alive or of a zero-window probe repeats the last ACK without being a
    // duplicate ACK, and so does every repetition of it until the peer sends something else.
    if (sameAck && (rev.LastWasKeepAlive || rev.LastWasZeroWindowProbe)) notDuplicate = true;
    if (sameAck && !notDuplicate && s.Window && s.Window == fwd.Window && fwd.NextSeq &&
        fwd.LastAck) {
      verdict |= TCPDuplicateAck;
      dupAck = {s.Frame, ++fwd.DupAcks, fwd.LastNonDupAckFrame};
    }
    if ((s.Length > 0 || s.Flags & (SynFlag | FinFlag)) && fwd.NextSeq &&
        After(fwd.NextSeq, s.Seq) && !keepAlive) {
      const uint32_t threshold = c.InitialRtt ? c.InitialRtt : DefaultOutOfOrderThreshold;
      // tshark calls a segment whose bytes the peer already acknowledged a spurious
      // retransmission, and sets its retransmission flag, before it looks at the timing that
      // would make it out-of-order.
      if (s.Length > 0 && rev.LastAck && !After(end, rev.LastAck))
        verdict |= TCPRetransmission;
      else if (rev.DupAcks >= 2 && rev.LastAck == s.Seq &&
               s.Micros - rev.LastAckTime < FastRetransmissionWindow)
        verdict |= TCPRetransmission | TCPFastRetransmission;
      // A repeated SYN or FIN that ends at the next expected number is a retransmission: the
      // flag counts as a byte here, as tshark counts it.
      else if (s.Micros - fwd.NextSeqTime < threshold && fwd.NextSeq != next)
        verdict |= TCPOutOfOrder;
      else
        verdict |= TCPRetransmission;
    }
  }

  // tshark starts counting duplicates anew only when the ACK number moves: data, a window
  // update or a lost segment with the same ACK number keep the count.
  if (s.Flags & AckFlag && s.Ack != fwd.LastAck) {
    fwd.DupAcks = 0;
    fwd.LastNonDupAckFrame = s.Frame;
  }
  // The first segment of a direction sets the next expected number even without bytes, and
  // so does a segment past a hole (tshark moves it there even for a bare ACK).
  if (!zeroWindowProbe &&
      (!fwd.NextSeq || lost ||
       ((s.Length > 0 || s.Flags & (SynFlag | FinFlag)) && After(next, fwd.NextSeq)))) {
    fwd.NextSeq = next;
    fwd.NextSeqTime = s.Micros;
  }
  if (s.Flags & AckFlag) {
    fwd.LastAck = s.Ack;
    fwd.LastAckTime = s.Micros;
  }
  fwd.Window = s.Window;
  fwd.LastWasKeepAlive = keepAlive;
  fwd.LastWasZeroWindowProbe = zeroWindowProbe;
  return verdict;
}

// The IP addresses of a frame, in the connection's byte form; false when not captured.
bool FramePair(const TPacketLayers& layers, TPair& ends) {
  if (layers.Network == TNetworkKind::IPv4) {
    const IP_HDR* ip = layers.IP();
    if (!Captured(ip->DstIP, layers.End)) return false;
    std::copy_n(ip->SrcIP.b, 4, ends.A.begin());
    std::copy_n(ip->DstIP.b, 4, ends.B.begin());
    ends.Family = 4;
    return true;
  }
  if (layers.Network == TNetworkKind::IPv6) {
    const auto* ip = reinterpret_cast<const IPV6_HDR*>(layers.NetworkHeader);
    if (!Captured(ip->DstIP, layers.End)) return false;
    std::copy_n(ip->SrcIP, 16, ends.A.begin());
    std::copy_n(ip->DstIP, 16, ends.B.begin());
    ends.Family = 6;
    return true;
  }
  return false;
}
}  // namespace

const char* TCPTroubleName(int bit) {
  static const char* const Names[TCPTroubleKinds] = {
      "Retransmission", "Fast retransmission", "Out-of-order", "Previous segment not captured",
      "Duplicate ACK",  "Zero window",         "Window full",  "Keep-alive",
      "Reset"};
  return bit >= 0 && bit < TCPTroubleKinds ? Names[bit] : "";
}

TTCPAnalysis::TTCPAnalysis() : State_(std::make_unique<TState>()) { State_->Grow(); }
TTCPAnalysis::~TTCPAnalysis() = default;

bool TTCPAnalysis::TakeIn(const TFrameStore& store, int32_t count,
                          const std::function<bool(int64_t, int64_t)>& progress) {
  count = std::min(count, store.Count());
  for (int32_t n = Taken() + 1; n <= count; ++n) {
    if (progress && (n & 0x3FFF) == 0 && !progress(n - 1, count)) return false;
    store.Prefetch(n + 8);
    Judge(store.Frame(n));
    Taken_.store(n, std::memory_order_release);
  }
  return true;
}

void TTCPAnalysis::Judge(const TFrame& frame) {
  if (!frame.Readable) return;
  // As deep as the program decodes, whatever the views' decoding.
  TPacketLayers layers;
  DecodeLayers(frame.LinkType, /*deep=*/true, frame.Data(), frame.DataEnd(), layers);
  const TCP_HDR* tcp = layers.TCP();
  if (!tcp || !Captured(tcp->Window, layers.End)) return;
  int32_t length = 0;
  TCPPayload(layers, nullptr, &length);
  if (layers.TransportLength == TPacketLayers::UnknownLength) return;
  TPair ends;
  if (!FramePair(layers, ends)) return;
  ends.PortA = be16(tcp->SrcPort);
  ends.PortB = be16(tcp->DstPort);

  TState& st = *State_;
  TSegment s{frame.Index,
             int64_t(frame.PktHdr.ts.tv_sec) * 1'000'000'000 + int64_t(frame.PktHdr.ts.tv_usec) * 1000,
             0,
             be32(tcp->Seq),
             be32(tcp->Ack),
             uint32_t(std::max(length, 0)),
             be16(tcp->Window),
             tcp->Rsvd_Flags,
             tcp->Rsvd_Flags & SynFlag ? WindowScaleOption(tcp, layers.End) : ScaleNone};
  const uint32_t hash = PairHash(ends);
  bool reversed = false;
  const size_t slot = st.Find(ends, hash, reversed);
  // A SYN with a new initial sequence number on a pair that already had one: the ports were
  // reused by a new connection, which starts afresh (the old one keeps its counts).
  bool fresh = !st.Slots[slot];
  if (!fresh && (s.Flags & (SynFlag | AckFlag)) == SynFlag) {
    const TDirection& d = st.Connections[st.Slots[slot] - 1].Sides[reversed ? 1 : 0];
    fresh = d.SynSeen && d.InitialSeq != s.Seq;
  }
  if (fresh) {
    if (st.ConnectionCount >= st.Connections.Capacity()) return;
    const bool empty = !st.Slots[slot];
    TConnection& c = st.Connections[st.ConnectionCount++];
    c.Ends = st.Ends(ends);
    c.FirstFrame = s.Frame;
    c.FirstTime = s.Time;
    st.Slots[slot] = uint32_t(st.ConnectionCount);
    st.SlotHashes[slot] = hash;
    reversed = false;
    if (empty && ++st.Used * 2 > st.Slots.size()) st.Grow();
  }
  TConnection& c = st.Connections[fresh ? st.ConnectionCount - 1 : st.Slots[slot] - 1];
  const int side = reversed ? 1 : 0;
  ++c.Frames[side];
  c.Bytes[side] += frame.PktHdr.len;
  c.LastTime = s.Time;
  s.Micros = uint32_t(uint64_t(s.Time - c.FirstTime) / 1000);

  TDupAckRecord dupAck{};
  const uint16_t verdict =
      JudgeSegment(s, c, c.Sides[size_t(side)], c.Sides[size_t(1 - side)], dupAck);
  if (!verdict) return;
  st.Verdicts[size_t(s.Frame - 1)] = verdict;
  if (verdict & TCPDuplicateAck) {
    const size_t n = st.DupAckCount.load(std::memory_order_relaxed);
    st.DupAcks[n] = dupAck;
    st.DupAckCount.store(n + 1, std::memory_order_release);
  }
  if (!c.Trouble) {
    st.TroubleCounts.emplace_back();
    st.FirstTroubleFrames.push_back(s.Frame);
    c.Trouble = uint32_t(st.TroubleCounts.size());
  }
  for (int bit = 0; bit < TCPTroubleKinds; ++bit)
    if (verdict & (1 << bit)) {
      ++Counts_[size_t(bit)];
      ++st.TroubleCounts[c.Trouble - 1][size_t(bit)];
    }
}

uint16_t TTCPAnalysis::Troubles(int32_t number) const {
  if (number < 1 || number > Taken()) return 0;
  return State_->Verdicts[size_t(number - 1)];
}

namespace {
const TDupAckRecord* FindDupAck(const platform::TReservedArray<TDupAckRecord>& records,
                                size_t count, int32_t number) {
  const TDupAckRecord* begin = records.Data();
  const TDupAckRecord* end = begin + count;
  const TDupAckRecord* at = std::lower_bound(
      begin, end, number, [](const TDupAckRecord& r, int32_t n) { return r.Frame < n; });
  return at != end && at->Frame == number ? at : nullptr;
}
}  // namespace

uint32_t TTCPAnalysis::DuplicateAckCount(int32_t number) const {
  const auto* r = FindDupAck(State_->DupAcks, State_->DupAckCount.load(std::memory_order_acquire), number);
  return r ? r->Count : 0;
}

int32_t TTCPAnalysis::DuplicatedAckFrame(int32_t number) const {
  const auto* r = FindDupAck(State_->DupAcks, State_->DupAckCount.load(std::memory_order_acquire), number);
  return r ? r->Of : 0;
}

std::string TTCPAnalysis::Reasons(int32_t number) const {
  const uint16_t verdict = Troubles(number);
  std::string text;
  for (int bit = 0; bit < TCPTroubleKinds; ++bit) {
    if (!(verdict & (1 << bit))) continue;
    if (!text.empty()) text += '\n';
    text += TCPTroubleName(bit);
    if ((1 << bit) == TCPDuplicateAck)
      text += " #" + std::to_string(DuplicateAckCount(number)) + " of frame " +
              std::to_string(DuplicatedAckFrame(number));
  }
  return text;
}

std::vector<TTCPConversationTrouble> TTCPAnalysis::Conversations() const {
  std::vector<TTCPConversationTrouble> out;
  for (size_t i = 0; i < State_->ConnectionCount; ++i) {
    const TConnection& c = State_->Connections[i];
    if (!c.Trouble) continue;
    TTCPConversationTrouble& t = out.emplace_back();
    TConversationStats& s = t.Conversation;
    const TPair pair = State_->Pair(c.Ends);
    s.A.Bytes = pair.A;
    s.B.Bytes = pair.B;
    s.A.Port = pair.PortA;
    s.B.Port = pair.PortB;
    s.A.Family = s.B.Family = pair.Family;
    s.FramesAToB = c.Frames[0];
    s.FramesBToA = c.Frames[1];
    s.BytesAToB = c.Bytes[0];
    s.BytesBToA = c.Bytes[1];
    s.FirstTime = c.FirstTime;
    s.LastTime = c.LastTime;
    s.FirstFrame = c.FirstFrame;
    t.Counts = State_->TroubleCounts[c.Trouble - 1];
    t.FirstTroubleFrame = State_->FirstTroubleFrames[c.Trouble - 1];
  }
  return out;
}

size_t TTCPAnalysis::Bytes() const {
  const TState& st = *State_;
  const size_t taken = size_t(Taken());
  return sizeof(TState) + st.Verdicts.CommittedBytes(taken) +
         st.DupAcks.CommittedBytes(st.DupAckCount.load(std::memory_order_relaxed)) +
         st.Connections.CommittedBytes(st.ConnectionCount) +
         st.IPv6Addresses.capacity() * sizeof(st.IPv6Addresses[0]) +
         st.TroubleCounts.capacity() * sizeof(st.TroubleCounts[0]) +
         st.FirstTroubleFrames.capacity() * sizeof(int32_t) +
         st.Slots.capacity() * 2 * sizeof(uint32_t);
}
