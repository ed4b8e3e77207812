#include "ui/PacketView.h"

#include <QBrush>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace {
// The average width, in pixels, of the letters A to Z and a to z in the 8-point font the
// column sets' widths were drawn for. Letters, not the font's own average character, which
// fonts count in ways too different to compare.
constexpr double DesignLetterWidth = 6.0;
constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Draws a character that cannot be printed (a control byte of a payload) as a middle dot,
// where the font would draw an empty box or nothing. The drawing only: the model's text stays
// the row's text.
class TCellDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QString displayText(const QVariant& value, const QLocale&) const override {
    // The cell's own text: the base class would turn a line feed into a line break.
    QString text = value.toString();
    for (QChar& c : text)
      if (!c.isPrint()) c = QChar(0x00B7);
    return text;
  }
};
}  // namespace

TPacketModel::TPacketModel(QObject* parent) : QAbstractTableModel(parent) {}

void TPacketModel::SetItemCount(int32_t count) {
  if (count < 0) count = 0;
  if (count == Pending_) return;
  Pending_ = count;
  if (count < Announced_) {
    beginResetModel();
    Announced_ = count;
    CachedRow_ = -1;
    endResetModel();
    return;
  }
  if (!FlushQueued_) {
    FlushQueued_ = true;
    QTimer::singleShot(0, this, &TPacketModel::Flush);
  }
}

void TPacketModel::Flush() {
  FlushQueued_ = false;
  if (Pending_ > Announced_) {
    beginInsertRows(QModelIndex(), Announced_, Pending_ - 1);
    Announced_ = Pending_;
    endInsertRows();
  }
}

void TPacketModel::Invalidate() { CachedRow_ = -1; }

void TPacketModel::Reset(int32_t count) {
  beginResetModel();
  Announced_ = Pending_ = std::max(count, 0);
  CachedRow_ = -1;
  endResetModel();
}

void TPacketModel::AddColumn(const QString& caption) {
  beginInsertColumns(QModelIndex(), int(Captions_.size()), int(Captions_.size()));
  Captions_.append(caption);
  endInsertColumns();
}

int TPacketModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Announced_;
}

int TPacketModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(Captions_.size());
}

const TRowText* TPacketModel::Row(int32_t position) const {
  if (position != CachedRow_) {
    Cache_.Clear();
    if (Handler_) Handler_(position, Cache_);
    CachedMarked_ = Marked_ && Marked_(position);
    CachedRow_ = position;
  }
  return &Cache_;
}

QVariant TPacketModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::BackgroundRole || role == Qt::ToolTipRole) {
    Row(index.row());
    if (!CachedMarked_) return {};
    if (role == Qt::BackgroundRole) return QBrush(MarkTint());
    return Note_ ? Note_(index.row()) : QString();
  }
  if (role != Qt::DisplayRole) return {};
  const TRowText* row = Row(index.row());
  const size_t column = size_t(index.column());
  if (column >= row->Count()) return QString();
  // Cells hold 8-bit text; a Data cell shows its bytes up to the first zero byte.
  const std::string& cell = (*row)[column];
  return QString::fromLatin1(cell.c_str());
}

QVariant TPacketModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return Captions_.value(section);
  return {};
}

