#include "tests/common/Conversations.h"

#include <cstdio>

namespace {
std::string Stream(char first, size_t from, size_t to) {
  std::string s;
  for (size_t i = from; i < to; ++i) s += char(first + i % 26);
  return s;
}

constexpr uint32_t ClientFirstSeq = 0xFFFFFF00;  // 256 bytes in, the numbers wrap
constexpr uint32_t ServerFirstSeq = 1000;
constexpr uint8_t Syn = 0x02, Ack = 0x10, Psh = 0x08, Fin = 0x01;

IPv4Fields Hosts(bool fromClient) {
  IPv4Fields ip;
  ip.src = Ip(fromClient ? "10.0.0.1" : "10.0.0.2");
  ip.dst = Ip(fromClient ? "10.0.0.2" : "10.0.0.1");
  return ip;
}

Bytes Segment(bool fromClient, uint16_t clientPort, uint32_t seq, uint32_t ack, uint8_t flags,
              const std::string& payload) {
  TCPFields t;
  t.srcPort = fromClient ? clientPort : 80;
  t.dstPort = fromClient ? 80 : clientPort;
  t.seq = seq;
  t.ack = ack;
  t.flags = flags;
  return TcpFrame(t, Text(payload), Hosts(fromClient));
}
// A segment of the followed connection carrying stream bytes from..to.
Bytes Client(size_t from, size_t to, uint32_t ack) {
  return Segment(true, 40000, ClientFirstSeq + 1 + uint32_t(from), ack, Ack | Psh,
                 ClientStream(from, to));
}
Bytes Server(size_t from, size_t to, uint32_t ack) {
  return Segment(false, 40000, ServerFirstSeq + 1 + uint32_t(from), ack, Ack | Psh,
                 ServerStream(from, to));
}
Bytes Datagram(bool fromClient, uint16_t clientPort, const std::string& payload) {
  return fromClient ? UdpFrame(clientPort, 53, Text(payload), Hosts(true))
                    : UdpFrame(53, clientPort, Text(payload), Hosts(false));
}
}  // namespace

std::string ClientStream(size_t from, size_t to) { return Stream('a', from, to); }
std::string ServerStream(size_t from, size_t to) { return Stream('A', from, to); }

std::vector<Record> ConversationCapture() {
  const uint32_t c = ClientFirstSeq + 1, s = ServerFirstSeq + 1;
  std::vector<Record> r;
  auto add = [&r](Bytes frame, uint32_t cutBy = 0) {
    Record rec;
    rec.usec = int32_t(r.size());
    rec.caplen = uint32_t(frame.size()) - cutBy;
    rec.frame = std::move(frame);
    r.push_back(std::move(rec));
  };
  add(Segment(true, 40000, ClientFirstSeq, 0, Syn, ""));                    // 1
  add(Segment(false, 40000, ServerFirstSeq, c, Syn | Ack, ""));             // 2
  add(Segment(true, 40000, c, s, Ack, ""));                                 // 3
  add(Segment(true, 40001, 5, s, Ack | Psh, "another connection"));         // 4
  add(Client(0, 200, s));                                                   // 5
  add(Client(400, 600, s));                                                 // 6 out of order
  add(Client(200, 400, s));                                                 // 7 fills the hole
  add(Client(550, 700, s));                                                 // 8 overlaps
  add(Client(300, 500, s));                                                 // 9 retransmitted
  add(Server(0, 300, c + 700));                                             // 10
  add(Server(600, 900, c + 700));                                           // 11 after a loss
  add(Segment(true, 40000, c + 700, s + 900, Ack, ""));                     // 12
  add(Server(900, 1400, c + 700), 300);                                     // 13 cut
  add(Segment(false, 40001, 7, 23, Ack | Psh, "other reply"));              // 14
  add(Datagram(true, 5000, "query"));                                       // 15
  add(Datagram(false, 5000, "answer"));                                     // 16
  add(Datagram(true, 5001, "other query"));                                 // 17
  add(Datagram(true, 5000, std::string(100, 'q')), 40);                     // 18 cut
  add(Segment(true, 40000, c + 700, s + 1400, Fin | Ack, ""));              // 19
  add(Segment(false, 40000, s + 1400, c + 701, Fin | Ack, ""));             // 20
  add(Segment(true, 40002, 9, 0, Syn, ""), 16);                             // 21 no flags
  return r;
}

std::string FileContents(const std::string& path) {
  std::string bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}
