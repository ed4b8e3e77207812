// Rows leave the window: Edit > Copy puts the selected rows on the clipboard, File > Export
// writes a view to a file, which a cancel or a failure never leaves half written.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sys/mount.h>
#include <unistd.h>

#include "tests/ui/WindowFixture.h"
#include "ui/FormExport.h"
#include "ui/FormMain.h"

namespace {
const std::vector<std::string> Payloads = {"a,b", "say \"hi\"", "tab\there", "cr\rlf\n",
                                           "back\\slash"};

// The window showing, in its UDP Data view, a capture of `frames` UDP frames with the
// payloads in turn.
struct ExportWindow {
  TSettingsScope scope;
  std::unique_ptr<TMainForm> form = std::make_unique<TMainForm>();
  explicit ExportWindow(size_t frames = Payloads.size()) {
    std::vector<Record> records(frames);
    for (size_t i = 0; i < frames; ++i)
      records[i].frame = UdpFrame(53, 1024, Text(Payloads[i % Payloads.size()]));
    WritePcap(scope.Dir.File("payloads.cap"), records);
    form->show();
    ProcessEvents();
    Global->OpenType = 2;
    Global->FileName = scope.Dir.File("payloads.cap");
    form->OpenSource();
    form->pcView->setCurrentIndex(viUDPData);
    ProcessEvents();
  }
  ~ExportWindow() { form->close(); }
};

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}
}  // namespace

TEST(Export, CtrlCCopiesTheSelectedRowsAsTheViewShowsThem) {
  ExportWindow w;
  TListView* view = w.form->ListView(viUDPData);
  view->setFocus();
  view->selectRow(1);
  QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
  QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(view->SelectedRow(), 3);  // the payload pane's row: the one moved to last
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  // The caption line, three rows, each cell as the view shows it with the escapes of
  // trellan-rows, and nothing after the last line feed.
  QStringList expected;
  for (int32_t c = 0; c < view->ColumnCount(); ++c)
    expected << QString::fromStdString(view->Caption(c)) << "\t";
  for (int r = 1; r <= 3; ++r) {
    expected.back() = "\n";
    for (int32_t c = 0; c < view->ColumnCount(); ++c)
      expected << Cell(view, r, c).replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r")
                      .replace("\n", "\\n") << "\t";
  }
  expected.back() = "\n";
  EXPECT_EQ(QGuiApplication::clipboard()->text(), expected.join(""));

  // Ctrl+click takes a row out of the selection; the context menu copies the rest.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    view->visualRect(view->model()->index(2, 0)).center());
  ASSERT_TRUE(w.form->pmList->actions().contains(w.form->ActionCopy));
  w.form->ActionCopy->trigger();
  const QStringList two = QGuiApplication::clipboard()->text().split('\n');
  ASSERT_EQ(two.size(), 4);
  EXPECT_TRUE(two[1].endsWith("say \"hi\"") && two[2].endsWith("cr\\rlf\\n"));
}

TEST(Export, FileExportWritesTheViewAsCSVOrReportsWhyItCouldNot) {
  ExportWindow w;
  const std::string target = w.scope.Dir.File("rows.csv");
  for (const std::string& path : {target, w.scope.Dir.File("gone/rows.csv")}) {
    w.scope.Answers.Files = {QString::fromStdString(path)};
    OnNextDialog([](QDialog& dialog) {
      dialog.findChild<QRadioButton*>("rbAllRows")->setChecked(true);
      dialog.findChild<QPushButton*>("btnOK")->click();
    });
    w.form->ActionExport->trigger();
  }
  std::ifstream in(target, std::ios::binary);
  const std::string csv{std::istreambuf_iterator<char>(in), {}};
  // The captions, then each payload quoted where RFC 4180 wants it, lines ended by CR LF.
  EXPECT_TRUE(csv.starts_with("Index,Time,")) << csv;
  for (const char* field : {",\"a,b\"\r\n", ",\"say \"\"hi\"\"\"\r\n", ",tab\there\r\n",
                            ",\"cr\rlf\n\"\r\n", ",back\\slash\r\n"})
    EXPECT_NE(csv.find(field), std::string::npos) << field;
  for (const std::string& name : FilesIn(w.scope.Dir.Path()))  // no temporary file stays
    EXPECT_FALSE(name.starts_with("rows.csv.")) << name;
  // A folder that does not exist: the user is told which file and why.
  EXPECT_EQ(w.scope.Answers.Texts(),
            std::vector<QString>{QString::fromStdString(
                "cannot write to " + w.scope.Dir.File("gone/rows.csv") + ": No such file or directory")});
}

TEST(Export, ACancelledOrFailedExportLeavesNoFile) {
  ExportWindow w(ExportProgressFrom + 5000);
  TRowSource rows;
  rows.View = viUDPData;
  rows.Items = w.form->ShownItems(viUDPData);
  ASSERT_EQ(rows.RowCount(), ExportProgressFrom + 5000);

  // The user presses Cancel as soon as the bar shows.
  TempDir out;
  bool barShown = false;
  QTimer::singleShot(0, [&] {
    auto* progress = w.form->findChild<QProgressDialog*>("ExportProgress");
    ASSERT_NE(progress, nullptr);
    barShown = progress->isVisible();
    progress->cancel();
  });
  std::string error;
  EXPECT_EQ(ExportRows(w.form.get(), TRowFormat::CSV, rows, out.File("rows.csv"), error),
            TExportResult::Cancelled);
  EXPECT_TRUE(barShown);
  EXPECT_TRUE(FilesIn(out.Path()).empty());

  // A disk that fills up half-way: the reason, and neither the file nor its temporary one.
  if (getuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  ASSERT_EQ(mount("tmpfs", out.Path().c_str(), "tmpfs", 0, "size=64k"), 0);
  EXPECT_EQ(ExportRows(w.form.get(), TRowFormat::TabSeparated, rows, out.File("rows.tsv"), error),
            TExportResult::Failed);
  EXPECT_EQ(error, "cannot write to " + out.File("rows.tsv") + ": No space left on device");
  EXPECT_TRUE(FilesIn(out.Path()).empty());
  umount(out.Path().c_str());
}
