// The whole program from the user's side: opening files and live and remote sources through
// the dialogs, capturing, stopping, saving, and every error a user can meet on the way.
#include <gtest/gtest.h>

#include <QProgressDialog>
#include <QRegularExpression>
#include <pcap/pcap.h>

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <linux/capability.h>
#include <csignal>
#include <optional>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "capture/Quarn.h"
#include "capture/QuarnThread.h"
#include "pipeline/Conversation.h"
#include "platform/System.h"
#include "tests/common/Loopback.h"
#include "tests/common/Process.h"
#include "tests/common/Rpcapd.h"
#include "tests/platform/TempFolder.h"
#include "tests/ui/DialogControls.h"
#include "tests/ui/WindowFixture.h"
#include "ui/FormCapturing.h"
#include "ui/FileReading.h"
#include "ui/FormMain.h"
#include "ui/FormStatistics.h"
#include "ui/StatisticsMenu.h"

namespace {
// Points the temporary folder at a folder of the test for as long as it lives.
class TempFolderScope {
 public:
  explicit TempFolderScope(const std::string& path) {
    if (const char* old = getenv("TMPDIR")) saved_ = old;
    setenv("TMPDIR", path.c_str(), 1);
  }
  ~TempFolderScope() {
    if (saved_) setenv("TMPDIR", saved_->c_str(), 1);
    else unsetenv("TMPDIR");
  }

 private:
  std::optional<std::string> saved_;
};

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The frames of a capture file, as LoadFromFile delivers them.
std::vector<std::pair<PCAP_PKTHDR, Bytes>> ReadBack(const std::string& path) {
  std::vector<std::pair<PCAP_PKTHDR, Bytes>> frames;
  TQuarn q;
  q.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR* h, const ETH_HDR* e) {
    const auto* b = reinterpret_cast<const uint8_t*>(e);
    frames.push_back({*h, Bytes(b, b + h->caplen)});
  };
  EXPECT_TRUE(q.LoadFromFile(path)) << q.LastError();
  return frames;
}

bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  const uint32_t start = platform::TickCount();
  while (!done()) {
    if (platform::TickCount() - start > uint32_t(ms)) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

int AdapterIndexOf(const TQuarn& q, const std::string& name) {
  const auto& names = q.AdapterNames();
  return int(std::find(names.begin(), names.end(), name) - names.begin());
}

// A window on its own settings file with its temporary folder inside the test's folder.
struct Window {
  TSettingsScope scope;
  TempFolderScope temp{scope.Dir.Path()};
  std::unique_ptr<TMainForm> form = std::make_unique<TMainForm>();
  uint16_t port = PrivatePort();
  Window() {
    form->show();
    ProcessEvents();
  }
  ~Window() {
    if (form) form->close();
  }
  // A live capture of the test's datagrams on the loopback adapter, opened as the adapter
  // dialog would leave the settings of a first start.
  void OpenLoopback(bool threadSafe = true) {
    Global->OpenType = 0;
    Global->AdapterIndex = AdapterIndexOf(form->Quarn1, "lo");
    Global->Filter = "udp port " + std::to_string(port);
    Global->ThreadSafe = threadSafe;
    Global->Save();
    form->OpenSource();
  }
  void Send(int n) {
    for (int i = 0; i < n; ++i) SendDatagram(port, "datagram " + std::to_string(i));
  }
  std::vector<QString> Boxes() const { return scope.Answers.Texts(); }
};
}  // namespace

TEST(CaptureFlow, AFileOpenedThroughTheDialogsFillsTheViews) {
  Window w;
  const std::string file = w.scope.Dir.File("in.cap");
  std::vector<Record> records(3);
  records[0].frame = TcpFrame({}, Text("hello"));
  records[1].frame = UdpFrame(1, 2, Text("x"));
  records[2].frame = Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, 1, 2));
  WritePcap(file, records);

  // File, Open File: the file dialog, then the open dialog on its File page.
  w.scope.Answers.Files.push_back(QString::fromStdString(file));
  OnNextDialog([](QDialog& open) {
    EXPECT_EQ(Control<QLineEdit>(open, "edFileName").text().toStdString(),
              Global->FileName);
    Click(open, "btnOK");
  });
  w.form->miOpenFile->trigger();
  ASSERT_EQ(w.scope.Answers.FileRequests.size(), 1u);
  EXPECT_EQ(w.scope.Answers.FileRequests[0].DefaultExtension, "cap");
  EXPECT_TRUE(w.Boxes().empty());
  EXPECT_EQ(w.form->ListView(viETH)->ItemCount(), 3);
  EXPECT_TRUE(w.form->ActionSave->isEnabled());
  EXPECT_EQ(w.form->CurrentFileName, file);
  EXPECT_EQ(Global->OpenType, 2);

  // The tool button goes straight to the open dialog.
  OnNextDialog([](QDialog& open) { Click(open, "btnOK"); });
  w.form->OpenFileToolButton->click();
  EXPECT_EQ(w.form->ListView(viETH)->ItemCount(), 3);
  ProcessEvents();
  EXPECT_EQ(w.form->lvETH->model()->data(w.form->lvETH->model()->index(0, 0)).toString(), "1");

  // Save As an exact copy, and to the same name again.
  const std::string copy = w.scope.Dir.File("copy.cap");
  w.scope.Answers.Files.push_back(QString::fromStdString(copy));
  w.form->miSaveAs->trigger();
  EXPECT_EQ(FileBytes(copy), FileBytes(file));
  w.scope.Answers.Files.push_back(QString::fromStdString(copy));
  w.form->miSaveAs->trigger();
  EXPECT_EQ(w.Boxes(), std::vector<QString>{"Same file name"});
  EXPECT_TRUE(w.scope.Answers.Boxes[0].Error);
  EXPECT_EQ(w.scope.Answers.Boxes[0].Caption, "Error");
  // Saving the saved file again copies it onto itself and leaves it whole.
  w.form->SaveToolButton->click();
  EXPECT_EQ(w.Boxes().size(), 1u);
  EXPECT_EQ(FileBytes(copy), FileBytes(file));
}

TEST(CaptureFlow, OpeningFailuresAreShown) {
  Window w;
  Global->OpenType = 2;
  Global->FileName = w.scope.Dir.File("missing.cap");
  w.form->OpenSource();
  ASSERT_EQ(w.Boxes().size(), 1u);
  EXPECT_TRUE(w.Boxes()[0].contains("No such file")) << w.Boxes()[0].toStdString();
  EXPECT_EQ(w.form->CurrentFileName, "");

  WritePcap(w.scope.Dir.File("ok.cap"), {Record{1, 2, UdpFrame(1, 2, {}), 0, 0}});
  Global->FileName = w.scope.Dir.File("ok.cap");
  Global->Filter = "udp port";
  w.form->OpenSource();
  ASSERT_EQ(w.Boxes().size(), 2u);
  EXPECT_TRUE(w.Boxes()[1].contains("syntax error")) << w.Boxes()[1].toStdString();

  Global->OpenType = 0;
  Global->AdapterIndex = -1;
  w.form->OpenSource();
  ASSERT_EQ(w.Boxes().size(), 3u);
  EXPECT_EQ(w.Boxes()[2], "Quarn Error: Invalid AdapterName");
  EXPECT_FALSE(w.form->Quarn1.Active());
}

