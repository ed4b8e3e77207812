#include "ui/PacketView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTimer>

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
    CachedRow_ = position;
  }
  return &Cache_;
}

QVariant TPacketModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
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
    : QTableView(parent), Model_(new TPacketModel(this)) {
  setObjectName(name);
  setModel(Model_);
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setMinimumSectionSize(0);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setStretchLastSection(false);
  // Dragging a column down to nothing hides it, as a width of 0 does everywhere else.
  connect(horizontalHeader(), &QHeaderView::sectionResized, this,
          [this](int column, int, int size) {
            if (size == 0 && !isColumnHidden(column)) setColumnHidden(column, true);
          });
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { emit ItemChanged(); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { emit ItemChanged(); });
}

int32_t TListView::SelectedRow() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

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
