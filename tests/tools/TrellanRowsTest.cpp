// trellan-rows on capture files written by the test: the rows of every view as text, the
// payload pane's text, a row's conversation (--follow), its errors, and what it writes to a
// terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <locale.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "tests/common/Conversations.h"
#include "tests/common/Frames.h"

namespace {
struct Result {
  int status;
  std::string out;
};

Result Rows(const std::string& args) {
  const std::string command = std::string(TRELLAN_ROWS) + " " + args + " 2>&1";
  std::FILE* p = popen(command.c_str(), "r");
  Result r{0, {}};
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  return lines;
}

std::string Joined(const std::vector<std::string>& cells) {
  std::string s;
  for (size_t i = 0; i < cells.size(); ++i) s += (i ? "\t" : "") + cells[i];
  return s;
}

const std::vector<std::string> TcpCaptions = {
    "Index", "Time", "Capture", "Len", "DstMac", "SrcMac", "Protocol(x)", "VerLen(x)", "Service",
    "Len", "Ident", "FlagOff(x)", "TimeLive", "Protocol(x)", "Checksum(x)", "SrcIP", "DstIP",
    "Src Port", "Dst Port", "Seq(x)", "Ack(x)", "Off_Rsvd(x)", "Rsvd_Flags(x)", "Window",
    "Checksum(x)", "UrgPoint", "TCPOption", "TCPDataLen", "Data"};

std::string CaptureFile(const TempDir& dir) {
  std::vector<Record> r(3);
  TCPFields syn;
  syn.options = {0x02, 0x04, 0x05, 0xB4};
  r[0].frame = TcpFrame(syn, {});
  r[0].frame.resize(60);  // the minimum Ethernet frame: 2 bytes of padding
  TCPFields push;
  push.flags = 0x18;
  r[1].frame = TcpFrame(push, Text("a\tb\\c\r\nd"));
  r[2].frame = Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, Ip("10.0.0.1"), Ip("10.0.0.2")));
  const std::string file = dir.File("rows.cap");
  WritePcap(file, r);
  return file;
}
// trellan-rows run with ARGS (one argument each, no shell) and its standard output and error
// on a pseudo-terminal in raw mode, so that the bytes read from it are exactly those written,
// with LC_ALL=`locale` (and no other LANG or LC_ variable).
Result RowsOnTerminal(const std::vector<std::string>& args, const std::string& locale) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string_view v(*e);
    if (!v.starts_with("LC_") && !v.starts_with("LANG=") && !v.starts_with("LANGUAGE="))
      env.emplace_back(v);
  }
  env.push_back("LC_ALL=" + locale);
  std::vector<char*> argv{const_cast<char*>(TRELLAN_ROWS)}, envp;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  for (std::string& e : env) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  termios raw{};
  cfmakeraw(&raw);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, &raw, nullptr);
  if (pid == 0) {
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  Result r{-1, {}};
  if (pid < 0) return r;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(master, buf, sizeof buf);
    if (n > 0)
      r.out.append(buf, size_t(n));
    else if (n == 0 || errno != EINTR)
      break;  // EIO: the program closed the terminal and everything was read
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// The bytes of `text` a terminal would obey, or cannot show in the charset: C0 controls
// other than `allowed`, DEL, and (without `high`) every byte of 80 and above.
size_t RawControls(const std::string& text, std::string_view allowed, bool high) {
  size_t n = 0;
  for (const char c : text) {
    const auto b = uint8_t(c);
    if ((b < 0x20 && allowed.find(c) == std::string_view::npos) || b == 0x7F ||
        (!high && b >= 0x80))
      ++n;
  }
  return n;
}

// The heading, gap and summary lines of --follow, without the stream's bytes.
std::vector<std::string> Markers(const std::string& text) {
  std::vector<std::string> markers;
  for (const std::string& line : Lines(text))
    for (const char* mark : {">>> ", "<<< ", "... ", "=== "})
      if (line.starts_with(mark)) markers.push_back(line);
  return markers;
}
}  // namespace