TEST(CaptureFlow, SavingSaysWhatWentWrongAndACorrectedSaveAsWorks) {
  Window w;
  // Nothing to save yet: every save command is off.
  EXPECT_FALSE(w.form->ActionSave->isEnabled());
  EXPECT_FALSE(w.form->ActionSaveAs->isEnabled());
  EXPECT_FALSE(w.form->miSaveAs->isEnabled());
  EXPECT_FALSE(w.form->SaveToolButton->isEnabled());

  // The file dialogs offer every capture format first and open where the user was last.
  std::filesystem::create_directory(w.scope.Dir.File("in"));
  const std::string file = w.scope.Dir.File("in/f.pcap");
  WritePcap(file, {Record{1, 2, UdpFrame(1, 2, Text("a")), 0, 0},
                   Record{3, 4, UdpFrame(1, 2, Text("b")), 0, 0}});
  w.scope.Answers.Files.push_back(QString::fromStdString(file));
  OnNextDialog([](QDialog& open) { Click(open, "btnOK"); });
  w.form->miOpenFile->trigger();
  ASSERT_EQ(w.form->ListView(viETH)->ItemCount(), 2);
  EXPECT_TRUE(w.form->miSaveAs->isEnabled());
  const QString fileStatus = w.form->StatusPanels[0]->text();

  const std::string bad = w.scope.Dir.File("no/such/dir/a.cap");
  w.scope.Answers.Files = {QString::fromStdString(bad), QString::fromStdString(bad)};
  w.form->miSaveAs->trigger();
  w.form->miSaveAs->trigger();  // the same path again is tried again, not refused
  const QString expected = QString::fromStdString(
      "Error $0002: cannot save to " + bad + ": No such file or directory");
  EXPECT_EQ(w.Boxes(), (std::vector<QString>{expected, expected}));
  EXPECT_EQ(w.form->SaveFileName, file);
  EXPECT_EQ(w.form->CurrentFileName, file);
  ASSERT_EQ(w.scope.Answers.FileRequests.size(), 3u);
  for (const auto& r : w.scope.Answers.FileRequests) {
    EXPECT_EQ(r.Filter, r.Save ? "pcap (*.cap *.pcap);;pcapng (*.pcapng);;All files (*)"
                               : "Capture files (*.cap *.pcap *.pcapng);;All files (*)");
  }
  EXPECT_EQ(w.scope.Answers.FileRequests[1].Directory.toStdString(), w.scope.Dir.File("in/"));

  // Corrected, it saves; the same name as the file saved to is still refused.
  const std::string good = w.scope.Dir.File("good.cap");
  w.scope.Answers.Files = {QString::fromStdString(good), QString::fromStdString(good)};
  w.form->miSaveAs->trigger();
  EXPECT_EQ(w.Boxes().size(), 2u);
  EXPECT_EQ(FileBytes(good), FileBytes(file));
  EXPECT_EQ(w.form->SaveFileName, good);
  w.form->miSaveAs->trigger();
  EXPECT_EQ(w.Boxes().back(), "Same file name");

  // A filter that narrows the file is named in the status bar.
  Global->OpenType = 2;
  Global->FileName = file;
  Global->Filter = "udp";
  w.form->OpenSource();
  EXPECT_EQ(w.form->StatusPanels[0]->text(), fileStatus + "   Filter: udp");

  // Emptied by Clear All, there is nothing to save again.
  w.form->ClearAllToolButton->click();
  EXPECT_FALSE(w.form->miSaveAs->isEnabled());
  EXPECT_FALSE(w.form->SaveToolButton->isEnabled());
}

TEST(CaptureFlow, ALiveCapturesFileIsItsOwnersAloneAndSavedAsPcapngKeepsItsRows) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  Window w;
  // Someone else's file, and a link to it where the temporary file was once always made.
  const std::string victim = w.scope.Dir.File("victim");
  std::ofstream(victim) << "someone else's";
  ASSERT_EQ(symlink(victim.c_str(), w.scope.Dir.File("temp.$$$").c_str()), 0);
  w.OpenLoopback();
  ASSERT_TRUE(w.form->Quarn1.Active()) << w.form->Quarn1.LastError();
  const std::string temporary = w.form->CurrentFileName;
  EXPECT_TRUE(std::regex_match(temporary, std::regex(w.scope.Dir.Path() + "/temp\\w{6}\\.\\$\\$\\$"))) << temporary;
  EXPECT_EQ(FileMode(temporary), 0600u);
  EXPECT_FALSE(TMainForm::IsTemporary(w.scope.Dir.File("temp.$$$x")));
  EXPECT_FALSE(TMainForm::IsTemporary("/a.$$$/b"));
  w.Send(3);
  ASSERT_TRUE(WaitFor([&] { return w.form->ListView(viETH)->ItemCount() == 3; }));
  w.form->ActionCloseExecute();
  EXPECT_EQ(FileBytes(victim), "someone else's");
  EXPECT_TRUE(std::filesystem::is_symlink(w.scope.Dir.File("temp.$$$")));

  // The save dialog's pcapng choice, a name without an extension: pcapng, named so; the views
  // go on reading the capture's own file.
  const auto rows = [&] {  // the Ethernet view's cells
    ProcessEvents();
    QStringList cells;
    const int columns = w.form->lvETH->model()->columnCount();
    for (int cell = 0; cell < 3 * columns; ++cell) cells << Cell(w.form->lvETH, cell / columns, cell % columns);
    return cells;
  };
  ASSERT_EQ(w.form->ListView(viETH)->ItemCount(), 3);
  const QStringList shown = rows();
  w.scope.Answers.Files.push_back(QString::fromStdString(w.scope.Dir.File("out")));
  w.scope.Answers.Filters.push_back(Prompts::PcapngFileFilter);
  w.form->miSaveAs->trigger();
  const std::string saved = w.scope.Dir.File("out.pcapng");
  EXPECT_EQ(w.form->CurrentFileName, saved);
  EXPECT_TRUE(std::filesystem::exists(temporary));
  EXPECT_EQ(rows(), shown);
  Global->OpenType = 2;
  Global->FileName = saved;
  w.form->OpenSource();
  EXPECT_EQ(rows(), shown);
  EXPECT_FALSE(std::filesystem::exists(temporary));
}

TEST(CaptureFlow, LiveCaptureStopSaveAndReadBack) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  Window w;
  // The adapter dialog, as the user fills it in.
  OnNextDialog([&](QDialog& d) {
    auto& adapters = Control<QComboBox>(d, "cbxAdapter");
    adapters.setCurrentIndex(adapters.findText("lo"));
    Control<QComboBox>(d, "cbxFilter").setEditText(QString("udp port %1").arg(w.port));
    Control<QLineEdit>(d, "edSnapLen").setText("65535");
    Click(d, "OKBtn");
  });
  w.form->AdapterToolButton->click();
  ASSERT_TRUE(w.form->Quarn1.Active()) << w.form->Quarn1.LastError();
  EXPECT_TRUE(w.Boxes().empty());
  ASSERT_NE(w.form->CapturingForm, nullptr);
  EXPECT_TRUE(w.form->CapturingForm->isVisible());
  const std::string temporary = w.form->CurrentFileName;
  EXPECT_TRUE(TMainForm::IsTemporary(temporary)) << temporary;
  EXPECT_EQ(w.form->StatusPanels[0]->text(), QString("lo   Filter: udp port %1").arg(w.port));
  EXPECT_FALSE(w.form->ActionOpen->isEnabled());
  EXPECT_TRUE(w.form->ActionClose->isEnabled());

  w.Send(25);
  EXPECT_TRUE(WaitFor([&] { return w.form->ListView(viETH)->ItemCount() == 25; }))
      << w.form->ListView(viETH)->ItemCount();
  w.form->CapturingForm->ShowCounters();
  EXPECT_EQ(w.form->CapturingForm->ValueLabels[viUDPData]->text(), "25");
  EXPECT_EQ(w.form->CapturingForm->ValueLabels[viTCP]->text(), "0");

  Click(*w.form->CapturingForm, "btnClose");  // "Stop"
  EXPECT_FALSE(w.form->Quarn1.Active());
  EXPECT_FALSE(w.form->CapturingForm->isVisible());
  EXPECT_TRUE(w.form->ActionSave->isEnabled());

  // Save into another folder: every frame, in order; the temporary file is gone.
  std::filesystem::create_directory(w.scope.Dir.File("saved"));
  const std::string saved = w.scope.Dir.File("saved/out.cap");
  w.scope.Answers.Files.push_back(QString::fromStdString(saved));
  w.form->SaveToolButton->click();
  EXPECT_TRUE(w.Boxes().empty()) << (w.Boxes().empty() ? "" : w.scope.Answers.Texts()[0].toStdString());
  EXPECT_FALSE(std::filesystem::exists(temporary));
  EXPECT_EQ(w.form->CurrentFileName, saved);
  EXPECT_FALSE(w.form->Modified);
  EXPECT_FALSE(w.form->ActionSave->isEnabled());
  const auto frames = ReadBack(saved);
  ASSERT_EQ(frames.size(), 25u);
  ASSERT_EQ(w.form->Capture->Count(), int32_t(frames.size()));
  int32_t number = 1;
  for (const auto& [header, bytes] : frames) {
    const TFrame frame = w.form->Capture->Store().Frame(number++);
    ASSERT_TRUE(frame.Readable);
    EXPECT_EQ(header.ts.tv_sec, frame.PktHdr.ts.tv_sec);
    EXPECT_EQ(header.ts.tv_usec, frame.PktHdr.ts.tv_usec);
    EXPECT_EQ(header.len, frame.PktHdr.len);
    EXPECT_EQ(bytes, Bytes(frame.Data(), frame.DataEnd()));
  }
  if (std::system("command -v tcpdump >/dev/null 2>&1") == 0) {
    std::FILE* p = popen(("tcpdump -n -r " + saved + " 2>/dev/null | wc -l").c_str(), "r");
    int lines = 0;
    EXPECT_EQ(std::fscanf(p, "%d", &lines), 1);
    pclose(p);
    EXPECT_EQ(lines, 25);
  }
  // Save As under a name that differs only in letter case is a new name.
  const std::string upper = w.scope.Dir.File("saved/OUT.cap");
  w.scope.Answers.Files.push_back(QString::fromStdString(upper));
  w.form->miSaveAs->trigger();
  EXPECT_TRUE(w.Boxes().empty());
  EXPECT_EQ(FileBytes(upper), FileBytes(saved));
}

