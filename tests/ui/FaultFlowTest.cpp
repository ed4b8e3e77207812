// Faults met during a capture in the window: the adapter goes away, the disk to save on is
// full. The program stays usable and keeps what it captured.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QToolButton>
#include <filesystem>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>
#include <thread>

#include "capture/Quarn.h"
#include "capture/QuarnThread.h"
#include "platform/System.h"
#include "tests/common/Loopback.h"
#include "tests/common/Rpcapd.h"
#include "tests/ui/WindowFixture.h"
#include "presentation/CellText.h"
#include "ui/FormMain.h"

namespace {
bool Until(const std::function<bool()>& done, uint32_t ms = 5000) {
  const uint32_t start = platform::TickCount();
  while (!done()) {
    if (platform::TickCount() - start > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

size_t FramesIn(const std::string& path) {
  size_t n = 0;
  TQuarn q;
  q.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR*, const ETH_HDR*) { ++n; };
  EXPECT_TRUE(q.LoadFromFile(path)) << q.LastError();
  return n;
}

// Starts a capture of UDP to a private port on the loopback adapter, as the user would
// through the adapter dialog; returns the port.
uint16_t CaptureLoopback(TMainForm& form) {
  const auto& names = form.Quarn1.AdapterNames();
  const uint16_t port = PrivatePort();
  Global->OpenType = 0;
  Global->AdapterIndex = int32_t(std::find(names.begin(), names.end(), "lo") - names.begin());
  Global->Filter = "udp port " + std::to_string(port);
  form.OpenSource();
  return port;
}

struct TmpdirScope {
  explicit TmpdirScope(const std::string& p) { setenv("TMPDIR", p.c_str(), 1); }
  ~TmpdirScope() { unsetenv("TMPDIR"); }
};

}  // namespace

TEST(FaultFlow, AVanishedAdapterLeavesAWindowThatSavesAndOpensAgain) {
  if (!RunningAsRoot()) GTEST_SKIP() << "creating an adapter needs root";
  VethPair veth("trlw" + std::to_string(getpid() % 100000));
  ASSERT_TRUE(veth.Ok());
  ASSERT_EQ(std::system(("ip addr add 10.222.0.1/24 dev " + veth.Peer()).c_str()), 0);
  TSettingsScope scope;
  TmpdirScope temp(scope.Dir.Path());
  TMainForm form;  // lists the adapters, the new one included
  form.show();
  const auto& names = form.Quarn1.AdapterNames();
  Global->OpenType = 0;
  Global->AdapterIndex = int32_t(std::find(names.begin(), names.end(), veth.Name()) - names.begin());
  Global->Filter = "";
  form.OpenSource();
  ASSERT_TRUE(form.Quarn1.Active()) << form.Quarn1.LastError();
  // A datagram to a neighbour behind the other end of the pair: the ARP requests for it
  // cross this end.
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  inet_pton(AF_INET, "10.222.0.2", &to.sin_addr);
  sendto(fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  close(fd);
  ASSERT_TRUE(Until([&] { return form.ListView(viETH)->ItemCount() >= 1; }, 5000));
  ASSERT_EQ(std::system(("ip link del " + veth.Name()).c_str()), 0);
  // The window stops the capture by itself and says why.
  ASSERT_TRUE(Until([&] { return !form.Quarn1.Active(); }));
  EXPECT_EQ(form.Quarn1.LastError(), "Quarn Error: pcap_next_ex return -1");
  ASSERT_EQ(scope.Answers.Boxes.size(), 1u);
  EXPECT_EQ(scope.Answers.Boxes[0].Text.toStdString(),
            "The capture was stopped: " + form.Quarn1.StopReason() + ".");
  EXPECT_FALSE(form.Quarn1.StopReason().empty());
  // Nothing arrives after the read error, and what came before it is in the views.
  const int32_t before = form.Capture->Seen(viETH);
  EXPECT_GE(before, 1);
  EXPECT_EQ(form.ListView(viETH)->ItemCount(), before);
  // Still responsive: it saves what it has and opens that again.
  const std::string saved = scope.Dir.File("after.cap");
  scope.Answers.Files.push_back(QString::fromStdString(saved));
  form.SaveToolButton->click();
  EXPECT_EQ(scope.Answers.Boxes.size(), 1u);
  EXPECT_EQ(FramesIn(saved), size_t(before));
  Global->OpenType = 2;
  Global->FileName = saved;
  Global->Filter = "";
  form.OpenSource();
  EXPECT_EQ(scope.Answers.Boxes.size(), 1u);
  EXPECT_EQ(form.ListView(viETH)->ItemCount(), before);
  form.close();
}

TEST(FaultFlow, SavingOntoAFullDiskReportsTheErrorAndKeepsTheTemporaryFile) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture and mounting need root";
  TSettingsScope scope;
  TmpdirScope temp(scope.Dir.Path());
  const std::string small = scope.Dir.File("small");
  std::filesystem::create_directory(small);
  ASSERT_EQ(mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k"), 0);
  TMainForm form;
  form.show();
  const uint16_t port = CaptureLoopback(form);
  ASSERT_TRUE(form.Quarn1.Active());
  for (int i = 0; i < 100; ++i) SendDatagram(port, std::string(1400, char('a' + i % 26)));
  ASSERT_TRUE(Until([&] { return form.ListView(viETH)->ItemCount() == 100; }));
  form.ActionCloseExecute();
  const std::string temporary = form.CurrentFileName;
  scope.Answers.Files.push_back(QString::fromStdString(small + "/full.cap"));
  form.SaveToolButton->click();
  ASSERT_EQ(scope.Answers.Texts(),
            std::vector<QString>{QString::fromStdString(
                "Error $001C: cannot save to " + small + "/full.cap: No space left on device")});
  EXPECT_EQ(form.CurrentFileName, temporary);
  EXPECT_EQ(form.SaveFileName, "");
  EXPECT_TRUE(form.Modified);
  EXPECT_EQ(FramesIn(temporary), 100u);  // every frame is in the temporary file
  EXPECT_FALSE(std::filesystem::exists(small + "/full.cap"));
  // Saved elsewhere, it all arrives.
  scope.Answers.Files.push_back(QString::fromStdString(scope.Dir.File("roomy.cap")));
  form.miSaveAs->trigger();
  EXPECT_EQ(scope.Answers.Boxes.size(), 1u);
  EXPECT_EQ(FramesIn(scope.Dir.File("roomy.cap")), 100u);
  form.close();
  umount(small.c_str());
}

TEST(FaultFlow, ADiskThatFillsDuringACaptureStopsItAndEveryFrameWrittenStays) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture and mounting need root";
  TSettingsScope scope;
  const std::string small = scope.Dir.File("small");
  std::filesystem::create_directory(small);
  ASSERT_EQ(mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k"), 0);
  {
    // The capture's temporary file lies on the small disk.
    TmpdirScope temp(small);
    TMainForm form;
    form.show();
    const uint16_t port = CaptureLoopback(form);
    ASSERT_TRUE(form.Quarn1.Active()) << form.Quarn1.LastError();
    const std::string temporary = form.CurrentFileName;
    for (int i = 0; i < 400 && form.Quarn1.Active(); ++i) {
      SendDatagram(port, std::string(1400, char('a' + i % 26)));
      QCoreApplication::processEvents();
    }
    ASSERT_TRUE(Until([&] { return !form.Quarn1.Active(); }, 10000)) << "the disk never filled";
    ASSERT_EQ(scope.Answers.Texts(),
              std::vector<QString>{QString::fromStdString(
                  "The capture was stopped: cannot write to " + temporary +
                  ": No space left on device.")});
    // Every frame the views show is in the file, and they can be saved elsewhere.
    const int32_t shown = form.ListView(viETH)->ItemCount();
    EXPECT_GT(shown, 50);
    EXPECT_EQ(FramesIn(temporary), size_t(shown));
    scope.Answers.Files.push_back(QString::fromStdString(scope.Dir.File("roomy.cap")));
    form.miSaveAs->trigger();
    EXPECT_EQ(scope.Answers.Boxes.size(), 1u);
    EXPECT_EQ(FramesIn(scope.Dir.File("roomy.cap")), size_t(shown));
    form.close();
  }
  umount(small.c_str());
}

TEST(FaultFlow, AFileCutShortByAnotherProgramIsReportedAndItsLostRowsSaySo) {
  TSettingsScope scope;
  std::vector<Record> records;
  for (int i = 0; i < 300; ++i) records.push_back({1000000000 + i, 0, UdpFrame(53, 1024, Bytes(1400, 'q'))});
  const std::string path = scope.Dir.File("shared.cap");
  WritePcap(path, records);
  TMainForm form;
  form.show();
  Global->OpenType = 2;
  Global->FileName = path;
  Global->Filter = "";
  form.OpenSource();
  ASSERT_EQ(form.Capture->Count(), 300);
  ASSERT_EQ(truncate(path.c_str(), off_t(std::filesystem::file_size(path) / 3)), 0);
  // The window notices by itself, once.
  ASSERT_TRUE(Until([&] { return !scope.Answers.Boxes.empty(); }));
  EXPECT_EQ(scope.Answers.Texts(),
            std::vector<QString>{QString::fromStdString(
                "The capture file " + path +
                " was changed by another program. Frames it no longer holds are shown as "
                "unreadable.")});
  Until([] { return false; }, 300);
  EXPECT_EQ(scope.Answers.Boxes.size(), 1u);
  TRowText row;
  ViewRowText(viUDP, form.Capture->Items(viUDP), 0, 0, 0, row);
  EXPECT_EQ(row[0], "1");
  EXPECT_GT(row.Count(), 2u);
  ViewRowText(viUDP, form.Capture->Items(viUDP), 299, 0, 0, row);
  ASSERT_EQ(row.Count(), 2u);
  EXPECT_EQ(row[0], "300");
  EXPECT_EQ(row[1], UnreadableText);
  // Its payload pane is empty rather than made up.
  form.pcView->setCurrentIndex(viUDP);
  form.lvUDP->selectRow(299);
  EXPECT_EQ(form.mmUDP->toPlainText(), "");
  form.close();
}
