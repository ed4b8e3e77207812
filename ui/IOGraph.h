#pragma once
// Statistics > I/O Graph: frames or bytes per second over the capture, at an interval from
// 1 ms to 10 min, drawn as a line with labelled axes, and a second line for the frames the
// display filter shows. A click selects the first frame of the interval under it in the
// active view (the first one the filter shows, when a filter is set). Save Graph writes the
// picture as PNG, Save Numbers the counts as CSV.
#include <QWidget>
#include <vector>

#include "ui/FormStatistics.h"

class QComboBox;

// The drawing: one point per interval, several intervals to a pixel taking their largest.
class TIOGraph final : public QWidget {
  Q_OBJECT
 public:
  explicit TIOGraph(QWidget* parent = nullptr);
  // `intervals` of `interval` nanoseconds; `bytes` draws bytes/s, else frames/s; `shown`
  // adds the filter's line, captioned `filter`.
  void SetCounts(std::vector<TIntervalCounts> intervals, int64_t interval, bool bytes, bool shown,
                 const QString& filter);
  const std::vector<TIntervalCounts>& Counts() const { return Counts_; }
  // The interval under x (in the widget), or -1 outside the plot.
  int32_t IntervalAt(int x) const;
  QSize sizeHint() const override { return {720, 320}; }

 signals:
  void IntervalClicked(int32_t interval);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QRect Plot() const;
  double Value(const TIntervalCounts& counts, bool shown) const;
  std::vector<TIntervalCounts> Counts_;
  int64_t Interval_ = TTrafficStatistics::DefaultInterval;
  bool Bytes_ = false, Shown_ = false;
  QString Filter_;
};

class TIOGraphForm final : public TTrafficWindow {
  Q_OBJECT
 public:
  explicit TIOGraphForm(TMainForm& main);
  // The intervals offered, in nanoseconds, and their captions.
  static const std::vector<std::pair<int64_t, const char*>>& Intervals();

  QComboBox *cbxUnit, *cbxInterval;
  TIOGraph* Graph;
  void SelectInterval(int32_t interval);
  void SaveGraph();
  void SaveNumbers();

 protected:
  void Restart(const TDisplayFilter* filter, bool limit) override;
  void ShowResults() override;
  // The filter's line is drawn whether or not the counts are limited to it.
  bool FilterMatters() const override { return true; }
};
