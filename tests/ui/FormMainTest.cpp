// The main window: filing a capture into its eight views, the columns, the layout that
// survives a restart, the payload panes and the progress counters.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QUrl>
#include <QTabWidget>
#include <QLabel>
#include <QToolButton>

#include "platform/ProfileFile.h"
#include "ui/FormCapturing.h"
#include "ui/FormMain.h"
#include "tests/ui/WindowFixture.h"

namespace {
// One frame of each kind the views tell apart.
std::vector<Record> MixedCapture() {
  std::vector<Record> r;
  auto add = [&](Bytes frame) {
    Record rec;
    rec.frame = std::move(frame);
    rec.usec = int32_t(r.size());
    r.push_back(rec);
  };
  TCPFields push;
  push.flags = 0x18;
  add(TcpFrame(push, Text("USER anonymous\r\n")));                 // 1 TCP with payload
  add(TcpFrame({}, {}));                                          // 2 bare segment
  add(UdpFrame(53, 53, {}));                                      // 3 UDP length 8
  add(UdpFrame(53, 53, Text("query")));                           // 4 UDP with payload
  add(Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, 1, 2)));   // 5 ARP
  add(Ethernet(kMacA, kMacB, 0x86DD, Bytes(40, 0)));              // 6 IPv6
  IPv4Fields igmp;
  igmp.protocol = 2;
  add(Ethernet(kMacA, kMacB, 0x0800, IPv4(igmp, Bytes(8, 0))));   // 7 IP protocol 2
  IPv4Fields icmp;
  icmp.protocol = 1;
  add(Ethernet(kMacA, kMacB, 0x0800, IPv4(icmp, {8, 0, 0xF7, 0xFF, 0, 0, 0, 0})));  // 8 ICMP
  return r;
}

struct LoadedWindow {
  TSettingsScope scope;
  std::unique_ptr<TMainForm> form;
  std::string file;

  explicit LoadedWindow(bool threadSafe = true) {
    file = scope.Dir.File("mixed.cap");
    WritePcap(file, MixedCapture());
    form = std::make_unique<TMainForm>();
    form->show();
    ProcessEvents();
    Global->OpenType = 2;
    Global->FileName = file;
    Global->ThreadSafe = threadSafe;
    form->OpenSource();
  }
  ~LoadedWindow() {
    if (form) form->close();
  }
  std::vector<int32_t> Counts() const {
    std::vector<int32_t> c;
    for (int32_t v = 0; v < ViewCount; ++v) c.push_back(form->ListView(v)->ItemCount());
    return c;
  }
};
}  // namespace

TEST(MainWindow, FilesACaptureIntoItsViews) {
  LoadedWindow w;
  EXPECT_TRUE(w.scope.Answers.Boxes.empty());
  // After the file: the active view (Ethernet) grew frame by frame, and TCP Data was set.
  EXPECT_EQ(w.Counts(), (std::vector<int32_t>{8, 0, 0, 0, 0, 0, 1, 0}));
  EXPECT_EQ(w.form->CurrentFileName, w.file);
  EXPECT_EQ(w.form->SaveFileName, w.file);
  EXPECT_TRUE(w.form->Modified);
  EXPECT_TRUE(w.form->ActionSave->isEnabled());
  EXPECT_EQ(w.form->StatusPanels[0]->text().toStdString(), "file://" + w.file);

  w.form->pcView->setCurrentIndex(viTCP);  // a tab change brings every view up to date
  EXPECT_EQ(w.Counts(), (std::vector<int32_t>{8, 6, 1, 1, 2, 2, 1, 1}));
  ProcessEvents();
  TListView* tcp = w.form->lvTCP;
  ASSERT_EQ(tcp->model()->rowCount(), 2);
  EXPECT_EQ(Cell(tcp, 0, 0), "1");
  EXPECT_EQ(Cell(tcp, 0, 1), "01:46:40:000000");
  EXPECT_EQ(Cell(tcp, 0, 15), "192.168.0.1");
  EXPECT_EQ(Cell(tcp, 0, 17), "1025");
  EXPECT_EQ(Cell(tcp, 0, 22), "18 ACK PSH");
  EXPECT_EQ(Cell(tcp, 0, 27), "16");
  EXPECT_EQ(Cell(tcp, 0, 28), "USER anonymous\r\n");
  EXPECT_EQ(Cell(tcp, 1, 0), "2");
  EXPECT_EQ(Cell(tcp, 1, 27), "0");
  EXPECT_EQ(Cell(w.form->lvETH, 5, 6), "86DD");
  EXPECT_EQ(Cell(w.form->lvIP, 4, 0).toStdString(), "7");  // protocol 2: Ethernet and IP only
  EXPECT_EQ(Cell(w.form->lvICMP, 0, 0), "8");
  EXPECT_EQ(Cell(w.form->lvARP, 0, 0), "5");
  EXPECT_EQ(Cell(w.form->lvUDPData, 0, 0), "4");
  EXPECT_EQ(Cell(w.form->lvUDP, 0, 19).toStdString(), "8");  // the UDP length of the empty datagram
}

