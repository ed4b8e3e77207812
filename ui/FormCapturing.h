#pragma once
// The capture progress window: shows the live frames counted in eight categories once a
// second, with a Stop button that ends the capture. Beside them it tells how the capture is
// going: the time since it started, the frames and bytes of the last second, the frames the
// kernel and the interface lost (which a user otherwise never learns of), and the frame rate of
// the last minute as a small graph. The capture counts the frames as it files them (Counts,
// Bytes) and the library counts the losses (Statistics); this window only shows them.
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <deque>
#include <functional>

#include "capture/Quarn.h"
#include "presentation/Views.h"

class QLabel;
class QPushButton;
class QGroupBox;

// The frame rate of the last minute, one sample a second, scaled to the highest.
class TRateGraph : public QWidget {
  Q_OBJECT
 public:
  static constexpr size_t Samples = 60;
  explicit TRateGraph(QWidget* parent = nullptr);
  void AddSample(double rate);
  void Clear();
  const std::deque<double>& Rates() const { return Rates_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::deque<double> Rates_;
};

class TCapturingForm : public QDialog {
  Q_OBJECT
 public:
  explicit TCapturingForm(QWidget* parent = nullptr);

  // A capture starts: the clock, the rates and the graph start again.
  void Start();
  void ShowCounters();
  int32_t Counter(int32_t view) const { return Counts ? Counts(view) : 0; }
  // Milliseconds since Start.
  int64_t Elapsed() const { return Clock_.isValid() ? Clock_.elapsed() : 0; }

  // The number of frames of a category (a TViewIndex) counted so far.
  std::function<int32_t(int32_t view)> Counts;
  // The bytes of the frames counted so far.
  std::function<uint64_t()> Bytes;
  // The library's counters of the source; false when it has none.
  std::function<bool(TCaptureStatistics& statistics)> Statistics;

  // What "Stop" runs: the main window's close command.
  std::function<void()> OnStop;

  QGroupBox* GroupBox;
  std::array<QLabel*, ViewCount> ValueLabels{};  // lblETH ... lblUDPData
  QGroupBox* gbProgress;
  QLabel* lblElapsed;
  QLabel* lblFrameRate;
  QLabel* lblByteRate;
  QLabel* lblKernelDrops;
  QLabel* lblInterfaceDrops;
  QLabel* lblPeakRate;
  TRateGraph* RateGraph;
  QPushButton* btnClose;
  QTimer tmrView;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void ShowRates();
  void ShowDrops();

  bool Shown_ = false;
  QElapsedTimer Clock_;
  // What the last showing counted, and when (on Clock_), for the rates over the last second.
  int64_t LastShown_ = 0;
  int64_t LastFrames_ = 0;
  uint64_t LastBytes_ = 0;
};

// 12345 as "12,345": the counts a capture reaches are read at a glance with the groups marked.
QString GroupedNumber(uint64_t value);
// Milliseconds as "hh:mm:ss".
QString ElapsedText(int64_t ms);
