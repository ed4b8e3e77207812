// Times what a user of the main window waits for with a large capture, in one run:
//   store     the file read by a capture pipeline alone (store and lists), no window,
//   window    the same file opened in a shown main window (offscreen) with the TCP view
//             active, the way the program opens a file (OpenSource: its own pipeline reads
//             a large file on a thread while the window goes on): up to the first rows
//             painted, and up to the view painted with every row once the reading is done,
//   reading   changes of tab while the file is read, each up to the new page's view painted,
//   tab       a change of tab, up to the new page's view painted,
//   last row  a jump to the last row of the active view, up to the view painted.
// Store and window alternate RUNS times; their best and median are shown, in wall and CPU
// seconds. The tab changes and the jumps are taken in every run, and their median and worst
// are shown.
//
// With a scratch directory DIR all of it runs twice on a copy of FILE there, after a line
// "== page cache: STATE (PATH)" for each state (bench::TPageCache).
//
//   trellan-windowbench FILE [RUNS [DIR]]
#include <QAbstractItemModel>
#include <QEvent>
#include <QTabWidget>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "pipeline/CapturePipeline.h"
#include "settings/Globals.h"
#include "ui/Application.h"
#include "ui/FormMain.h"

namespace {
using bench::Clock;
using bench::Seconds;

// Counts the paints of one view, so that a timing is known to end with the view painted
// rather than with a paint still pending.
class TPaintCounter : public QObject {
 public:
  long Count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++Count;
    return false;
  }
};

void ProcessEvents() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Runs the events an action left behind and makes sure that `view` has painted since its
// counter read `paintsBefore`: the event loop normally paints it, and a paint is forced
// otherwise.
void UntilPainted(TListView* view, const TPaintCounter& paints, long paintsBefore) {
  ProcessEvents();
  if (paints.Count == paintsBefore) view->viewport()->repaint();
}

// Wall and CPU seconds (every thread of the process) since it was made.
struct TStopwatch {
  Clock::time_point Wall0 = Clock::now();
  double Cpu0 = bench::ProcessCpuSeconds();
  double Wall() const { return Seconds(Wall0, Clock::now()); }
  double Cpu() const { return bench::ProcessCpuSeconds() - Cpu0; }
};

struct TSeries {
  std::vector<double> Times;
  void Add(double t) { Times.push_back(t); }
  double Median() const {
    std::vector<double> t = Times;
    std::sort(t.begin(), t.end());
    return t.empty() ? 0 : t[t.size() / 2];
  }
  double Worst() const { return Times.empty() ? 0 : *std::max_element(Times.begin(), Times.end()); }
  double Best() const { return Times.empty() ? 0 : *std::min_element(Times.begin(), Times.end()); }
};

struct TLoadTimes {
  TSeries Wall, Cpu;
  void Add(const TStopwatch& watch) {
    Wall.Add(watch.Wall());
    Cpu.Add(watch.Cpu());
  }
};

struct TStoreRun {
  bool Loaded = false;
  long Frames = 0, TCPRows = 0;
};

// Reads `file` through a pipeline of its own, as the window does but without it; timed up to
// the last frame filed (giving the memory back afterwards is not).
TStoreRun StoreAlone(const std::string& file, TLoadTimes& times) {
  TStoreRun run;
  const TStopwatch watch;
  {
    auto capture = std::make_unique<TCapturePipeline>();
    std::string error;
    const auto read = capture->ReadFile(file, std::string(), error);
    times.Add(watch);
    run.Loaded = read == TCapturePipeline::TReadResult::Complete;
    if (!run.Loaded) std::fprintf(stderr, "%s\n", error.c_str());
    run.Frames = capture->Count();
    run.TCPRows = capture->List(viTCP).Count();
  }
  return run;
}

