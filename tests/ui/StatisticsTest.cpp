// The Statistics menu's windows on a capture file the test writes, read through the window:
// a conversation applied as the display filter narrows the views to what tcpdump passes, Go to
// First Frame lands on its row, Export writes its table; and the TCP views tint a
// retransmission, which tshark names too.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <cstdio>
#include <set>

#include "tests/common/Conversations.h"
#include "tests/ui/WindowFixture.h"
#include "ui/FormMain.h"
#include "ui/StatisticsMenu.h"
#include "ui/StatisticsTable.h"

namespace {
// The lines a command prints.
std::vector<std::string> CommandLines(const std::string& command) {
  std::vector<std::string> lines;
  if (FILE* out = popen(command.c_str(), "r")) {
    char line[4096];
    while (fgets(line, sizeof line, out)) {
      std::string text = line;
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      lines.push_back(text);
    }
    pclose(out);
  }
  return lines;
}

struct TStatisticsWindowOnFile {
  TSettingsScope scope;
  std::string file = scope.Dir.File("conversations.pcap");
  TMainForm form;
  TStatisticsWindowOnFile() {
    WritePcap(file, ConversationCapture());
    form.show();
    Global->OpenType = 2;
    Global->FileName = file;
    form.OpenSource();
    ProcessEvents();
  }
  // Opens a window as its menu item does and waits until it has counted every frame.
  TStatisticsWindow* Open(const char* item, TStatisticsMenu::TWindow window) {
    form.findChild<QAction*>(item)->trigger();
    TStatisticsWindow* opened = form.Statistics->Window(window);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !opened->Working() && opened->Taken() == form.Capture->Count(); }, 30000));
    return opened;
  }
};

int32_t ShownFrame(TMainForm& form, int32_t view, int32_t row) {
  return form.ShownItems(view)[size_t(row)].Index;
}
}  // namespace