TListView::TListView(const QString& name, QWidget* parent)
    : QAbstractItemView(parent),
      Model_(new TPacketModel(this)),
      Header_(new QHeaderView(Qt::Horizontal, this)),
      RowHeight_(fontMetrics().height() + 4) {
  setObjectName(name);
  setModel(Model_);
  setItemDelegate(new TCellDelegate(this));
  Header_->setModel(Model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  // Shift and Ctrl with a click or the arrow keys select several rows, to copy or export.
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  Header_->setSectionResizeMode(QHeaderView::Interactive);
  Header_->setHighlightSections(false);
  // A click on a header sorts by its column (the window decides how); the arrow shows only
  // while the rows are sorted.
  Header_->setSectionsClickable(true);
  Header_->setSortIndicatorShown(false);
  connect(Header_, &QHeaderView::sectionClicked, this, [this](int column) { emit ColumnClicked(column); });
  Header_->setMinimumSectionSize(0);
  Header_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  Header_->setStretchLastSection(false);
  connect(Header_, &QHeaderView::sectionResized, this, [this](int column, int, int size) {
    // Dragging a column down to nothing hides it, as a width of 0 does everywhere else.
    if (size == 0 && !isColumnHidden(column)) setColumnHidden(column, true);
    updateGeometries();
    viewport()->update();
  });
  connect(Header_, &QHeaderView::sectionCountChanged, this, [this] { updateGeometries(); });
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { emit ItemChanged(); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { emit ItemChanged(); });
}

int32_t TListView::SelectedRow() const {
  // The row the user moved to last, which the payload pane shows; not the first of the
  // selected rows, which may be far from it. A current row that Ctrl+click took out of the
  // selection is no selected row.
  const QModelIndex current = currentIndex();
  if (!current.isValid() || !selectionModel()->isRowSelected(current.row())) return -1;
  return current.row();
}

std::vector<int32_t> TListView::SelectedRows() const {
  // From the ranges, not selectedRows(): that makes an index for every row of a selection,
  // which after Shift+Ctrl+End over ten million rows is a pause and a gigabyte.
  std::vector<int32_t> rows;
  for (const QItemSelectionRange& range : selectionModel()->selection())
    for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void TListView::selectRow(int row) {
  if (row < 0 || row >= model()->rowCount()) return;
  // The current cell stays in the leftmost column on screen, so that the view does not
  // scroll sideways to show it.
  int column = Header_->logicalIndexAt(0);
  if (column < 0) column = VisibleColumn(0, 1);
  if (column < 0) column = 0;
  selectionModel()->setCurrentIndex(model()->index(row, column),
                                    QItemSelectionModel::ClearAndSelect |
                                        QItemSelectionModel::Rows);
}

void TListView::ShowSortIndicator(int column, bool descending) {
  Header_->setSortIndicatorShown(column >= 0);
  Header_->setSortIndicator(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

int TListView::rowViewportPosition(int row) const { return (row - FirstRow()) * RowHeight_; }

int TListView::columnWidth(int column) const { return Header_->sectionSize(column); }

void TListView::setColumnWidth(int column, int width) { Header_->resizeSection(column, width); }

bool TListView::isColumnHidden(int column) const { return Header_->isSectionHidden(column); }

void TListView::setColumnHidden(int column, bool hide) { Header_->setSectionHidden(column, hide); }

void TListView::AddColumn(const std::string& caption, int32_t width, int32_t defaultWidth) {
  Model_->AddColumn(QString::fromStdString(caption));
  DefaultWidths_.push_back(defaultWidth);
  SetWidth(int32_t(DefaultWidths_.size()) - 1, width);
}

int32_t TListView::ColumnCount() const { return int32_t(DefaultWidths_.size()); }

std::string TListView::Caption(int32_t column) const {
  return Model_->Caption(column).toStdString();
}

int32_t TListView::Width(int32_t column) const {
  if (column < 0 || column >= ColumnCount() || isColumnHidden(column)) return 0;
  return columnWidth(column);
}

void TListView::SetWidth(int32_t column, int32_t width) {
  if (column < 0 || column >= ColumnCount()) return;
  // A negative width other than "keep" has no meaning for a column: it hides it like 0.
  if (width <= 0) {
    setColumnHidden(column, true);
    return;
  }
  setColumnHidden(column, false);
  setColumnWidth(column, width);
}

int32_t TListView::DefaultWidth(int32_t column) const {
  return column >= 0 && column < ColumnCount() ? DefaultWidths_[size_t(column)] : 0;
}

int32_t TListView::DefaultWidthFor(const TColumnSpec& column) const {
  const double letterWidth =
      QFontMetricsF(font()).horizontalAdvance(QLatin1String(Letters)) / double(sizeof Letters - 1);
  const int scaled = int(std::lround(column.DefaultWidth * letterWidth / DesignLetterWidth));
  // The header: the caption between the margins the style gives a section.
  QStyleOptionHeader header;
  header.initFrom(Header_);
  header.text = QString::fromLatin1(column.Caption);
  const QStyle* headerStyle = Header_->style();
  const int caption =
      headerStyle->sizeFromContents(QStyle::CT_HeaderSection, &header, QSize(), Header_).width();
  // A cell: the value between the margins the style draws item text with, and the grid line
  // the cell leaves on its right (see paintEvent).
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  const int value = fontMetrics().horizontalAdvance(QString::fromLatin1(column.Sample)) +
                    2 * margin + 1;
  return std::max({scaled, caption, value});
}

// ---- Layout -------------------------------------------------------------------------------

int TListView::RowsPerPage() const { return std::max(1, viewport()->height() / RowHeight_); }

int TListView::VisibleColumn(int column, int step) const {
  for (; column >= 0 && column < Header_->count(); column += step)
    if (!isColumnHidden(column)) return column;
  return -1;
}

QRect TListView::visualRect(const QModelIndex& index) const {
  if (!index.isValid() || isColumnHidden(index.column())) return {};
  return QRect(Header_->sectionViewportPosition(index.column()), rowViewportPosition(index.row()),
               Header_->sectionSize(index.column()), RowHeight_);
}

QModelIndex TListView::indexAt(const QPoint& point) const {
  if (point.y() < 0) return {};
  const int row = FirstRow() + point.y() / RowHeight_;
  const int column = Header_->logicalIndexAt(point.x());
  if (row >= model()->rowCount() || column < 0) return {};
  return model()->index(row, column);
}

void TListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid()) return;
  const int row = index.row();
  const int page = RowsPerPage();
  const int first = FirstRow();
  int top = first;
  switch (hint) {
    case PositionAtTop: top = row; break;
    case PositionAtBottom: top = row - page + 1; break;
    case PositionAtCenter: top = row - page / 2; break;
    case EnsureVisible:
      if (row < first) top = row;
      else if (row >= first + page) top = row - page + 1;
      break;
  }
  verticalScrollBar()->setValue(top);  // the scroll bar keeps it within the rows
  const int column = index.column();
  if (isColumnHidden(column)) return;
  const int left = Header_->sectionPosition(column);
  const int right = left + Header_->sectionSize(column);
  const int shown = horizontalScrollBar()->value();
  const int width = viewport()->width();
  if (left < shown) horizontalScrollBar()->setValue(left);
  else if (right > shown + width) horizontalScrollBar()->setValue(std::min(left, right - width));
}

QModelIndex TListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers) {
  const int rows = model()->rowCount();
  const QModelIndex current = currentIndex();
  int column = current.isValid() ? VisibleColumn(current.column(), 1) : VisibleColumn(0, 1);
  if (column < 0) column = VisibleColumn(0, 1);
  if (rows == 0 || column < 0) return {};
  if (!current.isValid()) return model()->index(0, column);
  int row = current.row();
  switch (cursorAction) {
    case MoveUp:
    case MovePrevious: row -= 1; break;
    case MoveDown:
    case MoveNext: row += 1; break;
    case MovePageUp: row -= RowsPerPage(); break;
    case MovePageDown: row += RowsPerPage(); break;
    case MoveHome: row = 0; break;
    case MoveEnd: row = rows - 1; break;
    case MoveLeft:
      if (const int left = VisibleColumn(column - 1, -1); left >= 0) column = left;
      break;
    case MoveRight:
      if (const int right = VisibleColumn(column + 1, 1); right >= 0) column = right;
      break;
  }
  return model()->index(std::clamp(row, 0, rows - 1), column);
}

int TListView::horizontalOffset() const { return horizontalScrollBar()->value(); }

int TListView::verticalOffset() const { return FirstRow() * RowHeight_; }

bool TListView::isIndexHidden(const QModelIndex& index) const {
  return isColumnHidden(index.column());
}

void TListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
  // A Shift+click or Shift+arrow selects from the row it started at, which may have scrolled
  // out of sight: a point above the viewport (negative) or below it is a row all the same.
  auto rowAt = [this](int y) {
    return FirstRow() + (y >= 0 ? y / RowHeight_ : -((RowHeight_ - 1 - y) / RowHeight_));
  };
  const QRect area = rect.normalized();
  const int rows = model()->rowCount();
  const int top = std::max(0, rowAt(area.top()));
  const int bottom = std::min(rows - 1, rowAt(area.bottom()));
  const int columns = model()->columnCount();
  if (top > bottom || columns == 0) {
    selectionModel()->select(QItemSelection(), command);
    return;
  }
  selectionModel()->select(
      QItemSelection(model()->index(top, 0), model()->index(bottom, columns - 1)), command);
}

