#pragma once
// The capture progress window: shows the live frames counted in eight categories once a
// second, with a Stop button that ends the capture. The capture counts them as it files them
// (Counts reads its counters); this window only shows them.
#include <QDialog>
#include <QTimer>
#include <array>
#include <atomic>
#include <functional>

#include "presentation/Views.h"

class QLabel;
class QPushButton;
class QGroupBox;

class TCapturingForm : public QDialog {
  Q_OBJECT
 public:
  explicit TCapturingForm(QWidget* parent = nullptr);

  void ShowCounters();
  int32_t Counter(int32_t view) const { return Counts ? Counts(view) : 0; }

  // The number of frames of a category (a TViewIndex) counted so far.
  std::function<int32_t(int32_t view)> Counts;

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
  bool Shown_ = false;
};
