// Finding what matters in a capture from the window: the display filter bar, sorting by a
// column's header, the find bar and Go to Frame, as a user drives them.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <pcap/pcap.h>

#include "platform/ProfileFile.h"
#include "tests/ui/WindowFixture.h"
#include "ui/FormMain.h"

namespace {
constexpr int kFrames = 30;

// Frame i (from 1): a TCP segment to port 80 carrying "GET /pageI" padded to a length that
// is not in text order, a DNS query carrying "queryI", or an ARP request, in turn. The TCP
// senders' addresses are 9.0.0.1, 10.0.0.2 and 10.0.0.10 in turn, which sort differently as
// numbers and as text.
std::vector<Record> Frames() {
  std::vector<Record> records;
  const uint32_t senders[] = {Ip("10.0.0.10"), Ip("9.0.0.1"), Ip("10.0.0.2")};
  for (int i = 1; i <= kFrames; ++i) {
    Record r;
    r.sec = 1000000000 + i;
    if (i % 3 == 1) {
      TCPFields t;
      t.flags = 0x18;
      IPv4Fields ip;
      ip.src = senders[(i / 3) % 3];
      std::string payload = "GET /page" + std::to_string(i);
      payload.resize(payload.size() + size_t((i * 37) % 90), ' ');
      r.frame = TcpFrame(t, Text(payload), ip);
    } else if (i % 3 == 2) {
      r.frame = UdpFrame(1053, 53, Text("query" + std::to_string(i)));
    } else {
      r.frame = Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, 1, 2));
    }
    records.push_back(r);
  }
  return records;
}

struct LoadedWindow {
  TSettingsScope scope;
  std::unique_ptr<TMainForm> form;
  std::string file;

  LoadedWindow() {
    file = scope.Dir.File("mixed.cap");
    WritePcap(file, Frames());
    Open();
    Global->OpenType = 2;
    Global->FileName = file;
    form->OpenSource();
    ProcessEvents();
  }
  ~LoadedWindow() {
    if (form) form->close();
  }
  void Open() {
    form = std::make_unique<TMainForm>();
    form->show();
    ProcessEvents();
  }
  void Filter(const QString& expression) {
    form->cbxDisplayFilter->setEditText(expression);
    form->ApplyFilterButton->click();
    ProcessEvents();
  }
  void ShowView(int32_t view) {
    form->pcView->setCurrentIndex(view);
    ProcessEvents();
  }
  // The Index column of every row of a view, in row order.
  std::vector<int> Indexes(int32_t view) const {
    std::vector<int> indexes;
    TListView* list = form->ListView(view);
    for (int row = 0; row < list->model()->rowCount(); ++row)
      indexes.push_back(Cell(list, row, 0).toInt());
    return indexes;
  }
  void ClickHeader(int32_t view, int column) {
    TListView* list = form->ListView(view);
    // Brought into sight first, as the user scrolls to a column to click it.
    list->scrollTo(list->Model()->index(0, column));
    QHeaderView* header = list->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                             header->height() / 2));
    ProcessEvents();
  }
  QString Notice() const { return form->lblFindNotice->text(); }
};

std::vector<int> Every(int first, int step) {
  std::vector<int> v;
  for (int i = first; i <= kFrames; i += step) v.push_back(i);
  return v;
}

// What libpcap itself says of an expression it refuses.
std::string LibpcapRefusal(const char* expression) {
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  bpf_program program;
  std::string message;
  if (pcap_compile(dead, &program, expression, 1, PCAP_NETMASK_UNKNOWN) != 0)
    message = pcap_geterr(dead);
  else
    pcap_freecode(&program);
  pcap_close(dead);
  return message;
}
}  // namespace

