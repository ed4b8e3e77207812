#include "ui/FormExport.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLocale>
#include <QProgressDialog>
#include <QRadioButton>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/Files.h"
#include "settings/Globals.h"
#include "ui/DialogFields.h"
#include "ui/PacketView.h"
#include "ui/Prompts.h"

namespace {
TRowSource Source(int32_t view, TPacketList items) {
  TRowSource rows;
  rows.View = view;
  rows.Items = items;
  rows.TCPDataOffset = Global->TCPDataOffset;
  rows.UDPDataOffset = Global->UDPDataOffset;
  return rows;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
}  // namespace

TExportForm::TExportForm(QWidget* parent)
    : TFixedDialog(parent, "ExportForm", QStringLiteral("Export"), 262, 200) {
  auto radio = [](QGroupBox* group, const char* name, const char* caption, int top) {
    auto* button = new QRadioButton(QString::fromLatin1(caption), group);
    button->setObjectName(name);
    button->setGeometry(12, top, 214, CheckBoxHeight);
    return button;
  };
  auto* format = AddGroupBox(this, "FormatGroupBox", QStringLiteral("Format"), 12, 10, 238, 66);
  rbCSV = radio(format, "rbCSV", "CSV (comma-separated, UTF-8)", 18);
  rbTabSeparated = radio(format, "rbTabSeparated", "Tab-separated", 40);
  rbCSV->setChecked(true);
  auto* rows = AddGroupBox(this, "RowsGroupBox", QStringLiteral("Rows"), 12, 84, 238, 66);
  rbShownRows = radio(rows, "rbShownRows", "Only the rows the view shows", 18);
  rbAllRows = radio(rows, "rbAllRows", "All rows of the view", 40);
  rbShownRows->setChecked(true);

  AddOKCancel(this, "btnOK", {88, 162, 76, 24}, "btnCancel", {174, 162, 76, 24},
              [this] { accept(); });
}

TRowFormat TExportForm::Format() const {
  return rbCSV->isChecked() ? TRowFormat::CSV : TRowFormat::TabSeparated;
}

bool TExportForm::AllRows() const { return rbAllRows->isChecked(); }

void TExportForm::Run(int32_t view, TPacketList shown, TPacketList all, const std::string& folder) {
  if (exec() != QDialog::Accepted) return;
  const bool csv = Format() == TRowFormat::CSV;
  TFileDialogRequest request;
  request.Save = true;
  request.Title = QStringLiteral("Export");
  request.Filter = csv ? QStringLiteral("CSV files (*.csv);;All files (*)")
                       : QStringLiteral("Tab-separated files (*.tsv *.txt);;All files (*)");
  request.DefaultExtension = csv ? "csv" : "tsv";
  request.Directory = QText(Folder_.empty() ? folder : Folder_);
  const auto chosen = Prompts::ChooseFile(parentWidget(), request);
  if (!chosen) return;
  const std::string target = chosen->toLocal8Bit().toStdString();
  std::string error;
  switch (ExportRows(parentWidget(), Format(), Source(view, AllRows() ? all : shown), target, error)) {
    case TExportResult::Written:
      Folder_ = FolderOf(target);
      Prompts::FileUsed(*chosen);
      break;
    case TExportResult::Failed: Prompts::ShowError(parentWidget(), QText(error)); break;
    case TExportResult::Cancelled: break;
  }
}

TExportResult ExportRows(QWidget* parent, TRowFormat format, const TRowSource& rows,
                         const std::string& target, std::string& error) {
  const size_t total = rows.RowCount();
  std::unique_ptr<QProgressDialog> progress;
  if (total >= ExportProgressFrom) {
    progress = std::make_unique<QProgressDialog>(parent);
    progress->setObjectName("ExportProgress");
    progress->setWindowTitle(QStringLiteral("Export"));
    progress->setLabelText(QStringLiteral("Writing %1").arg(QText(target)));
    progress->setCancelButtonText(QStringLiteral("Cancel"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setRange(0, 1000);
    progress->setMinimumWidth(360);
    progress->show();
  }
  platform::TFileBeside file;
  bool cancelled = false;
  int code = 0;  // errno of the call that failed, before the clean-up can change it
  auto fail = [&] {
    error = "cannot write to " + target + ": " + std::strerror(code);
    return TExportResult::Failed;
  };
  if (!file.Create(target)) {
    code = errno;
    return fail();
  }
  const bool written = WriteRows(
      format, rows,
      [&](std::string_view text, size_t done) {
        if (!file.Write(text)) {
          code = errno;
          return false;
        }
        if (progress) {
          progress->setValue(int(done * 1000 / total));
          QCoreApplication::processEvents();
          cancelled = progress->wasCanceled();
        }
        return !cancelled;
      },
      true);
  if (cancelled) return TExportResult::Cancelled;
  if (!written) return fail();
  if (!file.Commit()) {
    code = errno;
    return fail();
  }
  return TExportResult::Written;
}

void CopySelectedRows(const TListView& list, int32_t view, TPacketList items) {
  const std::vector<int32_t> selected = list.SelectedRows();
  if (selected.empty()) return;
  TRowSource rows = Source(view, items);
  rows.Positions = selected;
  const std::string text = RowsAsText(TRowFormat::TabSeparated, rows);
  // The cells are Latin-1 (see the list view); the clipboard takes Unicode.
  QGuiApplication::clipboard()->setText(QString::fromLatin1(text.data(), qsizetype(text.size())));
}
