#include "ui/FormCapturing.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <cmath>

#include "presentation/Filing.h"
#include "ui/FixedDialog.h"

namespace {
const char* const Names[ViewCount] = {"Ethernet:", "IP:",  "ARP:",      "ICMP:",
                                      "TCP:",      "UDP:", "TCP Data:", "UDP Data:"};
const char* const LabelNames[ViewCount] = {"lblETH", "lblIP",  "lblARP",     "lblICMP",
                                           "lblTCP", "lblUDP", "lblTCPData", "lblUDPData"};
// The rates are measured over the time since the previous tick; a showing much sooner than
// that (a Clear All, the window appearing) would measure a few milliseconds and jump about.
constexpr int64_t ShortestRateInterval = 500;

QString ByteRateText(double bytesPerSecond) {
  static const char* const Units[] = {"KiB/s", "MiB/s", "GiB/s"};
  if (bytesPerSecond < 1024) return QString("%1 B/s").arg(std::llround(bytesPerSecond));
  double value = bytesPerSecond / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(Units)) {
    value /= 1024;
    ++unit;
  }
  return QString("%1 %2").arg(value, 0, 'f', 1).arg(Units[unit]);
}
}  // namespace

QString GroupedNumber(uint64_t value) {
  QString digits = QString::number(value);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, ',');
  return digits;
}

QString ElapsedText(int64_t ms) {
  const int64_t seconds = std::max<int64_t>(ms, 0) / 1000;
  return QString("%1:%2:%3")
      .arg(seconds / 3600, 2, 10, QChar('0'))
      .arg(seconds / 60 % 60, 2, 10, QChar('0'))
      .arg(seconds % 60, 2, 10, QChar('0'));
}

// ---- Rate graph -----------------------------------------------------------------------------

TRateGraph::TRateGraph(QWidget* parent) : QWidget(parent) {
  setObjectName("RateGraph");
  setToolTip("Frames per second over the last minute");
}

void TRateGraph::AddSample(double rate) {
  Rates_.push_back(std::max(rate, 0.0));
  while (Rates_.size() > Samples) Rates_.pop_front();
  update();
}

void TRateGraph::Clear() {
  Rates_.clear();
  update();
}

// The newest second is at the right edge and a minute spans the width, so that the graph
// scrolls at a steady pace from the first second on rather than stretching as it fills.
void TRateGraph::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.fillRect(rect(), palette().base());
  painter.setPen(palette().mid().color());
  painter.drawRect(area);
  if (Rates_.empty()) return;
  const double highest = *std::max_element(Rates_.begin(), Rates_.end());
  if (highest <= 0) return;
  const QRectF inner = area.adjusted(1, 2, -1, -1);
  const double step = inner.width() / double(Samples - 1);
  QPainterPath line;
  for (size_t i = 0; i < Rates_.size(); ++i) {
    const double x = inner.right() - step * double(Rates_.size() - 1 - i);
    const double y = inner.bottom() - inner.height() * Rates_[i] / highest;
    if (i == 0) line.moveTo(x, y);
    else line.lineTo(x, y);
  }
  QPainterPath filled = line;
  filled.lineTo(inner.right(), inner.bottom());
  filled.lineTo(line.elementAt(0).x, inner.bottom());
  filled.closeSubpath();
  painter.setRenderHint(QPainter::Antialiasing);
  QColor fill = palette().highlight().color();
  fill.setAlpha(60);
  painter.fillPath(filled, fill);
  painter.setPen(QPen(palette().highlight().color(), 1.2));
  painter.drawPath(line);
}

// ---- Window ---------------------------------------------------------------------------------

