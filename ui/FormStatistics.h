#pragma once
// The Statistics menu's windows: Capture Summary, Protocol Hierarchy, Conversations,
// Endpoints, I/O Graph (ui/IOGraph.h) and TCP Analysis. Each is a window of its own, not
// modal, one of each kind. It takes the capture's frames in on a thread of its own, with its
// progress and a Cancel in the window (Continue goes on from where it stopped), and takes in
// the new frames once a second while a capture runs or a file is read: the engines take in
// only the frames they have not seen. A capture that is emptied or replaced stops the work
// first (CaptureGoing), as the engine reads its frames, and the window starts over on the new
// one. "Limit to display filter" counts only the frames the main window's display filter
// passes, with a filter of the window's own compiled from the same expression: the main
// window's may be swapped for another while this one is being read.
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/ShownRows.h"
#include "pipeline/TCPAnalysis.h"
#include "pipeline/TrafficStatistics.h"

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QStandardItemModel;
class QTabWidget;
class QTableView;
class QTimer;
class QTreeView;
class QVBoxLayout;
class TMainForm;
class TStatisticsTable;

// One TakeIn on a thread of its own; the end reaches `finished` through the owner's event
// loop, on the main thread. A work stopped (Stop, or the owner going) never reports.
class TTakeInThread {
 public:
  using TProgress = std::function<bool(int64_t, int64_t)>;
  using TWork = std::function<bool(const TProgress& progress)>;
  explicit TTakeInThread(QObject* owner) : Owner_(owner) {}
  ~TTakeInThread() { Stop(); }
  TTakeInThread(const TTakeInThread&) = delete;
  TTakeInThread& operator=(const TTakeInThread&) = delete;

  void Start(TWork work, std::function<void(bool complete)> finished);
  // Asks the work to end at its next progress report; its end is still reported.
  void Cancel() { Cancel_ = true; }
  // Ends the work and waits for it; its end is not reported.
  void Stop();
  bool Running() const { return Running_; }
  // Where the work is: frames taken in, of how many.
  int64_t Done() const { return Done_.load(std::memory_order_relaxed); }
  int64_t Total() const { return Total_.load(std::memory_order_relaxed); }

 private:
  // The work has ended: on the main thread, found by the poll.
  void Ended();
  QObject* Owner_;
  std::thread Thread_;
  std::atomic<bool> Cancel_{false};
  std::atomic<int64_t> Done_{0}, Total_{0};
  // Set by the work's thread as it ends. The main thread polls for it rather than being sent a
  // call: what the work counted then reaches it through the join, which every checker sees.
  std::atomic<bool> Ended_{false}, Complete_{false};
  QTimer* Poll_ = nullptr;
  std::function<void(bool)> Finished_;
  bool Running_ = false;
};

// Selects frame `frame` in the view that holds it: `view` when its list has it, else the
// Ethernet view, which has every frame (with View > Decode IPv6 and VLAN off an IPv6 or VLAN
// frame is filed there alone). False, with the user told, when a display filter hides it.
bool ShowFrameInView(TMainForm& main, int32_t view, int32_t frame);
// Puts `expression` into the main window's display filter box and applies it as Apply does.
void ApplyAsDisplayFilter(TMainForm& main, const std::string& expression);

class TStatisticsWindow : public QWidget {
  Q_OBJECT
 public:
  ~TStatisticsWindow() override;
  // The capture on screen is about to be emptied or replaced: the work on it ends now, and
  // the window starts over on whatever capture is on screen once the event loop runs.
  void CaptureGoing();
  // Takes in the frames the capture gained, or starts over on a new capture or filter.
  void Refresh();
  bool Working() const { return Work_.Running(); }
  // Frames taken in so far.
  virtual int32_t Taken() const = 0;

  QCheckBox* chkLimitToFilter = nullptr;  // nullptr in the windows without it
  QProgressBar* pbWork;
  QPushButton* btnCancel;
  QLabel* lblState;

 protected:
  TStatisticsWindow(TMainForm& main, const char* name, const QString& title, bool limitBox);
  void showEvent(QShowEvent* event) override;
  // Drops everything counted: the next TakeIn starts from the first frame. `filter` (the
  // window's own, compiled; empty for none) and `limit` as TTrafficStatistics::SetFilter.
  virtual void Restart(const TDisplayFilter* filter, bool limit) = 0;
  // On the work's thread.
  virtual bool TakeIn(const TFrameStore& store, int32_t count, const TTakeInThread::TProgress& progress) = 0;
  // Shows what was counted; the work is not running.
  virtual void ShowResults() = 0;
  // Whether the display filter changes what the window shows.
  virtual bool FilterMatters() const;
  // Starts over at the next Refresh (a setting of the window changed).
  void Recompute();
  // The display filter's expression the window counts with; empty for none.
  const std::string& FilterExpression() const { return Expression_; }

