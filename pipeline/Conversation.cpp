#include "pipeline/Conversation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "pipeline/CapturePipeline.h"
#include "platform/Files.h"
#include "presentation/PayloadText.h"
#include "presentation/Views.h"

namespace {
constexpr uint8_t FinFlag = 0x01, SynFlag = 0x02, AckFlag = 0x10;

// What the follower needs of one frame of the conversation; the payload is found by the same
// routines as the payload pane's (TCPPayload, UDPPayload, CapturedWindow).
struct TSegment {
  int32_t Frame = 0;
  uint8_t Side = 0;
  uint8_t Flags = 0;
  uint32_t Seq = 0, Ack = 0;
  uint32_t Offset = 0;    // of the payload in the frame's captured bytes
  uint32_t Length = 0;    // as the header fields give it
  uint32_t Captured = 0;  // of those, the bytes within the captured frame
};

struct TParsed {
  TConversationEndpoint Source, Destination;
  TSegment Segment;
};

// The frame's IP addresses, when both were captured.
bool Addresses(const TPacketLayers& layers, TConversationEndpoint& source,
               TConversationEndpoint& destination) {
  const uint8_t* end = layers.End;
  if (layers.Network == TNetworkKind::IPv4) {
    const IP_HDR* ip = layers.IP();
    if (!Captured(ip->DstIP, end)) return false;
    std::copy_n(ip->SrcIP.b, 4, source.Address.begin());
    std::copy_n(ip->DstIP.b, 4, destination.Address.begin());
    source.Family = destination.Family = 4;
    return true;
  }
  if (layers.Network == TNetworkKind::IPv6) {
    const auto* ip = reinterpret_cast<const IPV6_HDR*>(layers.NetworkHeader);
    if (!Captured(ip->DstIP, end)) return false;
    std::copy_n(ip->SrcIP, 16, source.Address.begin());
    std::copy_n(ip->DstIP, 16, destination.Address.begin());
    source.Family = destination.Family = 6;
    return true;
  }
  return false;
}

bool Parse(const TFrame& frame, bool tcp, TParsed& parsed) {
  if (!frame.Readable) return false;
  const uint8_t* end = frame.DataEnd();
  const TPacketLayers layers = frame.Layers();
  parsed.Source = parsed.Destination = {};
  if (!Addresses(layers, parsed.Source, parsed.Destination)) return false;
  const uint8_t* payload = nullptr;
  int32_t length = 0;
  BE16 sourcePort{}, destinationPort{};
  TSegment& s = parsed.Segment;
  if (tcp) {
    const TCP_HDR* header = layers.TCP();
    // The flags are the last field the follower reads; they lie past sequence and acknowledgment.
    if (!header || !Captured(header->Rsvd_Flags, end)) return false;
    TCPPayload(layers, &payload, &length);
    sourcePort = header->SrcPort;
    destinationPort = header->DstPort;
    s.Seq = be32(header->Seq);
    s.Ack = be32(header->Ack);
    s.Flags = header->Rsvd_Flags;
  } else {
    const UDP_HDR* header = layers.UDP();
    if (!header || !Captured(header->Len, end)) return false;
    UDPPayload(layers, &payload, &length);
    sourcePort = header->SrcPort;
    destinationPort = header->DstPort;
  }
  parsed.Source.Port = be16(sourcePort);
  parsed.Destination.Port = be16(destinationPort);
  s.Frame = frame.Index;
  s.Length = payload && length > 0 ? uint32_t(length) : 0;
  s.Captured = 0;
  s.Offset = 0;
  if (s.Length) {
    const std::string_view bytes = CapturedWindow(frame.Data(), end, payload, 0, length);
    s.Captured = uint32_t(bytes.size());
    s.Offset = bytes.empty() ? 0 : uint32_t(reinterpret_cast<const uint8_t*>(bytes.data()) - frame.Data());
  }
  return true;
}

// Builds the chunk list, keeping each side's totals.
class TChunkWriter {
 public:
  explicit TChunkWriter(TConversation& conversation) : C_(conversation) {}
  void Data(uint8_t side, int32_t frame, uint32_t offset, uint32_t length) {
    if (!length) return;
    C_.Chunks.push_back({side, false, frame, offset, length});
    C_.Bytes[side] += length;
  }
  void Gap(uint8_t side, int32_t frame, uint64_t length) {
    if (!length) return;
    C_.Missing[side] += length;
    // Neighbouring gaps of one side read as one hole.
    if (!C_.Chunks.empty() && C_.Chunks.back().Gap && C_.Chunks.back().Side == side &&
        uint64_t(C_.Chunks.back().Length) + length <= UINT32_MAX) {
      C_.Chunks.back().Length += uint32_t(length);
      return;
    }
    for (; length > UINT32_MAX; length -= UINT32_MAX)
      C_.Chunks.push_back({side, true, frame, 0, UINT32_MAX});
    C_.Chunks.push_back({side, true, frame, 0, uint32_t(length)});
  }

