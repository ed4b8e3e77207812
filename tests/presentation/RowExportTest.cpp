// Rows written as text for other programs (presentation/RowExport.h): CSV read back by a
// reader of its own, the tab-separated escapes, a selection of rows, and the two-thread
// writer against the one-thread one on a real capture file.
#include <gtest/gtest.h>

#include "pipeline/CapturePipeline.h"
#include "presentation/RowExport.h"
#include "tests/presentation/StoredFrames.h"

namespace {
using Table = std::vector<std::vector<std::string>>;

// An RFC 4180 reader written from the RFC, not from the writer: fields separated by commas,
// records ended by CR LF, a quoted field holding anything with its quotes doubled.
Table ReadCSV(const std::string& text) {
  Table table(1, std::vector<std::string>(1));
  for (size_t i = 0; i < text.size(); ++i) {
    std::string& field = table.back().back();
    if (text[i] == '"') {
      while (++i < text.size() && (text[i] != '"' || text[++i] == '"')) field += text[i];
      --i;
    } else if (text[i] == ',') {
      table.back().emplace_back();
    } else if (text.compare(i, 2, "\r\n") == 0) {
      ++i;
      table.push_back({std::string()});
    } else {
      field += text[i];
    }
  }
  table.pop_back();  // after the last CR LF
  return table;
}

char Unescaped(char letter) {
  return letter == 't' ? '\t' : letter == 'r' ? '\r' : letter == 'n' ? '\n' : letter;
}

// Tab-separated lines, each cut at its tabs, with the escapes of trellan-rows undone.
Table ReadTabSeparated(const std::string& text) {
  Table table(1, std::vector<std::string>(1));
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\t') table.back().emplace_back();
    else if (text[i] == '\n') table.push_back({std::string()});
    else if (text[i] != '\\') table.back().back() += text[i];
    else table.back().back() += Unescaped(text[++i]);
  }
  table.pop_back();
  return table;
}

std::string Utf8FromLatin1(const std::string& s) {
  std::string out;
  for (unsigned char c : s) out += c < 0x80 ? std::string(1, char(c))
                                            : std::string{char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
  return out;
}

// Payloads that break naive CSV and tab-separated writers, and a Latin-1 letter.
const std::vector<std::string> HardPayloads = {
    "a,b", "say \"hi\"", "tab\there", "cr\rlf\nboth\r\n", "back\\slash", "caf\xE9", "plain"};
}  // namespace

TEST(RowExport, CSVAndTabSeparatedReadBackToTheRowTextsOfEveryCell) {
  Stored store;
  for (const std::string& payload : HardPayloads) store.Add(UdpFrame(53, 1024, Text(payload)));
  TCPFields push;
  push.flags = 0x18;
  store.Add(TcpFrame(push, Text("GET /a,\"b\"\r\n")));
  for (int32_t view : {viUDPData, viTCPData, viETH}) {
    TRowSource rows;
    rows.View = view;
    rows.Items = store.List();
    Table expected{ColumnCaptions(view)};
    TRowText row;
    for (int32_t r = 0; r < int32_t(store.List().size()); ++r) {
      ViewRowText(view, store.List(), r, 0, 0, row);
      expected.emplace_back(row.begin(), row.end());
      expected.back().resize(expected[0].size());  // a frame without the view's headers
    }
    EXPECT_EQ(ReadTabSeparated(RowsAsText(TRowFormat::TabSeparated, rows)), expected);
    for (auto& line : expected)
      for (auto& cell : line) cell = Utf8FromLatin1(cell);
    EXPECT_EQ(ReadCSV(RowsAsText(TRowFormat::CSV, rows)), expected) << "view " << view;
  }

  // A selection is written in its order; a list over fewer frames (a filtered view) gives
  // only those.
  TRowSource rows;
  rows.View = viUDPData;
  rows.Items = store.List();
  const std::vector<int32_t> picked = {5, 1};
  rows.Positions = picked;
  const Table table = ReadCSV(RowsAsText(TRowFormat::CSV, rows));
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[1].back(), Utf8FromLatin1(HardPayloads[5]));
  EXPECT_EQ(table[2].back(), HardPayloads[1]);
  rows.Positions.reset();
  rows.Items = store.Only(2);
  const Table one = ReadTabSeparated(RowsAsText(TRowFormat::TabSeparated, rows));
  ASSERT_EQ(one.size(), 2u);
  EXPECT_EQ(one[1].back(), HardPayloads[2]);
}

TEST(RowExport, TwoThreadsWriteTheBytesOfOneAndAStoppedSinkEndsTheWriting) {
  std::string error;
  TempDir dir;
  std::vector<Record> records(20000);
  for (size_t i = 0; i < records.size(); ++i)
    records[i].frame = UdpFrame(53, 1024, Text(HardPayloads[i % HardPayloads.size()]));
  WritePcap(dir.File("many.cap"), records);
  TCapturePipeline capture;
  ASSERT_EQ(capture.ReadFile(dir.File("many.cap"), {}, error),
            TCapturePipeline::TReadResult::Complete);
  TRowSource rows;
  rows.View = viUDPData;
  rows.Items = capture.Items(viUDPData);
  for (TRowFormat format : {TRowFormat::RowsText, TRowFormat::CSV}) {
    std::string one, two;
    ASSERT_TRUE(WriteRows(format, rows, [&](std::string_view t, size_t) { return one += t, true; }));
    ASSERT_TRUE(
        WriteRows(format, rows, [&](std::string_view t, size_t) { return two += t, true; }, true));
    EXPECT_EQ(one, two);
    const Table lines = format == TRowFormat::CSV ? ReadCSV(one) : ReadTabSeparated(one);
    EXPECT_EQ(lines.size(), records.size() + (format == TRowFormat::CSV ? 1 : 2));
  }
  // A sink that fails (a full disk, a Cancel) at its second piece gets no further piece, and
  // the helper thread, which may be a piece ahead, is let go.
  for (bool twoThreads : {false, true}) {
    int pieces = 0;
    auto failing = [&](std::string_view, size_t) { return ++pieces < 2; };
    EXPECT_FALSE(WriteRows(TRowFormat::CSV, rows, failing, twoThreads));
    EXPECT_EQ(pieces, 2);
  }
}
