#include "ui/FileProgress.h"

#include <QCoreApplication>
#include <QLocale>
#include <QProgressDialog>

TFileProgress::TFileProgress(QWidget* parent, const std::string& fileName)
    : Parent_(parent), FileName_(QString::fromLocal8Bit(fileName.c_str())) {}

TFileProgress::~TFileProgress() { Done(); }

bool TFileProgress::Report(int64_t frames, uint64_t read, uint64_t size) {
  if (Cancelled_) return false;
  if (!Dialog_) {
    if (size < ShowFrom) return true;
    Dialog_ = new QProgressDialog(Parent_);
    Dialog_->setObjectName("FileProgress");
    Dialog_->setWindowTitle("Open File");
    Dialog_->setCancelButtonText("Cancel");
    Dialog_->setWindowModality(Qt::WindowModal);
    Dialog_->setMinimumDuration(0);
    Dialog_->setAutoClose(false);
    Dialog_->setAutoReset(false);
    Dialog_->setRange(0, 1000);
    Dialog_->setMinimumWidth(360);
  }
  const QLocale locale = QLocale::c();
  const int perMille = size ? int(read * 1000 / size) : 1000;
  Dialog_->setLabelText(QString("Reading %1\n%2 frames, %3 of %4 MB (%5 %)")
                            .arg(FileName_)
                            .arg(QLocale(QLocale::English).toString(qlonglong(frames)))
                            .arg(locale.toString(double(read) / 1e6, 'f', 1))
                            .arg(locale.toString(double(size) / 1e6, 'f', 1))
                            .arg(perMille / 10));
  Dialog_->setValue(perMille);
  Dialog_->show();
  QCoreApplication::processEvents();
  if (Dialog_->wasCanceled()) Cancelled_ = true;
  return !Cancelled_;
}

void TFileProgress::Done() {
  delete Dialog_;
  Dialog_ = nullptr;
}
