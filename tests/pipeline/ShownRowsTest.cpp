// The views as shown: a display filter that passes what tcpdump passes, sorting by what the
// cells show, and find; over real capture files read through the pipeline.
#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <algorithm>
#include <numeric>
#include <set>

#include "bench/FrameMix.h"
#include "pipeline/CapturePipeline.h"
#include "pipeline/ShownRows.h"
#include "tests/common/Frames.h"

namespace {

// Frames of every kind the expressions below tell apart: the benchmarks' mix from two pairs of
// networks, VLAN-tagged and IPv6 frames, a spread of TTLs, and every seventh frame cut short.
std::vector<Record> MixedCapture() {
  std::vector<Record> records;
  bench::TFrameMaker near(7, {{2, 0, 0, 0, 0, 1}, {2, 0, 0, 0, 0, 2}, 0x0A000000, 0xC0A80100});
  bench::TFrameMaker far(8, {{2, 0, 0, 0, 0, 3}, {2, 0, 0, 0, 0, 4}, 0xAC100000, 0x0A000000});
  for (int32_t i = 0; i < 3000; ++i) {
    Record r;
    r.sec = 1000000000 + i;
    if (i % 50 == 7) {
      r.frame = Ethernet(kMacA, kMacB, 0x8100, VlanTagged(5, IPv4({}, Bytes(40, 1))));
    } else if (i % 50 == 9) {
      Bytes ip6(40 + 8, 0);
      ip6[0] = 0x60;
      ip6[5] = 8;
      ip6[6] = 17;
      r.frame = Ethernet(kMacA, kMacB, 0x86DD, ip6);
    } else {
      bench::TFrameMaker& maker = i % 3 ? near : far;
      bench::TKind kind;
      const size_t length = maker.Any(kind);
      maker.frame[22] = uint8_t(i % 128);  // TTL, for "ip[8] < 64"
      r.frame.assign(maker.frame, maker.frame + length);
    }
    if (i % 7 == 3) r.caplen = uint32_t(std::min<size_t>(r.frame.size(), 20 + i % 30));
    records.push_back(r);
  }
  return records;
}

// A capture file written from `records` and read through a pipeline.
struct TReadCapture {
  explicit TReadCapture(const std::vector<Record>& records) : File(Dir.File("capture.pcap")) {
    std::string error;
    WritePcap(File, records);
    Result = Capture.ReadFile(File, "", error);
  }
  TempDir Dir;
  std::string File;
  TCapturePipeline Capture;
  TCapturePipeline::TReadResult Result;
};

// The frames tcpdump passes with `expression`, as it writes them to a file and libpcap reads it.
int64_t TcpdumpCount(const std::string& file, const std::string& expression, const TempDir& dir) {
  const std::string out = dir.File("tcpdump.pcap");
  const std::string command = "tcpdump -r '" + file + "' -w '" + out + "' '" + expression +
                              "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return -1;
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* p = pcap_open_offline(out.c_str(), error);
  if (!p) return -1;
  int64_t n = 0;
  pcap_pkthdr* header;
  const u_char* data;
  while (pcap_next_ex(p, &header, &data) == 1) ++n;
  pcap_close(p);
  return n;
}

std::vector<uint32_t> IndexesOf(const TShownViews& views, const TCapturePipeline& capture,
                                int32_t view) {
  std::vector<uint32_t> indexes;
  const TPacketList items = views.Items(capture, view);
  for (size_t row = 0; row < items.size(); ++row) indexes.push_back(uint32_t(items[row].Index));
  return indexes;
}

std::array<std::vector<uint32_t>, ViewCount> AllIndexes(const TShownViews& views,
                                                        const TCapturePipeline& capture) {
  std::array<std::vector<uint32_t>, ViewCount> all;
  for (int32_t view = 0; view < ViewCount; ++view) all[size_t(view)] = IndexesOf(views, capture, view);
  return all;
}


std::vector<std::string> CellsOf(const TShownViews& views, const TCapturePipeline& capture,
                                 int32_t view, int32_t column) {
  std::vector<std::string> cells;
  TRowText row;
  const TPacketList items = views.Items(capture, view);
  for (size_t r = 0; r < items.size(); ++r) {
    ViewRowText(view, items, int32_t(r), 0, 0, row);
    cells.push_back(size_t(column) < row.Count() ? row[size_t(column)] : "");
  }
  return cells;
}

bool SmallEnough(const TShownViews& views, const TCapturePipeline& capture) {
  for (int32_t view = 0; view < ViewCount; ++view)
    if (views.View(view).Bytes() > 4 * size_t(views.Count(capture, view)) + 64) return false;
  return true;
}
}  // namespace