  TMainForm& Main;
  QVBoxLayout* Body;      // the window's own widgets
  QHBoxLayout* Buttons;   // the bottom row, after the progress
  QPushButton* AddButton(const char* name, const QString& caption, std::function<void()> clicked);

 private:
  void Finished(bool complete);
  void ShowProgress();
  TTakeInThread Work_{this};
  QTimer *RefreshTimer_, *ProgressTimer_;
  uint64_t Identity_ = 0;     // the capture counted; 0 to start over
  std::string Expression_;
  bool Limited_ = false;
  bool Stopped_ = false;      // the user cancelled: no more work until Continue
  TDisplayFilter Filter_;
};

// A window over the traffic's statistics: what the Summary, Protocol Hierarchy,
// Conversations, Endpoints and I/O Graph windows count.
class TTrafficWindow : public TStatisticsWindow {
  Q_OBJECT
 public:
  int32_t Taken() const override { return Stats_.Taken(); }

 protected:
  using TStatisticsWindow::TStatisticsWindow;
  void Restart(const TDisplayFilter* filter, bool limit) override;
  bool TakeIn(const TFrameStore& store, int32_t count, const TTakeInThread::TProgress& progress) override;
  TTrafficStatistics Stats_;
};

// Statistics > Capture Summary: the file, its format and link types, the frames, bytes and
// times, the averages, and a live capture's losses.
class TSummaryForm final : public TTrafficWindow {
  Q_OBJECT
 public:
  explicit TSummaryForm(TMainForm& main);
  QTableView* tvSummary;

 protected:
  void Restart(const TDisplayFilter* filter, bool limit) override;
  void ShowResults() override;

 private:
  class TTextTable* Table_;
  // A live capture's losses, read while its source is open: they go with its handle.
  QString Drops_[2];
};

// Statistics > Protocol Hierarchy: the protocols as a tree, with their frames and bytes.
class TProtocolsForm final : public TTrafficWindow {
  Q_OBJECT
 public:
  explicit TProtocolsForm(TMainForm& main);
  QTreeView* tvProtocols;

 protected:
  void ShowResults() override;

 private:
  QStandardItemModel* Model_;
};

// Statistics > Conversations and Statistics > Endpoints: a tab per kind (Ethernet, IPv4, IPv6,
// TCP, UDP), each captioned with its row count.
class TTrafficForm final : public TTrafficWindow {
  Q_OBJECT
 public:
  TTrafficForm(TMainForm& main, bool conversations);
  QTabWidget* pcKinds;
  QTableView* Table(TTrafficKind kind) const { return Views_[size_t(kind)]; }
  // The context menu's commands on the row at `position` of `kind`'s tab.
  std::string RowFilter(TTrafficKind kind, int32_t position) const;
  int32_t RowFirstFrame(TTrafficKind kind, int32_t position) const;
  void ApplyAsFilter(TTrafficKind kind, int32_t position);
  void FollowStream(TTrafficKind kind, int32_t position);
  void GoToFirstFrame(TTrafficKind kind, int32_t position);

 protected:
  void ShowResults() override;

 private:
  void ContextMenu(TTrafficKind kind, const QPoint& at);
  // The address columns of a TCP or UDP tab are made for IPv4; an IPv6 end widens them.
  void WidenForIPv6(TTrafficKind kind);
  int32_t Row(TTrafficKind kind, int32_t position) const;
  const bool Conversations_;
  std::array<std::vector<TConversationStats>, TrafficKindCount> ConversationRows_;
  std::array<std::vector<TEndpointStats>, TrafficKindCount> EndpointRows_;
  int64_t Origin_ = 0;  // the time of the capture's first frame
  std::array<QTableView*, TrafficKindCount> Views_{};
  std::array<TStatisticsTable*, TrafficKindCount> Models_{};
};

// Statistics > TCP Analysis: the frames of each kind of trouble, and the connections that had
// any, with their counts; a double-click goes to a connection's first frame with trouble.
class TTCPAnalysisForm final : public TStatisticsWindow {
  Q_OBJECT
 public:
  explicit TTCPAnalysisForm(TMainForm& main);
  int32_t Taken() const override { return Analysis_->Taken(); }
  QTableView *tvKinds, *tvConnections;
  void GoToFirstTrouble(int32_t position);

 protected:
  void Restart(const TDisplayFilter* filter, bool limit) override;
  bool TakeIn(const TFrameStore& store, int32_t count, const TTakeInThread::TProgress& progress) override;
  void ShowResults() override;

 private:
  std::unique_ptr<TTCPAnalysis> Analysis_ = std::make_unique<TTCPAnalysis>();
  std::vector<TTCPConversationTrouble> Rows_;
  class TTextTable* Kinds_;
  TStatisticsTable* Connections_;
};
