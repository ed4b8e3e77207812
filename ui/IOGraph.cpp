#include "ui/IOGraph.h"

#include <QBuffer>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "ui/FormMain.h"
#include "ui/Prompts.h"
#include "ui/StatisticsTable.h"

namespace {
const QColor AllColor(40, 90, 200);
const QColor ShownColor(220, 110, 20);

// A step of 1, 2 or 5 times a power of ten that cuts `range` into at most `most` parts.
double NiceStep(double range, int most) {
  if (range <= 0) return 1;
  const double rough = range / most;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= rough) return m * power;
  return 10 * power;
}

// A value for an axis: 1.5k, 20M; plain below a thousand.
QString AxisText(double value) {
  const char* suffixes[] = {"", "k", "M", "G", "T"};
  int i = 0;
  while (std::abs(value) >= 1000 && i < 4) {
    value /= 1000;
    ++i;
  }
  return QString::number(value, 'g', 4) + suffixes[i];
}
}  // namespace

TIOGraph::TIOGraph(QWidget* parent) : QWidget(parent) {
  setObjectName("IOGraph");
  setMinimumSize(320, 200);
  setAutoFillBackground(true);
  setCursor(Qt::PointingHandCursor);
  setToolTip("A click selects the interval's first frame in the main window's active view");
}

void TIOGraph::SetCounts(std::vector<TIntervalCounts> intervals, int64_t interval, bool bytes,
                         bool shown, const QString& filter) {
  Counts_ = std::move(intervals);
  Interval_ = interval;
  Bytes_ = bytes;
  Shown_ = shown;
  Filter_ = filter;
  update();
}

QRect TIOGraph::Plot() const {
  const int text = fontMetrics().height();
  // Room at the left for the values, below for the times and the axis caption, above for
  // the legend.
  return QRect(fontMetrics().horizontalAdvance("000.0M") + 14, text + 12,
               std::max(10, width() - fontMetrics().horizontalAdvance("000.0M") - 30),
               std::max(10, height() - 3 * text - 24));
}

double TIOGraph::Value(const TIntervalCounts& counts, bool shown) const {
  const double amount = Bytes_ ? double(shown ? counts.ShownBytes : counts.Bytes)
                               : double(shown ? counts.ShownFrames : counts.Frames);
  return amount * 1e9 / double(Interval_);
}

int32_t TIOGraph::IntervalAt(int x) const {
  const QRect plot = Plot();
  if (Counts_.empty() || x < plot.left() || x > plot.right()) return -1;
  const double at = double(x - plot.left()) / plot.width() * double(Counts_.size());
  return std::clamp(int32_t(at), 0, int32_t(Counts_.size()) - 1);
}

