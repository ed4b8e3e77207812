// TCP analysis: a crafted capture with every kind of trouble, judged by the program and by
// tshark, frame by frame.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <tuple>

#include "pipeline/CapturePipeline.h"
#include "pipeline/TCPAnalysis.h"
#include "tests/common/Frames.h"
#include "tests/common/Process.h"

namespace {
constexpr uint8_t F = 0x01, S = 0x02, R = 0x04, P = 0x08, A = 0x10;

struct TStep {
  bool fromServer;
  int ms;  // since the step before
  uint32_t seq, ack;
  uint8_t flags;
  uint16_t window;
  int length;
  int scale;  // window scale option of a SYN, -1 none
  uint16_t expected;
  uint32_t dupCount = 0;
  int32_t dupOf = 0;
};

// tshark's verdict per frame, in the program's bits, and its duplicate-ACK fields.
std::map<int32_t, std::tuple<uint16_t, uint32_t, int32_t>> TsharkVerdicts(const std::string& file) {
  const char* fields[] = {"retransmission", "fast_retransmission", "out_of_order",
                          "lost_segment",   "duplicate_ack",       "zero_window",
                          "window_full",    "keep_alive"};
  std::string command = "tshark -r '" + file + "' -T fields -E separator=/t -e frame.number";
  for (const char* f : fields) command += std::string(" -e tcp.analysis.") + f;
  command += " -e tcp.flags.reset -e tcp.analysis.duplicate_ack_num -e tcp.analysis.duplicate_ack_frame";
  std::map<int32_t, std::tuple<uint16_t, uint32_t, int32_t>> verdicts;
  std::istringstream lines(Output(command));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, '\t');) cells.push_back(cell);
    cells.resize(12);
    uint16_t bits = 0;
    for (int bit = 0; bit < 8; ++bit) bits |= uint16_t(!cells[size_t(bit) + 1].empty()) << bit;
    if (cells[9] == "1" || cells[9] == "True") bits |= TCPReset;
    verdicts[std::stoi(cells[0])] = {bits, cells[10].empty() ? 0 : std::stoul(cells[10]),
                                     cells[11].empty() ? 0 : std::stoi(cells[11])};
  }
  return verdicts;
}
}  // namespace