 private:
  TConversation& C_;
};

// One direction of a TCP conversation. Positions are 64-bit byte numbers from the first byte
// of the direction, so that a stream longer than 4 GiB, or one whose sequence numbers wrap past
// 2^32, keeps its order.
class TDirection {
 public:
  TDirection(uint8_t side, TChunkWriter& out) : Side_(side), Out_(out) {}

  void Start(uint32_t firstByte) {
    Started_ = true;
    Base_ = firstByte;
  }
  bool Started() const { return Started_; }

  // The position of sequence number `seq`: the one nearest to the last position seen.
  int64_t Position(uint32_t seq) const {
    return Reference_ + int32_t(seq - uint32_t(Base_ + uint32_t(uint64_t(Reference_))));
  }

  void Segment(const TSegment& s) {
    if (!Started_) return;
    // A SYN takes a sequence number of its own: bytes it carries start after it.
    const int64_t start = Position(s.Flags & SynFlag ? s.Seq + 1 : s.Seq);
    if (s.Length) Reference_ = start;
    const int64_t end = start + s.Length;
    if (s.Flags & FinFlag && end > Next_) Waiting({start + s.Length, 0, 0, s.Frame, 0, true});
    if (!s.Length || end <= Next_) return;  // nothing, or only bytes already shown
    const TWaiting segment{start, s.Length, s.Captured, s.Frame, s.Offset, false};
    if (start > Next_) {
      Waiting(segment);
      return;
    }
    Deliver(segment);
    Drain();
  }

  // The other direction acknowledged `ack`: a hole in front of it was received, so whatever
  // the capture lacks of it is missing.
  void Acknowledged(uint32_t ack) {
    if (!Started_ || Waiting_.empty()) return;
    const int64_t acknowledged = Position(ack);
    while (!Waiting_.empty() && Next_ < acknowledged) {
      const TWaiting& first = Waiting_.begin()->second;
      const int64_t holeEnd = std::min(first.Start, acknowledged);
      Out_.Gap(Side_, first.Frame, uint64_t(holeEnd - Next_));
      Next_ = holeEnd;
      Drain();
    }
  }

  // The frame number of the first segment still waiting; 0 when none waits.
  int32_t FirstWaitingFrame() const { return Waiting_.empty() ? 0 : Waiting_.begin()->second.Frame; }
  // The capture ended: the holes still open are missing.
  void GiveUpFirstHole() {
    const TWaiting& first = Waiting_.begin()->second;
    if (first.Start > Next_) Out_.Gap(Side_, first.Frame, uint64_t(first.Start - Next_));
    Next_ = std::max(Next_, first.Start);
    Drain();
  }

 private:
  struct TWaiting {
    int64_t Start;
    uint32_t Length, Captured;
    int32_t Frame;
    uint32_t Offset;
    bool Fin;  // a FIN's position, which tells where the direction's bytes end
  };

  void Waiting(const TWaiting& segment) {
    auto [at, added] = Waiting_.try_emplace(segment.Start, segment);
    // Two segments from one position: the longer one covers the other.
    if (!added && segment.Length > at->second.Length) at->second = segment;
  }

  // Shows the bytes of `s` from the next position on; `s` starts at or before it.
  void Deliver(const TWaiting& s) {
    const int64_t end = s.Start + s.Length;
    if (end <= Next_) return;
    const int64_t skip = Next_ - s.Start;
    if (skip < int64_t(s.Captured))
      Out_.Data(Side_, s.Frame, s.Offset + uint32_t(skip), uint32_t(int64_t(s.Captured) - skip));
    Out_.Gap(Side_, s.Frame, uint64_t(end - std::max(Next_, s.Start + int64_t(s.Captured))));
    Next_ = end;
  }

