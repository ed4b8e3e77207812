#pragma once
// Following a conversation: the payload of both directions of one TCP or UDP conversation
// (same address and port pair, either orientation), in the order a user reads it. The window's
// Follow Stream and `trellan-rows --follow` show what is built here; nothing here knows a widget.
//
// The result refers to the capture's frames (frame number, offset, length) instead of copying
// their bytes, so a conversation of hundreds of megabytes costs a few bytes a segment; the
// bytes are read back from the store when they are shown or saved.
//
// TCP, per direction: the bytes start at the SYN's sequence number + 1 when the SYN was
// captured, else at the lowest sequence number seen. Segments are placed by sequence number
// (modulo 2^32), and a byte already shown (a retransmission, an overlap) is shown once.
// Directions are interleaved in capture order: a chunk appears where the frame that made its
// bytes the next ones of their direction was captured. A segment that arrives ahead of a hole
// waits for the hole to be filled (a reordered or retransmitted segment then fills it in place).
// The hole is given up and shown as missing bytes as soon as the other direction acknowledges
// bytes past it (the receiver had them, only the capture missed them), or at the end of the
// capture. Bytes a frame carried past its captured length (a snapshot length cut) are missing
// at once: a capture that cuts one segment cuts its retransmissions too.
//
// A port pair that carries one TCP connection after another (a new SYN with a new initial
// sequence number) is as many conversations: the one of the selected frame is followed.
//
// UDP: every datagram of the pair in capture order; bytes cut by the snapshot length are
// missing.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/FrameStore.h"

class TCapturePipeline;

struct TConversationEndpoint {
  // An IPv4 address in its first four bytes (Family 4), or an IPv6 address (Family 6), as
  // the frame holds it.
  std::array<uint8_t, 16> Address{};
  uint8_t Family = 4;
  uint16_t Port = 0;
  bool operator==(const TConversationEndpoint&) const = default;
};

// One piece of a followed conversation: Length bytes of frame Frame's captured bytes from
// Offset, sent by side Side; or, for a gap, Length bytes of that side that were not captured
// (Frame is then the frame at which they were found missing).
struct TConversationChunk {
  uint8_t Side = 0;  // 0: side A, the source of the conversation's first frame; 1: side B
  bool Gap = false;
  int32_t Frame = 0;
  uint32_t Offset = 0;
  uint32_t Length = 0;
};

struct TConversation {
  bool TCP = true;  // false: UDP
  // Sides[0] is side A ("client"): the source of the first frame of the conversation in
  // capture order.
  std::array<TConversationEndpoint, 2> Sides{};
  std::vector<TConversationChunk> Chunks;
  // Bytes shown and bytes missing, per side.
  std::array<uint64_t, 2> Bytes{};
  std::array<uint64_t, 2> Missing{};
  // Frames of the conversation, payload or not.
  int64_t Frames = 0;
};

// The conversation of `frame`, a frame of `capture`; nothing when the frame is not TCP or UDP
// over IPv4 or IPv6 or its ports were not captured. Only the TCP view's list (or the UDP view's) is scanned.
std::optional<TConversation> FollowConversation(const TCapturePipeline& capture,
                                                const TFrame& frame);

// The bytes of a chunk, read from the store; empty for a gap or a frame no longer readable.
std::string_view ChunkBytes(const TFrameStore& store, const TConversationChunk& chunk);

// ---- Texts shared by trellan-rows --follow and the Follow Stream window ------------------------

// "10.0.0.1:40000"; "[2001:db8::1]:80" for IPv6.
std::string EndpointText(const TConversationEndpoint& endpoint);
// "10.0.0.1:40000 -> 10.0.0.2:80" for side 0; the other way round for side 1.
std::string DirectionText(const TConversation& conversation, int side,
                          std::string_view arrow = " -> ");
// ">>> 10.0.0.1:40000 -> 10.0.0.2:80 (frame 12, 517 bytes)", "<<< ..." for side B.
std::string ChunkHeading(const TConversation& conversation, const TConversationChunk& chunk);
// "... 1460 bytes missing ...".
std::string GapText(uint64_t bytes);
// "517 bytes", or "517 bytes, 1460 missing", with `number` giving the digits.
template <class TNumberText>
std::string SideBytesText(const TConversation& conversation, int side, TNumberText number) {
  std::string text = number(conversation.Bytes[size_t(side)]) + " bytes";
  if (conversation.Missing[size_t(side)])
    text += ", " + number(conversation.Missing[size_t(side)]) + " missing";
  return text;
}

// ---- Saving -----------------------------------------------------------------------------------

// Which bytes a save writes: both sides in the shown order, or one side alone.
enum class TConversationPart { Both, SideA, SideB };
// Writes the raw bytes of `part` to `path` (no markers, gaps left out). False, with `error`
// as "PATH: reason", when the file cannot be written.
bool SaveConversation(const TFrameStore& store, const TConversation& conversation,
                      TConversationPart part, const std::string& path, std::string& error);