TEST(TrellanRows, PrintsEveryViewInTabOrderWithEveryColumn) {
  TempDir dir;
  const std::string file = CaptureFile(dir);
  const Result all = Rows(file);
  ASSERT_EQ(all.status, 0) << all.out;
  std::vector<std::string> headings;
  for (const auto& line : Lines(all.out))
    if (line.starts_with("# ")) headings.push_back(line);
  EXPECT_EQ(headings, (std::vector<std::string>{"# Ethernet", "# IP", "# ARP", "# ICMP", "# TCP",
                                                "# UDP", "# TCP Data", "# UDP Data"}));

  const Result tcp = Rows("--view TCP " + file);
  ASSERT_EQ(tcp.status, 0) << tcp.out;
  const auto lines = Lines(tcp.out);
  ASSERT_EQ(lines.size(), 4u) << tcp.out;
  EXPECT_EQ(lines[0], "# TCP");
  EXPECT_EQ(lines[1], Joined(TcpCaptions));
  EXPECT_EQ(lines[2],
            Joined({"1", "01:46:40:000120", "60", "60", "00A0C9-14C829", "021A2B-3C4D5E", "0800",
                    "45", "0", "44", "4660", "4000", "128", "06", "6744", "192.168.0.1",
                    "192.168.0.2", "1025", "80", "ABCD", "0000", "60", "02 SYN", "8192", "46B4",
                    "0", "MSS(1460)", "0", ""}));
  // Every column is there, and the payload's tab, backslash, CR and LF are escaped.
  const std::string& second = lines[3];
  EXPECT_EQ(std::count(second.begin(), second.end(), '\t'), 28);
  EXPECT_TRUE(second.starts_with("2\t")) << second;
  EXPECT_TRUE(second.ends_with("\t8\ta\\tb\\\\c\\r\\nd")) << second;

  const Result two = Rows("--view arp --view lvTCPData " + file);
  ASSERT_EQ(two.status, 0) << two.out;
  const auto twoLines = Lines(two.out);
  ASSERT_EQ(twoLines.size(), 6u) << two.out;
  EXPECT_EQ(twoLines[0], "# ARP");
  EXPECT_TRUE(twoLines[2].ends_with("\t1\t2048\t6\t4\t1\t021A2B-3C4D5E\t10.0.0.1\t000000-000000\t10.0.0.2"))
      << twoLines[2];
  EXPECT_EQ(twoLines[3], "# TCP Data");
  EXPECT_TRUE(twoLines[5].starts_with("2\t")) << twoLines[5];
}

TEST(TrellanRows, OffsetsFilterAndPayload) {
  TempDir dir;
  const std::string file = CaptureFile(dir);
  const Result offset = Rows("--view \"TCP Data\" --tcp-offset 4 " + file);
  ASSERT_EQ(offset.status, 0) << offset.out;
  EXPECT_TRUE(Lines(offset.out)[2].ends_with("\t8\tc\\r\\nd")) << offset.out;

  const Result filtered = Rows("--filter arp --view Ethernet " + file);
  ASSERT_EQ(filtered.status, 0) << filtered.out;
  ASSERT_EQ(Lines(filtered.out).size(), 3u) << filtered.out;
  EXPECT_TRUE(Lines(filtered.out)[2].starts_with("1\t")) << filtered.out;  // renumbered

  const Result text = Rows("--payload tcpdata:0 " + file);
  ASSERT_EQ(text.status, 0) << text.out;
  EXPECT_EQ(text.out, "a\tb\\c\nd\n");
  const Result hex = Rows("--payload TCP:1 --hex " + file);
  ASSERT_EQ(hex.status, 0) << hex.out;
  EXPECT_EQ(hex.out, "a.b\\c..d         [ 61  9 62 5C | 63  D  A 64 ]\n");
}

