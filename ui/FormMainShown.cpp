// The main window's ways through a large capture: the display filter bar, the find bar, sorting
// by a column's header, going to a frame, and the status bar's count of the rows shown.
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include "settings/Globals.h"
#include "ui/DialogFields.h"
#include "ui/FormMain.h"
#include "ui/Prompts.h"
#include "ui/WorkProgress.h"

namespace {
QString Grouped(int64_t value) { return QLocale(QLocale::English).toString(qlonglong(value)); }

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

QString ViewCaption(int32_t view) { return QString::fromLatin1(ViewSpecs[size_t(view)].Caption); }

// A bar that stays where it is put, with a caption in front of its first control.
QToolBar* FixedBar(QMainWindow* window, Qt::ToolBarArea area, const char* name,
                   const QString& title, const QString& caption) {
  auto* bar = new QToolBar(title, window);
  bar->setObjectName(name);
  bar->setMovable(false);
  bar->setFloatable(false);
  window->addToolBar(area, bar);
  bar->addWidget(new QLabel(caption, bar));
  return bar;
}

QToolButton* TextButton(QToolBar* bar, const char* name, const QString& caption,
                        const QString& tip) {
  auto* button = new QToolButton(bar);
  button->setObjectName(name);
  button->setText(caption);
  button->setToolTip(tip);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  bar->addWidget(button);
  return button;
}
}  // namespace

TShownViews::TOffsets TMainForm::DataOffsets() const {
  return {Global->TCPDataOffset, Global->UDPDataOffset};
}

// ---- Display filter -----------------------------------------------------------------------

void TMainForm::CreateFilterBar() {
  addToolBarBreak(Qt::TopToolBarArea);
  FilterBar = FixedBar(this, Qt::TopToolBarArea, "FilterBar", "Display Filter", " Display filter: ");
  cbxDisplayFilter = new QComboBox(FilterBar);
  cbxDisplayFilter->setObjectName("cbxDisplayFilter");
  cbxDisplayFilter->setEditable(true);
  cbxDisplayFilter->setInsertPolicy(QComboBox::NoInsert);
  cbxDisplayFilter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  cbxDisplayFilter->setMinimumContentsLength(16);
  cbxDisplayFilter->lineEdit()->setPlaceholderText("as tcpdump takes it, such as: tcp port 80");
  cbxDisplayFilter->setToolTip(
      "Shows only the frames this expression passes, in every view (Enter applies it; empty "
      "shows every frame)");
  FilterBar->addWidget(cbxDisplayFilter);
  connect(cbxDisplayFilter->lineEdit(), &QLineEdit::returnPressed, this,
          [this] { Guarded([this] { ApplyFilterClick(); }); });
  connect(cbxDisplayFilter, &QComboBox::activated, this,
          [this] { Guarded([this] { ApplyFilterClick(); }); });
  ApplyFilterButton = TextButton(FilterBar, "ApplyFilterButton", "Apply", "Apply the display filter");
  connect(ApplyFilterButton, &QToolButton::clicked, this,
          [this] { Guarded([this] { ApplyFilterClick(); }); });
  ClearFilterButton = TextButton(FilterBar, "ClearFilterButton", "Clear", "Show every frame again");
  connect(ClearFilterButton, &QToolButton::clicked, this, [this] {
    Guarded([this] {
      cbxDisplayFilter->setEditText({});
      ApplyFilterClick();
    });
  });
  lblFilterError = new QLabel(FilterBar);
  lblFilterError->setObjectName("lblFilterError");
  lblFilterError->setStyleSheet("QLabel { color: #b00000; padding-left: 4px; }");
  // The message goes in the bar's last slot, so that a long one does not push the box away.
  FilterBar->addWidget(lblFilterError);
}

void TMainForm::FillFilterHistory() {
  const QSignalBlocker quiet(cbxDisplayFilter);
  const QString text = cbxDisplayFilter->currentText();
  cbxDisplayFilter->clear();
  for (const std::string& entry : Global->DisplayFilterList) cbxDisplayFilter->addItem(Latin1(entry));
  cbxDisplayFilter->setEditText(text);
}

void TMainForm::ApplyFilterClick() {
  ApplyDisplayFilter(cbxDisplayFilter->currentText().trimmed().toStdString());
}