TEST(ShownRows, TheDisplayFilterPassesTheFramesTcpdumpPassesInEveryView) {
  if (std::system("command -v tcpdump >/dev/null") != 0) GTEST_SKIP() << "tcpdump is missing";
  TReadCapture read(MixedCapture());
  ASSERT_EQ(read.Result, TCapturePipeline::TReadResult::Complete);
  const TCapturePipeline& capture = read.Capture;
  TShownViews views;
  for (const char* expression :
       {"tcp", "udp", "arp", "icmp", "host 10.0.0.1", "tcp port 80", "net 192.168.0.0/16",
        "ip[8] < 64", "tcp[tcpflags] & tcp-syn != 0", "vlan", "not ip", "ip6", "greater 1000"}) {
    SCOPED_TRACE(expression);
    std::string error;
    ASSERT_TRUE(views.ApplyFilter(capture, expression, error)) << error;
    const std::vector<uint32_t> passed = IndexesOf(views, capture, viETH);
    EXPECT_EQ(int64_t(passed.size()), TcpdumpCount(read.File, expression, read.Dir));
    const std::set<uint32_t> passing(passed.begin(), passed.end());
    for (int32_t view = 0; view < ViewCount; ++view) {
      std::vector<uint32_t> expected;
      const TPacketList list = capture.Items(view);
      for (size_t row = 0; row < list.size(); ++row)
        if (passing.count(uint32_t(list[row].Index))) expected.push_back(uint32_t(list[row].Index));
      EXPECT_EQ(IndexesOf(views, capture, view), expected) << ViewSpecs[size_t(view)].Caption;
    }
    EXPECT_TRUE(SmallEnough(views, capture));
  }
}

TEST(ShownRows, ARefusedOrCancelledFilterChangesNothingAndAnEmptyOneShowsEveryRow) {
  TReadCapture read(MixedCapture());
  ASSERT_EQ(read.Result, TCapturePipeline::TReadResult::Complete);
  const TCapturePipeline& capture = read.Capture;
  TShownViews views;
  std::string error;
  ASSERT_TRUE(views.ApplyFilter(capture, "tcp", error));
  ASSERT_TRUE(views.Sort(capture, viTCP, ColumnOfCaption(viTCP, "Window"), false, {}));
  const auto before = AllIndexes(views, capture);
  for (const char* refused : {"tcp port", "foo bar"}) {
    EXPECT_FALSE(views.ApplyFilter(capture, refused, error));
    EXPECT_NE(error, "") << refused;
    EXPECT_EQ(AllIndexes(views, capture), before) << refused;
    EXPECT_EQ(views.Filter().Expression(), "tcp");
  }
  EXPECT_FALSE(views.ApplyFilter(capture, "udp", error, [](int64_t, int64_t) { return false; }));
  EXPECT_EQ(error, "");
  EXPECT_EQ(AllIndexes(views, capture), before);

  ASSERT_TRUE(views.ApplyFilter(capture, "  ", error));
  EXPECT_TRUE(views.Filter().Empty());
  for (int32_t view = 0; view < ViewCount; ++view) {
    EXPECT_EQ(views.Count(capture, view), capture.List(view).Count());
    EXPECT_FALSE(views.View(view).Filtered());
  }
  // The sorted view shows every row again, still by its column.
  const auto windows = CellsOf(views, capture, viTCP, ColumnOfCaption(viTCP, "Window"));
  // An empty cell (a frame cut before its window) comes first.
  auto value = [](const std::string& cell) { return cell.empty() ? 0 : std::stoul(cell) + 1; };
  EXPECT_TRUE(std::is_sorted(windows.begin(), windows.end(),
                             [&](auto& a, auto& b) { return value(a) < value(b); }));
  EXPECT_EQ(windows.size(), size_t(capture.List(viTCP).Count()));
  EXPECT_EQ(views.View(viETH).Bytes(), 0u);
}

