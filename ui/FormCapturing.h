#pragma once
// The capture progress window: counts every live frame in eight categories and shows the
// counts once a second, with a Stop button that ends the capture.
//
// CountFrame runs wherever frames are delivered: on the main thread, or on the capture
// thread while the timer reads the counts on the main thread. The counters are atomics
// incremented with relaxed order: no lock per frame, and a display that is up to a second
// old is what the timer shows anyway.
#include <QDialog>
#include <QTimer>
#include <array>
#include <atomic>
#include <functional>

#include "capture/QuarnFrame.h"
#include "presentation/Views.h"

class QLabel;
class QPushButton;
class QGroupBox;

class TCapturingForm : public QDialog {
  Q_OBJECT
 public:
  explicit TCapturingForm(QWidget* parent = nullptr);

  void ResetCounters();
  void ShowCounters();
  void CountFrame(const PCAP_PKTHDR* header, const ETH_HDR* frame);
  int32_t Counter(int32_t view) const { return Counters_[size_t(view)].load(std::memory_order_relaxed); }

  // What "Stop" runs: the main window's close command.
  std::function<void()> OnStop;

  QGroupBox* GroupBox;
  std::array<QLabel*, ViewCount> ValueLabels{};  // lblETH ... lblUDPData
  QPushButton* btnClose;
  QTimer tmrView;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  std::array<std::atomic<int32_t>, ViewCount> Counters_{};
  bool Shown_ = false;
};