  void Drain() {
    while (!Waiting_.empty() && Waiting_.begin()->first <= Next_) {
      const TWaiting s = Waiting_.begin()->second;
      Waiting_.erase(Waiting_.begin());
      if (!s.Fin) Deliver(s);
    }
  }

  uint8_t Side_;
  TChunkWriter& Out_;
  bool Started_ = false;
  uint32_t Base_ = 0;
  int64_t Next_ = 0;       // the first byte not shown yet
  int64_t Reference_ = 0;  // the position of the last segment with bytes
  std::map<int64_t, TWaiting> Waiting_;
};

// Where each direction's bytes begin: after its SYN, or at the lowest sequence number of a
// segment with bytes (a capture that began in the middle of a conversation).
void FindFirstBytes(const std::vector<TSegment>& segments, std::array<TDirection, 2>& directions) {
  std::array<bool, 2> syn{}, any{};
  std::array<uint32_t, 2> first{};
  std::array<int64_t, 2> lowest{};
  for (const TSegment& s : segments) {
    if (syn[s.Side]) continue;
    if (s.Flags & SynFlag) {
      syn[s.Side] = true;
      first[s.Side] = s.Seq + 1;
      continue;
    }
    if (!s.Length && !(s.Flags & FinFlag)) continue;
    if (!any[s.Side]) {
      any[s.Side] = true;
      first[s.Side] = s.Seq;
    }
    lowest[s.Side] = std::min<int64_t>(lowest[s.Side], int32_t(s.Seq - first[s.Side]));
  }
  for (uint8_t side = 0; side < 2; ++side) {
    if (syn[side])
      directions[side].Start(first[side]);
    else if (any[side])
      directions[side].Start(first[side] + uint32_t(lowest[side]));
  }
}

void FollowTCP(const std::vector<TSegment>& segments, TConversation& conversation) {
  TChunkWriter out(conversation);
  std::array<TDirection, 2> directions{TDirection(0, out), TDirection(1, out)};
  FindFirstBytes(segments, directions);
  for (const TSegment& s : segments) {
    // The acknowledged bytes were sent before this frame: their holes go first.
    if (s.Flags & AckFlag) directions[1 - s.Side].Acknowledged(s.Ack);
    directions[s.Side].Segment(s);
  }
  for (;;) {
    const int32_t a = directions[0].FirstWaitingFrame(), b = directions[1].FirstWaitingFrame();
    if (!a && !b) break;
    directions[!a || (b && b < a) ? 1 : 0].GiveUpFirstHole();
  }
}

// A port pair may carry one connection after another: a SYN without ACK and with a new
// initial sequence number opens the next (a repeated SYN keeps its number), and so do the first
// SYN after frames of a connection the capture caught in the middle. Only the connection that
// holds frame `selected` is followed; its first frame decides which side is A.
void KeepConnectionOf(int32_t selected, std::vector<TSegment>& segments,
                      TConversation& conversation) {
  size_t begin = 0, end = segments.size();
  bool opened = false;
  uint32_t initial = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    const TSegment& s = segments[i];
    if ((s.Flags & (SynFlag | AckFlag)) != SynFlag) continue;
    if (i > begin && (!opened || s.Seq != initial)) {
      if (s.Frame > selected) {
        end = i;
        break;
      }
      begin = i;
    }
    opened = true;
    initial = s.Seq;
  }
  if (begin == 0 && end == segments.size()) return;
  segments = std::vector<TSegment>(segments.begin() + ptrdiff_t(begin), segments.begin() + ptrdiff_t(end));
  if (segments.front().Side == 1) {
    std::swap(conversation.Sides[0], conversation.Sides[1]);
    for (TSegment& s : segments) s.Side = uint8_t(1 - s.Side);
  }
}

void FollowUDP(const std::vector<TSegment>& datagrams, TConversation& conversation) {
  TChunkWriter out(conversation);
  for (const TSegment& d : datagrams) {
    out.Data(d.Side, d.Frame, d.Offset, d.Captured);
    out.Gap(d.Side, d.Frame, d.Length - d.Captured);
  }
}
}  // namespace