TCapturingForm::TCapturingForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint) {
  setObjectName("CapturingForm");
  setWindowTitle("Capture");
  setFont(TFixedDialog::DesignFont());
  setModal(false);
  setFixedSize(404, 212);
  GroupBox = new QGroupBox("Capture Package", this);
  GroupBox->setGeometry(12, 8, 178, 161);
  for (int32_t i = 0; i < ViewCount; ++i) {
    const int top = 22 + 16 * i;
    auto* name = new QLabel(Names[i], GroupBox);
    name->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    name->setGeometry(4, top, 64, 14);  // ends at 68
    auto* value = new QLabel("0", GroupBox);
    value->setObjectName(LabelNames[i]);
    value->setGeometry(76, top, 96, 14);
    ValueLabels[size_t(i)] = value;
  }

  gbProgress = new QGroupBox("Progress", this);
  gbProgress->setGeometry(198, 8, 194, 161);
  const auto addRow = [this](int row, const char* caption, const char* name) {
    const int top = 22 + 16 * row;
    auto* label = new QLabel(caption, gbProgress);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(4, top, 88, 14);  // ends at 92
    auto* value = new QLabel(gbProgress);
    value->setObjectName(name);
    value->setGeometry(100, top, 88, 14);
    return value;
  };
  lblElapsed = addRow(0, "Elapsed:", "lblElapsed");
  lblFrameRate = addRow(1, "Frames/s:", "lblFrameRate");
  lblByteRate = addRow(2, "Bytes/s:", "lblByteRate");
  lblKernelDrops = addRow(3, "Kernel drops:", "lblKernelDrops");
  lblInterfaceDrops = addRow(4, "Interface drops:", "lblInterfaceDrops");
  for (QLabel* drops : {lblKernelDrops, lblInterfaceDrops})
    drops->setToolTip("Frames lost before this program could read them");
  // The graph has no axis: the row above it says what its top stands for.
  lblPeakRate = addRow(5, "Last minute:", "lblPeakRate");
  RateGraph = new TRateGraph(gbProgress);
  RateGraph->setGeometry(8, 120, 178, 33);

  btnClose = new QPushButton("Stop", this);
  btnClose->setObjectName("btnClose");
  btnClose->setGeometry(164, 178, 76, 24);
  btnClose->setDefault(true);
  connect(btnClose, &QPushButton::clicked, this, [this] {
    if (OnStop) OnStop();
  });
  tmrView.setInterval(1000);
  connect(&tmrView, &QTimer::timeout, this, [this] {
    ShowRates();
    ShowCounters();
  });
  Start();
}

void TCapturingForm::Start() {
  Clock_.start();
  LastShown_ = 0;
  LastFrames_ = Counter(viETH);
  LastBytes_ = Bytes ? Bytes() : 0;
  RateGraph->Clear();
  lblPeakRate->clear();
  lblFrameRate->setText("0");
  lblByteRate->setText(ByteRateText(0));
}

void TCapturingForm::ShowCounters() {
  // The eight counters keep their plain figures; the new rows group thousands.
  for (int32_t i = 0; i < ViewCount; ++i) ValueLabels[size_t(i)]->setText(QString::number(Counter(i)));
  lblElapsed->setText(ElapsedText(Elapsed()));
  ShowDrops();
}

void TCapturingForm::ShowRates() {
  const int64_t now = Elapsed();
  const int64_t interval = now - LastShown_;
  if (interval < ShortestRateInterval) return;
  const int64_t frames = Counter(viETH);
  const uint64_t bytes = Bytes ? Bytes() : 0;
  // Clear All sets the counts back to zero: what was counted since is all new.
  const int64_t newFrames = frames >= LastFrames_ ? frames - LastFrames_ : frames;
  const uint64_t newBytes = bytes >= LastBytes_ ? bytes - LastBytes_ : bytes;
  const double frameRate = double(newFrames) * 1000.0 / double(interval);
  lblFrameRate->setText(GroupedNumber(uint64_t(std::llround(frameRate))));
  lblByteRate->setText(ByteRateText(double(newBytes) * 1000.0 / double(interval)));
  RateGraph->AddSample(frameRate);
  const auto& rates = RateGraph->Rates();
  lblPeakRate->setText(
      "up to " +
      GroupedNumber(uint64_t(std::llround(*std::max_element(rates.begin(), rates.end())))) +
      "/s");
  LastShown_ = now;
  LastFrames_ = frames;
  LastBytes_ = bytes;
}

void TCapturingForm::ShowDrops() {
  TCaptureStatistics counted;
  const bool known = Statistics && Statistics(counted);
  const auto show = [known](QLabel* label, uint64_t drops) {
    label->setText(known ? GroupedNumber(drops) : QString("n/a"));
    // Red draws the eye to frames that are missing from the capture.
    QPalette palette;
    if (known && drops > 0) palette.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(palette);
  };
  show(lblKernelDrops, counted.KernelDropped);
  show(lblInterfaceDrops, counted.InterfaceDropped);
}

void TCapturingForm::showEvent(QShowEvent* event) {
  if (!Shown_) {
    Shown_ = true;
    if (const QScreen* s = screen()) move(s->geometry().center() - rect().center());
  }
  ShowCounters();
  tmrView.start();
  QDialog::showEvent(event);
}

void TCapturingForm::hideEvent(QHideEvent* event) {
  tmrView.stop();
  QDialog::hideEvent(event);
}

// Without a close box the window closes only when the capture stops; the system's close
// keys and Escape do not end it behind the capture's back.
void TCapturingForm::closeEvent(QCloseEvent* event) {
  if (event->spontaneous()) event->ignore();
  else event->accept();
}

void TCapturingForm::reject() {}