TEST(StatisticsWindows, AConversationBecomesTheDisplayFilterItsFirstFrameIsFoundAndItsTableExported) {
  TStatisticsWindowOnFile w;
  auto* conversations =
      static_cast<TTrafficForm*>(w.Open("miConversations", TStatisticsMenu::swConversations));
  ASSERT_TRUE(conversations->isVisible());
  // Opened again, the one window comes to the front.
  w.form.findChild<QAction*>("miConversations")->trigger();
  EXPECT_EQ(w.form.findChildren<TTrafficForm*>().size(), 1u);

  QTableView* tcp = conversations->Table(TTrafficKind::TCP);
  const QAbstractItemModel* model = tcp->model();
  int followed = -1;
  for (int r = 0; r < model->rowCount(); ++r)
    if (model->index(r, 1).data().toString() == "40000") followed = r;
  ASSERT_GE(followed, 0);
  EXPECT_EQ(conversations->pcKinds->tabText(int(TTrafficKind::TCP)),
            QString::fromUtf8("TCP · %1").arg(model->rowCount()));

  // Applied, the conversation's expression narrows every view to the frames tcpdump passes.
  const std::string expression = conversations->RowFilter(TTrafficKind::TCP, followed);
  conversations->ApplyAsFilter(TTrafficKind::TCP, followed);
  EXPECT_EQ(w.form.cbxDisplayFilter->currentText().toStdString(), expression);
  const size_t passed = CommandLines("tcpdump -nr '" + w.file + "' '" + expression + "' 2>/dev/null").size();
  ASSERT_GT(passed, 10u);
  for (int32_t view : {int32_t(viETH), int32_t(viIP), int32_t(viTCP)})
    EXPECT_EQ(size_t(w.form.Shown.Count(*w.form.Capture, view)), passed) << "view " << view;
  EXPECT_EQ(w.form.Shown.Count(*w.form.Capture, viUDP), 0);

  // Go to First Frame selects the conversation's first frame, the first row the filter left.
  w.form.pcView->setCurrentIndex(viARP);
  conversations->GoToFirstFrame(TTrafficKind::TCP, followed);
  EXPECT_EQ(w.form.ActiveViewIndex, viTCP);
  ASSERT_EQ(w.form.lvTCP->SelectedRow(), 0);
  EXPECT_EQ(ShownFrame(w.form, viTCP, 0), conversations->RowFirstFrame(TTrafficKind::TCP, followed));

  // Ctrl+C copies the selected rows, captions first; Export writes every row as CSV, and a
  // folder that is not there is reported.
  tcp->selectRow(followed);
  tcp->findChild<QAction*>("CopyRows")->trigger();
  const QStringList copied = QGuiApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(copied.size(), 2);
  EXPECT_TRUE(copied[0].startsWith("Address A\tPort A\tAddress B\tPort B\tFrames\tBytes"));
  EXPECT_TRUE(copied[1].startsWith("10.0.0.1\t40000\t10.0.0.2\t80\t"));
  conversations->pcKinds->setCurrentIndex(int(TTrafficKind::TCP));
  const std::string csv = w.scope.Dir.File("tcp.csv"), nowhere = w.scope.Dir.File("no/such.csv");
  w.scope.Answers.Files = {QString::fromStdString(csv), QString::fromStdString(nowhere)};
  auto* exportButton = conversations->findChild<QPushButton*>("btnExport");
  exportButton->click();
  const std::string written = FileContents(csv);
  // Captions with a blank are quoted, as RFC 4180 allows any field to be.
  EXPECT_TRUE(written.starts_with("\"Address A\",\"Port A\",\"Address B\",\"Port B\",Frames,Bytes,")) << written;
  EXPECT_NE(written.find("\r\n10.0.0.1,40000,10.0.0.2,80,"), std::string::npos) << written;
  EXPECT_EQ(size_t(std::count(written.begin(), written.end(), '\n')), size_t(model->rowCount()) + 1);
  exportButton->click();
  ASSERT_EQ(w.scope.Answers.Boxes.size(), 1u);
  EXPECT_EQ(w.scope.Answers.Boxes[0].Text.toStdString(),
            "cannot write to " + nowhere + ": No such file or directory");

  // Another file replaces the capture: the window counts that one.
  const std::string other = w.scope.Dir.File("one.pcap");
  WritePcap(other, {ConversationCapture()[0]});
  Global->FileName = other;
  w.form.OpenSource();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !conversations->Working() && model->rowCount() == 1; }, 30000));
  conversations->close();
}

TEST(StatisticsWindows, TheTCPViewsTintARetransmissionAndNameItInTheToolTip) {
  TStatisticsWindowOnFile w;
  // tshark's verdict on the capture, the one users compare with.
  const auto retransmitted = CommandLines("tshark -r '" + w.file +
                                          "' -Y tcp.analysis.retransmission -T fields -e frame.number 2>/dev/null");
  ASSERT_FALSE(retransmitted.empty()) << "tshark found no retransmission";
  const int32_t frame = std::stoi(retransmitted[0]);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.form.Statistics->Troubles().Taken() == w.form.Capture->Count(); }, 30000));
  for (int32_t view : {int32_t(viTCP), int32_t(viTCPData)}) {
    w.form.pcView->setCurrentIndex(view);
    TListView* list = w.form.ListView(view);
    int32_t row = -1, clean = -1;
    for (int32_t r = 0; r < list->ItemCount(); ++r) {
      const int32_t shown = ShownFrame(w.form, view, r);
      if (shown == frame) row = r;
      if (shown == 5) clean = r;  // the first data segment, sent once and in order
    }
    ASSERT_GE(row, 0) << "view " << view;
    const QModelIndex tinted = list->model()->index(row, 2);
    // The views take the verdicts in once the analysis's work has ended on the main thread.
    EXPECT_TRUE(QTest::qWaitFor([&] {
      return tinted.data(Qt::BackgroundRole).value<QBrush>().color() == TPacketModel::MarkTint();
    }, 30000));
    EXPECT_TRUE(tinted.data(Qt::ToolTipRole).toString().contains("Retransmission"))
        << tinted.data(Qt::ToolTipRole).toString().toStdString();
    ASSERT_GE(clean, 0);
    EXPECT_FALSE(list->model()->index(clean, 2).data(Qt::BackgroundRole).isValid());
  }
}