void TIOGraph::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRect plot = Plot();
  const QPalette& colours = palette();
  const QColor text = colours.color(QPalette::WindowText);
  QColor grid = text;
  grid.setAlpha(40);

  // The largest value of either line, which the vertical axis reaches.
  double top = 0;
  for (const TIntervalCounts& c : Counts_) top = std::max(top, Value(c, false));
  const double yStep = NiceStep(top > 0 ? top : 1, 5);
  const double yMax = std::max(yStep, std::ceil(top / yStep) * yStep);
  const size_t n = Counts_.size();
  const double seconds = double(n) * double(Interval_) / 1e9;
  const double xStep = NiceStep(seconds > 0 ? seconds : 1, std::max(2, plot.width() / 90));
  auto xOf = [&](double s) { return plot.left() + (seconds > 0 ? s / seconds : 0) * plot.width(); };
  auto yOf = [&](double v) { return plot.bottom() - v / yMax * plot.height(); };

  painter.setPen(text);
  for (double v = 0; v <= yMax + yStep / 2; v += yStep) {
    const int y = int(std::lround(yOf(v)));
    painter.setPen(grid);
    painter.drawLine(plot.left(), y, plot.right(), y);
    painter.setPen(text);
    painter.drawText(QRect(0, y - 10, plot.left() - 6, 20), Qt::AlignRight | Qt::AlignVCenter,
                     AxisText(v));
  }
  for (double s = 0; s <= seconds + xStep / 1000; s += xStep) {
    const int x = int(std::lround(xOf(s)));
    painter.setPen(grid);
    painter.drawLine(x, plot.top(), x, plot.bottom());
    painter.setPen(text);
    painter.drawText(QRect(x - 40, plot.bottom() + 4, 80, fontMetrics().height()), Qt::AlignHCenter,
                     AxisText(s) + "s");
  }
  painter.drawRect(plot);
  painter.drawText(QRect(plot.left(), height() - fontMetrics().height() - 4, plot.width(),
                         fontMetrics().height()),
                   Qt::AlignHCenter, "Time since the first frame");

  // One point per pixel column: the largest of the intervals that fall on it, so that a
  // burst stays visible however many intervals a pixel holds.
  auto line = [&](bool shown, const QColor& colour) {
    if (n == 0) return;
    QPainterPath path;
    const int columns = std::max(1, plot.width());
    const bool perInterval = n <= size_t(columns);
    const size_t points = perInterval ? n : size_t(columns);
    for (size_t p = 0; p < points; ++p) {
      double value = 0, x;
      if (perInterval) {
        value = Value(Counts_[p], shown);
        x = xOf((double(p) + 0.5) * double(Interval_) / 1e9);
      } else {
        const size_t from = p * n / points, to = std::max(from + 1, (p + 1) * n / points);
        for (size_t i = from; i < to; ++i) value = std::max(value, Value(Counts_[i], shown));
        x = plot.left() + double(p) + 0.5;
      }
      if (p == 0) path.moveTo(x, yOf(value));
      else path.lineTo(x, yOf(value));
    }
    painter.setPen(QPen(colour, 1.6));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
  };
  painter.setClipRect(plot.adjusted(0, -2, 1, 1));
  line(false, AllColor);
  if (Shown_) line(true, ShownColor);
  painter.setClipping(false);

  // The legend, above the plot at its right.
  QStringList captions = {QString(Bytes_ ? "Bytes/s" : "Frames/s") + ", all frames"};
  if (Shown_) captions << "Display filter: " + Filter_;
  int x = plot.right();
  for (int i = int(captions.size()) - 1; i >= 0; --i) {
    const int w = fontMetrics().horizontalAdvance(captions[i]);
    x -= w;
    painter.setPen(text);
    painter.drawText(x, 4 + fontMetrics().ascent(), captions[i]);
    x -= 22;
    painter.setPen(QPen(i == 0 ? AllColor : ShownColor, 3));
    painter.drawLine(x, 4 + fontMetrics().height() / 2, x + 16, 4 + fontMetrics().height() / 2);
    x -= 16;
  }
}

void TIOGraph::mousePressEvent(QMouseEvent* event) {
  const int32_t interval = IntervalAt(int(event->position().x()));
  if (event->button() == Qt::LeftButton && interval >= 0) emit IntervalClicked(interval);
}

// ---- The window ---------------------------------------------------------------------------