TEST(CaptureFlow, TheActiveViewFollowsNewRowsUntilTheUserScrollsUp) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  Window w;
  ASSERT_TRUE(w.form->miFollowNewRows->isChecked());
  w.OpenLoopback();
  ASSERT_TRUE(w.form->Quarn1.Active()) << w.form->Quarn1.LastError();
  TListView* view = w.form->ListView(viETH);
  QScrollBar* bar = view->verticalScrollBar();
  const auto lastRowVisible = [view] {
    const int rows = view->model()->rowCount();
    return rows > 0 &&
           view->rowViewportPosition(rows - 1) + view->RowHeight() <= view->viewport()->height();
  };
  int sent = 0;
  // Far more rows than the view shows at once, then waits until all are in the view.
  const auto sendRows = [&] {
    w.Send(100);
    sent += 100;
    return WaitFor([&] { return view->model()->rowCount() == sent; }, 20000);
  };

  // From an empty view, the rows keep arriving at the bottom.
  ASSERT_TRUE(sendRows()) << view->model()->rowCount();
  EXPECT_TRUE(WaitFor(lastRowVisible));
  ASSERT_GT(bar->maximum(), 0);
  ASSERT_TRUE(sendRows());
  EXPECT_TRUE(WaitFor(lastRowVisible));

  // Scrolled up, with a row selected: new rows move neither.
  bar->setValue(0);
  view->selectRow(3);
  ASSERT_TRUE(sendRows());
  ProcessEvents();
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(view->SelectedRow(), 3);

  // Back at the bottom, it follows again.
  bar->setValue(bar->maximum());
  ASSERT_TRUE(sendRows());
  EXPECT_TRUE(WaitFor(lastRowVisible));

  // Turned off, the view stays at what was the last row.
  w.form->miFollowNewRows->trigger();
  EXPECT_FALSE(w.form->miFollowNewRows->isChecked());
  const int stayed = bar->value();
  ASSERT_TRUE(sendRows());
  ProcessEvents();
  EXPECT_EQ(bar->value(), stayed);
  EXPECT_FALSE(lastRowVisible());

  // The choice outlives the window.
  w.form->close();
  w.form.reset();
  w.scope.Reopen();
  EXPECT_FALSE(Global->FollowNewRows);
  w.form = std::make_unique<TMainForm>();
  w.form->show();
  ProcessEvents();
  EXPECT_FALSE(w.form->miFollowNewRows->isChecked());
  EXPECT_FALSE(w.form->ListView(viETH)->FollowNewRows());
}

TEST(CaptureFlow, ADisplayFilterNarrowsALiveCaptureAsFramesArrive) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  Window w;
  w.OpenLoopback();
  ASSERT_TRUE(w.form->Quarn1.Active()) << w.form->Quarn1.LastError();
  TListView* view = w.form->ListView(viETH);
  w.Send(100);
  ASSERT_TRUE(WaitFor([&] { return view->model()->rowCount() == 100; }, 20000));
  // A UDP length of 18 is "datagram 0" to "datagram 9": ten of each hundred.
  w.form->cbxDisplayFilter->setEditText("udp[4:2] = 18");
  w.form->ApplyFilterButton->click();
  EXPECT_EQ(view->model()->rowCount(), 10);
  w.Send(100);
  EXPECT_TRUE(WaitFor(
      [&] { return w.form->Capture->Count() == 200 && view->model()->rowCount() == 20; }, 20000))
      << w.form->Capture->Count() << " " << view->model()->rowCount();
  EXPECT_EQ(w.form->ShownPanel->text(), "Shown 20 of 200   Display filter: udp[4:2] = 18");
  for (int row = 0; row < view->model()->rowCount(); ++row)
    EXPECT_EQ(Cell(view, row, 3), "52") << row;  // Ethernet, IP and those 18 bytes
  Click(*w.form->CapturingForm, "btnClose");  // "Stop"
  EXPECT_EQ(view->model()->rowCount(), 20);
}

TEST(CaptureFlow, TheStatisticsWindowsCountALiveCaptureAsItGoes) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  Window w;
  w.OpenLoopback();
  ASSERT_TRUE(w.form->Quarn1.Active()) << w.form->Quarn1.LastError();
  auto* summary = static_cast<TSummaryForm*>(w.form->Statistics->Open(TStatisticsMenu::swSummary));
  auto* conversations =
      static_cast<TTrafficForm*>(w.form->Statistics->Open(TStatisticsMenu::swConversations));
  auto summaryValue = [&](const QString& property) {
    const QAbstractItemModel* model = summary->tvSummary->model();
    for (int r = 0; r < model->rowCount(); ++r)
      if (model->index(r, 0).data().toString() == property) return model->index(r, 1).data().toString();
    return QString();
  };
  const QAbstractItemModel* udp = conversations->Table(TTrafficKind::UDP)->model();
  // Every datagram to the port is one frame on lo, sent from a socket of its own: a
  // conversation of one frame each.
  for (const int sent : {30, 60}) {
    w.Send(30);
    EXPECT_TRUE(WaitFor([&] { return summaryValue("Frames") == QString::number(sent); }, 30000))
        << summaryValue("Frames").toStdString();
    EXPECT_TRUE(WaitFor([&] { return udp->rowCount() == sent; }, 30000)) << udp->rowCount();
  }
  EXPECT_EQ(summaryValue("Dropped by the kernel"), "0");
  Click(*w.form->CapturingForm, "btnClose");  // "Stop"
  // Clear All empties the windows too.
  w.form->ClearAllToolButton->click();
  EXPECT_TRUE(WaitFor([&] { return summaryValue("Frames") == "0" && udp->rowCount() == 0; }, 30000));
}

TEST(CaptureFlow, ClosingTheWindowDuringACaptureStopsItAndCleansUp) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  Window w;
  w.OpenLoopback();
  ASSERT_TRUE(w.form->Quarn1.Active());
  const std::string temporary = w.form->CurrentFileName;
  ASSERT_TRUE(std::filesystem::exists(temporary));
  w.Send(5);
  WaitFor([&] { return w.form->ListView(viETH)->ItemCount() == 5; });
  w.form->pcView->setCurrentIndex(viUDP);
  w.form->close();  // asked first; the user discards
  EXPECT_EQ(w.scope.Answers.SaveQuestions,
            std::vector<QString>{"Do you want to save the captured frames before closing?"});
  EXPECT_FALSE(w.form->Quarn1.Active());
  EXPECT_FALSE(w.form->CapturingForm->isVisible());
  EXPECT_FALSE(std::filesystem::exists(temporary));
  const std::string ini = FileText(w.scope.Ini);
  EXPECT_NE(ini.find("ActiveListViewIndex=5"), std::string::npos) << ini;
  EXPECT_NE(ini.find("[lvUDPData]"), std::string::npos) << ini;
  w.form.reset();
}