TEST(FindInCapture, TheDisplayFilterNarrowsEveryViewRefusesWhatLibpcapRefusesAndKeepsItsHistory) {
  LoadedWindow w;
  EXPECT_EQ(w.form->ShownPanel->text(), "Shown 30 of 30");

  w.Filter("tcp port 80");
  EXPECT_TRUE(w.form->lblFilterError->text().isEmpty());
  EXPECT_EQ(w.Indexes(viETH), Every(1, 3));
  EXPECT_EQ(w.form->ShownPanel->text(), "Shown 10 of 30   Display filter: tcp port 80");
  w.ShowView(viTCP);
  EXPECT_EQ(w.Indexes(viTCP), Every(1, 3));
  w.ShowView(viUDP);
  EXPECT_TRUE(w.Indexes(viUDP).empty());
  EXPECT_EQ(w.form->ShownPanel->text(), "Shown 0 of 10   Display filter: tcp port 80");

  // libpcap's own message, and nothing changes: not the rows, not the count, not the history.
  const std::string refusal = LibpcapRefusal("tcp port");
  ASSERT_FALSE(refusal.empty());
  w.Filter("tcp port");
  EXPECT_EQ(w.form->lblFilterError->text().toStdString(), refusal);
  EXPECT_EQ(w.form->ShownPanel->text(), "Shown 0 of 10   Display filter: tcp port 80");
  w.ShowView(viETH);
  EXPECT_EQ(w.Indexes(viETH), Every(1, 3));
  EXPECT_EQ(Global->DisplayFilterList, (std::vector<std::string>{"tcp port 80"}));

  // Another filter replaces it, and the message goes.
  w.Filter("udp or arp");
  EXPECT_TRUE(w.form->lblFilterError->text().isEmpty());
  std::vector<int> udpOrArp;
  for (int i = 1; i <= kFrames; ++i)
    if (i % 3 != 1) udpOrArp.push_back(i);
  EXPECT_EQ(w.Indexes(viETH), udpOrArp);
  w.ShowView(viUDP);
  EXPECT_EQ(w.Indexes(viUDP), Every(2, 3));

  // Empty shows everything again.
  w.Filter("");
  EXPECT_EQ(w.Indexes(viUDP), Every(2, 3));
  w.ShowView(viETH);
  EXPECT_EQ(w.Indexes(viETH).size(), size_t(kFrames));
  EXPECT_EQ(w.form->ShownPanel->text(), "Shown 30 of 30");

  // The history, newest first, is in the settings file and in the next run's box.
  EXPECT_EQ(platform::ProfileFile(Global->IniFileName).ReadString("Option", "DisplayFilterList", ""),
            "\"udp or arp\",\"tcp port 80\"");
  w.form->close();
  w.form.reset();
  w.scope.Reopen();
  w.Open();
  ASSERT_EQ(w.form->cbxDisplayFilter->count(), 2);
  EXPECT_EQ(w.form->cbxDisplayFilter->itemText(0), "udp or arp");
  EXPECT_EQ(w.form->cbxDisplayFilter->itemText(1), "tcp port 80");
  EXPECT_TRUE(w.form->cbxDisplayFilter->currentText().isEmpty());
}

TEST(FindInCapture, AHeaderClickSortsUpThenDownThenBackToCaptureOrder) {
  LoadedWindow w;
  w.ShowView(viTCP);
  TListView* tcp = w.form->lvTCP;
  const int len = ColumnOfCaption(viTCP, "Len");
  const int source = ColumnOfCaption(viTCP, "SrcIP");
  ASSERT_GE(len, 0);
  ASSERT_GE(source, 0);
  auto lengths = [&] {
    std::vector<int> v;
    for (int row = 0; row < tcp->model()->rowCount(); ++row) v.push_back(Cell(tcp, row, len).toInt());
    return v;
  };
  // The user has frame 13 selected; it stays selected wherever the sort puts it.
  tcp->selectRow(4);
  ASSERT_EQ(Cell(tcp, 4, 0), "13");

  w.ClickHeader(viTCP, len);
  const std::vector<int> up = lengths();
  ASSERT_EQ(up.size(), 10u);
  EXPECT_TRUE(std::is_sorted(up.begin(), up.end())) << ::testing::PrintToString(up);
  EXPECT_NE(up, [&] {  // the lengths are not in text order, so that order would be wrong
    std::vector<int> v = up;
    std::sort(v.begin(), v.end(), [](int a, int b) { return std::to_string(a) < std::to_string(b); });
    return v;
  }());
  EXPECT_TRUE(tcp->horizontalHeader()->isSortIndicatorShown());
  EXPECT_EQ(Cell(tcp, tcp->SelectedRow(), 0), "13");

  w.ClickHeader(viTCP, len);
  const std::vector<int> down = lengths();
  EXPECT_TRUE(std::is_sorted(down.rbegin(), down.rend()));
  EXPECT_EQ(Cell(tcp, tcp->SelectedRow(), 0), "13");

  w.ClickHeader(viTCP, len);
  EXPECT_EQ(w.Indexes(viTCP), Every(1, 3));
  EXPECT_FALSE(tcp->horizontalHeader()->isSortIndicatorShown());
  EXPECT_EQ(tcp->SelectedRow(), 4);

  // Addresses by their value: 9.0.0.1 before 10.0.0.2 before 10.0.0.10, each in capture order.
  w.ClickHeader(viTCP, source);
  std::vector<QString> sources;
  for (int row = 0; row < 10; ++row) sources.push_back(Cell(tcp, row, source));
  EXPECT_EQ(sources.front(), "9.0.0.1");
  EXPECT_EQ(sources[3], "10.0.0.2");
  EXPECT_EQ(sources[6], "10.0.0.10");
  EXPECT_EQ(sources.back(), "10.0.0.10");
  EXPECT_EQ(Cell(tcp, 0, 0), "4");
  EXPECT_EQ(Cell(tcp, 1, 0), "13");

  // A filter keeps the sort; the sorted rows are the filtered ones.
  w.Filter("ip src 10.0.0.2 or ip src 9.0.0.1");
  EXPECT_EQ(w.Indexes(viTCP), (std::vector<int>{4, 13, 22, 7, 16, 25}));
}