namespace {
Record Segment(int32_t sec, uint32_t src, uint16_t window, uint32_t seq, const std::string& data,
               Mac source = kMacB) {
  TCPFields t;
  t.window = window;
  t.seq = seq;
  t.flags = 0x18;
  IPv4Fields ip;
  ip.src = src;
  ip.protocol = 6;
  Record r;
  r.sec = sec;
  r.frame = Ethernet(kMacA, source, 0x0800, IPv4(ip, TCP(t, ip.src, ip.dst, Text(data))));
  return r;
}

const std::string Long(100, 'x');
constexpr int32_t Day = 86400;
constexpr Mac kMacC{{0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};

// Capture order with what each column should sort by.
std::vector<Record> SortingCapture() {
  return {
      Segment(5 * Day + 1, Ip("10.0.0.10"), 100, 0x0A, "b", kMacB),           // 1
      Segment(5 * Day - 1, Ip("9.1.1.1"), 9, 0xFF, Long + "b", kMacA),        // 2
      Segment(5 * Day + 2, Ip("10.0.0.9"), 10, 0x09, "", kMacC),               // 3
      Segment(5 * Day - 2, Ip("10.0.0.10"), 100, 0x1F, Long + "a", kMacB),    // 4
      Segment(5 * Day + 3, Ip("10.0.0.9"), 10, 0x09, Long + "b", kMacA),       // 5
      Segment(5 * Day + 4, Ip("10.0.0.10"), 9, 0x0A, "a", kMacC),              // 6
  };
}
}  // namespace

TEST(ShownRows, AColumnSortsByWhatItsCellsShowWithTiesInCaptureOrder) {
  TReadCapture read(SortingCapture());
  ASSERT_EQ(read.Result, TCapturePipeline::TReadResult::Complete);
  const TCapturePipeline& capture = read.Capture;
  TShownViews views;
  struct TCase {
    const char* Caption;
    std::vector<uint32_t> Rising;
  } cases[] = {
      {"Window", {2, 6, 3, 5, 1, 4}},
      {"Seq(x)", {3, 5, 1, 6, 4, 2}},
      {"SrcIP", {2, 3, 5, 1, 4, 6}},
      {"SrcMac", {3, 6, 2, 5, 1, 4}},
      {"Time", {4, 2, 1, 3, 5, 6}},
      {"Data", {3, 6, 1, 4, 2, 5}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Caption);
    const int32_t column = ColumnOfCaption(viTCP, c.Caption);
    ASSERT_TRUE(views.Sort(capture, viTCP, column, false, {}));
    EXPECT_EQ(IndexesOf(views, capture, viTCP), c.Rising);
    // Falling: runs of equal cells in the reverse order, each still in capture order.
    const std::vector<std::string> cells = CellsOf(views, capture, viTCP, column);
    std::vector<uint32_t> falling;
    for (size_t end = cells.size(); end > 0;) {
      size_t begin = end - 1;
      while (begin > 0 && cells[begin - 1] == cells[end - 1]) --begin;
      falling.insert(falling.end(), c.Rising.begin() + ptrdiff_t(begin),
                     c.Rising.begin() + ptrdiff_t(end));
      end = begin;
    }
    ASSERT_TRUE(views.Sort(capture, viTCP, column, true, {}));
    EXPECT_EQ(IndexesOf(views, capture, viTCP), falling);
    EXPECT_TRUE(SmallEnough(views, capture));
  }
  // A cancelled sort leaves the view as it was.
  const auto before = IndexesOf(views, capture, viTCP);
  EXPECT_FALSE(views.Sort(capture, viTCP, ColumnOfCaption(viTCP, "Window"), false, {},
                          [](int64_t, int64_t) { return false; }));
  EXPECT_EQ(IndexesOf(views, capture, viTCP), before);
  ASSERT_TRUE(views.Sort(capture, viTCP, -1, false, {}));
  EXPECT_EQ(IndexesOf(views, capture, viTCP), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(views.View(viTCP).Bytes(), 0u);

  // Many copies of a few hundred texts with long equal beginnings, some the beginning of
  // others, in every column that sorts by text: the order of a stable sort of the cells, on
  // both threads, with the distinct texts kept (the usual budget) and compared a few bytes a
  // pass (no budget, or too little for all).
  std::vector<Record> repeated;
  const Bytes options[] = {{}, {2, 4, 5, 0xB4}, {2, 4, 5, 0xB4, 1, 1, 1, 1}, {1, 1, 1, 1},
                           {2, 4, 5, 0xB4, 1, 3, 3, 7}, {2, 4, 1, 0x2C}};
  for (uint32_t i = 0; i < 40000; ++i) {
    // 300 texts: six lengths of equal beginning, ten digits, five tails (the first none).
    const uint32_t k = i * 7919 % 300;
    const std::string data = "GET /" + std::string(40 + k % 6 * 8, 'a') +
                             std::to_string(k / 6 % 10) + std::string(k / 60 * 3, 'b');
    TCPFields t;
    t.options = options[i % 7 % 6];
    IPv4Fields ip;
    ip.src = Ip("10.0.0.1") + k % 40;
    ip.protocol = 6;
    repeated.push_back({int32_t(i), 0, Ethernet(kMacA, kMacB, 0x0800,
                                                IPv4(ip, TCP(t, ip.src, ip.dst, Text(data))))});
  }
  TReadCapture many(repeated);
  ASSERT_EQ(many.Result, TCapturePipeline::TReadResult::Complete);
  const struct {
    int32_t View;
    const char* Caption;
  } columns[] = {{viTCP, "Data"}, {viTCP, "TCPOption"}, {viTCPData, "Data"}, {viTCP, "SrcIP"}};
  for (const auto& c : columns)
    for (const size_t budget : {size_t(64) << 20, size_t(0), size_t(64) << 10})
      for (const bool descending : {false, true}) {
        SCOPED_TRACE(std::string(c.Caption) + " budget " + std::to_string(budget) +
                     (descending ? " falling" : " rising"));
        const int32_t column = ColumnOfCaption(c.View, c.Caption);
        TShownViews shown;
        const std::vector<std::string> cells = CellsOf(shown, many.Capture, c.View, column);
        // An address sorts by its bytes: the dotted text with each part padded orders alike.
        auto key = [&](const std::string& cell) {
          if (SortKindOf(c.View, column) != TSortKind::Address || cell.empty()) return cell;
          const uint32_t address = Ip(cell.c_str());
          return std::string(1, 'A') + std::to_string(uint64_t(address) + (uint64_t(1) << 32));
        };
        std::vector<uint32_t> expected(cells.size());
        std::iota(expected.begin(), expected.end(), 0u);
        std::stable_sort(expected.begin(), expected.end(), [&](uint32_t a, uint32_t b) {
          return descending ? key(cells[b]) < key(cells[a]) : key(cells[a]) < key(cells[b]);
        });
        const std::vector<uint32_t> inOrder = IndexesOf(shown, many.Capture, c.View);
        for (uint32_t& row : expected) row = inOrder[row];
        shown.SetTextBudget(budget);
        ASSERT_TRUE(shown.Sort(many.Capture, c.View, column, descending, {}));
        EXPECT_EQ(IndexesOf(shown, many.Capture, c.View), expected);
      }

  // Sorted and filtered together, and back to capture order within the filter.
  std::string error;
  ASSERT_TRUE(views.ApplyFilter(capture, "src net 10.0.0.0/8", error)) << error;
  ASSERT_TRUE(views.Sort(capture, viTCP, ColumnOfCaption(viTCP, "Window"), false, {}));
  EXPECT_EQ(IndexesOf(views, capture, viTCP), (std::vector<uint32_t>{6, 3, 5, 1, 4}));
  ASSERT_TRUE(views.Sort(capture, viTCP, -1, false, {}));
  EXPECT_EQ(IndexesOf(views, capture, viTCP), (std::vector<uint32_t>{1, 3, 4, 5, 6}));
}

TEST(ShownRows, ALiveCaptureKeepsASortedFilteredViewSortedAndFiltered) {
  std::string error;
  TempDir dir;
  TCapturePipeline capture;
  ASSERT_TRUE(capture.StartLive(dir.File("temp.$$$"), DLT_EN10MB, 65535, error)) << error;
  uint32_t n = 0;
  auto add = [&](int count) {
    for (int i = 0; i < count; ++i, ++n) {
      const Record r = n % 3 == 2 ? Record{1000 + int32_t(n), 0, UdpFrame(53, 53, Text("q"))}
                                  : Segment(1000 + int32_t(n), Ip("10.0.0.1"),
                                            uint16_t(n * 7919 % 50), n, "d");
      const PCAP_PKTHDR h{{r.sec, r.usec}, uint32_t(r.frame.size()), uint32_t(r.frame.size())};
      ASSERT_TRUE(capture.Add(&h, r.frame.data()));
    }
    ASSERT_TRUE(capture.Flush());
  };
  TShownViews views;
  add(30);
  ASSERT_TRUE(views.ApplyFilter(capture, "tcp", error)) << error;
  // By frame length, falling: every segment is as long as the others, so they tie.
  ASSERT_TRUE(views.Sort(capture, viETH, ColumnOfCaption(viETH, "Len"), true, {}));
  ASSERT_TRUE(views.Sort(capture, viTCP, ColumnOfCaption(viTCP, "Window"), false, {}));
  for (int round = 0; round < 3; ++round) {
    add(40);
    views.Extend(capture, {});
  }
  const std::vector<uint32_t> tcp = IndexesOf(views, capture, viTCP);
  EXPECT_EQ(tcp.size(), size_t(capture.List(viTCP).Count()));
  EXPECT_EQ(views.Count(capture, viETH), capture.List(viTCP).Count());
  const auto windows = CellsOf(views, capture, viTCP, ColumnOfCaption(viTCP, "Window"));
  for (size_t i = 1; i < tcp.size(); ++i) {
    const auto a = std::stoul(windows[i - 1]), b = std::stoul(windows[i]);
    EXPECT_TRUE(a < b || (a == b && tcp[i - 1] < tcp[i])) << i;
  }
  // Ties in a falling sort: capture order.
  const std::vector<uint32_t> eth = IndexesOf(views, capture, viETH);
  EXPECT_TRUE(std::is_sorted(eth.begin(), eth.end()));
  capture.Stop();
}

namespace {
struct TQuery {
  TQuery(const char* text, bool hex = false, bool matchCase = false,
         std::vector<int32_t> columns = {})
      : Text(text), Hex(hex), MatchCase(matchCase), Columns(std::move(columns)) {}
  std::string Text;
  bool Hex, MatchCase;
  std::vector<int32_t> Columns;
};
}  // namespace

TEST(ShownRows, FindLooksInCellsAndPayloadsAndGoesRoundOnce) {
  TReadCapture read({Segment(1, Ip("10.0.0.1"), 1, 1, "GET / HTTP/1.1"),
                   Segment(2, Ip("10.0.0.2"), 1, 1, "hello World"),
                   Segment(3, Ip("172.16.5.5"), 1, 1, "nothing"),
                   Segment(4, Ip("10.0.0.2"), 1, 1, "WORLD again")});
  ASSERT_EQ(read.Result, TCapturePipeline::TReadResult::Complete);
  const TCapturePipeline& capture = read.Capture;
  const TPacketList tcp = capture.Items(viTCP);
  auto find = [&](int32_t view, int32_t from, bool forward, const TQuery& q) {
    TFindQuery query;
    query.Text = q.Text;
    query.Hex = q.Hex;
    query.MatchCase = q.MatchCase;
    query.Columns = q.Columns;
    return FindRow(view, view == viTCP ? tcp : capture.Items(view), from, forward, query, {});
  };
  // A payload, without and with case; the payload beyond a data offset counts too.
  TFindResult r = find(viTCP, -1, true, {"world"});
  EXPECT_EQ(r.Row, 1);
  EXPECT_FALSE(r.Wrapped);
  EXPECT_EQ(find(viTCP, 1, true, {"world"}).Row, 3);
  r = find(viTCP, 3, true, {"world"});
  EXPECT_EQ(r.Row, 1);
  EXPECT_TRUE(r.Wrapped);
  EXPECT_EQ(find(viTCP, 1, true, {"World", false, true}).Row, 1);  // only itself, last
  EXPECT_TRUE(find(viTCP, 1, true, {"World", false, true}).Wrapped);
  EXPECT_EQ(find(viTCP, -1, true, {"wORLD", false, true}).Row, -1);
  // Backwards.
  r = find(viTCP, 3, false, {"world"});
  EXPECT_EQ(r.Row, 1);
  EXPECT_FALSE(r.Wrapped);
  r = find(viTCP, 1, false, {"world"});
  EXPECT_EQ(r.Row, 3);
  EXPECT_TRUE(r.Wrapped);
  EXPECT_EQ(find(viTCP, -1, false, {"10.0.0.2"}).Row, 3);
  // Cells: an address, in every column or in the ones asked for.
  EXPECT_EQ(find(viTCP, -1, true, {"172.16.5"}).Row, 2);
  EXPECT_EQ(find(viTCP, -1, true, {"172.16.5", false, false, {ColumnOfCaption(viTCP, "DstIP")}}).Row, -1);
  EXPECT_EQ(find(viTCP, -1, true, {"172.16.5", false, false, {ColumnOfCaption(viTCP, "SrcIP")}}).Row, 2);
  // Bytes: in the payload of a payload view, in the whole frame elsewhere.
  EXPECT_EQ(find(viTCP, -1, true, {"6e 6f:74-68", true}).Row, 2);
  EXPECT_EQ(find(viTCP, -1, true, {"AC10", true}).Row, -1);  // 172.16 is a header's, not payload
  EXPECT_EQ(find(viIP, -1, true, {"AC10", true}).Row, 2);
  EXPECT_EQ(find(viTCP, -1, true, {"4", true}).Row, -1);
  // Cancelled: nothing found.
  TFindQuery absent;
  absent.Text = "absent";
  r = FindRow(viTCP, tcp, -1, true, absent, {}, [](int64_t, int64_t) { return false; });
  EXPECT_EQ(r.Row, -1);
  EXPECT_TRUE(r.Cancelled);

  std::string bytes;
  EXPECT_TRUE(ParseHexBytes("47 45:54-2f", bytes));
  EXPECT_EQ(bytes, "GET/");
  for (const char* refused : {"4", "474", "4 7", "GG", "47 zz", "0x47", ""})
    EXPECT_FALSE(ParseHexBytes(refused, bytes)) << refused;
}