bool TMainForm::ApplyDisplayFilter(const std::string& expression) {
  if (Busy_) return false;
  std::array<int32_t, ViewCount> selected{};
  for (int32_t v = 0; v < ViewCount; ++v) selected[size_t(v)] = SelectedFrame(v);
  std::string error;
  bool applied;
  {
    const TBusyScope busy(Busy_);
    TWorkProgress progress(this, "Display Filter", "Filtering the frames with " + Latin1(expression));
    applied = Shown.ApplyFilter(*Capture, expression, error, progress.Handler());
  }
  if (!applied) {
    // libpcap's own words: the user knows them from tcpdump.
    if (!error.empty()) {
      lblFilterError->setText(Latin1(error));
      lblFilterError->setToolTip(Latin1(error));
    }
    return false;
  }
  lblFilterError->clear();
  lblFilterError->setToolTip({});
  cbxDisplayFilter->setEditText(Latin1(expression));
  ShowNewOrder(selected);
  if (!expression.empty()) {
    EnterFilter(Global->DisplayFilterList, expression);
    FillFilterHistory();
    // Kept at once, as the capture filter's history is when its dialog closes; a settings
    // file that cannot be written is reported, and the filter stays applied.
    Global->Save();
  }
  return true;
}

// ---- Rows in a new order ------------------------------------------------------------------

int32_t TMainForm::SelectedFrame(int32_t view) const {
  const int32_t row = Views_[size_t(view)]->SelectedRow();
  const TPacketList items = ShownItems(view);
  return row >= 0 && size_t(row) < items.size() ? items[size_t(row)].Index : 0;
}

void TMainForm::ShowNewOrder(const std::array<int32_t, ViewCount>& selected) {
  for (int32_t v = 0; v < ViewCount; ++v) {
    TListView* view = Views_[size_t(v)];
    const TShownRows& rows = Shown.View(v);
    view->Model()->Reset(Shown.Count(*Capture, v));
    view->ShowSortIndicator(rows.SortColumn(), rows.Descending());
    const int32_t row = selected[size_t(v)] ? rows.RowOf(selected[size_t(v)], Capture->List(v)) : -1;
    if (row >= 0) {
      view->selectRow(row);
      view->scrollTo(view->Model()->index(row, 0), QAbstractItemView::PositionAtCenter);
    } else if (QPlainTextEdit* memo = Memo(v)) {
      memo->clear();
    }
    view->viewport()->update();
  }
  UpdateShownCount();
}

void TMainForm::UpdateShownCount() {
  if (!ShownPanel) return;
  const int32_t view = ActiveViewIndex >= 0 && ActiveViewIndex < ViewCount ? ActiveViewIndex : 0;
  QString text = "Shown " + Grouped(Shown.Count(*Capture, view)) + " of " +
                 Grouped(Capture->List(view).Count());
  if (!Shown.Filter().Empty()) text += "   Display filter: " + Latin1(Shown.Filter().Expression());
  if (text == ShownPanel->text()) return;
  ShownPanel->setText(text);
  ShownPanel->setToolTip(text);
  FormResize();
}

// ---- Sort ---------------------------------------------------------------------------------

void TMainForm::SortColumnClick(int32_t view, int32_t column) {
  if (Busy_) return;
  if (ReadingFile()) {
    SortAfterReading_ = {view, column};
    ShowReadingProgress();
    return;
  }
  const TShownRows& rows = Shown.View(view);
  // Rising, then falling, then capture order again.
  int32_t by = column;
  bool descending = false;
  if (rows.SortColumn() == column) {
    if (rows.Descending()) by = -1;
    else descending = true;
  }
  std::array<int32_t, ViewCount> selected{};
  for (int32_t v = 0; v < ViewCount; ++v) selected[size_t(v)] = SelectedFrame(v);
  bool sorted;
  {
    const TBusyScope busy(Busy_);
    const QString caption = Views_[size_t(view)]->Model()->Caption(column);
    TWorkProgress progress(this, "Sort",
                           by < 0 ? "Putting the " + ViewCaption(view) + " view back in capture order"
                                  : "Sorting the " + ViewCaption(view) + " view by " + caption);
    sorted = Shown.Sort(*Capture, view, by, descending, DataOffsets(), progress.Handler());
  }
  if (sorted) ShowNewOrder(selected);
}

// ---- Find ---------------------------------------------------------------------------------