TEST(FindInCapture, FindGoesForwardBackAndRoundAndGoToFrameSelectsOrTells) {
  LoadedWindow w;
  w.ShowView(viTCP);
  TListView* tcp = w.form->lvTCP;
  EXPECT_FALSE(w.form->FindBar->isVisibleTo(w.form.get()));
  w.form->miFind->trigger();
  EXPECT_TRUE(w.form->FindBar->isVisibleTo(w.form.get()));

  // In the cells, case aside, from the first row on; F3 goes on, and round past the end.
  w.form->edFind->setText("get /PAGE2");
  w.form->miFindNext->trigger();
  EXPECT_EQ(Cell(tcp, tcp->SelectedRow(), 0), "22");
  EXPECT_TRUE(w.Notice().isEmpty());
  w.form->miFindNext->trigger();
  EXPECT_EQ(Cell(tcp, tcp->SelectedRow(), 0), "25");
  w.form->miFindNext->trigger();
  EXPECT_EQ(Cell(tcp, tcp->SelectedRow(), 0), "28");
  w.form->miFindNext->trigger();
  EXPECT_EQ(Cell(tcp, tcp->SelectedRow(), 0), "22");
  EXPECT_EQ(w.Notice(), "Passed the last row; found from the first.");
  w.form->miFindPrevious->trigger();
  EXPECT_EQ(Cell(tcp, tcp->SelectedRow(), 0), "28");
  EXPECT_EQ(w.Notice(), "Passed the first row; found from the last.");

  // Letter case counts when asked to.
  w.form->chkFindCase->setChecked(true);
  w.form->FindNextButton->click();
  EXPECT_EQ(w.Notice(), "\"get /PAGE2\" was not found in the TCP view.");
  EXPECT_EQ(Cell(tcp, tcp->SelectedRow(), 0), "28");
  w.form->chkFindCase->setChecked(false);

  // In the payload of a view that shows no payload column; and as hex bytes.
  w.ShowView(viUDP);
  TListView* udp = w.form->lvUDP;
  w.form->edFind->setText("query17");
  w.form->FindNextButton->click();
  ASSERT_GE(udp->SelectedRow(), 0);
  EXPECT_EQ(Cell(udp, udp->SelectedRow(), 0), "17");
  w.form->chkFindHex->setChecked(true);
  w.form->edFind->setText("71 75 65 72 79 32 39");  // "query29"
  w.form->FindPreviousButton->click();
  EXPECT_EQ(Cell(udp, udp->SelectedRow(), 0), "29");
  w.form->edFind->setText("7");
  w.form->FindNextButton->click();
  EXPECT_EQ(w.Notice(), "Hex bytes are pairs of hex digits, such as 47 45 54.");
  EXPECT_EQ(Cell(udp, udp->SelectedRow(), 0), "29");

  // Go to Frame: selected where the view holds it; told where it does not.
  w.ShowView(viTCP);
  EXPECT_TRUE(w.form->GoToFrame(19));
  EXPECT_EQ(Cell(tcp, tcp->SelectedRow(), 0), "19");
  EXPECT_FALSE(w.form->GoToFrame(20));
  EXPECT_EQ(w.scope.Answers.Texts(), std::vector<QString>{"The TCP view does not hold frame 20."});
  EXPECT_EQ(Cell(tcp, tcp->SelectedRow(), 0), "19");
  w.Filter("tcp and ip src 9.0.0.1");
  EXPECT_FALSE(w.form->GoToFrame(19));
  EXPECT_EQ(w.scope.Answers.Texts().back(), "The TCP view does not show frame 19.");
  EXPECT_TRUE(w.form->GoToFrame(13));
  EXPECT_EQ(Cell(tcp, tcp->SelectedRow(), 0), "13");
}