struct TWindowTimes {
  TLoadTimes Open;     // OpenSource alone
  TLoadTimes FirstRows;  // OpenSource up to the TCP view painted with its first rows
  TLoadTimes Painted;  // OpenSource up to the TCP view painted with its rows, the file read
  TSeries ReadingTabs;  // tab changes while the file is read
  TSeries FirstTab;    // the first tab change after the file was opened
  TSeries LaterTabs;   // the tab changes after it
  TSeries LastRow;     // scrollToBottom up to the view painted
  bool Checked = true;
};

// Opens `file` in a new main window and takes the timings of one run.
// `tabsWhileReading`: changes tabs while the file is read, for their times; otherwise only waits for the
// reading, whose time the tab changes would lengthen.
void WindowRun(const std::string& file, long tcpRows, bool tabsWhileReading, TWindowTimes& times) {
  Global->ActiveListViewIndex = viTCP;
  Global->Save();
  auto form = std::make_unique<TMainForm>();
  std::array<TPaintCounter, ViewCount> paints;
  for (int32_t v = 0; v < ViewCount; ++v)
    form->ListView(v)->viewport()->installEventFilter(&paints[size_t(v)]);
  form->show();
  for (int i = 0; i < 100 && !(form->windowHandle() && form->windowHandle()->isExposed()); ++i)
    ProcessEvents();
  ProcessEvents();
  if (form->pcView->currentIndex() != viTCP) form->pcView->setCurrentIndex(viTCP);
  ProcessEvents();
  TListView* tcp = form->ListView(viTCP);

  Global->OpenType = 2;
  Global->FileName = file;
  long before = paints[viTCP].Count;
  const TStopwatch watch;
  form->OpenSource();
  times.Open.Add(watch);
  UntilPainted(tcp, paints[viTCP], before);
  times.FirstRows.Add(watch);
  // The window while it reads: tab changes back and forth, each up to the page painted.
  while (!tabsWhileReading && form->ReadingFile()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  for (int32_t tab = viETH; form->ReadingFile(); tab = tab == viETH ? viTCP : viETH) {
    TListView* view = form->ListView(tab);
    const long painted = paints[size_t(tab)].Count;
    const Clock::time_point s = Clock::now();
    form->pcView->setCurrentIndex(tab);
    UntilPainted(view, paints[size_t(tab)], painted);
    times.ReadingTabs.Add(Seconds(s, Clock::now()));
  }
  if (form->pcView->currentIndex() != viTCP) form->pcView->setCurrentIndex(viTCP);
  before = paints[viTCP].Count;
  UntilPainted(tcp, paints[viTCP], before);
  times.Painted.Add(watch);
  if (tcp->model()->rowCount() != tcpRows || form->ActiveViewIndex != viTCP) {
    std::printf("MISMATCH: the TCP view shows %d rows (active view %d), the file has %ld\n",
                tcp->model()->rowCount(), form->ActiveViewIndex, tcpRows);
    times.Checked = false;
  }

  // Ethernet first: the first change announces a million rows to the views that have not
  // heard of them yet.
  const int32_t tabs[] = {viETH, viIP, viTCPData, viUDP, viTCP, viETH, viTCP};
  bool first = true;
  for (int32_t tab : tabs) {
    TListView* view = form->ListView(tab);
    before = paints[size_t(tab)].Count;
    const Clock::time_point s = Clock::now();
    form->pcView->setCurrentIndex(tab);
    UntilPainted(view, paints[size_t(tab)], before);
    (first ? times.FirstTab : times.LaterTabs).Add(Seconds(s, Clock::now()));
    first = false;
    if (form->ActiveViewIndex != tab || view->model()->rowCount() != view->ItemCount()) {
      std::printf("MISMATCH: tab %d shows %d of %d rows\n", tab, view->model()->rowCount(),
                  view->ItemCount());
      times.Checked = false;
    }
  }

  for (int32_t tab : {viTCP, viETH}) {
    form->pcView->setCurrentIndex(tab);
    TListView* view = form->ListView(tab);
    ProcessEvents();
    const TPaintCounter& painted = paints[size_t(tab)];
    const int last = view->model()->rowCount() - 1;
    for (int i = 0; i < 3; ++i) {
      view->scrollToTop();
      UntilPainted(view, painted, painted.Count);
      before = painted.Count;
      const Clock::time_point s = Clock::now();
      view->scrollToBottom();
      UntilPainted(view, painted, before);
      times.LastRow.Add(Seconds(s, Clock::now()));
      const int y = view->rowViewportPosition(last);
      if (y < 0 || y >= view->viewport()->height()) {
        std::printf("MISMATCH: tab %d does not show its last row\n", tab);
        times.Checked = false;
      }
    }
  }
  form->close();
}

int Measure(const std::string& file, int runs);
}  // namespace

