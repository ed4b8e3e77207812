// Writes the seed corpora of the fuzz targets into FOLDER/<target>/, from real frames, capture
// files and settings files made the way the tests make theirs:
//
//   trellan-fuzzseeds FOLDER        (the committed corpora: trellan-fuzzseeds fuzz/corpus)
//
// A seed is small: the fuzzer grows its own corpus from these in a scratch copy.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>
#include <sys/stat.h>

#include "settings/Globals.h"
#include "tests/common/Frames.h"

namespace {
std::string Folder;

void Put(Bytes& b, int32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(uint32_t(v) >> (8 * i)));
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteSeed(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = Folder + "/" + target;
  mkdir(dir.c_str(), 0755);
  std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + dir + "/" + name);
}

Bytes Cut(Bytes b, size_t n) {
  b.resize(std::min(n, b.size()));
  return b;
}

// ---- Frames ----------------------------------------------------------------------------------

const Bytes MssWsSackTs = {2, 4, 0x05, 0xB4, 1, 3, 3, 7, 4, 2, 8, 10, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0};

Bytes TcpSyn() {
  TCPFields t;
  t.options = MssWsSackTs;
  return TcpFrame(t, {});
}
Bytes TcpData() {
  TCPFields t;
  t.flags = 0x18;
  t.ack = 0x1000;
  return TcpFrame(t, Text("GET / HTTP/1.1\r\nHost: example\r\n\r\n"));
}
Bytes TcpLyingLength() {
  IPv4Fields ip;
  ip.totalLengthDelta = 400;
  TCPFields t;
  t.flags = 0x10;
  return TcpFrame(t, Text("short"), ip);
}
Bytes UdpData() { return UdpFrame(5353, 53, Text(std::string("query\0name", 10))); }
Bytes UdpNoChecksum() {
  IPv4Fields ip;
  ip.protocol = 17;
  return Ethernet(kMacA, kMacB, 0x0800,
                  IPv4(ip, UDP(1000, 2000, ip.src, ip.dst, Text("no checksum"), false)));
}
Bytes Arp() { return Ethernet(kMacB, kMacA, 0x0806, ARPRequest(kMacA, Ip("10.0.0.1"), Ip("10.0.0.2"))); }
Bytes IcmpEcho() {
  IPv4Fields ip;
  ip.protocol = 1;
  Bytes icmp = {8, 0, 0, 0, 0, 1, 0, 1, 'p', 'i', 'n', 'g'};
  const uint16_t sum = InternetChecksum(icmp);
  icmp[2] = uint8_t(sum >> 8);
  icmp[3] = uint8_t(sum);
  return Ethernet(kMacA, kMacB, 0x0800, IPv4(ip, icmp));
}
Bytes Vlan() {
  Bytes inner = {0x00, 0x05, 0x08, 0x00};
  const Bytes ip = Cut(UdpData(), 200);
  inner.insert(inner.end(), ip.begin() + 14, ip.end());
  return Ethernet(kMacA, kMacB, 0x8100, inner);
}
Bytes IpWithOptions() {
  IPv4Fields ip;
  ip.options = {0x94, 0x04, 0x00, 0x00};  // router alert
  TCPFields t;
  return TcpFrame(t, Text("after options"), ip);
}

struct NamedFrame {
  const char* Name;
  Bytes Frame;
  uint32_t Len;  // 0: the frame's size
};

std::vector<NamedFrame> Frames() {
  return {
      {"tcp-syn-options", TcpSyn(), 0},
      {"tcp-data", TcpData(), 0},
      {"tcp-lying-length", TcpLyingLength(), 0},
      {"tcp-cut-in-options", Cut(TcpSyn(), 60), 78},
      {"tcp-cut-in-header", Cut(TcpData(), 40), 0},
      {"udp-data", UdpData(), 0},
      {"udp-no-checksum", UdpNoChecksum(), 0},
      {"udp-cut", Cut(UdpData(), 38), 0},
      {"arp", Arp(), 0},
      {"arp-cut", Cut(Arp(), 20), 42},
      {"icmp-echo", IcmpEcho(), 0},
      {"vlan", Vlan(), 0},
      {"ip-options", IpWithOptions(), 0},
      {"ethernet-cut", Cut(TcpData(), 13), 0},
  };
}

void FrameSeeds() {
  const int32_t offsets[][2] = {{0, 0}, {4, 2}, {-20, -8}, {INT32_MIN, INT32_MAX}};
  int i = 0;
  for (const NamedFrame& f : Frames()) {
    Bytes seed;
    Put(seed, 1000000000 + i);
    Put(seed, 120 * i);
    Put(seed, int32_t(f.Len ? f.Len : f.Frame.size()));
    Put(seed, offsets[i % 4][0]);
    Put(seed, offsets[i % 4][1]);
    seed.insert(seed.end(), f.Frame.begin(), f.Frame.end());
    WriteSeed("frame_cells", f.Name, seed);
    ++i;
  }
}

// ---- Capture files ---------------------------------------------------------------------------

void CaptureSeed(const std::string& name, int32_t tcpOffset, int32_t udpOffset,
                 const Bytes& file) {
  Bytes seed;
  Put(seed, tcpOffset);
  Put(seed, udpOffset);
  seed.insert(seed.end(), file.begin(), file.end());
  // The two capture targets take the same inputs.
  WriteSeed("capture_file", name, seed);
  WriteSeed("capture_pipeline", name, seed);
}

