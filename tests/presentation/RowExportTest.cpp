// Rows written as text for other programs (presentation/RowExport.h): CSV read back by a
// reader of its own, the tab-separated escapes, a selection of rows, and the two-thread
// writer against the one-thread one on a real capture file.
#include <gtest/gtest.h>

#include "pipeline/CapturePipeline.h"
#include "presentation/RowExport.h"
#include "presentation/Views.h"
#include "tests/presentation/StoredFrames.h"

namespace {
using Table = std::vector<std::vector<std::string>>;

// An RFC 4180 reader written from the RFC, independent of the writer: fields separated by
// commas, records by CR LF, a quoted field may hold anything with its quotes doubled.
Table ReadCSV(const std::string& text) {
  Table table;
  std::vector<std::string> record;
  std::string field;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '"') {
      for (++i; i < text.size(); ++i) {
        if (text[i] != '"') field += text[i];
        else if (i + 1 < text.size() && text[i + 1] == '"') field += text[++i];
        else break;
      }
      ++i;  // the closing quote
    }
    while (i < text.size() && text[i] != ',' && text[i] != '\r') field += text[i++];
    record.push_back(field);
    field.clear();
    if (i < text.size() && text[i] == ',') {
      ++i;
      continue;
    }
    EXPECT_EQ(text.substr(i, 2), "\r\n") << "a record not ended by CR LF";
    i += 2;
    table.push_back(record);
    record.clear();
  }
  return table;
}

// The lines of tab-separated text, each cut at its tabs, with the escapes undone.
Table ReadTabSeparated(const std::string& text) {
  Table table(1);
  std::string cell;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      const char e = text[++i];
      cell += e == 't' ? '\t' : e == 'r' ? '\r' : e == 'n' ? '\n' : e;
    } else if (c == '\t' || c == '\n') {
      table.back().push_back(cell);
      cell.clear();
      if (c == '\n') table.emplace_back();
    } else {
      cell += c;
    }
  }
  table.pop_back();  // after the last line feed
  return table;
}

std::string Utf8FromLatin1(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) out += char(c);
    else out += {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
  }
  return out;
}

std::vector<std::string> RowCells(int32_t view, TPacketList items, int32_t position) {
  TRowText row;
  ViewRowText(view, items, position, 0, 0, row);
  return {row.begin(), row.end()};
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
    for (int32_t r = 0; r < int32_t(store.List().size()); ++r) {
      std::vector<std::string> cells = RowCells(view, store.List(), r);
      cells.resize(expected[0].size());  // a frame without the view's headers: empty cells
      expected.push_back(cells);
    }
    EXPECT_EQ(ReadTabSeparated(RowsAsText(TRowFormat::TabSeparated, rows)), expected);
    const std::string rowsText = RowsAsText(TRowFormat::RowsText, rows);
    EXPECT_EQ(rowsText, "# " + std::string(ViewSpecs[size_t(view)].Caption) + "\n" +
                            RowsAsText(TRowFormat::TabSeparated, rows));
    for (auto& line : expected)
      for (auto& cell : line) cell = Utf8FromLatin1(cell);
    EXPECT_EQ(ReadCSV(RowsAsText(TRowFormat::CSV, rows)), expected) << "view " << view;
  }
}

TEST(RowExport, ASelectionWritesItsRowsInItsOrderAndASubsetListItsFrames) {
  Stored store;
  for (const std::string& payload : HardPayloads) store.Add(UdpFrame(53, 1024, Text(payload)));
  TRowSource rows;
  rows.View = viUDPData;
  rows.Items = store.List();
  const std::vector<int32_t> picked = {5, 1, 3};
  rows.Positions = picked;
  const Table table = ReadCSV(RowsAsText(TRowFormat::CSV, rows));
  ASSERT_EQ(table.size(), 4u);
  EXPECT_EQ(table[1].back(), Utf8FromLatin1(HardPayloads[5]));
  EXPECT_EQ(table[2].back(), HardPayloads[1]);
  EXPECT_EQ(table[3].back(), HardPayloads[3]);
  // Rows the view shows over fewer frames (a filtered view): only those are written.
  rows.Positions.reset();
  rows.Items = store.Only(2);
  const Table one = ReadTabSeparated(RowsAsText(TRowFormat::TabSeparated, rows));
  ASSERT_EQ(one.size(), 2u);
  EXPECT_EQ(one[1].back(), HardPayloads[2]);
}

TEST(RowExport, TwoThreadsWriteTheBytesOfOneAndAStoppedSinkEndsTheWriting) {
  TempDir dir;
  std::vector<Record> records(20000);
  for (size_t i = 0; i < records.size(); ++i)
    records[i].frame = UdpFrame(53, uint16_t(1024 + i), Text(HardPayloads[i % HardPayloads.size()]));
  const std::string file = dir.File("many.cap");
  WritePcap(file, records);
  TCapturePipeline capture;
  ASSERT_EQ(capture.ReadFile(file, {}), TCapturePipeline::TReadResult::Complete);
  TRowSource rows;
  rows.View = viUDPData;
  rows.Items = capture.Items(viUDPData);
  ASSERT_EQ(rows.RowCount(), records.size());
  for (TRowFormat format : {TRowFormat::RowsText, TRowFormat::CSV}) {
    std::string one, two;
    ASSERT_TRUE(WriteRows(format, rows, [&](std::string_view t, size_t) { return one += t, true; }));
    ASSERT_TRUE(WriteRows(format, rows, [&](std::string_view t, size_t) { return two += t, true; },
                          true));
    EXPECT_EQ(one, two);
  }
  // A sink that fails (a full disk, a Cancel) after the second piece gets no further piece,
  // and the helper thread, which may be a piece ahead, is let go.
  for (bool twoThreads : {false, true}) {
    int pieces = 0;
    EXPECT_FALSE(WriteRows(TRowFormat::CSV, rows, [&](std::string_view, size_t) {
      return ++pieces < 2;
    }, twoThreads));
    EXPECT_EQ(pieces, 2);
  }
}