QRegion TListView::visualRegionForSelection(const QItemSelection& selection) const {
  QRegion region;
  const int first = FirstRow();
  const int last = first + RowsPerPage();
  for (const QItemSelectionRange& range : selection) {
    const int top = std::max(range.top(), first);
    const int bottom = std::min(range.bottom(), last);
    if (top <= bottom)
      region += QRect(0, rowViewportPosition(top), viewport()->width(),
                      (bottom - top + 1) * RowHeight_);
  }
  return region;
}

void TListView::updateGeometries() {
  // Setting the margins and the scroll bars can resize the viewport, which lays out again.
  if (LayingOut_) return;
  LayingOut_ = true;
  const int headerHeight = Header_->isHidden() ? 0 : Header_->sizeHint().height();
  setViewportMargins(0, headerHeight, 0, 0);
  const QRect area = viewport()->geometry();
  Header_->setGeometry(area.left(), area.top() - headerHeight, area.width(), headerHeight);

  const int rows = model()->rowCount();
  const int page = RowsPerPage();
  verticalScrollBar()->setSingleStep(1);
  verticalScrollBar()->setPageStep(page);
  verticalScrollBar()->setRange(0, std::max(0, rows - page));
  horizontalScrollBar()->setSingleStep(20);
  horizontalScrollBar()->setPageStep(area.width());
  horizontalScrollBar()->setRange(0, std::max(0, Header_->length() - area.width()));
  Header_->setOffset(horizontalScrollBar()->value());
  LayingOut_ = false;
  QAbstractItemView::updateGeometries();
}