TEST(TCPAnalysis, EveryKindOfTroubleIsJudgedAsTsharkJudgesIt) {
  // One client port: a connection with window scaling (client 2, server 3, an initial RTT of
  // 20 ms, the out-of-order threshold), then a new connection on the same ports.
  const std::vector<TStep> steps = {
      {false, 0, 1000, 0, S, 65535, 0, 2, 0},
      {true, 10, 5000, 1001, S | A, 65535, 0, 3, 0},
      {false, 10, 1001, 5001, A, 1000, 0, -1, 0},
      {false, 1, 1001, 5001, P | A, 1000, 100, -1, 0},
      {false, 1, 1101, 5001, P | A, 1000, 100, -1, 0},
      {false, 100, 1101, 5001, P | A, 1000, 100, -1, TCPRetransmission},
      {true, 1, 5001, 1201, A, 2000, 0, -1, 0},  // frame 7
      {false, 1, 1301, 5001, P | A, 1000, 100, -1, TCPPreviousSegmentNotCaptured},
      {true, 1, 5001, 1201, A, 2000, 0, -1, TCPDuplicateAck, 1, 7},
      {true, 1, 5001, 1201, A, 2000, 0, -1, TCPDuplicateAck, 2, 7},
      {true, 1, 5001, 1201, A, 2000, 0, -1, TCPDuplicateAck, 3, 7},
      {false, 1, 1201, 5001, P | A, 1000, 100, -1, TCPRetransmission | TCPFastRetransmission},
      {true, 1, 5001, 1401, A, 2000, 0, -1, 0},
      // Within the threshold and not ending at the next expected byte, but acknowledged
      // already: tshark calls that a (spurious) retransmission before it looks at the timing.
      {false, 1, 1201, 5001, P | A, 1000, 100, -1, TCPRetransmission},
      {false, 1, 1501, 5001, P | A, 1000, 100, -1, TCPPreviousSegmentNotCaptured},
      {false, 5, 1401, 5001, P | A, 1000, 100, -1, TCPOutOfOrder},
      {true, 1, 5001, 1601, A, 2000, 0, -1, 0},
      {false, 1, 1600, 5001, A, 1000, 0, -1, TCPKeepAlive},
      // The keep-alive's ACK repeats the last ACK without being a duplicate.
      {true, 1, 5001, 1601, A, 2000, 0, -1, 0},
      {false, 1, 1600, 5001, A, 1000, 1, -1, TCPKeepAlive},
      {true, 1, 5001, 1601, A, 0, 0, -1, TCPZeroWindow},
      {true, 1, 5001, 1601, A, 10, 0, -1, 0},  // a window update: 10 << 3 bytes
      {false, 1, 1601, 5001, P | A, 1000, 80, -1, TCPWindowFull},
      {false, 1, 1681, 0, R, 0, 0, -1, TCPReset},
      // The ports reused: read against the old state, this SYN would be out of order and
      // the data behind it a lost segment.
      {false, 1000, 90000, 0, S, 65535, 0, 1, 0},
      {true, 10, 70000, 90001, S | A, 65535, 0, 1, 0},
      {false, 10, 90001, 70001, A, 1000, 0, -1, 0},
      {false, 1, 90001, 70001, P | A, 1000, 100, -1, 0},
      {true, 1, 70001, 90101, F | A, 1000, 0, -1, 0},
  };
  TempDir dir;
  std::vector<Record> records;
  int64_t us = 0;
  for (const TStep& s : steps) {
    us += s.ms * 1000;
    TCPFields t{40000, 80, s.seq, s.ack, s.flags, s.window, 0, {}};
    if (s.scale >= 0) t.options = {1, 3, 3, uint8_t(s.scale)};
    IPv4Fields ip;
    if (s.fromServer) {
      std::swap(ip.src, ip.dst);
      std::swap(t.srcPort, t.dstPort);
    }
    records.push_back({int32_t(1000000000 + us / 1000000), int32_t(us % 1000000),
                       TcpFrame(t, Bytes(size_t(s.length), 'x'), ip)});
  }
  const std::string file = dir.File("trouble.pcap");
  WritePcap(file, records);
  TCapturePipeline capture;
  std::string error;
  ASSERT_EQ(capture.ReadFile(file, "", error), TCapturePipeline::TReadResult::Complete) << error;
  TTCPAnalysis analysis;
  ASSERT_TRUE(analysis.TakeIn(capture.Store(), capture.Store().Count()));
  ASSERT_EQ(analysis.Taken(), int32_t(steps.size()));

  std::array<uint64_t, TCPTroubleKinds> counts{};
  for (int32_t n = 1; n <= analysis.Taken(); ++n) {
    const TStep& s = steps[size_t(n - 1)];
    EXPECT_EQ(analysis.Troubles(n), s.expected) << "frame " << n << ": " << analysis.Reasons(n);
    EXPECT_EQ(analysis.DuplicateAckCount(n), s.dupCount) << "frame " << n;
    EXPECT_EQ(analysis.DuplicatedAckFrame(n), s.dupOf) << "frame " << n;
    for (int bit = 0; bit < TCPTroubleKinds; ++bit) counts[size_t(bit)] += s.expected >> bit & 1;
  }
  EXPECT_EQ(analysis.Counts(), counts);
  EXPECT_EQ(analysis.Reasons(11), "Duplicate ACK #3 of frame 7");
  EXPECT_EQ(analysis.Reasons(12), "Retransmission\nFast retransmission");
  // The old connection holds every trouble; the new one on the same ports has none.
  const auto conversations = analysis.Conversations();
  ASSERT_EQ(conversations.size(), 1u);
  EXPECT_EQ(conversations[0].Conversation.Frames(), 24u);
  EXPECT_EQ(conversations[0].FirstTroubleFrame, 6);

  if (std::system("command -v tshark >/dev/null") != 0) GTEST_SKIP() << "tshark is the judge";
  const auto tshark = TsharkVerdicts(file);
  ASSERT_EQ(tshark.size(), steps.size());
  for (const auto& [n, verdict] : tshark) {
    EXPECT_EQ(analysis.Troubles(n), std::get<0>(verdict)) << "frame " << n;
    EXPECT_EQ(analysis.DuplicateAckCount(n), std::get<1>(verdict)) << "frame " << n;
    EXPECT_EQ(analysis.DuplicatedAckFrame(n), std::get<2>(verdict)) << "frame " << n;
  }
}