TEST(TrellanRows, ErrorsGoToStandardErrorWithAFailingStatus) {
  TempDir dir;
  const std::string file = CaptureFile(dir);
  const Result missing = Rows(dir.File("missing.cap"));
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.out.find("No such file"), std::string::npos) << missing.out;
  const Result filter = Rows("--filter 'tcp port' " + file);
  EXPECT_NE(filter.status, 0);
  EXPECT_NE(filter.out.find("syntax error"), std::string::npos) << filter.out;
  const Result view = Rows("--view Bogus " + file);
  EXPECT_EQ(view.status, 2);
  EXPECT_NE(view.out.find("no view named 'Bogus'"), std::string::npos) << view.out;
  const Result number = Rows("--tcp-offset 3x " + file);
  EXPECT_EQ(number.status, 2);
  EXPECT_NE(number.out.find("'3x' is not a valid integer value"), std::string::npos) << number.out;
  const Result row = Rows("--payload UDP:0 " + file);
  EXPECT_NE(row.status, 0);
  EXPECT_NE(row.out.find("has no row 0"), std::string::npos) << row.out;
  for (const char* table : {"conv,tcpx", "io,0", "io,1h", "summary,tcp", "graph"}) {
    const Result stats = Rows(std::string("--stats ") + table + " " + file);
    EXPECT_EQ(stats.status, 2) << table;
    EXPECT_NE(stats.out.find(std::string("no statistics table '") + table + "'"), std::string::npos)
        << stats.out;
  }
  const Result none = Rows("");
  EXPECT_EQ(none.status, 2);
}

TEST(TrellanRowsFollow, PrintsBothSidesInOrderWithGapsAndTotals) {
  TempDir dir;
  const std::string file = dir.File("conversations.pcap");
  WritePcap(file, ConversationCapture());

  // Row 6 of TCP Data is the server's first answer (frame 10).
  const Result tcp = Rows("--follow \"TCP Data:6\" " + file);
  ASSERT_EQ(tcp.status, 0) << tcp.out;
  EXPECT_EQ(Markers(tcp.out),
            (std::vector<std::string>{
                ">>> 10.0.0.1:40000 -> 10.0.0.2:80 (frame 5, 200 bytes)",
                ">>> 10.0.0.1:40000 -> 10.0.0.2:80 (frame 7, 200 bytes)",
                ">>> 10.0.0.1:40000 -> 10.0.0.2:80 (frame 6, 200 bytes)",
                ">>> 10.0.0.1:40000 -> 10.0.0.2:80 (frame 8, 100 bytes)",
                "<<< 10.0.0.2:80 -> 10.0.0.1:40000 (frame 10, 300 bytes)",
                "... 300 bytes missing ...",
                "<<< 10.0.0.2:80 -> 10.0.0.1:40000 (frame 11, 300 bytes)",
                "<<< 10.0.0.2:80 -> 10.0.0.1:40000 (frame 13, 200 bytes)",
                "... 300 bytes missing ...",
                "=== 10.0.0.1:40000 -> 10.0.0.2:80: 700 bytes",
                "=== 10.0.0.2:80 -> 10.0.0.1:40000: 800 bytes, 600 missing"}));
  EXPECT_NE(tcp.out.find("(frame 5, 200 bytes)\n" + ClientStream(0, 200) + "\n>>> "),
            std::string::npos);

  const Result udp = Rows("--follow udp:1 " + file);
  ASSERT_EQ(udp.status, 0) << udp.out;
  EXPECT_EQ(udp.out,
            ">>> 10.0.0.1:5000 -> 10.0.0.2:53 (frame 15, 5 bytes)\nquery\n"
            "<<< 10.0.0.2:53 -> 10.0.0.1:5000 (frame 16, 6 bytes)\nanswer\n"
            ">>> 10.0.0.1:5000 -> 10.0.0.2:53 (frame 18, 60 bytes)\n" +
                std::string(60, 'q') +
                "\n... 40 bytes missing ...\n"
                "=== 10.0.0.1:5000 -> 10.0.0.2:53: 65 bytes, 40 missing\n"
                "=== 10.0.0.2:53 -> 10.0.0.1:5000: 6 bytes\n");
  const Result hex = Rows("--follow udp:0 --hex " + file);
  ASSERT_EQ(hex.status, 0) << hex.out;
  EXPECT_NE(hex.out.find("(frame 15, 5 bytes)\nquery          [ 71 75 65 72 | 79 ]\n<<< "),
            std::string::npos)
      << hex.out;

  const Result ethernet = Rows("--follow Ethernet:4 " + file);
  EXPECT_EQ(ethernet.status, 1);
  EXPECT_EQ(ethernet.out,
            "trellan-rows: --follow needs a row of the TCP, UDP, TCP Data or UDP Data view\n");
  const Result beyond = Rows("--follow tcp:20 " + file);
  EXPECT_EQ(beyond.status, 1);
  EXPECT_EQ(beyond.out, "trellan-rows: view TCP has no row 20\n");
  const Result cut = Rows("--follow tcp:16 " + file);
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.out, "trellan-rows: row 16 has no conversation: its ports were not captured\n");
  const Result noRow = Rows("--follow tcp " + file);
  EXPECT_EQ(noRow.status, 2);
  EXPECT_TRUE(noRow.out.starts_with("trellan-rows: --follow needs VIEW:ROW\n")) << noRow.out;
}