void CaptureSeeds() {
  const TempDir dir;
  std::vector<Record> records;
  int32_t usec = 0;
  for (const NamedFrame& f : Frames()) {
    Record r;
    r.usec = usec += 1500;
    r.frame = f.Frame;
    r.len = f.Len;
    records.push_back(r);
  }
  const std::string pcap = dir.File("mixed.pcap"), pcapng = dir.File("mixed.pcapng");
  WritePcap(pcap, records);
  WritePcapng(pcapng, records);
  const Bytes classic = ReadBytes(pcap), ng = ReadBytes(pcapng);
  CaptureSeed("mixed-pcap", 0, 0, classic);
  CaptureSeed("mixed-pcap-offsets", 6, -4, classic);
  CaptureSeed("mixed-pcapng", -100000, 100000, ng);
  CaptureSeed("mixed-pcapng-extreme-offsets", INT32_MIN, INT32_MAX, ng);
  // Cut inside the third record, and inside the file header.
  CaptureSeed("pcap-cut-in-record", 0, 0, Cut(classic, 24 + 2 * 16 + TcpSyn().size() + 30));
  CaptureSeed("pcap-cut-in-header", 0, 0, Cut(classic, 10));

  // A record whose captured length claims gigabytes.
  Bytes huge = Cut(classic, 24 + 16 + TcpSyn().size());
  const size_t caplenAt = 24 + 16 + 8;
  const uint32_t claimed = 0xC0000000u;
  for (int i = 0; i < 4; ++i) huge[caplenAt + size_t(i)] = uint8_t(claimed >> (8 * i));
  CaptureSeed("pcap-huge-caplen", 0, 0, huge);
  CaptureSeed("not-a-capture", 0, 0, Text("[Coordination]\nWindowState=0\n"));

  // The records reader takes the file alone.
  WriteSeed("file_records", "mixed-pcap", classic);
  WriteSeed("file_records", "mixed-pcapng", ng);
  WriteSeed("file_records", "pcap-cut-in-record", Cut(classic, 24 + 2 * 16 + TcpSyn().size() + 30));
  WriteSeed("file_records", "pcapng-cut-in-block", Cut(ng, ng.size() - 30));
  WriteSeed("file_records", "pcap-huge-caplen", huge);
}

// ---- Settings files --------------------------------------------------------------------------

void SettingsSeeds() {
  const TempDir dir;
  const std::string path = dir.File("Trellan.ini");
  {
    TGlobal g(path);
    g.WindowState = 0;
    g.Left = 40;
    g.Top = -12;
    g.ActiveListViewIndex = 6;
    g.OpenType = 1;
    g.AdapterIndex = 2;
    g.Host = "192.0.2.10:2002";
    g.UserName = "capture";
    g.Password = "s3cret;#=\"quoted\"";
    g.DontShowJustOne = true;
    g.FileName = "/home/user/captures/web traffic.pcap";
    g.Filter = "tcp port 80 and host 10.0.0.1";
    g.SnapLen = 1514;
    g.ThreadSafe = false;
    g.ViewHexa = true;
    g.FollowNewRows = false;
    g.FilterList = {"tcp port 80 and host 10.0.0.1", "udp", "", "arp or \"icmp\"", "a,b"};
    g.TCPDataOffset = -20;
    g.UDPDataOffset = 8;
    g.Save();
  }
  const Bytes saved = ReadBytes(path);
  WriteSeed("settings_file", "saved", saved);
  // The same with the column widths another part of the program keeps in the file.
  Bytes widths = saved;
  const Bytes more = Text("\n[lvTCP]\nWidth0=50\nWidth3=0\n");
  widths.insert(widths.end(), more.begin(), more.end());
  WriteSeed("settings_file", "saved-with-widths", widths);
  WriteSeed("settings_file", "maximised",
            Text("[Coordination]\nWindowState=2\nLeft=-4\nTop=-4\nWidth=1032\nHeight=776\n"));
  WriteSeed("settings_file", "by-hand-crlf",
            Text("; written by hand\r\n[quarn]\r\n  snaplen =  0x100 \r\n#filter=comment\r\n"
                 "FILTER = tcp port 80 ; and more \r\nFilter=second\r\n\r\n[OPTION]\r\n"
                 "filterlist=\"unclosed, quote\r\nTCPDataOffset=junk\r\n"));
  WriteSeed("settings_file", "empty", {});
}

// ---- Comma text ------------------------------------------------------------------------------

void CommaSeed(const std::string& name, uint8_t limit, const std::vector<std::string>& entries) {
  Bytes seed = {limit};
  for (const std::string& e : entries) {
    seed.insert(seed.end(), e.begin(), e.end());
    seed.push_back(0);
  }
  WriteSeed("comma_text", name, seed);
}

void CommaSeeds() {
  CommaSeed("filters", 0, {"tcp port 80", "udp and not port 53", "arp"});
  CommaSeed("quotes-commas-blanks", 0, {"say \"hi\"", "a,b", " lead", "tab\there", "\"\""});
  CommaSeed("empty-entries", 0, {"", "x", "", ""});
  CommaSeed("one-empty", 3, {""});
  CommaSeed("limited", 20, {"first entry", "second entry", "third"});
  CommaSeed("high-bytes", 0, {"\xC3\xA9t\xC3\xA9", "\x7F\x80\xFF"});
  const std::string line = "  a, \"b \"\"c\"\" d\",,\te\x01" "f,\"never closed";
  WriteSeed("comma_text", "line", Text(line));
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trellan-fuzzseeds FOLDER\n");
    return 2;
  }
  Folder = argv[1];
  mkdir(Folder.c_str(), 0755);
  try {
    FrameSeeds();
    CaptureSeeds();
    SettingsSeeds();
    CommaSeeds();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trellan-fuzzseeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
