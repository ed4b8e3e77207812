// The trace: datagrams on the local trace port, the daily file, and the checked formatter.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/ZebTrace.h"
#include "tests/common/Frames.h"
#include "tests/common/TraceListener.h"

namespace {
std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
std::string ThreadHex() {
  char id[16];
  std::snprintf(id, sizeof id, "%08X", unsigned(gettid()));
  return id;
}
}  // namespace

TEST(ZebTrace, EachLineIsOneDatagramTaggedWithTheCallingThread) {
  ASSERT_NE(TraceLog, nullptr);
  EXPECT_TRUE(TraceLog->Enabled());
  EXPECT_EQ(TraceLog->DestHost(), "127.0.0.1");
  EXPECT_EQ(TraceLog->DestPort(), 8908);
  // Where a trace viewer listens, as every program run on the machine traces there.
  TraceListener listener{TraceListener::WellKnownPort{}};
  TraceFmt("[Quarn] TCustomQuarn.Open (%s)", "x");
  Trace("[ZebThread] plain text");
  TraceFmt("[Quarn] code=%d, text=%s", -1, std::string("y"));
  std::string other;
  std::thread([&] {
    other = ThreadHex();
    Trace("from another thread");
  }).join();
  // Only the lines of this test's two threads: other programs may be tracing too.
  std::vector<std::string> ours;
  for (const std::string& line : listener.Take())
    if (line.starts_with(ThreadHex() + " ") || line.starts_with(other + " ")) ours.push_back(line);
  EXPECT_EQ(ours, (std::vector<std::string>{
                                 ThreadHex() + " [Quarn] TCustomQuarn.Open (x)",
                                 ThreadHex() + " [ZebThread] plain text",
                                 ThreadHex() + " [Quarn] code=-1, text=y",
                                 other + " from another thread"}));
  EXPECT_NE(other, ThreadHex());
}

TEST(ZebTrace, NobodyListeningCostsNothingAndNeverBlocks) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20000; ++i) TraceFmt("[Quarn] line %d", i);
  // Generous: a blocking send would take seconds, not milliseconds.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ZebTrace, MismatchedPlaceholdersRaise) {
  EXPECT_THROW(TraceFmt("[Quarn] (%d)", "text"), platform::EFormatError);
  EXPECT_THROW(TraceFmt("[Quarn] (%s)", 5), platform::EFormatError);
  EXPECT_THROW(TraceFmt("[Quarn] (%s) (%s)", "one"), platform::EFormatError);
  EXPECT_THROW(TraceFmt("[Quarn] ()", "extra"), platform::EFormatError);
  EXPECT_THROW(TraceFmt("[Quarn] (%x)", 5), platform::EFormatError);
  EXPECT_THROW(Trace("50% done"), platform::EFormatError);  // a bare percent sign
  EXPECT_EQ(platform::Format("100%% of %s", {"frames"}), "100% of frames");
}

TEST(ZebTrace, DailyFileGetsStampedLinesAndChangesAtMidnight) {
  TempDir dir;
  TZebTrace trace;
  platform::LocalTime now{2026, 12, 8, 23, 59, 58, 7};
  trace.Clock = [&] { return now; };
  trace.SetLogPrefix(dir.Path() + "/");
  TraceListener listener(&trace);
  trace.Write("first");
  now.Second = 59;
  now.Millisecond = 999;
  trace.Write("second");
  now = {2026, 12, 9, 0, 0, 1, 42};
  trace.Write("third");

  const std::string id = ThreadHex();
  EXPECT_EQ(ReadFile(dir.File("20261208.txt")),
            "23:59:58 007 : " + id + " first\r\n23:59:59 999 : " + id + " second\r\n");
  EXPECT_EQ(ReadFile(dir.File("20261209.txt")), "00:00:01 042 : " + id + " third\r\n");
  EXPECT_EQ(trace.FileName(), dir.File("20261209.txt"));
  // The datagrams carry no time stamp.
  EXPECT_EQ(listener.Take(), (std::vector<std::string>{id + " first", id + " second", id + " third"}));
}

TEST(ZebTrace, WithoutAPrefixNoFileIsWritten) {
  TempDir dir;
  TZebTrace trace;
  bool asked = false;
  trace.Clock = [&] {
    asked = true;
    return platform::Now();
  };
  trace.Write("no file");
  EXPECT_FALSE(asked);  // no stamp is even computed
  EXPECT_EQ(trace.FileName(), "");
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(ZebTrace, AFileThatCannotBeOpenedTurnsTheFileOffForGood) {
  TempDir dir;
  TZebTrace trace;
  platform::LocalTime now{2026, 12, 8, 10, 0, 0, 0};
  trace.Clock = [&] { return now; };
  trace.SetLogPrefix(dir.File("missing-folder/"));
  TraceListener listener(&trace);
  trace.Write("lost to the file");
  EXPECT_EQ(trace.FileHandle(), -1);
  // The next day the folder exists, but the file stays off; datagrams go on.
  std::filesystem::create_directory(dir.File("missing-folder"));
  now.Day = 9;
  trace.Write("still only a datagram");
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("missing-folder")));
  EXPECT_EQ(listener.TakeMessages(),
            (std::vector<std::string>{"lost to the file", "still only a datagram"}));
}