TEST(CaptureFlow, AnUnsavedCaptureIsNeverThrownAwayWithoutAsking) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  Window w;
  WritePcap(w.scope.Dir.File("f.cap"), {Record{1, 2, TcpFrame({}, Text("file payload")), 0, 0}});
  auto openFile = [&] {
    Global->OpenType = 2;
    Global->FileName = w.scope.Dir.File("f.cap");
    Global->Filter = "";
    w.form->OpenSource();
  };
  w.OpenLoopback();
  w.Send(5);
  ASSERT_TRUE(WaitFor([&] { return w.form->ListView(viETH)->ItemCount() == 5; }));
  const std::string first = w.form->CurrentFileName;

  // Opening another source while capturing asks first; Cancel leaves the capture running.
  w.scope.Answers.SaveChoices = {TSaveChoice::Cancel};
  openFile();
  EXPECT_EQ(w.scope.Answers.SaveQuestions.size(), 1u);
  EXPECT_TRUE(w.form->Quarn1.Active());
  EXPECT_EQ(w.form->CurrentFileName, first);
  w.Send(1);
  EXPECT_TRUE(WaitFor([&] { return w.form->ListView(viETH)->ItemCount() == 6; }));

  // Save, then a cancelled file dialog: nothing is saved, so nothing is replaced.
  w.scope.Answers.SaveChoices = {TSaveChoice::Save};
  openFile();
  EXPECT_EQ(w.scope.Answers.SaveQuestions.size(), 2u);
  EXPECT_EQ(w.form->CurrentFileName, first);
  EXPECT_EQ(w.form->ListView(viETH)->ItemCount(), 6);
  EXPECT_TRUE(std::filesystem::exists(first));

  // Save with a name: the capture is saved, then the file replaces it, and no payload pane
  // keeps a trace of the old capture.
  w.form->pcView->setCurrentIndex(viUDPData);
  w.form->lvUDPData->selectRow(0);
  ProcessEvents();
  ASSERT_FALSE(w.form->mmUDPData->toPlainText().isEmpty());
  w.scope.Answers.SaveChoices = {TSaveChoice::Save};
  w.scope.Answers.Files.push_back(QString::fromStdString(w.scope.Dir.File("kept.cap")));
  openFile();
  EXPECT_EQ(ReadBack(w.scope.Dir.File("kept.cap")).size(), 6u);
  EXPECT_FALSE(std::filesystem::exists(first));
  EXPECT_EQ(w.form->CurrentFileName, w.scope.Dir.File("f.cap"));
  EXPECT_EQ(w.form->Capture->Count(), 1);
  EXPECT_EQ(w.form->ListView(viUDPData)->ItemCount(), 0);
  for (auto* memo : {w.form->mmTCP, w.form->mmUDP, w.form->mmTCPData, w.form->mmUDPData})
    EXPECT_TRUE(memo->toPlainText().isEmpty()) << memo->objectName().toStdString();
  w.form->pcView->setCurrentIndex(viETH);

  // A saved file is opened again without a question; a new capture that is discarded goes
  // with its temporary file.
  openFile();
  EXPECT_EQ(w.scope.Answers.SaveQuestions.size(), 3u);
  w.OpenLoopback();
  const std::string second = w.form->CurrentFileName;
  w.Send(2);
  ASSERT_TRUE(WaitFor([&] { return w.form->ListView(viETH)->ItemCount() == 2; }));
  w.form->ActionCloseExecute();
  w.scope.Answers.SaveChoices = {TSaveChoice::Discard};
  openFile();
  EXPECT_EQ(w.scope.Answers.SaveQuestions.size(), 4u);
  EXPECT_FALSE(std::filesystem::exists(second));
  EXPECT_EQ(w.form->ListView(viETH)->ItemCount(), 1);

  // Closing the window with an unsaved capture asks too: Cancel keeps the window and the
  // capture, Save keeps the frames and closes.
  w.OpenLoopback();
  w.Send(3);
  ASSERT_TRUE(WaitFor([&] { return w.form->ListView(viETH)->ItemCount() == 3; }));
  w.scope.Answers.SaveChoices = {TSaveChoice::Cancel};
  EXPECT_FALSE(w.form->close());
  EXPECT_TRUE(w.form->isVisible());
  EXPECT_TRUE(w.form->Quarn1.Active());
  w.scope.Answers.SaveChoices = {TSaveChoice::Save};
  w.scope.Answers.Files.push_back(QString::fromStdString(w.scope.Dir.File("at-close.cap")));
  EXPECT_TRUE(w.form->close());
  EXPECT_EQ(w.scope.Answers.SaveQuestions.size(), 6u);
  EXPECT_EQ(ReadBack(w.scope.Dir.File("at-close.cap")).size(), 3u);
  EXPECT_TRUE(w.Boxes().empty());
  w.form.reset();
}

TEST(CaptureFlow, AFailedOpenKeepsThePreviousCaptureSaveable) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live and remote capture need root";
  Rpcapd host;
  Window w;
  w.OpenLoopback();
  w.Send(4);
  ASSERT_TRUE(WaitFor([&] { return w.form->ListView(viETH)->ItemCount() == 4; }));
  w.form->ActionCloseExecute();
  const std::string temporary = w.form->CurrentFileName;
  const QString source = w.form->StatusPanels[0]->text();
  auto expectKept = [&](const char* after) {
    SCOPED_TRACE(after);
    EXPECT_FALSE(w.form->Quarn1.Active());
    EXPECT_EQ(w.form->ListView(viETH)->ItemCount(), 4);
    EXPECT_EQ(w.form->Capture->List(viUDPData).Count(), 4);
    EXPECT_EQ(w.form->CapturingForm->Counter(viUDP), 4);
    EXPECT_EQ(w.form->CurrentFileName, temporary);
    EXPECT_TRUE(std::filesystem::exists(temporary));
    EXPECT_EQ(w.form->StatusPanels[0]->text(), source);
    EXPECT_TRUE(w.form->ActionSave->isEnabled());
  };
  // The user discards, but every open fails: nothing is lost.
  w.scope.Answers.SaveChoices.assign(5, TSaveChoice::Discard);
  Global->OpenType = 1;
  Global->Host = host.Host();
  Global->UserName = host.User();
  Global->Password = "wrong";
  w.form->OpenSource();
  ASSERT_EQ(w.Boxes().size(), 1u);
  expectKept("a wrong password");

  Global->OpenType = 2;
  Global->FileName = w.scope.Dir.File("missing.cap");
  w.form->OpenSource();
  ASSERT_EQ(w.Boxes().size(), 2u);
  EXPECT_TRUE(w.Boxes()[1].contains("No such file")) << w.Boxes()[1].toStdString();
  expectKept("a missing file");

  WritePcap(w.scope.Dir.File("ok.cap"), {Record{1, 2, UdpFrame(1, 2, {}), 0, 0}});
  Global->FileName = w.scope.Dir.File("ok.cap");
  Global->Filter = "udp port";
  w.form->OpenSource();
  ASSERT_EQ(w.Boxes().size(), 3u);
  EXPECT_TRUE(w.Boxes()[2].contains("syntax error")) << w.Boxes()[2].toStdString();
  expectKept("a refused filter");

  // A pipe, which cannot be read in place; without a writer its open would never return.
  Global->Filter = "";
  const std::string pipe = w.scope.Dir.File("pipe.cap");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  Global->FileName = pipe;
  w.form->OpenSource();
  ASSERT_EQ(w.Boxes().size(), 4u);
  EXPECT_EQ(w.Boxes()[3].toStdString(), pipe + ": not a regular file");
  expectKept("a pipe");

  // libpcap's words, after the name of the file they are about.
  const std::string empty = w.scope.Dir.File("empty.cap"), folder = w.scope.Dir.File("folder.cap");
  std::ofstream{empty};
  std::filesystem::create_directory(folder);
  for (const auto& [file, reason] :
       {std::pair{empty, "truncated dump file; tried to read 4 file header bytes, only got 0"},
        std::pair{folder, "error reading dump file: Is a directory"}}) {
    Global->FileName = file;
    w.form->OpenSource();
    EXPECT_EQ(w.Boxes().back().toStdString(), file + ": " + reason);
    expectKept(file.c_str());
  }
  ASSERT_EQ(w.Boxes().size(), 6u);

  // A temporary file that cannot be made: the new capture is given up before it starts.
  {
    TempFolderScope nowhere(w.scope.Dir.File("no-such-folder"));
    w.OpenLoopback();
    ASSERT_EQ(w.Boxes().size(), 7u);
    EXPECT_TRUE(w.Boxes()[6].contains("No such file")) << w.Boxes()[6].toStdString();
    EXPECT_FALSE(w.form->CapturingForm->isVisible());
    expectKept("a temporary file that cannot be made");
  }

  // Still saved as it was captured.
  w.scope.Answers.Files.push_back(QString::fromStdString(w.scope.Dir.File("kept.cap")));
  w.form->SaveToolButton->click();
  EXPECT_EQ(w.Boxes().size(), 7u);
  EXPECT_EQ(ReadBack(w.scope.Dir.File("kept.cap")).size(), 4u);
}