TEST(MainWindow, WithoutThreadSafeTheActiveViewWaitsForATabChange) {
  LoadedWindow w(false);
  EXPECT_EQ(w.Counts(), (std::vector<int32_t>{0, 0, 0, 0, 0, 0, 1, 0}));
  w.form->pcView->setCurrentIndex(viIP);
  EXPECT_EQ(w.Counts(), (std::vector<int32_t>{8, 6, 1, 1, 2, 2, 1, 1}));
}

TEST(MainWindow, FirstStartShowsEachViewsOwnColumns) {
  TSettingsScope scope;
  TMainForm form;
  form.show();
  ProcessEvents();
  EXPECT_EQ(VisibleColumns(form.lvTCPData),
            (std::vector<std::string>{"Index", "SrcIP", "DstIP", "Src Port", "Dst Port",
                                      "TCPDataLen", "Data"}));
  EXPECT_EQ(form.lvTCPData->ColumnCount(), 29);
  EXPECT_EQ(VisibleColumns(form.lvETH),
            (std::vector<std::string>{"Index", "Time", "Capture", "Len", "DstMac", "SrcMac",
                                      "Protocol(x)"}));
  EXPECT_EQ(VisibleColumns(form.lvUDP).size(), 12u);
  // A hidden column reports width 0 and keeps its default width.
  EXPECT_EQ(form.lvIP->Width(4), 0);
  EXPECT_EQ(form.lvIP->DefaultWidth(4), form.lvETH->Width(4));  // DstMac, shown there
  EXPECT_TRUE(form.lvIP->isColumnHidden(4));
  form.close();
}

TEST(MainWindow, LayoutAndColumnWidthsSurviveARestart) {
  TSettingsScope scope;
  {
    TMainForm form;
    form.show();
    ProcessEvents();
    form.lvTCP->SetWidth(19, 0);    // Seq(x) hidden
    form.lvTCP->SetWidth(1, 180);   // Time widened
    form.lvIP->SetWidth(0, 0);      // even Index may go
    form.pcView->setCurrentIndex(viUDPData);
    form.HexToolButton->click();
    EXPECT_TRUE(form.ViewHex1->isChecked());
    form.close();
  }
  scope.Reopen();
  EXPECT_EQ(Global->ActiveListViewIndex, viUDPData);
  EXPECT_TRUE(Global->ViewHexa);
  {
    TMainForm form;
    form.show();
    ProcessEvents();
    EXPECT_EQ(form.lvTCP->Width(19), 0);
    EXPECT_EQ(form.lvTCP->Width(1), 180);
    EXPECT_EQ(form.lvIP->Width(0), 0);
    EXPECT_EQ(form.lvTCP->Width(20), form.lvTCP->DefaultWidth(20));
    EXPECT_EQ(form.pcView->currentIndex(), int(viUDPData));
    EXPECT_EQ(form.ActiveViewIndex, viUDPData);
    EXPECT_TRUE(form.HexToolButton->isChecked());
    EXPECT_TRUE(form.ViewHex1->isChecked());
    form.close();
  }
}