int main(int argc, char** argv) {
  const auto arguments = bench::FileAndRuns(argc > 3 ? 3 : argc, argv);
  if (!arguments) return 2;
  const std::string file = std::filesystem::absolute(arguments->File).string();
  const int runs = arguments->Runs;
  const std::string dir = argc > 3 ? argv[3] : "";
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int qtArgc = 1;
  TApplication app(qtArgc, argv);
  if (dir.empty()) return Measure(file, runs);
  return bench::InEachPageCacheState(file, dir, "windowbench-copy.cap",
                                     [&](const std::string& copy) { return Measure(copy, runs); });
}

namespace {
int Measure(const std::string& file, int runs) {
  char folder[] = "/tmp/trellan-windowbench-XXXXXX";
  if (!mkdtemp(folder)) {
    std::perror("mkdtemp");
    return 1;
  }
  TWindowTimes times;
  TLoadTimes store, warmUp;
  TStoreRun file0;
  {
    TGlobal settings(std::string(folder) + "/Trellan.ini");
    Global = &settings;
    file0 = StoreAlone(file, warmUp);  // the page cache warmed, and the counts to check
    // One more window, for the times of tab changes while it reads.
    TWindowTimes reading;
    if (file0.Loaded) WindowRun(file, file0.TCPRows, true, reading);
    times.ReadingTabs = reading.ReadingTabs;
    // Alternated, each going first in every other run, so that neither always finds the
    // memory the other has just given back.
    for (int run = 0; file0.Loaded && run < runs; ++run) {
      if (run % 2) WindowRun(file, file0.TCPRows, false, times);
      StoreAlone(file, store);
      if (run % 2 == 0) WindowRun(file, file0.TCPRows, false, times);
    }
    Global = nullptr;
  }
  std::filesystem::remove_all(folder);
  if (!file0.Loaded) return 1;

  const double frames = double(file0.Frames);
  std::printf("file %s: %ld frames, %ld in the TCP view; %d runs\n", file.c_str(),
              file0.Frames, file0.TCPRows, runs);
  std::printf("                       best: wall s   frames/s  x store  cpu s  x store"
              "   median: wall s  x store\n");
  auto load = [&](const char* name, const TLoadTimes& t) {
    std::printf("%-22s %12.3f %10.0f %8.2f %6.3f %8.2f %16.3f %8.2f\n", name, t.Wall.Best(),
                frames / t.Wall.Best(), t.Wall.Best() / store.Wall.Best(), t.Cpu.Best(),
                t.Cpu.Best() / store.Cpu.Best(), t.Wall.Median(),
                t.Wall.Median() / store.Wall.Median());
  };
  load("store alone", store);
  load("window, file opened", times.Open);
  load("window, first rows", times.FirstRows);
  load("window, view painted", times.Painted);
  std::printf("target: window, view painted <= 1.5 x store\n");
  auto line = [](const char* name, const TSeries& s) {
    std::printf("%-22s %8.1f ms median %8.1f ms worst %8.1f ms best  (%zu taken, target < 100)\n",
                name, s.Median() * 1e3, s.Worst() * 1e3, s.Best() * 1e3, s.Times.size());
  };
  if (!times.ReadingTabs.Times.empty()) line("tabs while reading", times.ReadingTabs);
  line("first tab change", times.FirstTab);
  line("later tab changes", times.LaterTabs);
  line("jump to last row", times.LastRow);
  return times.Checked ? 0 : 1;
}
}  // namespace