TEST(CaptureFlow, CaptureThreadFilesWhileTheWindowReadsAndClears) {
  if (!RunningAsRoot()) GTEST_SKIP() << "creating an adapter needs root";
  // Frames as fast as the test can send them, across a veth pair, filed on the capture thread
  // while the window switches tabs, reads and paints rows, fills payload panes and clears.
  VethPair veth("trls" + std::to_string(getpid() % 100000));
  ASSERT_TRUE(veth.Ok());
  Window w;  // made after the pair, so that its component lists the new adapter
  const auto& names = w.form->Quarn1.AdapterNames();
  Global->OpenType = 0;
  Global->AdapterIndex = int32_t(std::find(names.begin(), names.end(), veth.Name()) - names.begin());
  Global->ThreadSafe = false;
  Global->Filter = "";
  w.form->OpenSource();
  ASSERT_TRUE(w.form->Quarn1.Active()) << w.form->Quarn1.LastError();
  const Bytes frame = UdpFrame(7, 9, Text("stress payload"));
  std::atomic<bool> stop{false};
  long sent = 0;
  std::thread sender([&] { sent = veth.Blast(frame, stop); });
  // The window goes on until it has cleared frames that the capture thread filed while it
  // read, many times over and many frames in all, however the two threads happen to be
  // scheduled; the deadline only ends a capture that files nothing.
  constexpr int kBusyClears = 100;
  constexpr long kFiled = 1000;
  int tabs = 0, busyClears = 0;
  long filed = 0;
  const uint32_t start = platform::TickCount();
  while ((busyClears < kBusyClears || filed < kFiled) && platform::TickCount() - start < 120000) {
    w.form->pcView->setCurrentIndex(tabs++ % ViewCount);
    TListView* view = w.form->GetActiveListView();
    for (int r = 0; r < std::min(view->ItemCount(), 20); ++r) Cell(view, r, 0);
    view->viewport()->repaint();  // paints the visible rows
    if (view->ItemCount() > 0) view->selectRow(0);  // fills the payload pane, where there is one
    // The frames are filed again, decoded the other way, while the capture thread files more;
    // back by type codes before each Clear All, so that the counters count as the lists file.
    if (tabs % 7 == 3 || tabs % 7 == 6) w.form->miDecodeIPv6AndVLAN->trigger();
    if (tabs % 7 == 0) {
      const int32_t since = w.form->CapturingForm->Counter(viUDPData);
      if (since > 0) ++busyClears;
      filed += since;
      w.form->ClearAllToolButton->click();
    }
    ProcessEvents(1);
  }
  EXPECT_GE(busyClears, kBusyClears);
  EXPECT_GE(filed, kFiled);
  if (w.form->miDecodeIPv6AndVLAN->isChecked()) {
    w.form->miDecodeIPv6AndVLAN->trigger();
    w.form->ClearAllToolButton->click();
  }
  // The sender goes on until a frame has been filed after the last Clear All: otherwise the
  // views are rightly empty after the close and the comparison below proves nothing.
  EXPECT_TRUE(WaitFor([&] { return w.form->CapturingForm->Counter(viUDPData) > 0; }, 60000));
  stop = true;
  sender.join();
  w.form->ActionCloseExecute();
  EXPECT_GT(sent, kFiled);
  // After the close every view shows what was filed since the last Clear All, and the
  // counters agree with every view (the adapter's own IPv6 chatter is in them too).
  EXPECT_GT(w.form->ListView(viUDPData)->ItemCount(), 0);
  for (int32_t v = 0; v < ViewCount; ++v)
    EXPECT_EQ(w.form->CapturingForm->Counter(v), w.form->ListView(v)->ItemCount()) << "view " << v;
}

TEST(CaptureFlow, RemoteCaptureThroughTheChooser) {
  if (!RunningAsRoot()) GTEST_SKIP() << "the remote capture host needs root";
  Rpcapd host;
  Window w;
  OnNextDialog([&](QDialog& d) {
    Control<QLineEdit>(d, "edHost").setText(QString::fromStdString(host.Host()));
    Control<QLineEdit>(d, "edUserName").setText(QString::fromStdString(host.User()));
    Control<QLineEdit>(d, "edPassword").setText(QString::fromStdString(host.Password()));
    Control<QComboBox>(d, "cbxFilter").setEditText(QString("udp port %1").arg(w.port));
    EXPECT_EQ(Control<QLineEdit>(d, "edReadTimeout").text(), "1");  // as at a first start
    Click(d, "OKBtn");
    // Then the chooser: the host has many adapters.
    OnNextDialog([](QDialog& chooser) {
      auto& list = Control<QListWidget>(chooser, "lbRemoteAdapter");
      EXPECT_GT(list.count(), 1);
      const auto lo = list.findItems("/lo", Qt::MatchEndsWith);  // no description: its name
      if (lo.size() != 1) {
        QStringList all;
        for (int i = 0; i < list.count(); ++i) all << list.item(i)->text();
        ADD_FAILURE() << "no single loopback entry in: " << all.join(" | ").toStdString();
        chooser.reject();
        return;
      }
      list.setCurrentItem(lo[0]);
      lo[0]->setSelected(true);
      Click(chooser, "btnOK");
    });
  });
  w.form->RemoteHostToolButton->click();
  ASSERT_TRUE(w.form->Quarn1.Active()) << w.form->Quarn1.LastError();
  EXPECT_EQ(w.form->Quarn1.Source(), "rpcap://" + host.Host() + "/lo");
  // The daemon has the adapter open and filtered once the open returns: every frame counts.
  w.Send(30);
  EXPECT_TRUE(WaitFor([&] { return w.form->ListView(viETH)->ItemCount() == 30; }, 10000))
      << w.form->ListView(viETH)->ItemCount();
  w.form->ActionCloseExecute();
  w.form->ClearAllToolButton->click();

  // Closing the chooser without a choice fails the open with the component's text.
  OnNextDialog([](QDialog& chooser) { chooser.reject(); });
  w.form->OpenSource();
  EXPECT_EQ(w.Boxes(), std::vector<QString>{"Quarn Error: Cancel By User or Invalid AdapterName"});
  EXPECT_FALSE(w.form->Quarn1.Active());
}

TEST(CaptureFlow, OneRemoteAdapterSkipsTheChooserWhenAsked) {
  Window w;
  Global->DontShowJustOne = true;
  int32_t index = -1;
  w.form->Quarn1GetRemoteAdapterInfo(w.form->Quarn1, {"rpcap://h/eth0"}, {""}, index);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(w.form->RemoteAdapterForm, nullptr);  // never shown
  // With two adapters it is shown all the same.
  index = -1;
  OnNextDialog([](QDialog& chooser) {
    auto& list = Control<QListWidget>(chooser, "lbRemoteAdapter");
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(list.item(1)->text(), "second");
    DoubleClick(list, 1);
  });
  w.form->Quarn1GetRemoteAdapterInfo(w.form->Quarn1, {"rpcap://h/a", "rpcap://h/b"},
                                     {"", "second"}, index);
  EXPECT_EQ(index, 1);
}

