// Following a conversation: a real TCP connection on the loopback adapter captured while the
// test talks over it, and a crafted capture with reordering, retransmissions, a lost and a cut
// segment, sequence numbers wrapping past 2^32, a UDP exchange and other traffic of the same
// hosts.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "pipeline/CapturePipeline.h"
#include "pipeline/Conversation.h"
#include "presentation/Views.h"
#include "tests/common/Conversations.h"
#include "tests/common/Rpcapd.h"

namespace {
std::string SideBytes(const TCapturePipeline& capture, const TConversation& c, int side) {
  std::string bytes;
  for (const auto& chunk : c.Chunks)
    if (chunk.Side == side) bytes.append(ChunkBytes(capture.Store(), chunk));
  return bytes;
}

// The row of `view` that shows frame `number`.
TFrame FrameOf(const TCapturePipeline& capture, int32_t view, int32_t number) {
  const TPacketList list = capture.Items(view);
  for (size_t row = 0; row < list.size(); ++row)
    if (list[row].Index == number) return list[row];
  return {};
}


bool SendAll(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

std::string ReceiveExactly(int fd, size_t count) {
  std::string bytes(count, '\0');
  for (size_t done = 0; done < count;) {
    const ssize_t n = recv(fd, bytes.data() + done, count - done, 0);
    if (n <= 0) return bytes.substr(0, done);
    done += size_t(n);
  }
  return bytes;
}

// Captures TCP port `port` on lo into `path` until both FINs of a connection have been seen.
class TLoopbackRecorder {
 public:
  TLoopbackRecorder(const std::string& path, uint16_t port) {
    char error[PCAP_ERRBUF_SIZE];
    Pcap_ = pcap_create("lo", error);
    if (!Pcap_) return;
    pcap_set_snaplen(Pcap_, 262144);
    pcap_set_immediate_mode(Pcap_, 1);
    pcap_set_buffer_size(Pcap_, 64 << 20);
    pcap_set_timeout(Pcap_, 20);
    bpf_program program{};
    if (pcap_activate(Pcap_) < 0 ||
        pcap_compile(Pcap_, &program, ("tcp port " + std::to_string(port)).c_str(), 1,
                     PCAP_NETMASK_UNKNOWN) != 0)
      return;
    pcap_setfilter(Pcap_, &program);
    pcap_freecode(&program);
    Dumper_ = pcap_dump_open(Pcap_, path.c_str());
    if (Dumper_) Thread_ = std::thread([this] { Run(); });
  }
  ~TLoopbackRecorder() { Finish(); }
  bool Ok() const { return Dumper_ != nullptr; }
  // Waits for the FINs (a generous deadline keeps a broken run from hanging) and closes the file.
  bool Finish() {
    if (Thread_.joinable()) Thread_.join();
    if (Dumper_) pcap_dump_close(Dumper_);
    if (Pcap_) pcap_close(Pcap_);
    Dumper_ = nullptr;
    Pcap_ = nullptr;
    return Fins_ >= 2;
  }

 private:
  void Run() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Fins_ < 2 && std::chrono::steady_clock::now() < deadline)
      pcap_dispatch(Pcap_, -1, [](u_char* self, const pcap_pkthdr* h, const u_char* bytes) {
        auto* me = reinterpret_cast<TLoopbackRecorder*>(self);
        pcap_dump(reinterpret_cast<u_char*>(me->Dumper_), h, bytes);
        const size_t tcp = 14 + size_t(bytes[14] & 0x0F) * 4;
        if (h->caplen > tcp + 13 && bytes[tcp + 13] & 0x01) ++me->Fins_;
      }, reinterpret_cast<u_char*>(this));
  }
  pcap_t* Pcap_ = nullptr;
  pcap_dumper_t* Dumper_ = nullptr;
  std::thread Thread_;
  int Fins_ = 0;
};
}  // namespace

