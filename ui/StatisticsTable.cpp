#include "ui/StatisticsTable.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTreeView>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>

#include "platform/CommaText.h"
#include "platform/Files.h"
#include "ui/Prompts.h"

TStatisticsTable::TStatisticsTable(std::vector<TColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), Columns_(std::move(columns)) {}

void TStatisticsTable::Refill(int32_t rows) {
  rows = std::max(rows, 0);
  const auto shown = int32_t(Order_.size());
  if (rows < shown) {
    // Another capture or filter: the rows start again.
    beginResetModel();
    Order_.resize(size_t(rows));
    std::iota(Order_.begin(), Order_.end(), 0);
    SortRows();
    endResetModel();
    return;
  }
  // The engines add rows after the ones they had, so a capture that goes on keeps the user's
  // place and selection: the new rows come in at the end, then take their sorted places.
  if (rows > shown) {
    beginInsertRows({}, shown, rows - 1);
    for (int32_t row = shown; row < rows; ++row) Order_.push_back(row);
    endInsertRows();
  }
  if (SortColumn_ >= 0) sort(SortColumn_, SortOrder_);
  if (rows > 0) emit dataChanged(index(0, 0), index(rows - 1, columnCount() - 1));
}

int TStatisticsTable::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(Order_.size());
}

int TStatisticsTable::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(Columns_.size());
}

QVariant TStatisticsTable::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || size_t(index.row()) >= Order_.size()) return {};
  if (role == Qt::DisplayRole) return Text(Order_[size_t(index.row())], index.column());
  if (role == Qt::TextAlignmentRole && Columns_[size_t(index.column())].Number)
    return int(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

QVariant TStatisticsTable::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || size_t(section) >= Columns_.size()) return {};
  if (role == Qt::DisplayRole) return Columns_[size_t(section)].Caption;
  return {};
}

void TStatisticsTable::sort(int column, Qt::SortOrder order) {
  if (column < 0 || size_t(column) >= Columns_.size()) return;
  SortColumn_ = column;
  SortOrder_ = order;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  // The selection and the current row follow their rows to their new places.
  const QModelIndexList before = persistentIndexList();
  std::vector<int32_t> rowsBefore;
  for (const QModelIndex& at : before) rowsBefore.push_back(Order_[size_t(at.row())]);
  SortRows();
  std::vector<int32_t> positionOf(Order_.size());
  for (size_t p = 0; p < Order_.size(); ++p) positionOf[size_t(Order_[p])] = int32_t(p);
  QModelIndexList after;
  for (qsizetype i = 0; i < before.size(); ++i)
    after.append(index(positionOf[size_t(rowsBefore[size_t(i)])], before[i].column()));
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TStatisticsTable::SortRows() {
  if (SortColumn_ < 0) return;
  // The keys are taken once, not at every comparison: 100,000 rows sort in a few milliseconds.
  // Equal keys keep the engine's order (the order of their first frame).
  const bool descending = SortOrder_ == Qt::DescendingOrder;
  auto sortBy = [&](auto key) {
    using TKey = decltype(key(0));
    std::vector<std::pair<TKey, int32_t>> keyed;
    keyed.reserve(Order_.size());
    for (int32_t row : Order_) keyed.emplace_back(key(row), row);
    std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
      if (a.first != b.first) return descending ? b.first < a.first : a.first < b.first;
      return a.second < b.second;
    });
    for (size_t i = 0; i < keyed.size(); ++i) Order_[i] = keyed[i].second;
  };
  if (Columns_[size_t(SortColumn_)].Number)
    sortBy([&](int32_t row) { return Number(row, SortColumn_); });
  else
    sortBy([&](int32_t row) { return SortKey(row, SortColumn_); });
}