// The children of this process that run `program`.
std::vector<pid_t> ChildrenRunning(const std::string& program) {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == getpid() && line.substr(open + 1, close - open - 1) == program.substr(0, 15))
      found.push_back(pid_t(std::stoi(pid)));
  }
  return found;
}

// Nobody pressed Stop: a daemon that goes away, a capture helper that is killed. The window
// stops the capture, says why in a box and in the status bar, closes the capture window, and
// what arrived before saves whole. The remote capture asks the daemon (rpcapd -n) for no
// authentication, as an empty user name does, and captures loopback without a filter: the
// daemon's own stream stays out of it.
TEST(CaptureFlow, ACaptureThatEndsByItselfStopsSaysWhyAndSaves) {
  if (!RunningAsRoot()) GTEST_SKIP() << "the remote capture host and the helper need root";
  for (const bool remote : {true, false}) {
    SCOPED_TRACE(remote ? "daemon that exits" : "helper that is killed");
    std::optional<Rpcapd> host;
    // Without CAP_NET_RAW the window captures as a user without capture rights does: through
    // the capture helper, which runs as root with every right.
    std::optional<WithoutCapability> ordinaryUser;
    Window w;
    if (remote) {
      host.emplace(true);
      Global->OpenType = 1;
      Global->Host = host->Host();
      Global->UserName = "";
      Global->Password = "";
      Global->Filter = "";
      OnNextDialog([](QDialog& chooser) {
        auto& list = Control<QListWidget>(chooser, "lbRemoteAdapter");
        const auto lo = list.findItems("/lo", Qt::MatchEndsWith);
        if (lo.size() == 1) lo[0]->setSelected(true);
        Click(chooser, "btnOK");
      });
      w.form->OpenSource();
    } else {
      setenv("TRELLAN_CAPTURE_HELPER", TRELLAN_CAPTURE_HELPER_BUILT, 1);
      ordinaryUser.emplace(CAP_NET_RAW);
      w.OpenLoopback();
    }
    ASSERT_TRUE(w.form->Quarn1.Active()) << w.form->Quarn1.LastError();
    ASSERT_TRUE(w.Boxes().empty());
    const std::vector<pid_t> helpers = ChildrenRunning("trellan-capture");
    ASSERT_EQ(helpers.size(), remote ? 0u : 1u);
    // The test's datagrams among what the capture holds (without a filter, the trace's too).
    const auto ours = [&](const uint8_t* bytes, size_t size) {
      return size > 42 && bytes[23] == 17 && (bytes[36] << 8 | bytes[37]) == w.port;
    };
    const auto held = [&] {
      int n = 0;
      const TFrameStore& store = w.form->Capture->Store();
      for (int32_t i = 1; i <= store.Count(); ++i) {
        const TFrame frame = store.Frame(i);
        n += ours(frame.Bytes, frame.PktHdr.caplen);
      }
      return n;
    };
    w.Send(3);
    ASSERT_TRUE(WaitFor([&] { return held() == 3; }, 10000)) << held();
    if (remote) host->Kill();
    else kill(helpers[0], SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return !w.form->Quarn1.Active(); }, 10000));
    unsetenv("TRELLAN_CAPTURE_HELPER");
    ordinaryUser.reset();
    ASSERT_EQ(w.Boxes().size(), 1u);
    EXPECT_EQ(w.Boxes()[0].toStdString(),
              remote ? "The capture was stopped: The other host terminated the connection."
                     : "The capture was stopped: the capture helper stopped sending frames "
                       "(killed by signal 9 (Killed)).");
    EXPECT_TRUE(w.form->StatusPanels[2]->toolTip().endsWith(w.Boxes()[0]))
        << w.form->StatusPanels[2]->toolTip().toStdString();
    EXPECT_FALSE(w.form->CapturingForm && w.form->CapturingForm->isVisible());
    EXPECT_EQ(w.form->ListView(viTCP)->ItemCount(), 0);  // nothing of the daemon's stream
    // What it captured saves, and opens again.
    const std::string savedFile = w.scope.Dir.File("stopped.cap");
    w.scope.Answers.Files.push_back(QString::fromStdString(savedFile));
    w.form->SaveToolButton->click();
    EXPECT_EQ(w.Boxes().size(), 1u);
    int saved = 0;
    for (const auto& [header, bytes] : ReadBack(savedFile)) saved += ours(bytes.data(), bytes.size());
    EXPECT_EQ(saved, 3);
  }
}