TEST(MainWindow, DefaultColumnsShowTheirCaptionsAndUsualValuesInTheWindowsFont) {
  LoadedWindow w;
  w.form->pcView->setCurrentIndex(viTCP);
  ProcessEvents();
  for (int32_t v = 0; v < ViewCount; ++v) {
    TListView* view = w.form->ListView(v);
    SCOPED_TRACE(view->objectName().toStdString());
    const QHeaderView* header = view->horizontalHeader();
    const QFontMetrics captions(header->font());
    const QFontMetrics cells(view->font());
    const int headerMargin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const int cellMargin =
        view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    ASSERT_GT(view->model()->rowCount(), 0);
    for (int32_t i = 0; i < view->ColumnCount(); ++i) {
      const QString caption = QString::fromStdString(view->Caption(i));
      SCOPED_TRACE(caption.toStdString());
      const int width = view->DefaultWidth(i);
      EXPECT_LE(captions.horizontalAdvance(caption) + 2 * headerMargin, width);
      if (view->Width(i) != 0) {
        EXPECT_EQ(view->Width(i), width);
      }
      if (caption == "Data") continue;  // a payload's text, as long as it is
      for (int row = 0; row < view->model()->rowCount(); ++row) {
        // Each cell leaves its right pixel to the grid.
        EXPECT_LE(cells.horizontalAdvance(Cell(view, row, i)) + 2 * cellMargin + 1, width)
            << Cell(view, row, i).toStdString();
      }
    }
  }
}

TEST(MainWindow, SavedColumnWidthsStayAsSavedAndDefaultsAreNotStoredAsChoices) {
  TSettingsScope scope;
  {
    // Widths saved by an earlier run: Protocol(x) at the width it used to have by default.
    platform::ProfileFile file(scope.Ini);
    file.WriteInteger("lvETH", "Width6", 50);
    file.WriteInteger("lvETH", "Width1", 0);
    ASSERT_TRUE(file.Commit());
  }
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    TMainForm form;
    form.show();
    ProcessEvents();
    EXPECT_EQ(form.lvETH->Width(6), 50);
    EXPECT_EQ(form.lvETH->Width(1), 0);
    EXPECT_EQ(form.lvETH->Width(4), form.lvETH->DefaultWidth(4));
    form.close();
    const platform::ProfileFile file(scope.Ini);
    EXPECT_EQ(file.ReadInteger("lvETH", "Width6", -2), 50);
    EXPECT_EQ(file.ReadInteger("lvETH", "Width1", -2), 0);
    // DstMac, untouched, keeps following the font rather than being fixed in pixels.
    EXPECT_EQ(file.ReadInteger("lvETH", "Width4", -2), -1);
    scope.Reopen();
  }
}

TEST(MainWindow, DataCellsDrawUnprintableBytesAsDotsAndKeepTheRowText) {
  LoadedWindow w;
  ProcessEvents();
  TListView* view = w.form->lvTCPData;
  ASSERT_EQ(view->model()->rowCount(), 1);
  const QModelIndex data = view->model()->index(0, 28);
  EXPECT_EQ(Cell(view, 0, 28).toStdString(), "USER anonymous\r\n");
  auto* delegate = qobject_cast<QStyledItemDelegate*>(view->itemDelegateForIndex(data));
  ASSERT_NE(delegate, nullptr);
  // Carriage return and line feed, each as a middle dot.
  EXPECT_EQ(delegate->displayText(data.data(), QLocale()).toStdString(),
            "USER anonymous\u00B7\u00B7");
}

TEST(MainWindow, AMaximisedWindowComesBackMaximisedAndRestoresToTheDefault) {
  TSettingsScope scope;
  {
    TMainForm form;
    form.show();
    ProcessEvents();
    form.move(30, 40);
    form.showMaximized();
    ProcessEvents();
    form.close();
  }
  scope.Reopen();
  EXPECT_EQ(Global->WindowState, 2);
  TMainForm form;
  form.show();
  ProcessEvents();
  EXPECT_TRUE(form.isMaximized());
  form.showNormal();
  ProcessEvents();
  // The work area without a display is 1024 by 768: centred, 600 by 450.
  EXPECT_EQ(form.size(), QSize(600, 450));
  EXPECT_EQ(form.frameGeometry().topLeft(), QPoint((1024 - 600) / 2, (768 - 450) / 2));
  form.close();
}

