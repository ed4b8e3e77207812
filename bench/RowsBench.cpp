// Builds every row of the TCP view of a capture file and compares the rate with tools that
// print the same fields of the same packets, in one run:
//   rows          the TCP view's row-text handler for every row, as the list view asks for
//                 them, the file read and filed by a capture pipeline first (timed apart):
//                 each row reads its frame from the file, in place in the page cache,
//   trellan-rows  `trellan-rows --view TCP FILE`: load, file, build and print every row,
//   tshark        `tshark -n -r FILE -Y tcp -T fields -e ...` with the closest fields, when
//                 tshark is installed.
// Then every row of every view is built, view by view, and the cost of a row is shown for
// each (best of RUNS). The page cache is warm: the file has just been read whole. To compare
// with the cost from before frames were read from the file, run the rowsbench of an earlier
// commit on the same file right after this one (bench/report does).
// The commands write to /dev/null. Each is run RUNS times, interleaved, and the best time
// counts; a first untimed pass warms the page cache and checks that every tool prints as
// many TCP rows as the view has.
//
//   trellan-rowsbench FILE [RUNS]
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "pipeline/CapturePipeline.h"
#include "presentation/CellText.h"
#include "presentation/PacketLists.h"
#include "presentation/Views.h"

namespace {
using bench::Clock;
using bench::Seconds;

// The TCP view's 29 columns as tshark fields. VerLen is one byte, shown by tshark as two
// fields; FlagOff is the flags and fragment offset word, of which ip.flags is the closest
// single field; the Data column (payload text) is tcp.payload, printed as hex digits.
const char* const TsharkFields[] = {
    "frame.number", "frame.time", "frame.cap_len", "frame.len",             // Index .. Len
    "eth.dst", "eth.src", "eth.type",                                       // DstMac .. Protocol
    "ip.version", "ip.hdr_len", "ip.dsfield", "ip.len", "ip.id", "ip.flags",  // VerLen .. FlagOff
    "ip.ttl", "ip.proto", "ip.checksum", "ip.src", "ip.dst",                // TimeLive .. DstIP
    "tcp.srcport", "tcp.dstport", "tcp.seq_raw", "tcp.ack_raw", "tcp.hdr_len", "tcp.flags",
    "tcp.window_size_value", "tcp.checksum", "tcp.urgent_pointer", "tcp.options",
    "tcp.len", "tcp.payload"};                                              // Len, Data

std::vector<std::string> TsharkCommand(const std::string& file) {
  std::vector<std::string> argv = {"tshark", "-n", "-r", file, "-Y", "tcp", "-T", "fields"};
  for (const char* field : TsharkFields) {
    argv.push_back("-e");
    argv.push_back(field);
  }
  return argv;
}

struct TBest {
  double Wall = 1e30;
  double Cpu = 1e30;
  void Take(double wall, double cpu) {
    Wall = std::min(Wall, wall);
    Cpu = std::min(Cpu, cpu);
  }
};
}  // namespace