TEST(CaptureFlow, ALargeFileShowsItsFirstRowsAtOnceFillsInAsItIsReadAndCancelKeepsWhatWasRead) {
  Window w;
  const std::string file = w.scope.Dir.File("large.cap");
  // Past the size from which a file is read while the window goes on: small frames, each with
  // its own source port, so that every row differs from its neighbours.
  const size_t frames = TFileReading::InBackgroundFrom / (UdpFrame(0, 0, Text("small")).size() + 16) + 1000;
  {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, file.c_str());
    ASSERT_NE(dumper, nullptr);
    for (size_t i = 0; i < frames; ++i) {
      const Bytes frame = UdpFrame(uint16_t(i), 1024, Text("small"));
      pcap_pkthdr h{{1000000000, int(i % 1000000)}, uint32_t(frame.size()), uint32_t(frame.size())};
      pcap_dump(reinterpret_cast<u_char*>(dumper), &h, frame.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
  }
  // What a complete read shows, row by row.
  TCapturePipeline whole;
  std::string error;
  ASSERT_EQ(whole.ReadFile(file, "", error), TCapturePipeline::TReadResult::Complete) << error;
  const auto expected = [&](int32_t row) {
    TRowText text;
    ViewRowText(viUDP, whole.Items(viUDP), row, Global->TCPDataOffset, Global->UDPDataOffset, text);
    return QString::fromStdString(text[0]) + " " + QString::fromStdString(text[ColumnOfCaption(viUDP, "Src Port")]);
  };
  TListView* udp = w.form->ListView(viUDP);
  const auto shown = [&](int32_t row) {
    udp->Model()->Flush();  // the rows the view announces, as the event loop would
    return Cell(udp, row, 0) + " " + Cell(udp, row, ColumnOfCaption(viUDP, "Src Port"));
  };
  w.form->pcView->setCurrentIndex(viUDP);
  Global->OpenType = 2;
  Global->FileName = file;
  const auto open = [&] {
    w.form->OpenSource();
    // The first rows are on screen before the window goes on: exactly the frames read so far.
    ASSERT_TRUE(w.form->ReadingFile());
    EXPECT_EQ(w.form->Capture->Count(), 32768);
    ASSERT_EQ(udp->ItemCount(), 32768);
    for (int32_t row : {0, 1, 32767}) EXPECT_EQ(shown(row), expected(row)) << row;
    EXPECT_TRUE(w.form->ReadingPanel->isVisible());
    EXPECT_EQ(w.form->ReadingPanel->text(), "Reading: 32,768 frames (3 %)");
  };

  // Cancel before the reading went on keeps those frames, and they are the capture now.
  open();
  w.form->CancelReadButton->click();
  EXPECT_FALSE(w.form->ReadingFile());
  EXPECT_FALSE(w.form->ReadingPanel->isVisible());
  EXPECT_TRUE(w.Boxes().empty());
  EXPECT_EQ(w.form->Capture->Count(), 32768);
  EXPECT_EQ(udp->ItemCount(), 32768);
  EXPECT_EQ(w.form->CurrentFileName, file);
  EXPECT_FALSE(w.form->Quarn1.Active());

  // Left to go on, the view fills in: at every moment the rows of the frames read so far, in
  // order, and in the end those of the complete read. A sort asked for meanwhile waits for it.
  open();
  bool sortAsked = false;
  int32_t before = 0;
  while (w.form->ReadingFile()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const int32_t count = udp->ItemCount();
    EXPECT_GE(count, before);
    EXPECT_LE(count, w.form->Capture->Count());
    if (count > 0 && !w.form->Shown.View(viUDP).Sorted()) {
      EXPECT_EQ(shown(count - 1), expected(count - 1));
    }
    before = count;
    if (!sortAsked && w.form->ReadingFile()) {
      sortAsked = true;
      w.form->SortColumnClick(viUDP, ColumnOfCaption(viUDP, "Src Port"));
      EXPECT_TRUE(w.form->ReadingPanel->text().endsWith(", then sorting"));
      EXPECT_FALSE(w.form->Shown.View(viUDP).Sorted());
    }
  }
  EXPECT_TRUE(w.Boxes().empty());
  ASSERT_EQ(w.form->Capture->Count(), int32_t(frames));
  ASSERT_EQ(udp->ItemCount(), int32_t(frames));
  if (sortAsked) {
    EXPECT_TRUE(w.form->Shown.View(viUDP).Sorted());
    EXPECT_EQ(Cell(udp, 0, ColumnOfCaption(viUDP, "Src Port")), "0");
    w.form->SortColumnClick(viUDP, ColumnOfCaption(viUDP, "Src Port"));
    w.form->SortColumnClick(viUDP, ColumnOfCaption(viUDP, "Src Port"));  // capture order again
  }
  for (int32_t row : {0, 32768, int32_t(frames) - 1}) EXPECT_EQ(shown(row), expected(row)) << row;

  // A display filter applied during the reading narrows what was read and what comes after.
  open();
  w.form->cbxDisplayFilter->setEditText("udp[0:2] < 100");
  w.form->ApplyFilterButton->click();
  EXPECT_TRUE(w.form->ReadingFile());
  while (w.form->ReadingFile()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  int32_t passing = 0;
  for (size_t i = 0; i < frames; ++i) passing += uint16_t(i) < 100;
  EXPECT_EQ(udp->ItemCount(), passing);
  EXPECT_EQ(shown(passing - 1), expected(int32_t((frames - 1) / 65536 * 65536 + 99)));

  // A file that breaks off in a record: what was read is shown, and the user is told.
  const std::string cut = w.scope.Dir.File("cut.cap");
  std::vector<Record> records(3);
  for (auto& r : records) r.frame = UdpFrame(53, 1024, Text("abc"));
  WritePcap(cut, records);
  ASSERT_EQ(truncate(cut.c_str(), off_t(std::filesystem::file_size(cut) - 5)), 0);
  Global->FileName = cut;
  w.form->OpenSource();
  EXPECT_EQ(w.form->Capture->Count(), 2);
  ASSERT_EQ(w.Boxes().size(), 1u);
  EXPECT_TRUE(w.Boxes()[0].startsWith(
      QString::fromStdString("Only the first 2 frames of " + cut + " were read: truncated dump file")))
      << w.Boxes()[0].toStdString();
}

TEST(CaptureFlow, TheCaptureWindowShowsRatesAndTheKernelsDropsAndTheStatusBarSumsThemUp) {
  if (!RunningAsRoot()) GTEST_SKIP() << "creating an adapter needs root";
  VethPair veth("trld" + std::to_string(getpid() % 100000));
  ASSERT_TRUE(veth.Ok());
  Window w;
  const auto& names = w.form->Quarn1.AdapterNames();
  Global->OpenType = 0;
  Global->AdapterIndex =
      int32_t(std::find(names.begin(), names.end(), veth.Name()) - names.begin());
  Global->Filter = "";
  ASSERT_TRUE(Global->ThreadSafe);  // every frame waits for the main thread
  // The smallest ring the kernel takes, so that a main thread that is away overflows it.
  w.form->Quarn1.SetBufferSize(64 << 10);
  w.form->OpenSource();
  ASSERT_TRUE(w.form->Quarn1.Active()) << w.form->Quarn1.LastError();
  TCapturingForm& window = *w.form->CapturingForm;
  const auto number = [](const QLabel* label) { return label->text().remove(',').toLongLong(); };
  const QRegularExpression clock("^\\d\\d:\\d\\d:\\d\\d$");

  const Bytes frame = UdpFrame(7, 9, Text("drop payload"));
  std::atomic<bool> stop{false};
  std::thread sender([&] { veth.Blast(frame, stop); });
  // While the window is served, the rates of the last second show the traffic.
  EXPECT_TRUE(WaitFor([&] { return number(window.lblFrameRate) > 0; }, 60000));
  EXPECT_TRUE(window.lblByteRate->text().endsWith("/s"))
      << window.lblByteRate->text().toStdString();
  EXPECT_NE(window.lblByteRate->text(), "0 B/s");
  EXPECT_TRUE(clock.match(window.lblElapsed->text()).hasMatch())
      << window.lblElapsed->text().toStdString();
  EXPECT_FALSE(window.RateGraph->Rates().empty());

  // Away from its events, the main thread takes no frames and the ring overflows.
  TCaptureStatistics counted;
  EXPECT_TRUE(PollUntil(60000, [&] {
    return w.form->Quarn1.Statistics(counted) && counted.KernelDropped > 0;
  }));
  stop = true;
  sender.join();
  // Served again, the window shows the loss, in red, as the library counts it.
  EXPECT_TRUE(WaitFor([&] { return number(window.lblKernelDrops) > 0; }, 60000));
  ASSERT_TRUE(w.form->Quarn1.Statistics(counted));
  window.ShowCounters();
  EXPECT_GT(counted.KernelDropped, 0u);
  EXPECT_EQ(number(window.lblKernelDrops), int64_t(counted.KernelDropped));
  EXPECT_EQ(window.lblKernelDrops->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(number(window.lblInterfaceDrops), int64_t(counted.InterfaceDropped));

  // Stopped: the status bar sums the capture up with the same loss.
  Click(window, "btnClose");
  ASSERT_FALSE(w.form->Quarn1.Active());
  const QLabel* summary = w.form->StatusPanels[2];
  const QString expected = GroupedNumber(uint64_t(window.Counter(viETH))) +
                           " frames captured, " + GroupedNumber(counted.KernelDropped) +
                           " dropped by the kernel, " + GroupedNumber(counted.InterfaceDropped) +
                           " by the interface, in ";
  const QString whole = summary->toolTip();
  EXPECT_TRUE(whole.startsWith(expected)) << whole.toStdString();
  EXPECT_TRUE(clock.match(whole.mid(expected.size())).hasMatch()) << whole.toStdString();
  // A window wide enough shows all of it, in the bar, beside the source's caption.
  w.form->resize(1000, w.form->height());
  ProcessEvents();
  EXPECT_EQ(summary->text(), whole);
  EXPECT_LE(summary->geometry().right(), w.form->statusBar()->contentsRect().right());
  const QLabel* caption = w.form->StatusPanels[0];
  EXPECT_EQ(caption->text().toStdString(), veth.Name());
  EXPECT_GE(caption->width(), caption->fontMetrics().horizontalAdvance(caption->text()));
}

namespace {
// A TCP connection to a listener on `address` (127.0.0.1 or ::1) that sends `text` and closes;
// the port it listened on.
uint16_t Converse(bool ipv6, const std::string& text) {
  const int family = ipv6 ? AF_INET6 : AF_INET;
  sockaddr_storage address{};
  socklen_t length = ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (ipv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  const int listener = socket(family, SOCK_STREAM, 0);
  EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  EXPECT_EQ(listen(listener, 1), 0);
  EXPECT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int client = socket(family, SOCK_STREAM, 0);
  EXPECT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), length), 0);
  const int server = accept(listener, nullptr, nullptr);
  EXPECT_EQ(write(client, text.data(), text.size()), ssize_t(text.size()));
  char buffer[64];
  EXPECT_EQ(read(server, buffer, sizeof buffer), ssize_t(text.size()));
  close(client);
  close(server);
  close(listener);
  return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

// The cells of `view`'s rows in column `caption`.
std::vector<QString> Column(TListView* view, int32_t viewIndex, const std::string& caption) {
  std::vector<QString> cells;
  const int column = ColumnOfCaption(viewIndex, caption);
  for (int row = 0; row < view->ItemCount(); ++row) cells.push_back(Cell(view, row, column));
  return cells;
}
}  // namespace

TEST(CaptureFlow, AnyCaptureShowsItsFramesDecodedAndIPv6WhenTheUserTurnsItOn) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  Window w;
  ASSERT_FALSE(w.form->miDecodeIPv6AndVLAN->isChecked());
  // "any", with the first start's settings but for a filter that keeps the test's traffic
  // apart: a datagram to a closed port (and the ICMP error it brings back), one TCP
  // conversation over IPv4 and one over IPv6.
  Global->OpenType = 0;
  Global->AdapterIndex = AdapterIndexOf(w.form->Quarn1, "any");
  Global->Filter = "udp port " + std::to_string(w.port) + " or icmp or tcp";
  Global->Save();
  w.form->OpenSource();
  ASSERT_TRUE(w.form->Quarn1.Active()) << w.form->Quarn1.LastError();
  w.Send(1);
  const uint16_t v4 = Converse(false, "over IPv4");
  const uint16_t v6 = Converse(true, "over IPv6");
  // Each conversation is at least its three handshake frames, one data frame and two FINs.
  const auto tcpFrames = [&](uint16_t port) {
    int n = 0;
    for (int32_t i = 1; i <= w.form->Capture->Count(); ++i) {
      const TPacketLayers l = w.form->Capture->Store().Frame(i).Layers();
      if (const TCP_HDR* tcp = l.TCP(); tcp && (be16(tcp->SrcPort) == port || be16(tcp->DstPort) == port)) ++n;
    }
    return n;
  };
  ASSERT_TRUE(WaitFor([&] { return w.form->Capture->List(viICMP).Count() >= 1 && tcpFrames(v4) >= 6; }, 20000));
  Click(*w.form->CapturingForm, "btnClose");
  ASSERT_FALSE(w.form->Quarn1.Active());

  // Cooked frames: no destination MAC, the protocol field as Protocol(x).
  TListView* eth = w.form->ListView(viETH);
  EXPECT_EQ(Cell(eth, 0, ColumnOfCaption(viETH, "DstMac")), "");
  w.form->pcView->setCurrentIndex(viUDP);
  EXPECT_EQ(Column(w.form->ListView(viUDP), viUDP, "Dst Port"), std::vector<QString>{QString::number(w.port)});
  w.form->pcView->setCurrentIndex(viICMP);
  EXPECT_EQ(Column(w.form->ListView(viICMP), viICMP, "Type").at(0), "3");  // port unreachable
  w.form->pcView->setCurrentIndex(viTCPData);
  const auto data = Column(w.form->ListView(viTCPData), viTCPData, "Data");
  EXPECT_EQ(data, std::vector<QString>{"over IPv4"});
  // Decoded by type codes, the IPv6 conversation is in the Ethernet view only, and the window
  // points at the item.
  EXPECT_EQ(tcpFrames(v6), 0);
  EXPECT_TRUE(w.form->DecodingPanel->isVisible());
  EXPECT_TRUE(w.form->DecodingPanel->text().contains("View > Decode IPv6 and VLAN"));

  w.form->miDecodeIPv6AndVLAN->trigger();
  EXPECT_TRUE(Global->DecodeIPv6AndVLAN);
  EXPECT_GE(tcpFrames(v6), 6);
  EXPECT_EQ(Column(w.form->ListView(viTCPData), viTCPData, "Data"),
            (std::vector<QString>{"over IPv4", "over IPv6"}));
  EXPECT_EQ(Column(w.form->ListView(viTCPData), viTCPData, "SrcIP").at(1), "::1");
  // Follow Stream over IPv6.
  const TFrame frame = w.form->ShownItems(viTCPData)[1];
  const auto conversation = FollowConversation(*w.form->Capture, frame);
  ASSERT_TRUE(conversation);
  EXPECT_EQ(EndpointText(conversation->Sides[1]), "[::1]:" + std::to_string(v6));
  EXPECT_EQ(conversation->Bytes[0], 9u);
  // Turned off again, the views are as they were.
  w.form->miDecodeIPv6AndVLAN->trigger();
  EXPECT_EQ(tcpFrames(v6), 0);
  EXPECT_EQ(Column(w.form->ListView(viTCPData), viTCPData, "Data"), data);
}

TEST(CaptureFlow, ClearAllAsksBeforeAnUnsavedCaptureGoes) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  Window w;
  const auto capture = [&] {  // ten frames, stopped, only in the temporary file
    w.OpenLoopback();
    w.Send(10);
    EXPECT_TRUE(WaitFor([&] { return w.form->ListView(viETH)->ItemCount() == 10; }));
    w.form->ActionCloseExecute();
    return w.form->CurrentFileName;
  };
  const auto clear = [&](TSaveChoice answer, int rowsLeft) {
    w.scope.Answers.SaveChoices = {answer};
    w.form->ClearAllToolButton->click();
    EXPECT_EQ(w.form->ListView(viETH)->ItemCount(), rowsLeft);
  };
  Global->FileName = w.scope.Dir.File("saved.cap");
  w.scope.Answers.Files = {QString::fromStdString(Global->FileName)};
  const std::string first = capture();
  const auto size = std::filesystem::file_size(first);
  clear(TSaveChoice::Cancel, 10);
  EXPECT_EQ(std::filesystem::file_size(first), size);
  clear(TSaveChoice::Discard, 0);
  EXPECT_EQ(std::filesystem::file_size(first), 24u);  // the header alone
  const std::string second = capture();
  clear(TSaveChoice::Save, 0);
  EXPECT_FALSE(std::filesystem::exists(second));  // moved to the file saved
  // The file saved, once opened, is cleared without a question and keeps its frames.
  Global->OpenType = 2;
  w.form->OpenSource(false);
  clear(TSaveChoice::Cancel, 0);
  EXPECT_EQ(ReadBack(Global->FileName).size(), 10u);
  EXPECT_EQ(w.scope.Answers.SaveQuestions,
            std::vector<QString>(3, "Do you want to save the captured frames before opening another source?"));
}