TEST(MainWindow, PayloadPaneShowsTheSelectedRowAsTextOrDump) {
  LoadedWindow w;
  w.form->pcView->setCurrentIndex(viTCP);
  ProcessEvents();
  w.form->lvTCP->selectRow(0);
  EXPECT_EQ(w.form->mmTCP->toPlainText().toStdString(), "USER anonymous\n");
  w.form->HexToolButton->click();
  EXPECT_TRUE(w.form->ViewHex1->isChecked());
  EXPECT_EQ(w.form->mmTCP->toPlainText().toStdString(),
            "USER anonymous.. [ 55 53 45 52 | 20 61 6E 6F | 6E 79 6D 6F | 75 73  D  A ]");
  w.form->ViewHex1->trigger();  // the menu item is the other face of the same switch
  EXPECT_FALSE(w.form->HexToolButton->isChecked());
  EXPECT_FALSE(w.form->ViewHex1->isChecked());
  EXPECT_EQ(w.form->mmTCP->toPlainText().toStdString(), "USER anonymous\n");
  // A bare segment has no payload: the pane is cleared.
  w.form->lvTCP->selectRow(1);
  EXPECT_EQ(w.form->mmTCP->toPlainText().toStdString(), "");
  // A page change does not refill a pane; each keeps its last payload.
  w.form->lvTCP->selectRow(0);
  w.form->pcView->setCurrentIndex(viUDPData);
  ProcessEvents();
  EXPECT_EQ(w.form->mmTCP->toPlainText().toStdString(), "USER anonymous\n");
  w.form->lvUDPData->selectRow(0);
  EXPECT_EQ(w.form->mmUDPData->toPlainText().toStdString(), "query");
  // Clear All empties everything.
  w.form->ClearAllToolButton->click();
  EXPECT_EQ(w.Counts(), (std::vector<int32_t>(8, 0)));
  EXPECT_EQ(w.form->mmTCP->toPlainText().toStdString(), "");
  EXPECT_EQ(w.form->mmUDPData->toPlainText().toStdString(), "");
}

TEST(MainWindow, ProgressCountersFollowTheViews) {
  std::string error;
  TempDir dir;
  TCapturePipeline capture;
  ASSERT_TRUE(capture.StartLive(dir.File("temp.$$$"), 1, 65535, error));
  for (const Record& r : MixedCapture()) {
    PCAP_PKTHDR h{};
    h.caplen = h.len = uint32_t(r.frame.size());
    capture.Add(&h, r.frame.data());
  }
  TCapturingForm counters;
  counters.Counts = [&](int32_t view) { return capture.Seen(view); };
  std::vector<int32_t> got;
  for (int32_t v = 0; v < ViewCount; ++v) got.push_back(counters.Counter(v));
  EXPECT_EQ(got, (std::vector<int32_t>{8, 6, 1, 1, 2, 2, 1, 1}));
  counters.show();
  EXPECT_EQ(counters.ValueLabels[0]->text(), "8");
  EXPECT_TRUE(counters.tmrView.isActive());
  capture.Clear();
  counters.ShowCounters();
  EXPECT_EQ(counters.ValueLabels[viTCPData]->text(), "0");
  counters.hide();
  EXPECT_FALSE(counters.tmrView.isActive());
}

// Help, Home Page opens a README that exists (not a path baked into a build tree that may be
// gone), and says so when no program can show it.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  std::vector<QUrl> Urls;
 public slots:
  void Open(const QUrl& url) { Urls.push_back(url); }
};

TEST(MainWindow, HomePageOpensTheProgramsDocumentationOrSaysWhyNot) {
  LoadedWindow w;
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("file", &catcher, "Open");
  w.form->ActionHomePage->trigger();
  QDesktopServices::unsetUrlHandler("file");
  ASSERT_EQ(catcher.Urls.size(), 1u);
  const QFileInfo readme(catcher.Urls[0].toLocalFile());
  EXPECT_TRUE(readme.exists());
  EXPECT_EQ(readme.fileName(), "README.md");
  EXPECT_TRUE(w.scope.Answers.Boxes.empty());

  // No handler and no desktop to ask: the user is told instead of nothing happening.
  w.form->ActionHomePage->trigger();
  ASSERT_EQ(w.scope.Answers.Boxes.size(), 1u);
  EXPECT_EQ(w.scope.Answers.Boxes[0].Text,
            "No program was found to open the documentation: " + readme.canonicalFilePath());
}

#include "FormMainTest.moc"
