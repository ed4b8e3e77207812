// Rows leave the window: Edit > Copy puts the selected rows on the clipboard, File > Export
// writes a view to a file, which a cancel or a failure never leaves half written.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <pcap/pcap.h>
#include <sys/mount.h>
#include <unistd.h>

#include "platform/System.h"
#include "tests/ui/WindowFixture.h"
#include "ui/FormExport.h"
#include "ui/FormMain.h"

namespace {
const std::vector<std::string> Payloads = {"a,b", "say \"hi\"", "tab\there", "cr\rlf\n",
                                           "back\\slash"};

// The window with a capture file of one UDP frame for each payload, shown in the UDP Data
// view.
struct ExportWindow {
  TSettingsScope scope;
  std::unique_ptr<TMainForm> form;
  explicit ExportWindow(const std::string& file = {}) {
    form = std::make_unique<TMainForm>();
    form->show();
    ProcessEvents();
    Global->OpenType = 2;
    Global->FileName = file.empty() ? scope.Dir.File("payloads.cap") : file;
    if (file.empty()) {
      std::vector<Record> records(Payloads.size());
      for (size_t i = 0; i < Payloads.size(); ++i)
        records[i].frame = UdpFrame(53, 1024, Text(Payloads[i]));
      WritePcap(Global->FileName, records);
    }
    form->OpenSource();
    form->pcView->setCurrentIndex(viUDPData);
    ProcessEvents();
  }
  ~ExportWindow() { form->close(); }
  TListView* View() const { return form->ListView(viUDPData); }
  std::vector<QString> Boxes() const { return scope.Answers.Texts(); }
};

// Answers the next modal dialog the program shows, as a user would.
void OnNextDialog(std::function<void(QDialog&)> answer) {
  auto* poll = new QTimer;
  const uint32_t started = platform::TickCount();
  QObject::connect(poll, &QTimer::timeout, [poll, answer, started] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog || platform::TickCount() - started > 5000) {
      poll->stop();
      poll->deleteLater();
      if (dialog) answer(*dialog);
      else ADD_FAILURE() << "no dialog was shown";
    }
  });
  poll->start(5);
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

// A capture of `frames` small UDP frames: a view past the size that shows the progress bar.
std::string LargeCapture(const std::string& file, size_t frames) {
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  pcap_dumper_t* dumper = pcap_dump_open(dead, file.c_str());
  const Bytes frame = UdpFrame(53, 1024, Text("small, \"quoted\""));
  pcap_pkthdr h{{1000000000, 0}, uint32_t(frame.size()), uint32_t(frame.size())};
  for (size_t i = 0; i < frames; ++i)
    pcap_dump(reinterpret_cast<u_char*>(dumper), &h, frame.data());
  pcap_dump_close(dumper);
  pcap_close(dead);
  return file;
}
}  // namespace

TEST(Export, CtrlCCopiesTheSelectedRowsAsTheViewShowsThem) {
  ExportWindow w;
  TListView* view = w.View();
  ASSERT_EQ(view->ItemCount(), int32_t(Payloads.size()));
  view->setFocus();
  view->selectRow(1);
  QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
  QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(view->SelectedRow(), 3);  // the payload pane's row: the one moved to last
  QGuiApplication::clipboard()->clear();
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  const QStringList lines = QGuiApplication::clipboard()->text().split('\n');
  // The caption line, three rows, and nothing after the last line feed.
  ASSERT_EQ(lines.size(), 5) << QGuiApplication::clipboard()->text().toStdString();
  EXPECT_TRUE(lines[4].isEmpty());
  const int columns = view->ColumnCount();
  QStringList captions;
  for (int c = 0; c < columns; ++c) captions << QString::fromStdString(view->Caption(c));
  EXPECT_EQ(lines[0], captions.join('\t'));
  for (int r = 1; r <= 3; ++r) {
    const QStringList cells = lines[r].split('\t');
    ASSERT_EQ(cells.size(), columns);
    for (int c = 0; c < columns; ++c) {
      QString cell = Cell(view, r, c);
      cell.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n");
      EXPECT_EQ(cells[c], cell) << "row " << r << " column " << c;
    }
  }
  EXPECT_TRUE(lines[3].endsWith("cr\\rlf\\n"));

  // Ctrl+click takes a row out of the selection; the context menu copies the rest.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    view->visualRect(view->model()->index(2, 0)).center());
  w.form->pmList->actions().last()->trigger();
  const QStringList two = QGuiApplication::clipboard()->text().split('\n');
  ASSERT_EQ(two.size(), 4);
  EXPECT_TRUE(two[1].endsWith("say \"hi\""));
  EXPECT_TRUE(two[2].endsWith("cr\\rlf\\n"));
}

TEST(Export, FileExportWritesTheViewAsCSVOrReportsWhyItCouldNot) {
  ExportWindow w;
  const std::string target = w.scope.Dir.File("rows.csv");
  w.scope.Answers.Files = {QString::fromStdString(target)};
  OnNextDialog([](QDialog& dialog) {
    dialog.findChild<QRadioButton*>("rbAllRows")->setChecked(true);
    dialog.findChild<QPushButton*>("btnOK")->click();
  });
  w.form->ActionExport->trigger();
  EXPECT_TRUE(w.Boxes().empty());
  const std::string csv = FileText(target);
  // The captions, then each payload quoted where RFC 4180 wants it, lines ended by CR LF.
  EXPECT_TRUE(csv.starts_with("Index,Time,")) << csv;
  for (const char* field : {",\"a,b\"\r\n", ",\"say \"\"hi\"\"\"\r\n", ",tab\there\r\n",
                            ",\"cr\rlf\n\"\r\n", ",back\\slash\r\n"})
    EXPECT_NE(csv.find(field), std::string::npos) << field;
  for (const std::string& name : FilesIn(w.scope.Dir.Path()))  // no temporary file stays
    EXPECT_FALSE(name.starts_with("rows.csv.")) << name;

  // A folder that does not exist: the user is told which file and why; nothing is written.
  w.scope.Answers.Files = {QString::fromStdString(w.scope.Dir.File("gone/rows.csv"))};
  OnNextDialog([](QDialog& dialog) { dialog.findChild<QPushButton*>("btnOK")->click(); });
  w.form->ActionExport->trigger();
  ASSERT_EQ(w.Boxes().size(), 1u);
  EXPECT_EQ(w.Boxes()[0].toStdString(), "cannot write to " + w.scope.Dir.File("gone/rows.csv") +
                                            ": No such file or directory");
  EXPECT_FALSE(std::filesystem::exists(w.scope.Dir.File("gone")));
}

TEST(Export, ACancelledOrFailedExportLeavesNoFile) {
  TempDir captures;
  ExportWindow w(LargeCapture(captures.File("large.cap"), ExportProgressFrom + 5000));
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
