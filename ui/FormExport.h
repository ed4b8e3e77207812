#pragma once
// File > Export and Edit > Copy: the rows of a view leave the window as text (see
// presentation/RowExport.h for the formats).
//
// Export asks for the format and the rows (those the view shows, or all of its rows), then
// for the file. A large view is written with a progress bar and Cancel. The file is written
// beside the target and renamed once complete, so a cancelled or failed export leaves nothing
// under the target's name; a failure is reported as "cannot write to PATH: reason".
//
// Copy puts the selected rows on the clipboard as tab-separated text, the caption line first:
// a paste into a spreadsheet then has its column heads, and the escapes are those of
// trellan-rows, so one line is one row whatever the payload holds.
#include <cstdint>
#include <string>

#include "presentation/RowExport.h"
#include "ui/FixedDialog.h"

class QRadioButton;
class QWidget;
class TListView;

class TExportForm : public TFixedDialog {
  Q_OBJECT
 public:
  explicit TExportForm(QWidget* parent = nullptr);

  // Asks, and writes the rows of view `view`: `shown` are the rows the view shows, in its
  // order, `all` every row of its list. `folder` is where the file dialog starts the first
  // time; later it starts where the last export was written.
  void Run(int32_t view, TPacketList shown, TPacketList all, const std::string& folder);

  TRowFormat Format() const;
  bool AllRows() const;

  QRadioButton *rbCSV, *rbTabSeparated, *rbShownRows, *rbAllRows;

 private:
  std::string Folder_;
};

enum class TExportResult { Written, Cancelled, Failed };

// Writes `rows` in `format` to `target` through a file beside it. From ProgressFrom rows on
// a progress bar with Cancel shows over `parent`. On failure `error` says
// "cannot write to PATH: reason".
TExportResult ExportRows(QWidget* parent, TRowFormat format, const TRowSource& rows,
                         const std::string& target, std::string& error);
constexpr size_t ExportProgressFrom = 100'000;

// Puts the selected rows of `list` (which shows the rows of `items` of view `view`) on the
// clipboard; nothing when no row is selected.
void CopySelectedRows(const TListView& list, int32_t view, TPacketList items);