void TMainForm::CreateFindBar() {
  FindBar = FixedBar(this, Qt::BottomToolBarArea, "FindBar", "Find", " Find: ");
  edFind = new QLineEdit(FindBar);
  edFind->setObjectName("edFind");
  edFind->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  edFind->setMinimumWidth(120);
  edFind->setToolTip("A text searched in the cells of the view and in the payloads, or with Hex, "
                     "bytes such as 47 45 54");
  FindBar->addWidget(edFind);
  connect(edFind, &QLineEdit::returnPressed, this,
          [this] { Guarded([this] { FindInView(true); }); });
  chkFindHex = new QCheckBox("Hex", FindBar);
  chkFindHex->setObjectName("chkFindHex");
  FindBar->addWidget(chkFindHex);
  chkFindCase = new QCheckBox("Match case", FindBar);
  chkFindCase->setObjectName("chkFindCase");
  FindBar->addWidget(chkFindCase);
  FindNextButton = TextButton(FindBar, "FindNextButton", "Next", "Find the next row (F3)");
  connect(FindNextButton, &QToolButton::clicked, this,
          [this] { Guarded([this] { FindInView(true); }); });
  FindPreviousButton =
      TextButton(FindBar, "FindPreviousButton", "Previous", "Find the previous row (Shift+F3)");
  connect(FindPreviousButton, &QToolButton::clicked, this,
          [this] { Guarded([this] { FindInView(false); }); });
  lblFindNotice = new QLabel(FindBar);
  lblFindNotice->setObjectName("lblFindNotice");
  lblFindNotice->setContentsMargins(6, 0, 6, 0);
  FindBar->addWidget(lblFindNotice);
  QToolButton* close = TextButton(FindBar, "CloseFindButton", "Close", "Close the find bar (Esc)");
  connect(close, &QToolButton::clicked, FindBar, &QWidget::hide);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), FindBar);
  escape->setContext(Qt::WidgetWithChildrenShortcut);
  connect(escape, &QShortcut::activated, FindBar, &QWidget::hide);
  FindBar->hide();
}

void TMainForm::FindClick() {
  FindBar->show();
  edFind->setFocus();
  edFind->selectAll();
}

void TMainForm::FindInView(bool forward) {
  if (Busy_) return;
  const QString text = edFind->text();
  if (text.isEmpty()) {
    FindClick();
    return;
  }
  FindBar->show();
  auto notice = [this](const QString& message, bool failed) {
    lblFindNotice->setStyleSheet(failed ? "QLabel { color: #b00000; }" : QString());
    lblFindNotice->setText(message);
  };
  TFindQuery query;
  // Cells and payloads are 8-bit text.
  query.Text = text.toLatin1().toStdString();
  query.Hex = chkFindHex->isChecked();
  query.MatchCase = chkFindCase->isChecked();
  std::string bytes;
  if (query.Hex && !ParseHexBytes(query.Text, bytes)) {
    notice("Hex bytes are pairs of hex digits, such as 47 45 54.", true);
    return;
  }
  TListView* view = GetActiveListView();
  if (!view) return;
  // What the user can see: a match in a hidden column would select a row that shows no
  // reason for it.
  for (int32_t c = 0; c < view->ColumnCount(); ++c)
    if (view->Width(c) > 0) query.Columns.push_back(c);
  TFindResult found;
  {
    const TBusyScope busy(Busy_);
    TWorkProgress progress(this, "Find", "Looking for " + text + " in the " +
                                             ViewCaption(ActiveViewIndex) + " view");
    found = FindRow(ActiveViewIndex, ShownItems(ActiveViewIndex), view->SelectedRow(), forward,
                    query, DataOffsets(), progress.Handler());
  }
  if (found.Cancelled) {
    notice({}, false);
    return;
  }
  if (found.Row < 0) {
    notice("\"" + text + "\" was not found in the " + ViewCaption(ActiveViewIndex) + " view.", true);
    return;
  }
  view->selectRow(found.Row);
  view->scrollTo(view->Model()->index(found.Row, 0), QAbstractItemView::PositionAtCenter);
  notice(!found.Wrapped ? QString()
         : forward      ? "Passed the last row; found from the first."
                        : "Passed the first row; found from the last.",
         false);
}

// ---- Go to frame --------------------------------------------------------------------------

void TMainForm::GoToFrameClick() {
  bool ok = false;
  const int32_t last = std::max(Capture->Count(), 1);
  const int index = QInputDialog::getInt(this, "Go to Frame", "Index of the frame:",
                                         std::max(SelectedFrame(ActiveViewIndex), 1), 1, last, 1,
                                         &ok);
  if (ok) GoToFrame(index);
}

bool TMainForm::GoToFrame(int32_t index) {
  TListView* view = GetActiveListView();
  if (!view) return false;
  const int32_t row = Shown.View(ActiveViewIndex).RowOf(index, Capture->List(ActiveViewIndex));
  if (row < 0) {
    // A filtered view may leave out a frame its list holds.
    Prompts::ShowInformation(this, "The " + ViewCaption(ActiveViewIndex) + " view does not " +
                                       (Shown.View(ActiveViewIndex).Filtered() ? "show" : "hold") +
                                       " frame " + Grouped(index) + ".");
    return false;
  }
  view->selectRow(row);
  view->scrollTo(view->Model()->index(row, 0), QAbstractItemView::PositionAtCenter);
  view->setFocus();
  return true;
}
