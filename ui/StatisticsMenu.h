#pragma once
// The main window's Statistics menu: it opens each window of the menu (one of each kind,
// brought to the front when asked for again), tells them when the capture they count is
// about to go, and runs the TCP analysis whose verdicts tint the rows of the TCP and TCP Data
// views: as a file is read and as a live capture goes, on a thread of its own, while the
// views read the verdicts of the frames already taken in.
#include <QObject>
#include <array>
#include <memory>

#include "ui/FormStatistics.h"

class QMenu;
class QTimer;

class TStatisticsMenu final : public QObject {
  Q_OBJECT
 public:
  enum TWindow { swSummary, swProtocols, swConversations, swEndpoints, swIOGraph, swTCPAnalysis };
  static constexpr int WindowCount = 6;
  // Fills `menu` and marks the TCP views' rows of `main`.
  TStatisticsMenu(TMainForm& main, QMenu* menu);
  ~TStatisticsMenu() override;

  // Opens (or brings to the front) the window `window`.
  TStatisticsWindow* Open(TWindow window);
  // The window, if it was opened once.
  TStatisticsWindow* Window(TWindow window) const { return Windows_[size_t(window)]; }
  // The capture on screen is about to be emptied or replaced: every work on it stops.
  void CaptureGoing();
  // The TCP analysis of the rows' tints, as far as it has gone.
  const TTCPAnalysis& Troubles() const { return *Troubles_; }

 private:
  void AnalyseTroubles();
  TMainForm& Main_;
  std::array<TStatisticsWindow*, WindowCount> Windows_{};
  std::unique_ptr<TTCPAnalysis> Troubles_ = std::make_unique<TTCPAnalysis>();
  uint64_t TroublesOf_ = 0;  // the capture the analysis is of
  int32_t SafeTaken_ = 0;    // frames taken in by the last work that ended
  TTakeInThread Work_{this};
  QTimer* Timer_;
};