TEST(Conversation, FollowsALoopbackConnectionAsEachSideSentIt) {
  std::string error;
  if (!RunningAsRoot()) GTEST_SKIP() << "capturing on lo needs root";
  TempDir dir;
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string file = dir.File("loopback.pcap");
  TLoopbackRecorder recorder(file, ntohs(address.sin_port));
  ASSERT_TRUE(recorder.Ok());

  std::vector<std::string> requests, answers;
  for (int i = 0; i < 3; ++i) {
    requests.push_back("GET /item/" + std::to_string(i) + " HTTP/1.1\r\n\r\n");
    answers.push_back("HTTP/1.1 200 OK\r\n\r\n" + std::string(3000 * (i + 1), char('x' + i)));
  }
  std::string bulk(1 << 20, '\0');
  for (size_t i = 0; i < bulk.size(); ++i) bulk[i] = char(i * 7 % 251);
  std::thread server([&] {
    const int fd = accept(listener, nullptr, nullptr);
    for (int i = 0; i < 3; ++i) {
      ReceiveExactly(fd, requests[size_t(i)].size());
      SendAll(fd, answers[size_t(i)]);
    }
    ReceiveExactly(fd, bulk.size());
    SendAll(fd, "done");
    ReceiveExactly(fd, 1);  // the client's close
    close(fd);
  });
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::string received;
  for (int i = 0; i < 3; ++i) {
    SendAll(client, requests[size_t(i)]);
    received += ReceiveExactly(client, answers[size_t(i)].size());
  }
  SendAll(client, bulk);
  received += ReceiveExactly(client, 4);
  close(client);
  server.join();
  close(listener);
  ASSERT_TRUE(recorder.Finish()) << "the capture never saw both FINs";

  TCapturePipeline capture;
  ASSERT_EQ(capture.ReadFile(file, "", error), TCapturePipeline::TReadResult::Complete);
  const TPacketList rows = capture.Items(viTCPData);
  ASSERT_GT(rows.size(), 10u);
  const auto conversation = FollowConversation(capture, rows[rows.size() / 2]);
  ASSERT_TRUE(conversation);
  const std::string clientSent = requests[0] + requests[1] + requests[2] + bulk;
  const std::string serverSent = answers[0] + answers[1] + answers[2] + "done";
  ASSERT_TRUE(received == serverSent);
  EXPECT_EQ(ntohs(address.sin_port), conversation->Sides[1].Port) << "the client is side A";
  EXPECT_TRUE(SideBytes(capture, *conversation, 0) == clientSent);
  EXPECT_TRUE(SideBytes(capture, *conversation, 1) == serverSent);
  EXPECT_EQ(conversation->Bytes[0], clientSent.size());
  EXPECT_EQ(conversation->Bytes[1], serverSent.size());
  EXPECT_EQ(conversation->Missing[0] + conversation->Missing[1], 0u);
  // Request, answer, three times, then the upload and its answer: eight turns in order.
  int turns = 0;
  for (size_t i = 0; i < conversation->Chunks.size(); ++i)
    if (i == 0 || conversation->Chunks[i].Side != conversation->Chunks[i - 1].Side) ++turns;
  EXPECT_EQ(turns, 8);
}

TEST(Conversation, ReordersDropsRepeatsAndMarksWhatTheCaptureLacks) {
  std::string error;
  namespace F = ConversationFrames;
  TempDir dir;
  const std::string file = dir.File("conversations.pcap");
  WritePcap(file, ConversationCapture());
  TCapturePipeline capture;
  ASSERT_EQ(capture.ReadFile(file, "", error), TCapturePipeline::TReadResult::Complete);

  // Followed from a server frame in the middle: the client, which sent the first frame, is A.
  const auto tcp = FollowConversation(capture, FrameOf(capture, viTCP, F::ServerFirst));
  ASSERT_TRUE(tcp);
  EXPECT_TRUE(tcp->TCP);
  EXPECT_EQ(EndpointText(tcp->Sides[0]), "10.0.0.1:40000");
  EXPECT_EQ(EndpointText(tcp->Sides[1]), "10.0.0.2:80");
  struct Expected {
    int side;
    bool gap;
    int32_t frame;
    uint32_t length;
  };
  const std::vector<Expected> expected = {
      {0, false, 5, 200},          {0, false, F::FillsHole, 200}, {0, false, F::OutOfOrder, 200},
      {0, false, F::Overlap, 100}, {1, false, F::ServerFirst, 300}, {1, true, F::ServerAhead, 300},
      {1, false, F::ServerAhead, 300}, {1, false, F::ServerCut, 200}, {1, true, F::ServerCut, 300}};
  ASSERT_EQ(tcp->Chunks.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const TConversationChunk& c = tcp->Chunks[i];
    EXPECT_EQ(std::make_tuple(int(c.Side), c.Gap, c.Frame, c.Length),
              std::make_tuple(expected[i].side, expected[i].gap, expected[i].frame,
                              expected[i].length))
        << "chunk " << i;
  }
  EXPECT_EQ(SideBytes(capture, *tcp, 0), ClientStream(0, 700));
  EXPECT_EQ(SideBytes(capture, *tcp, 1), ServerStream(0, 300) + ServerStream(600, 1100));
  EXPECT_EQ(tcp->Bytes, (std::array<uint64_t, 2>{700, 800}));
  EXPECT_EQ(tcp->Missing, (std::array<uint64_t, 2>{0, 600}));
  EXPECT_EQ(tcp->Frames, 14);  // the other connection's frames 4 and 14 are not in it

  const auto udp = FollowConversation(capture, FrameOf(capture, viUDP, F::UDPAnswer));
  ASSERT_TRUE(udp);
  EXPECT_FALSE(udp->TCP);
  EXPECT_EQ(DirectionText(*udp, 0), "10.0.0.1:5000 -> 10.0.0.2:53");
  ASSERT_EQ(udp->Chunks.size(), 4u);
  EXPECT_EQ(SideBytes(capture, *udp, 0), "query" + std::string(60, 'q'));
  EXPECT_EQ(SideBytes(capture, *udp, 1), "answer");
  EXPECT_TRUE(udp->Chunks[3].Gap);
  EXPECT_EQ(udp->Missing, (std::array<uint64_t, 2>{40, 0}));

  // Saved: the raw bytes of the chosen sides, no markers; an unwritable path says why.
  const std::string saved = dir.File("stream.bin");
  ASSERT_TRUE(SaveConversation(capture.Store(), *tcp, TConversationPart::Both, saved, error));
  std::string both;
  for (const auto& c : tcp->Chunks) both.append(ChunkBytes(capture.Store(), c));
  EXPECT_EQ(FileContents(saved), both);
  ASSERT_TRUE(SaveConversation(capture.Store(), *tcp, TConversationPart::SideB, saved, error));
  EXPECT_EQ(FileContents(saved), SideBytes(capture, *tcp, 1));
  errno = 0;
  EXPECT_FALSE(SaveConversation(capture.Store(), *tcp, TConversationPart::Both,
                                dir.File("no/such/folder"), error));
  EXPECT_EQ(errno, ENOENT);
  ASSERT_TRUE(std::filesystem::exists("/dev/full"));
  EXPECT_FALSE(
      SaveConversation(capture.Store(), *tcp, TConversationPart::Both, "/dev/full", error));
  EXPECT_EQ(error, "/dev/full: No space left on device");
  EXPECT_EQ(errno, ENOSPC);
}

