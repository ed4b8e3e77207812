#pragma once
// The virtual list view of one packet view: a table view over a model that holds no rows,
// only a row count, and asks a row-text handler for a whole row when the view paints it.
//
// Row counts. Frames may arrive tens of thousands of times a second; the window sets the
// active view's row count on a timer, not per frame. The model takes a new count at once
// (ItemCount), and tells the view about new rows at most once per event-loop turn, with one
// insert notification for all of them: a notification or a repaint per frame would cap a
// capture at a few hundred frames a second.
//
// Following. A view that shows its last row (or no row at all) when rows are added scrolls
// on to the new last row, so that a running capture's newest frames stay in sight. A view
// the user scrolled up stays where it is, and follows again once scrolled back to the end.
// Following moves the view only, never the selection.
//
// Columns. A column is hidden exactly when its width is 0; the default width a column was
// created with stays with it. The view implements the toolkit-neutral TColumnList so that
// the column sets, the field selection and the stored widths work on it directly.
//
// Cells. A character that cannot be printed (a control byte of a payload) is drawn as a
// middle dot; the model's text stays the row's text, which the tools print too.
#include <QAbstractTableModel>
#include <QColor>
#include <QAbstractItemView>
#include <QHeaderView>
#include <QScrollBar>
#include <functional>
#include <vector>

#include "presentation/CellText.h"
#include "presentation/Views.h"

class TPacketModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // Fills `row` with the texts of row `position`: caption first, then one per column.
  using TRowHandler = std::function<void(int32_t position, TRowText& row)>;

  explicit TPacketModel(QObject* parent = nullptr);

  void SetRowHandler(TRowHandler handler) { Handler_ = std::move(handler); }
  // Rows drawn on a tint with a tool tip that says why (TCP segments with trouble): `marked`
  // tells whether row `position` is one, `note` its tool tip. The cells' texts stay.
  using TMarkHandler = std::function<bool(int32_t position)>;
  using TNoteHandler = std::function<QString(int32_t position)>;
  void SetMarkHandlers(TMarkHandler marked, TNoteHandler note) {
    Marked_ = std::move(marked);
    Note_ = std::move(note);
  }
  // The tint of a marked row: translucent, so that it reads on a light and a dark base alike.
  static QColor MarkTint() { return QColor(235, 90, 40, 70); }

  // The row count of the virtual view. Growing it is announced to the view at the next
  // event-loop turn (or by Flush); shrinking it resets the view at once.
  void SetItemCount(int32_t count);
  int32_t ItemCount() const { return Pending_; }
  // Tells the view about rows it has not heard of yet.
  void Flush();
  // Drops the row built last, so that the next request builds it from the frame again
  // (after the frames or the settings behind the rows changed).
  void Invalidate();
  // The rows were filtered or put in another order: the view starts again with `count`
  // rows, none selected.
  void Reset(int32_t count);

  // Column captions; the view owns the widths.
  void AddColumn(const QString& caption);
  QString Caption(int32_t column) const { return Captions_.value(column); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const TRowText* Row(int32_t position) const;

  TRowHandler Handler_;
  TMarkHandler Marked_;
  TNoteHandler Note_;
  QStringList Captions_;
  int32_t Announced_ = 0;  // rows the view knows of
  int32_t Pending_ = 0;    // rows there are
  bool FlushQueued_ = false;
  // The row built last: a repaint asks for each cell of a row in turn, and building the
  // row once per cell would multiply the cost by the column count.
  mutable TRowText Cache_;
  mutable int32_t CachedRow_ = -1;
  mutable bool CachedMarked_ = false;
};

// A table that keeps nothing per row. A QTableView keeps an entry for every row in its row
// header (8 bytes a row, and an insert of a million rows costs it tens of milliseconds), which
// over eight views of ten million frames is hundreds of megabytes and a pause at every tab
// change. This view lays rows out by arithmetic instead: all rows have one height, the
// vertical scroll bar counts rows, and only the rows on screen are ever asked for.
class TListView : public QAbstractItemView, public TColumnList {
  Q_OBJECT
 public:
  explicit TListView(const QString& name, QWidget* parent = nullptr);

  TPacketModel* Model() const { return Model_; }
  void SetItemCount(int32_t count) { Model_->SetItemCount(count); }
  int32_t ItemCount() const { return Model_->ItemCount(); }
  // The current row (the one the user moved to last) when it is selected, or -1.
  int32_t SelectedRow() const;
  // Every selected row, in row order: Shift and Ctrl with a click or an arrow key select
  // several.
  std::vector<int32_t> SelectedRows() const;
  // Selects `row` alone and makes it the current row (shown, when the view scrolls to it).
  void selectRow(int row);
  // The arrow in the header of the column the rows are sorted by; column -1 for none.
  void ShowSortIndicator(int column, bool descending);
  // Whether the view keeps to its newest rows while it is at its last one (on by default).
  void SetFollowNewRows(bool follow) { FollowNewRows_ = follow; }
  bool FollowNewRows() const { return FollowNewRows_; }

  QHeaderView* horizontalHeader() const { return Header_; }
  int RowHeight() const { return RowHeight_; }
  // The top of `row` in viewport coordinates (negative above the view, beyond its height
  // below it).
  int rowViewportPosition(int row) const;
  int columnWidth(int column) const;
  void setColumnWidth(int column, int width);
  bool isColumnHidden(int column) const;
  void setColumnHidden(int column, bool hide);

  // TColumnList: width 0 hides a column and a hidden column reports 0.
  void AddColumn(const std::string& caption, int32_t width, int32_t defaultWidth) override;
  int32_t ColumnCount() const override;
  std::string Caption(int32_t column) const override;
  int32_t Width(int32_t column) const override;
  void SetWidth(int32_t column, int32_t width) override;
  int32_t DefaultWidth(int32_t column) const override;
  // The set's width scaled to the letters of the view's font, and wide enough for
  // the caption in the header and for the column's sample value in a cell.
  int32_t DefaultWidthFor(const TColumnSpec& column) const override;

  // QAbstractItemView
  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint& point) const override;
  // Typing does not search: finding a text would build every row of the view.
  void keyboardSearch(const QString&) override {}

 signals:
  // The selected or current row changed (the list view's item change notification).
  void ItemChanged();
  // The user clicked the header of `column`.
  void ColumnClicked(int column);

 protected:
  QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
  int horizontalOffset() const override;
  int verticalOffset() const override;
  bool isIndexHidden(const QModelIndex& index) const override;
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
  QRegion visualRegionForSelection(const QItemSelection& selection) const override;
  void updateGeometries() override;
  void scrollContentsBy(int dx, int dy) override;
  void paintEvent(QPaintEvent* event) override;
  void rowsInserted(const QModelIndex& parent, int start, int end) override;
  void reset() override;

 private:
  int FirstRow() const { return verticalScrollBar()->value(); }
  // Rows that fit in the viewport whole, at least one.
  int RowsPerPage() const;
  // The nearest visible column at or after (step 1) or before (step -1) `column`; -1 if none.
  int VisibleColumn(int column, int step) const;

  TPacketModel* Model_;
  QHeaderView* Header_;
  int RowHeight_;
  bool LayingOut_ = false;
  bool FollowNewRows_ = true;
  std::vector<int32_t> DefaultWidths_;
};