QTableView* NewStatisticsTableView(QWidget* parent, TStatisticsTable* model) {
  auto* view = new QTableView(parent);
  view->setModel(model);
  model->setParent(view);
  // Capture order until the user clicks a header: the indicator is off before sorting is
  // turned on, which sorts by it at once.
  view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  view->setSortingEnabled(true);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setWordWrap(false);
  view->verticalHeader()->hide();
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
  view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  view->horizontalHeader()->setStretchLastSection(true);
  // Wide enough for the caption with its sort arrow and for the widest value, measured once:
  // fitting the columns to their contents would read every row.
  const QFontMetrics metrics = view->fontMetrics();
  for (int c = 0; c < model->columnCount(); ++c) {
    const TStatisticsTable::TColumn& column = model->Column(c);
    const QString sample = column.Sample.isEmpty() ? QStringLiteral("000000000") : column.Sample;
    view->setColumnWidth(c, std::max(metrics.horizontalAdvance(column.Caption) + 28,
                                     metrics.horizontalAdvance(sample) + 14));
  }
  AddCopyShortcut(view);
  return view;
}

void AddCopyShortcut(QAbstractItemView* view) {
  auto* copy = new QAction(QStringLiteral("&Copy"), view);
  copy->setObjectName("CopyRows");
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  QObject::connect(copy, &QAction::triggered, view, [view] {
    const auto rows = ShownCells(*view, true);
    if (rows.size() < 2) return;
    std::string text;
    // The cells are numbers, addresses and protocol names: none holds a tab or a line end.
    for (const auto& row : rows) {
      for (size_t c = 0; c < row.size(); ++c) text += (c ? "\t" : "") + row[c];
      text += '\n';
    }
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
  });
  view->addAction(copy);
}

std::vector<std::vector<std::string>> ShownCells(const QAbstractItemView& view, bool selectedOnly) {
  const QAbstractItemModel* model = view.model();
  std::vector<std::vector<std::string>> rows;
  const int columns = model->columnCount();
  std::vector<std::string> captions;
  for (int c = 0; c < columns; ++c)
    captions.push_back(model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString().toStdString());
  rows.push_back(std::move(captions));
  const QItemSelectionModel* selection = view.selectionModel();
  // A tree's rows in the order shown, depth first; a child's first cell is indented by its
  // depth, as the tree draws it.
  auto walk = [&](auto& self, const QModelIndex& parent, int depth) -> void {
    const int count = model->rowCount(parent);
    for (int r = 0; r < count; ++r) {
      const QModelIndex first = model->index(r, 0, parent);
      if (!selectedOnly || selection->isRowSelected(r, parent)) {
        std::vector<std::string> cells;
        for (int c = 0; c < columns; ++c)
          cells.push_back(model->index(r, c, parent).data().toString().toStdString());
        if (depth > 0) cells[0] = std::string(size_t(2 * depth), ' ') + cells[0];
        rows.push_back(std::move(cells));
      }
      if (model->hasChildren(first)) self(self, first, depth + 1);
    }
  };
  walk(walk, QModelIndex(), 0);
  return rows;
}

std::string CSVText(const std::vector<std::vector<std::string>>& rows) {
  std::string text;
  // The settings' comma text quotes a field that holds a blank, a quote or a comma and
  // doubles its quotes: RFC 4180's rule, with quotes where a spreadsheet does not need them.
  for (const auto& row : rows) text += platform::CommaText(row) + "\r\n";
  return text;
}

bool WriteFileBeside(const std::string& target, std::string_view text, std::string& error) {
  platform::TFileBeside file;
  if (!file.Create(target) || !file.Write(text) || !file.Commit()) {
    error = "cannot write to " + target + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void ExportCells(QWidget* parent, const QString& title,
                 const std::vector<std::vector<std::string>>& rows) {
  TFileDialogRequest request;
  request.Save = true;
  request.Title = title;
  request.Filter = QStringLiteral("CSV files (*.csv);;All files (*)");
  request.DefaultExtension = "csv";
  const auto chosen = Prompts::ChooseFile(parent, request);
  if (!chosen) return;
  std::string error;
  if (WriteFileBeside(chosen->toLocal8Bit().toStdString(), CSVText(rows), error))
    Prompts::FileUsed(*chosen);
  else
    Prompts::ShowError(parent, QString::fromLocal8Bit(error));
}
