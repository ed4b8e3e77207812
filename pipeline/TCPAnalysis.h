#pragma once
// TCP trouble, judged segment by segment as the tools users compare Trellan with judge it:
// retransmissions, fast retransmissions, out-of-order segments, segments whose predecessor was
// not captured, duplicate ACKs, zero and full windows, keep-alives and resets. The TCP and TCP
// Data views tint the rows of such segments and give the reasons as their tool tip; the cell
// texts do not change. Statistics > TCP Analysis and `trellan-rows --tcp-analysis` list them.
//
// Every frame is decoded as deeply as the program can (link types, VLAN, IPv6), whatever the
// views' decoding. Frames are taken in once, in capture order; a running capture's new frames
// are taken in by a later TakeIn. The verdicts cost two bytes a frame, the per-connection
// state a few dozen bytes a connection.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/FrameStore.h"
#include "pipeline/TrafficStatistics.h"

// The kinds of trouble, as bits of a frame's verdict.
enum TTCPTrouble : uint16_t {
  TCPRetransmission = 1 << 0,
  TCPFastRetransmission = 1 << 1,
  TCPOutOfOrder = 1 << 2,
  TCPPreviousSegmentNotCaptured = 1 << 3,
  TCPDuplicateAck = 1 << 4,
  TCPZeroWindow = 1 << 5,
  TCPWindowFull = 1 << 6,
  TCPKeepAlive = 1 << 7,
  TCPReset = 1 << 8,
};
constexpr int TCPTroubleKinds = 9;
// The kind of bit `bit` (0 to TCPTroubleKinds - 1): "Retransmission", "Fast retransmission",
// "Out-of-order", "Previous segment not captured", "Duplicate ACK", "Zero window",
// "Window full", "Keep-alive", "Reset".
const char* TCPTroubleName(int bit);

// One TCP connection's troubles, for Statistics > TCP Analysis.
struct TTCPConversationTrouble {
  TConversationStats Conversation;  // its addresses, ports, frames and bytes
  std::array<uint32_t, TCPTroubleKinds> Counts{};
  int32_t FirstTroubleFrame = 0;    // the first frame with any trouble
};

class TTCPAnalysis {
 public:
  TTCPAnalysis();
  ~TTCPAnalysis();
  TTCPAnalysis(const TTCPAnalysis&) = delete;
  TTCPAnalysis& operator=(const TTCPAnalysis&) = delete;

  // Takes in frames Taken() + 1 to `count` of `store`. False when `progress` (frames taken
  // in, of count) stopped it; a later call goes on from there.
  bool TakeIn(const TFrameStore& store, int32_t count,
              const std::function<bool(int64_t, int64_t)>& progress = {});
  int32_t Taken() const { return Taken_.load(std::memory_order_acquire); }

  // The verdict of frame `number` (TTCPTrouble bits); 0 for a frame without trouble, one that
  // is not TCP, or one not taken in yet. Safe from another thread for frames below Taken().
  uint16_t Troubles(int32_t number) const;
  // A duplicate ACK's count (1 for the first duplicate) and the frame whose ACK it repeats.
  uint32_t DuplicateAckCount(int32_t number) const;
  int32_t DuplicatedAckFrame(int32_t number) const;
  // The reasons as a row's tool tip says them, one a line: "Retransmission",
  // "Duplicate ACK #2 of frame 17", ...; empty without trouble.
  std::string Reasons(int32_t number) const;

  // Frames with each kind of trouble, by bit.
  const std::array<uint64_t, TCPTroubleKinds>& Counts() const { return Counts_; }
  // The connections with trouble, in the order of their first frame.
  std::vector<TTCPConversationTrouble> Conversations() const;
  // Memory held, for the benchmarks.
  size_t Bytes() const;

 private:
  struct TState;
  // Judges one frame, the next in capture order.
  void Judge(const TFrame& frame);
  // Published with a release store after each frame's verdict is written.
  std::atomic<int32_t> Taken_{0};
  std::array<uint64_t, TCPTroubleKinds> Counts_{};
  std::unique_ptr<TState> State_;
};