// To a terminal, what the capture holds is shown and not obeyed: ESC, other controls, DEL, C1
// controls, direction controls and invalid UTF-8 are written \xHH, a payload's backslash \\;
// in a locale that is not UTF-8, every byte of 80 and above too. To a pipe, every byte is as
// it was.
TEST(TrellanRows, ATerminalGetsVisibleEscapesAPipeTheBytes) {
  // An ESC sequence that clears the screen, one that sets the window title (ended by BEL), a
  // tab, a backslash, DEL, C1 CSI (C2 9B), an overlong '/', a surrogate, a code point past
  // 10FFFF, a sequence cut short, a right-to-left override, then é and an emoji (valid), and a
  // line ended by CR LF.
  const std::string payload =
      "GET /\x1b[2J\x1b]0;owned\x07 a\tb\\c \x7f \xc2\x9b \xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 "
      "\xe2\x82 \xe2\x80\xae \xc3\xa9 \xf0\x9f\x98\x80\r\nend";
  // The same as a terminal in a UTF-8 locale gets it, up to the CR LF, and then in "C".
  const std::string shownUtf8 =
      R"(GET /\x1b[2J\x1b]0;owned\x07 a\x09b\\c \x7f \xc2\x9b \xc0\xaf \xed\xa0\x80 )"
      R"(\xf4\x90\x80\x80 \xe2\x82 \xe2\x80\xae )"
      "\xc3\xa9 \xf0\x9f\x98\x80";
  const std::string shownAscii =
      R"(GET /\x1b[2J\x1b]0;owned\x07 a\x09b\\c \x7f \xc2\x9b \xc0\xaf \xed\xa0\x80 )"
      R"(\xf4\x90\x80\x80 \xe2\x82 \xe2\x80\xae \xc3\xa9 \xf0\x9f\x98\x80)";
  const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  ASSERT_NE(utf8, locale_t(nullptr)) << "no C.UTF-8 locale";
  freelocale(utf8);
  TempDir dir;
  const std::string file = dir.File("controls.cap");
  TCPFields push;
  push.flags = 0x18;
  WritePcap(file, {Record{.frame = TcpFrame(push, Text(payload))}});
  const std::string heading = ">>> 192.168.0.1:1025 -> 192.168.0.2:80 (frame 1, " +
                              std::to_string(payload.size()) + " bytes)\n";

  // To a pipe: the bytes as they are (the rows' own four escapes aside), ESC and all.
  std::string cell;
  for (const char c : payload)
    cell += c == '\t' ? "\\t" : c == '\\' ? "\\\\" : c == '\r' ? "\\r" : c == '\n' ? "\\n"
                                                                             : std::string(1, c);
  const Result rows = Rows("--view \"TCP Data\" " + file);
  ASSERT_EQ(rows.status, 0) << rows.out;
  const auto pipeLines = Lines(rows.out);
  ASSERT_EQ(pipeLines.size(), 3u) << rows.out;
  EXPECT_TRUE(pipeLines[2].ends_with("\t" + cell)) << rows.out;
  const Result text = Rows("--payload tcpdata:0 " + file);
  ASSERT_EQ(text.status, 0);
  EXPECT_EQ(text.out, payload.substr(0, payload.size() - 5) + "\nend\n");
  const Result follow = Rows("--follow tcpdata:0 " + file);
  ASSERT_EQ(follow.status, 0);
  EXPECT_TRUE(follow.out.starts_with(heading + payload + "\n=== ")) << follow.out;
  const Result hex = Rows("--payload tcpdata:0 --hex " + file);
  ASSERT_EQ(hex.status, 0);
  EXPECT_NE(hex.out.find('\x7f'), std::string::npos) << hex.out;  // the dump shows DEL as itself

  // To a terminal in a UTF-8 locale.
  const Result termRows = RowsOnTerminal({"--view", "TCP Data", file}, "C.UTF-8");
  ASSERT_EQ(termRows.status, 0) << termRows.out;
  EXPECT_EQ(RawControls(termRows.out, "\t\n", true), 0u) << termRows.out;
  const auto termLines = Lines(termRows.out);
  ASSERT_EQ(termLines.size(), 3u) << termRows.out;
  EXPECT_EQ(termLines[1], pipeLines[1]);  // the captions, tab-separated as before
  // The cell's tab, backslash and CR LF keep the rows' escapes; the rest is the terminal's.
  EXPECT_TRUE(termLines[2].ends_with(
      R"(GET /\x1b[2J\x1b]0;owned\x07 a\tb\\c \x7f \xc2\x9b \xc0\xaf \xed\xa0\x80 )"
      R"(\xf4\x90\x80\x80 \xe2\x82 \xe2\x80\xae )"
      "\xc3\xa9 \xf0\x9f\x98\x80"
      R"(\r\nend)"))
      << termLines[2];
  EXPECT_EQ(std::count(termLines[2].begin(), termLines[2].end(), '\t'),
            std::count(pipeLines[2].begin(), pipeLines[2].end(), '\t'));

  const Result termText = RowsOnTerminal({"--payload", "tcpdata:0", file}, "C.UTF-8");
  ASSERT_EQ(termText.status, 0) << termText.out;
  EXPECT_EQ(termText.out, shownUtf8 + "\nend\n");  // the pane's lines stay lines
  const Result termFollow = RowsOnTerminal({"--follow", "tcpdata:0", file}, "C.UTF-8");
  ASSERT_EQ(termFollow.status, 0) << termFollow.out;
  EXPECT_EQ(RawControls(termFollow.out, "\n", true), 0u) << termFollow.out;
  // A chunk's own CR LF is its bytes, not a line of the format.
  EXPECT_TRUE(termFollow.out.starts_with(heading + shownUtf8 + R"(\x0d\x0aend)" + "\n=== "))
      << termFollow.out;
  EXPECT_EQ(Markers(termFollow.out), Markers(follow.out));
  const Result termHex = RowsOnTerminal({"--payload", "tcpdata:0", "--hex", file}, "C.UTF-8");
  ASSERT_EQ(termHex.status, 0) << termHex.out;
  EXPECT_EQ(RawControls(termHex.out, "\n", true), 0u) << termHex.out;
  EXPECT_NE(termHex.out.find(R"(\x7f)"), std::string::npos) << termHex.out;

  // To a terminal in a locale that is not UTF-8: only ASCII shows.
  const Result asciiText = RowsOnTerminal({"--payload", "tcpdata:0", file}, "C");
  ASSERT_EQ(asciiText.status, 0) << asciiText.out;
  EXPECT_EQ(asciiText.out, shownAscii + "\nend\n");
  const Result asciiRows = RowsOnTerminal({"--view", "TCP Data", file}, "C");
  ASSERT_EQ(asciiRows.status, 0) << asciiRows.out;
  EXPECT_EQ(RawControls(asciiRows.out, "\t\n", false), 0u) << asciiRows.out;
  EXPECT_NE(asciiRows.out.find(R"( \xc3\xa9 \xf0\x9f\x98\x80\r\nend)"), std::string::npos)
      << asciiRows.out;
  // Not one ESC reached a terminal.
  for (const Result* r : {&termRows, &termText, &termFollow, &termHex, &asciiText, &asciiRows})
    EXPECT_EQ(r->out.find('\x1b'), std::string::npos) << r->out;
}