TEST(Conversation, APortPairUsedAgainIsANewConnection) {
  std::string error;
  // Two connections from 10.0.0.1:40000 to 10.0.0.2:80, one after the other; the second's SYN
  // is sent twice, as a client does when the first goes unanswered.
  IPv4Fields client, server;
  client.src = server.dst = Ip("10.0.0.1");
  client.dst = server.src = Ip("10.0.0.2");
  auto segment = [&](bool fromClient, uint32_t seq, uint32_t ack, uint8_t flags,
                     const std::string& payload) {
    TCPFields t;
    t.srcPort = fromClient ? 40000 : 80;
    t.dstPort = fromClient ? 80 : 40000;
    t.seq = seq;
    t.ack = ack;
    t.flags = flags;
    Record r;
    r.frame = TcpFrame(t, Text(payload), fromClient ? client : server);
    return r;
  };
  const std::vector<Record> records = {
      segment(true, 1000, 0, 0x02, ""),            // 1 first connection
      segment(false, 7000, 1001, 0x12, ""),        // 2
      segment(true, 1001, 7001, 0x18, "first"),    // 3
      segment(false, 7001, 1006, 0x18, "one"),     // 4
      segment(true, 1006, 7004, 0x11, ""),         // 5 FIN
      segment(true, 5000, 0, 0x02, ""),            // 6 second connection
      segment(true, 5000, 0, 0x02, ""),            // 7 its SYN again
      segment(false, 9000, 5001, 0x12, ""),        // 8
      segment(true, 5001, 9001, 0x18, "second"),   // 9
      segment(false, 9001, 5007, 0x18, "two"),     // 10
  };
  TempDir dir;
  const std::string file = dir.File("reused.pcap");
  WritePcap(file, records);
  TCapturePipeline capture;
  ASSERT_EQ(capture.ReadFile(file, "", error), TCapturePipeline::TReadResult::Complete);

  const auto first = FollowConversation(capture, FrameOf(capture, viTCP, 4));
  ASSERT_TRUE(first);
  EXPECT_EQ(SideBytes(capture, *first, 0), "first");
  EXPECT_EQ(SideBytes(capture, *first, 1), "one");
  EXPECT_EQ(first->Frames, 5);
  for (int32_t selected : {7, 10}) {
    const auto second = FollowConversation(capture, FrameOf(capture, viTCP, selected));
    ASSERT_TRUE(second);
    EXPECT_EQ(EndpointText(second->Sides[0]), "10.0.0.1:40000");
    EXPECT_EQ(SideBytes(capture, *second, 0), "second");
    EXPECT_EQ(SideBytes(capture, *second, 1), "two");
    EXPECT_EQ(second->Missing, (std::array<uint64_t, 2>{0, 0}));
    EXPECT_EQ(second->Frames, 5);
  }
}
