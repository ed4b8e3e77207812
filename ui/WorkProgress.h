#pragma once
// The progress of a long piece of work on the rows of a view (filtering, sorting, finding):
// a bar with the rows done, and Cancel. Qt shows it only when the work looks like taking more
// than a moment, so short work on small captures flashes nothing; meanwhile the window stays
// responsive. Cancel ends the work with nothing changed.
#include <QString>
#include <cstdint>

#include "pipeline/ShownRows.h"

class QProgressDialog;
class QWidget;

class TWorkProgress {
 public:
  // `title` names the work in the window's caption, `what` in the line above the bar.
  TWorkProgress(QWidget* parent, const QString& title, const QString& what);
  ~TWorkProgress();
  TWorkProgress(const TWorkProgress&) = delete;
  TWorkProgress& operator=(const TWorkProgress&) = delete;

  // Shows where the work is; false when the user cancelled it.
  bool Report(int64_t done, int64_t total);
  // The handler the row routines take.
  TRowsProgress Handler() {
    return [this](int64_t done, int64_t total) { return Report(done, total); };
  }

 private:
  QWidget* Parent_;
  QString Title_, What_;
  QProgressDialog* Dialog_ = nullptr;
  bool Cancelled_ = false;
};
