// trellan-rows --follow on the crafted conversations: the TCP and UDP conversation of a row as
// text and as a hex dump, and the rows it refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

#include "tests/common/Conversations.h"

namespace {
struct Output {
  int status;
  std::string text;
};

Output Follow(const std::string& args) {
  std::FILE* p = popen((std::string(TRELLAN_ROWS) + " " + args + " 2>&1").c_str(), "r");
  Output o{0, {}};
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) o.text.append(buffer, n);
  const int status = pclose(p);
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

// The heading, gap and summary lines, without the stream's bytes.
std::vector<std::string> Markers(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    const std::string line = text.substr(start, nl - start);
    for (const char* mark : {">>> ", "<<< ", "... ", "=== "})
      if (line.starts_with(mark)) lines.push_back(line);
  }
  return lines;
}
}  // namespace

TEST(TrellanRowsFollow, PrintsBothSidesInOrderWithGapsAndTotals) {
  TempDir dir;
  const std::string file = dir.File("conversations.pcap");
  WritePcap(file, ConversationCapture());

  // Row 6 of TCP Data is the server's first answer (frame 10).
  const Output tcp = Follow("--follow \"TCP Data:6\" " + file);
  ASSERT_EQ(tcp.status, 0) << tcp.text;
  EXPECT_EQ(Markers(tcp.text),
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
  EXPECT_NE(tcp.text.find("(frame 5, 200 bytes)\n" + ClientStream(0, 200) + "\n>>> "),
            std::string::npos);

  const Output udp = Follow("--follow udp:1 " + file);
  ASSERT_EQ(udp.status, 0) << udp.text;
  EXPECT_EQ(udp.text,
            ">>> 10.0.0.1:5000 -> 10.0.0.2:53 (frame 15, 5 bytes)\nquery\n"
            "<<< 10.0.0.2:53 -> 10.0.0.1:5000 (frame 16, 6 bytes)\nanswer\n"
            ">>> 10.0.0.1:5000 -> 10.0.0.2:53 (frame 18, 60 bytes)\n" +
                std::string(60, 'q') +
                "\n... 40 bytes missing ...\n"
                "=== 10.0.0.1:5000 -> 10.0.0.2:53: 65 bytes, 40 missing\n"
                "=== 10.0.0.2:53 -> 10.0.0.1:5000: 6 bytes\n");
  const Output hex = Follow("--follow udp:0 --hex " + file);
  ASSERT_EQ(hex.status, 0) << hex.text;
  EXPECT_NE(hex.text.find("(frame 15, 5 bytes)\nquery          [ 71 75 65 72 | 79 ]\n<<< "),
            std::string::npos)
      << hex.text;

  const Output ethernet = Follow("--follow Ethernet:4 " + file);
  EXPECT_EQ(ethernet.status, 1);
  EXPECT_EQ(ethernet.text,
            "trellan-rows: --follow needs a row of the TCP, UDP, TCP Data or UDP Data view\n");
  const Output beyond = Follow("--follow tcp:20 " + file);
  EXPECT_EQ(beyond.status, 1);
  EXPECT_EQ(beyond.text, "trellan-rows: view TCP has no row 20\n");
  const Output cut = Follow("--follow tcp:16 " + file);
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.text, "trellan-rows: row 16 has no conversation: its ports were not captured\n");
  const Output noRow = Follow("--follow tcp " + file);
  EXPECT_EQ(noRow.status, 2);
  EXPECT_TRUE(noRow.text.starts_with("trellan-rows: --follow needs VIEW:ROW\n")) << noRow.text;
}