const std::vector<std::pair<int64_t, const char*>>& TIOGraphForm::Intervals() {
  static const std::vector<std::pair<int64_t, const char*>> intervals = {
      {1'000'000, "1 ms"},         {10'000'000, "10 ms"},        {100'000'000, "100 ms"},
      {1'000'000'000, "1 s"},      {10'000'000'000, "10 s"},     {60'000'000'000, "1 min"},
      {600'000'000'000, "10 min"}};
  return intervals;
}

TIOGraphForm::TIOGraphForm(TMainForm& main) : TTrafficWindow(main, "IOGraphForm", "I/O Graph", false) {
  resize(820, 460);
  auto* controls = new QHBoxLayout;
  cbxUnit = new QComboBox(this);
  cbxUnit->setObjectName("cbxUnit");
  cbxUnit->addItems({"Frames/s", "Bytes/s"});
  cbxInterval = new QComboBox(this);
  cbxInterval->setObjectName("cbxInterval");
  for (const auto& [nanoseconds, caption] : Intervals()) cbxInterval->addItem(caption, qlonglong(nanoseconds));
  cbxInterval->setCurrentIndex(3);
  controls->addWidget(new QLabel("Show:", this));
  controls->addWidget(cbxUnit);
  controls->addSpacing(12);
  controls->addWidget(new QLabel("Interval:", this));
  controls->addWidget(cbxInterval);
  controls->addStretch(1);
  Body->addLayout(controls);
  Graph = new TIOGraph(this);
  Body->addWidget(Graph, 1);
  connect(cbxUnit, &QComboBox::currentIndexChanged, this, [this] { ShowResults(); });
  // The engine counts at one interval from its first frame: another one starts over.
  connect(cbxInterval, &QComboBox::currentIndexChanged, this, [this] { Recompute(); });
  connect(Graph, &TIOGraph::IntervalClicked, this, [this](int32_t interval) { SelectInterval(interval); });
  AddButton("btnSaveGraph", "Save Graph...", [this] { SaveGraph(); });
  AddButton("btnSaveNumbers", "Save Numbers...", [this] { SaveNumbers(); });
}

void TIOGraphForm::Restart(const TDisplayFilter* filter, bool limit) {
  TTrafficWindow::Restart(filter, limit);
  Stats_.SetInterval(cbxInterval->currentData().toLongLong());
}

void TIOGraphForm::ShowResults() {
  Graph->SetCounts(Stats_.Intervals(), Stats_.Interval(), cbxUnit->currentIndex() == 1,
                   !FilterExpression().empty(), QString::fromLocal8Bit(FilterExpression()));
  if (Stats_.IntervalsCut())
    lblState->setText(lblState->text() + "   Only the first " +
                      QString::number(TTrafficStatistics::MaxIntervals) +
                      " intervals are drawn: choose a longer interval");
}

void TIOGraphForm::SelectInterval(int32_t interval) {
  const auto& counts = Graph->Counts();
  const bool filtered = !FilterExpression().empty();
  // An empty interval selects the first frame after it.
  for (size_t i = size_t(interval); i < counts.size(); ++i) {
    const int32_t frame = filtered ? counts[i].FirstShownFrame : counts[i].FirstFrame;
    if (frame > 0) {
      Main.GoToFrame(frame);
      return;
    }
  }
}

void TIOGraphForm::SaveGraph() {
  TFileDialogRequest request;
  request.Save = true;
  request.Title = "Save Graph";
  request.Filter = "PNG images (*.png);;All files (*)";
  request.DefaultExtension = "png";
  const auto chosen = Prompts::ChooseFile(this, request);
  if (!chosen) return;
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  Graph->grab().save(&buffer, "PNG");
  std::string error;
  if (WriteFileBeside(chosen->toLocal8Bit().toStdString(), {png.constData(), size_t(png.size())}, error))
    Prompts::FileUsed(*chosen);
  else
    Prompts::ShowError(this, QString::fromLocal8Bit(error));
}

void TIOGraphForm::SaveNumbers() {
  std::vector<std::vector<std::string>> rows = {
      {"Interval start", "Frames", "Bytes", "Shown frames", "Shown bytes"}};
  const auto& counts = Graph->Counts();
  const double seconds = double(Stats_.Interval()) / 1e9;
  for (size_t i = 0; i < counts.size(); ++i)
    rows.push_back({QString::number(double(i) * seconds, 'f', 3).toStdString(),
                    std::to_string(counts[i].Frames), std::to_string(counts[i].Bytes),
                    std::to_string(counts[i].ShownFrames), std::to_string(counts[i].ShownBytes)});
  ExportCells(this, "Save Numbers", rows);
}
