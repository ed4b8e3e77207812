// The views as shown, over one capture file, each against a reference measured in the same run:
//   filter   TShownViews::ApplyFilter with "tcp port 80" and "udp or arp" over every frame
//            (each frame tested once by libpcap's engine, the eight views built) against
//            `tcpdump -r FILE -w /dev/null EXPR`, the same engine reading the file alone,
//   find     FindRow of a text that no row holds over the first million rows of the TCP
//            view, against building every row of that view (the row texts find reads),
//   sort     the first million rows of the TCP view by Window (a number), by Data and
//            TCPOption (text) and by SrcIP (an address), and the whole TCP view by Data and
//            the Ethernet view of every frame by Len, with progress, against std::sort of as
//            many 64-bit numbers,
// and the memory a view keeps per row (Bytes / rows) and the most it held for a while.
// Wall and CPU seconds (every thread of the process) of the best of RUNS runs.
//
// With a scratch directory DIR the whole set runs twice on a copy of FILE there, each after a
// line "== page cache: STATE (PATH)": "written" and "reread" (bench::TPageCache says what
// each is). Without DIR, FILE is measured as the page cache holds it.
//
//   trellan-viewbench FILE [RUNS [DIR]]
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <random>

#include "bench/BenchSupport.h"
#include "pipeline/CapturePipeline.h"
#include "pipeline/ShownRows.h"

namespace {
using bench::Clock;
using bench::Seconds;

struct TBest {
  double Wall = 1e30, Cpu = 1e30;
};

template <class TWork>
TBest Time(int runs, TWork&& work) {
  TBest best;
  for (int run = 0; run < runs; ++run) {
    const double cpu0 = bench::ProcessCpuSeconds();
    const Clock::time_point t0 = Clock::now();
    work();
    best.Wall = std::min(best.Wall, Seconds(t0, Clock::now()));
    best.Cpu = std::min(best.Cpu, bench::ProcessCpuSeconds() - cpu0);
  }
  return best;
}

void Line(const char* what, long rows, TBest ours, const char* reference, TBest theirs) {
  std::printf("%-34s %10ld rows  %7.3f s wall %7.3f s cpu | %-28s %7.3f s wall %7.3f s cpu | %.2fx\n",
              what, rows, ours.Wall, ours.Cpu, reference, theirs.Wall, theirs.Cpu,
              theirs.Wall / ours.Wall);
}

// Builds every row of `rows` of a view: what find cannot do with less.
void BuildRows(int32_t view, const TPacketList& rows) {
  TRowText row;
  size_t sum = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    ViewRowText(view, rows, int32_t(r), 0, 0, row);
    sum += row.Count();
  }
  if (sum == 1) std::puts("");
}

int Measure(const std::string& file, int runs);
}  // namespace

int main(int argc, char** argv) {
  const auto arguments = bench::FileAndRuns(argc > 3 ? 3 : argc, argv);
  if (!arguments) return 2;
  if (argc <= 3) return Measure(arguments->File, arguments->Runs);
  return bench::InEachPageCacheState(arguments->File, argv[3], "viewbench-copy.cap",
                                     [&](const std::string& file) { return Measure(file, arguments->Runs); });
}

namespace {
int Measure(const std::string& file, int runs) {
  TCapturePipeline capture;
  std::string error;
  if (capture.ReadFile(file, "", error) != TCapturePipeline::TReadResult::Complete) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const int32_t frames = capture.Count();
  std::printf("%s: %d frames, %d TCP\n", file.c_str(), frames, capture.List(viTCP).Count());

  // ---- Display filter ----
  for (const char* expression : {"tcp port 80", "udp or arp"}) {
    long shown = 0;
    TBest ours = Time(runs, [&] {
      TShownViews views;
      std::string refused;
      if (!views.ApplyFilter(capture, expression, refused)) {
        std::fprintf(stderr, "%s: %s\n", expression, refused.c_str());
        std::exit(1);
      }
      shown = views.Count(capture, viETH);
    });
    TBest theirs;
    if (bench::HaveCommand("tcpdump")) {
      // The command's own CPU time, not this process's.
      for (int run = 0; run < runs; ++run) {
        const bench::TRunResult result =
            bench::Run({"tcpdump", "-r", file, "-w", "/dev/null", expression});
        theirs.Wall = std::min(theirs.Wall, result.Wall);
        theirs.Cpu = std::min(theirs.Cpu, result.Cpu);
      }
    }
    char what[64];
    std::snprintf(what, sizeof what, "filter '%s' (%ld pass)", expression, shown);
    Line(what, frames, ours, "tcpdump -r -w /dev/null", theirs);
  }

  // ---- Find and sort over a million rows of the TCP view: the frames up to the millionth ----
  const int32_t million = 1000000;
  TCapturePipeline first;
  first.ReadFile(file, "", error, [&](int64_t, uint64_t, uint64_t) {
    return first.List(viTCP).Count() < million;
  });
  const TPacketList tcp = first.Items(viTCP);
  const int32_t tcpRows = int32_t(tcp.size());
  TFindResult found;
  TBest find = Time(runs, [&] {
    TFindQuery absent;
    absent.Text = "no such text here";
    found = FindRow(viTCP, tcp, -1, true, absent, {});
  });
  TBest rows = Time(1, [&] { BuildRows(viTCP, tcp); });
  Line(found.Row < 0 ? "find (not found), TCP view" : "find FOUND (wrong)", tcpRows, find,
       "every row built, one thread", rows);

  // Sorts need a capture of their own size: one of the first million frames.
  std::vector<uint64_t> numbers(static_cast<size_t>(tcpRows));
  std::mt19937_64 random(1);
  TBest stdSort = Time(runs, [&] {
    for (auto& n : numbers) n = random();
    std::sort(numbers.begin(), numbers.end());
  });
  for (const char* caption : {"Window", "Data", "TCPOption", "SrcIP"}) {
    const int32_t column = ColumnOfCaption(viTCP, caption);
    std::unique_ptr<TShownViews> views;
    TBest sort = Time(runs, [&] {
      views = std::make_unique<TShownViews>();
      views->Sort(first, viTCP, column, false, {});
    });
    char what[64];
    std::snprintf(what, sizeof what, "sort TCP view by %s", caption);
    const long sorted = views->Count(first, viTCP);
    Line(what, sorted, sort, "std::sort of as many uint64", stdSort);
    std::printf("  memory kept %.2f B/row, peak transient %.2f B/row\n",
                double(views->Bytes()) / double(sorted),
                double(views->PeakTransientBytes()) / double(sorted));
  }
  const struct {
    int32_t View, Column;
    const char* What;
  } whole[] = {{viTCP, ColumnOfCaption(viTCP, "Data"), "sort all TCP rows by Data, progress"},
               {viETH, 3, "sort Ethernet view by Len, progress"}};
  for (const auto& w : whole) {
    TShownViews views;
    int64_t calls = 0;
    TBest sort = Time(1, [&] {
      views.Sort(capture, w.View, w.Column, false, {}, [&](int64_t, int64_t) { return ++calls > 0; });
    });
    const int32_t count = views.Count(capture, w.View);
    std::vector<uint64_t> all(static_cast<size_t>(count));
    TBest reference = Time(1, [&] {
      for (auto& n : all) n = random();
      std::sort(all.begin(), all.end());
    });
    Line(w.What, count, sort, "std::sort of as many uint64", reference);
    std::printf("  %ld progress calls; memory kept %.2f B/row, peak transient %.2f B/row\n",
                long(calls), double(views.Bytes()) / count,
                double(views.PeakTransientBytes()) / count);
  }
  return 0;
}
}  // namespace