void TListView::scrollContentsBy(int, int) {
  // The vertical scroll bar counts rows, not pixels: the rows on screen are painted afresh.
  Header_->setOffset(horizontalScrollBar()->value());
  viewport()->update();
}

void TListView::rowsInserted(const QModelIndex& parent, int start, int end) {
  // Whether the last row was in sight is read before the scroll bar's range takes the new
  // rows: with the old range, its end means the old last row was on screen.
  QScrollBar* bar = verticalScrollBar();
  const bool atLastRow = FollowNewRows_ && bar->value() >= bar->maximum();
  QAbstractItemView::rowsInserted(parent, start, end);
  updateGeometries();
  if (atLastRow) bar->setValue(bar->maximum());
  if (start <= FirstRow() + RowsPerPage()) viewport()->update();
}

void TListView::reset() {
  QAbstractItemView::reset();
  updateGeometries();
  viewport()->update();
}

void TListView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const QRect area = event->rect();
  const int first = FirstRow();
  const int top = first + std::max(0, area.top()) / RowHeight_;
  const int bottom = std::min(model()->rowCount() - 1, first + area.bottom() / RowHeight_);
  const QColor grid = QColor::fromRgba(
      QRgb(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
  const QStyle::State normal = option.state & ~QStyle::State_HasFocus;
  const int columns = Header_->count();
  for (int row = top; row <= bottom; ++row) {
    const int y = rowViewportPosition(row);
    const bool selected = selectionModel()->isSelected(model()->index(row, 0));
    for (int column = 0; column < columns; ++column) {
      if (isColumnHidden(column)) continue;
      const int x = Header_->sectionViewportPosition(column);
      const int width = Header_->sectionSize(column);
      if (x + width <= area.left() || x > area.right()) continue;
      // Each cell leaves its right and bottom pixel to the grid.
      option.rect = QRect(x, y, width - 1, RowHeight_ - 1);
      option.state = selected ? normal | QStyle::State_Selected : normal;
      const QModelIndex index = model()->index(row, column);
      itemDelegateForIndex(index)->paint(&painter, option, index);
      painter.setPen(grid);
      painter.drawLine(x + width - 1, y, x + width - 1, y + RowHeight_ - 1);
      painter.drawLine(x, y + RowHeight_ - 1, x + width - 1, y + RowHeight_ - 1);
    }
  }
}
