#pragma once
// The tables of the Statistics windows: a model over a vector the window keeps (no item per
// cell, so that 100,000 conversations show at once), sorted by any column, numbers as numbers
// and addresses by their bytes; and what every such table does with its rows: Ctrl+C copies
// the selected ones as tab-separated text with the captions, Export writes them all, in the
// order shown, as CSV through a file beside the target, as the views' export does.
#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

class QAbstractItemView;
class QTableView;
class QWidget;

class TStatisticsTable : public QAbstractTableModel {
  Q_OBJECT
 public:
  // A column's values: drawn right-aligned and sorted as numbers, or as text by SortKey.
  struct TColumn {
    TColumn(QString caption, bool number = true, QString sample = {})
        : Caption(std::move(caption)), Number(number), Sample(std::move(sample)) {}
    QString Caption;
    bool Number;
    // The widest value the column is made wide enough for; a number's when empty.
    QString Sample;
  };
  explicit TStatisticsTable(std::vector<TColumn> columns, QObject* parent = nullptr);

  // The rows changed (now `rows` of them; fewer means they start again), and are shown in
  // the order of the column sorted last.
  void Refill(int32_t rows);
  // The row of the window's vector shown at `position`.
  int32_t RowAt(int32_t position) const { return Order_.empty() ? -1 : Order_[size_t(position)]; }
  const TColumn& Column(int32_t column) const { return Columns_[size_t(column)]; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;

 protected:
  // Row `row` of the vector (not a position), column `column`.
  virtual QString Text(int32_t row, int32_t column) const = 0;
  virtual double Number(int32_t row, int32_t column) const = 0;
  // How a text column sorts: by these bytes (an address's own bytes, a name's letters).
  virtual std::string SortKey(int32_t row, int32_t column) const {
    return Text(row, column).toStdString();
  }

 private:
  void SortRows();
  std::vector<TColumn> Columns_;
  std::vector<int32_t> Order_;
  int SortColumn_ = -1;
  Qt::SortOrder SortOrder_ = Qt::AscendingOrder;
};

// A table whose cells are texts given whole (the capture summary).
class TTextTable final : public TStatisticsTable {
  Q_OBJECT
 public:
  TTextTable(std::vector<TColumn> columns, QObject* parent = nullptr)
      : TStatisticsTable(std::move(columns), parent) {}
  void SetRows(std::vector<QStringList> rows) {
    Rows_ = std::move(rows);
    Refill(int32_t(Rows_.size()));
  }

 protected:
  QString Text(int32_t row, int32_t column) const override { return Rows_[size_t(row)].value(column); }
  double Number(int32_t row, int32_t column) const override {
    return Text(row, column).remove(',').toDouble();
  }

 private:
  std::vector<QStringList> Rows_;
};

// A table view as the Statistics windows show one: sorted by a click on a header, rows
// selected whole, Ctrl+C copying them.
QTableView* NewStatisticsTableView(QWidget* parent, TStatisticsTable* model);
// Ctrl+C on `view` (a table or a tree) copies its selected rows, with the captions first.
void AddCopyShortcut(QAbstractItemView* view);
// The rows of `view` as shown (a tree's children indented under their parent), the captions
// first; only the selected ones with `selectedOnly`.
std::vector<std::vector<std::string>> ShownCells(const QAbstractItemView& view, bool selectedOnly);
// Asks for a file and writes `rows` there as CSV (RFC 4180, UTF-8); a failure is reported as
// "cannot write to PATH: reason" and leaves nothing under the target's name.
void ExportCells(QWidget* parent, const QString& title,
                 const std::vector<std::vector<std::string>>& rows);
// The CSV text of `rows`, each line ended by CR LF.
std::string CSVText(const std::vector<std::vector<std::string>>& rows);
// Writes `text` to `target` through a file beside it; false with `error` as the views' export
// says it.
bool WriteFileBeside(const std::string& target, std::string_view text, std::string& error);