// The real file dialogs in /proc after a save there failed, and in a folder that holds a pipe:
// each is answered once it has listed its folder, which a window that waits on a file never
// does; the alarm then ends the test.
TEST(CaptureFlow, RealFileDialogsNeverWaitOnSpecialFiles) {
  if (!RunningAsRoot()) GTEST_SKIP() << "reading /proc/kmsg, which waits, needs root";
  alarm(60);
  Window w;
  setenv("XDG_CONFIG_HOME", w.scope.Dir.Path().c_str(), 1);  // where Qt keeps its dialogs' state
  const QString in = QString::fromStdString(w.scope.Dir.File("in")), pipes = in + "-pipes";
  QDir().mkpath(in), QDir().mkpath(pipes);
  EXPECT_EQ(mkfifo((pipes + "/pipe.cap").toLocal8Bit(), 0600), 0);
  Global->FileName = (in + "/f.pcap").toStdString();
  WritePcap(Global->FileName, {Record{1, 2, UdpFrame(1, 2, Text("a")), 0, 0}});
  Global->OpenType = 2;
  w.form->OpenSource();
  w.scope.Answers.RealFileDialogs = true;
  std::vector<QString> started;
  const auto saveAs = [&](const QString& folder, const QString& name) {  // no name: Cancel
    OnNextDialog([&, folder, name](QDialog& d) {
      auto& dialog = *qobject_cast<QFileDialog*>(&d);
      started.push_back(dialog.directory().absolutePath());
      QObject::connect(dialog.findChild<QFileSystemModel*>(), &QFileSystemModel::directoryLoaded,
                       &dialog, [&, folder, name](const QString& listed) {
                         if (QDir(listed) != QDir(folder)) return;
                         dialog.findChild<QLineEdit*>("fileNameEdit")->setText(name);
                         name.isEmpty() ? d.reject() : d.accept();  // QFileDialog's own accept
                       });
      dialog.setDirectory(folder);
    });
    w.form->miSaveAs->trigger();
  };
  saveAs("/proc", "x.pcap");
  saveAs(pipes, "");
  alarm(0);
  EXPECT_EQ(started, (std::vector<QString>{in, in}));
  ASSERT_EQ(w.Boxes().size(), 1u);
  EXPECT_TRUE(w.Boxes()[0].contains("cannot save to /proc/x.pcap")) << w.Boxes()[0].toStdString();
}