int main(int argc, char** argv) {
  const auto arguments = bench::FileAndRuns(argc, argv);
  if (!arguments) return 2;
  const auto& [file, runs] = *arguments;
  const std::vector<std::string> rowsTool = {TRELLAN_ROWS_TOOL, "--view", "TCP", file};
  const std::vector<std::string> tshark = TsharkCommand(file);
  const bool haveTshark = bench::HaveCommand("tshark");

  // The store and lists the window would hold, over the file read in place.
  TCapturePipeline capture;
  const Clock::time_point loadStart = Clock::now();
  std::string error;
  if (capture.ReadFile(file, std::string(), error) != TCapturePipeline::TReadResult::Complete) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const double load = Seconds(loadStart, Clock::now());
  const TPacketList items = capture.Items(viTCP);
  const long rows = long(items.size());
  const long frames = capture.Count();

  // Untimed: page cache, and the row count each command prints.
  bool same = true;
  const long toolRows = bench::Run(rowsTool, true).Lines - 2;  // "# TCP" and the captions
  if (toolRows != rows) {
    std::printf("MISMATCH: trellan-rows printed %ld TCP rows, the view has %ld\n", toolRows, rows);
    same = false;
  }
  if (haveTshark) {
    const long tsharkRows = bench::Run(tshark, true).Lines;
    if (tsharkRows != rows) {
      std::printf("MISMATCH: tshark printed %ld TCP rows, the view has %ld\n", tsharkRows, rows);
      same = false;
    }
  }

  TBest build, tool, reference;
  TRowText row;
  uint64_t textBytes = 0;
  size_t columns = 0;
  for (int run = 0; run < runs; ++run) {
    uint64_t bytes = 0;
    const double cpu0 = bench::ThreadCpuSeconds();
    const Clock::time_point t0 = Clock::now();
    for (int32_t r = 0; r < int32_t(rows); ++r) {
      ViewRowText(viTCP, items, r, 0, 0, row);
      for (const std::string& cell : row) bytes += cell.size();
    }
    build.Take(Seconds(t0, Clock::now()), bench::ThreadCpuSeconds() - cpu0);
    textBytes = bytes;
    columns = row.Count();

    const bench::TRunResult t = bench::Run(rowsTool);
    if (!t.Ok) same = false;
    tool.Take(t.Wall, t.Cpu);
    if (haveTshark) {
      const bench::TRunResult s = bench::Run(tshark);
      if (!s.Ok) same = false;
      reference.Take(s.Wall, s.Cpu);
    }
  }

  std::printf("file %s: %ld frames, %ld in the TCP view (%zu columns, %.0f bytes of text a row)\n",
              file.c_str(), frames, rows, columns, double(textBytes) / double(rows ? rows : 1));
  std::printf("load and file (once): %.3f s\n", load);
  std::printf("best of %d runs          wall s     rows/s (wall)   cpu s      rows/s (cpu)\n",
              runs);
  auto line = [&](const char* name, const TBest& b) {
    std::printf("%-20s %10.3f %14.0f %10.3f %14.0f\n", name, b.Wall, double(rows) / b.Wall,
                b.Cpu, double(rows) / b.Cpu);
  };
  line("rows", build);
  line("trellan-rows", tool);
  std::printf("rows: %.1f ns per row (wall), %.1f ns (cpu)\n", build.Wall * 1e9 / double(rows),
              build.Cpu * 1e9 / double(rows));
  if (haveTshark) {
    line("tshark", reference);
    std::printf("throughput against tshark (targets: rows >= 10, trellan-rows >= 50):\n");
    std::printf("  rows          %8.1f x (wall) %8.1f x (cpu)\n", reference.Wall / build.Wall,
                reference.Cpu / build.Cpu);
    std::printf("  trellan-rows  %8.1f x (wall) %8.1f x (cpu)\n", reference.Wall / tool.Wall,
                reference.Cpu / tool.Cpu);
  } else {
    std::printf("tshark not installed\n");
  }

  static const char* const ViewNames[ViewCount] = {"Ethernet", "IP",  "ARP",      "ICMP",
                                                   "TCP",      "UDP", "TCP Data", "UDP Data"};
  std::printf("every row of every view, best of %d runs:\n", runs);
  std::printf("view        rows        ns/row (wall)  ns/row (cpu)\n");
  for (int32_t view = viETH; view < ViewCount; ++view) {
    const TPacketList viewItems = capture.Items(view);
    const int32_t count = int32_t(viewItems.size());
    TBest best;
    uint64_t bytes = 0;
    for (int run = 0; run < runs; ++run) {
      const double cpu0 = bench::ThreadCpuSeconds();
      const Clock::time_point t0 = Clock::now();
      for (int32_t r = 0; r < count; ++r) {
        ViewRowText(view, viewItems, r, 0, 0, row);
        for (const std::string& cell : row) bytes += cell.size();
      }
      best.Take(Seconds(t0, Clock::now()), bench::ThreadCpuSeconds() - cpu0);
    }
    const double n = count ? double(count) : 1.0;
    std::printf("%-10s %9d %14.1f %13.1f\n", ViewNames[view], count, best.Wall * 1e9 / n,
                best.Cpu * 1e9 / n);
    if (bytes == 0 && count > 0) same = false;
  }
  return same ? 0 : 1;
}
