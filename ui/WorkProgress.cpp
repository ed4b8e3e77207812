#include "ui/WorkProgress.h"

#include <QCoreApplication>
#include <QLocale>
#include <QProgressDialog>

namespace {
// Below this many rows the work ends before a bar could be read.
constexpr int64_t ShowFrom = 500000;
// The dialog appears once the work looks like lasting longer than this (milliseconds).
constexpr int ShowAfter = 400;
}  // namespace

TWorkProgress::TWorkProgress(QWidget* parent, const QString& title, const QString& what)
    : Parent_(parent), Title_(title), What_(what) {}

TWorkProgress::~TWorkProgress() { delete Dialog_; }

bool TWorkProgress::Report(int64_t done, int64_t total) {
  if (Cancelled_) return false;
  if (!Dialog_) {
    if (total < ShowFrom) return true;
    Dialog_ = new QProgressDialog(Parent_);
    Dialog_->setObjectName("WorkProgress");
    Dialog_->setWindowTitle(Title_);
    Dialog_->setCancelButtonText("Cancel");
    Dialog_->setWindowModality(Qt::WindowModal);
    Dialog_->setMinimumDuration(ShowAfter);
    Dialog_->setAutoClose(false);
    Dialog_->setAutoReset(false);
    Dialog_->setRange(0, 1000);
    Dialog_->setMinimumWidth(360);
  }
  const QLocale english(QLocale::English);
  Dialog_->setLabelText(QString("%1\n%2 of %3 rows")
                            .arg(What_, english.toString(qlonglong(done)),
                                 english.toString(qlonglong(total))));
  Dialog_->setValue(total > 0 ? int(std::min<int64_t>(done * 1000 / total, 1000)) : 1000);
  QCoreApplication::processEvents();
  if (Dialog_->wasCanceled()) Cancelled_ = true;
  return !Cancelled_;
}