std::optional<TConversation> FollowConversation(const TCapturePipeline& capture,
                                                const TFrame& frame) {
  TParsed selected;
  bool tcp = true;
  if (!Parse(frame, true, selected)) {
    tcp = false;
    if (!Parse(frame, false, selected)) return std::nullopt;
  }
  TConversation conversation;
  conversation.TCP = tcp;
  const TConversationEndpoint one = selected.Source, other = selected.Destination;
  std::vector<TSegment> segments;
  const TPacketList list = capture.Items(tcp ? viTCP : viUDP);
  TParsed parsed;
  for (size_t row = 0; row < list.size(); ++row) {
    list.Prefetch(row + 16);
    if (!Parse(list[row], tcp, parsed)) continue;
    const bool forward = parsed.Source == one && parsed.Destination == other;
    if (!forward && !(parsed.Source == other && parsed.Destination == one)) continue;
    if (segments.empty()) conversation.Sides = {parsed.Source, parsed.Destination};
    parsed.Segment.Side = parsed.Source == conversation.Sides[0] ? 0 : 1;
    segments.push_back(parsed.Segment);
  }
  if (segments.empty()) {
    // A frame that no list of this capture holds: it is its own conversation.
    conversation.Sides = {selected.Source, selected.Destination};
    segments.push_back(selected.Segment);
  }
  if (tcp) KeepConnectionOf(selected.Segment.Frame, segments, conversation);
  conversation.Frames = int64_t(segments.size());
  if (tcp)
    FollowTCP(segments, conversation);
  else
    FollowUDP(segments, conversation);
  return conversation;
}

std::string_view ChunkBytes(const TFrameStore& store, const TConversationChunk& chunk) {
  if (chunk.Gap) return {};
  const TFrame frame = store.Frame(chunk.Frame);
  if (!frame.Readable || uint64_t(chunk.Offset) + chunk.Length > frame.PktHdr.caplen) return {};
  return {reinterpret_cast<const char*>(frame.Data() + chunk.Offset), chunk.Length};
}

// ---- Texts ------------------------------------------------------------------------------------

std::string EndpointText(const TConversationEndpoint& endpoint) {
  std::string text;
  if (endpoint.Family == 6) {
    text.push_back('[');
    IPv6Text(endpoint.Address.data(), text);
    text.push_back(']');
  } else {
    const auto& a = endpoint.Address;
    text = IPToStr(uint32_t(a[0]) << 24 | uint32_t(a[1]) << 16 | uint32_t(a[2]) << 8 | a[3]);
  }
  return text + ":" + std::to_string(endpoint.Port);
}

std::string DirectionText(const TConversation& conversation, int side, std::string_view arrow) {
  std::string text = EndpointText(conversation.Sides[size_t(side)]);
  text += arrow;
  text += EndpointText(conversation.Sides[size_t(1 - side)]);
  return text;
}

std::string ChunkHeading(const TConversation& conversation, const TConversationChunk& chunk) {
  return std::string(chunk.Side ? "<<< " : ">>> ") + DirectionText(conversation, chunk.Side) +
         " (frame " + std::to_string(chunk.Frame) + ", " + std::to_string(chunk.Length) +
         " bytes)";
}

std::string GapText(uint64_t bytes) { return "... " + std::to_string(bytes) + " bytes missing ..."; }

// ---- Saving -----------------------------------------------------------------------------------

namespace {
bool WriteConversation(const TFrameStore& store, const TConversation& conversation,
                       TConversationPart part, const std::string& path) {
  // Written beside the target and renamed over it once whole, as every save is: a failed save
  // leaves no part of a file, and the old one if there was one.
  platform::TFileBeside file;
  if (!file.Create(path)) return false;
  std::string pending;
  constexpr size_t WriteSize = size_t(1) << 20;
  for (const TConversationChunk& chunk : conversation.Chunks) {
    if ((part == TConversationPart::SideA && chunk.Side != 0) ||
        (part == TConversationPart::SideB && chunk.Side != 1))
      continue;
    pending.append(ChunkBytes(store, chunk));
    if (pending.size() >= WriteSize) {
      if (!file.Write(pending)) return false;
      pending.clear();
    }
  }
  return file.Write(pending) && file.Commit();
}
}  // namespace

bool SaveConversation(const TFrameStore& store, const TConversation& conversation,
                      TConversationPart part, const std::string& path, std::string& error) {
  if (WriteConversation(store, conversation, part, path)) return true;
  error = path + ": " + std::strerror(errno);
  return false;
}
