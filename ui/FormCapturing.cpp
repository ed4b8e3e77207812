#include "ui/FormCapturing.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "presentation/Filing.h"
#include "ui/FixedDialog.h"

namespace {
const char* const Names[ViewCount] = {"Ethernet:", "IP:",  "ARP:",      "ICMP:",
                                      "TCP:",      "UDP:", "TCP Data:", "UDP Data:"};
const char* const LabelNames[ViewCount] = {"lblETH", "lblIP",  "lblARP",     "lblICMP",
                                           "lblTCP", "lblUDP", "lblTCPData", "lblUDPData"};
}  // namespace

TCapturingForm::TCapturingForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint) {
  setObjectName("CapturingForm");
  setWindowTitle("Capture");
  setFont(TFixedDialog::DesignFont());
  setModal(false);
  setFixedSize(202, 212);
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
  btnClose = new QPushButton("Stop", this);
  btnClose->setObjectName("btnClose");
  btnClose->setGeometry(62, 178, 76, 24);
  btnClose->setDefault(true);
  connect(btnClose, &QPushButton::clicked, this, [this] {
    if (OnStop) OnStop();
  });
  tmrView.setInterval(1000);
  connect(&tmrView, &QTimer::timeout, this, &TCapturingForm::ShowCounters);
}

void TCapturingForm::ShowCounters() {
  for (int32_t i = 0; i < ViewCount; ++i)
    ValueLabels[size_t(i)]->setText(QString::number(Counter(i)));
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
