// The three capture source dialogs (Adapter, Remote Host, Open): what they show from the
// settings file, and what OK stores there.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <functional>
#include <tuple>

#include "tests/ui/DialogControls.h"
#include "tests/ui/WindowFixture.h"
#include "ui/AdapterUnit.h"
#include "ui/FormOpen.h"
#include "ui/RemoteHostUnit.h"

namespace {
using Texts = std::vector<std::string>;

auto Snapshot(const TGlobal& g) {
  return std::make_tuple(g.OpenType, g.AdapterIndex, g.Host, g.UserName, g.Password,
                         g.DontShowJustOne, g.FileName, g.Filter, g.Flags, g.ReadTimeout, g.SnapLen,
                         g.ThreadSafe, g.FilterList, g.TCPDataOffset, g.UDPDataOffset);
}

Texts Items(const QComboBox& box) {
  Texts items;
  for (int i = 0; i < box.count(); ++i) items.push_back(box.itemText(i).toStdString());
  return items;
}

class SourceDialogs : public ::testing::Test {
 protected:
  SourceDialogs() {
    Adapter.SetAdapters(Names, Descriptions);
    Open.SetAdapters(Names, Descriptions);
  }
  // Writes settings to the file, which the next showing reads.
  void Store(const std::function<void(TGlobal&)>& change) {
    change(*Global);
    Global->Save();
  }
  // The settings as the file now holds them.
  const TGlobal& Saved() {
    Global->Load();
    return *Global;
  }

  TSettingsScope Scope;
  // On Linux many adapters have no description: the list shows their name.
  const Texts Names{"eth0", "lo", "any"};
  const Texts Descriptions{"Intel Ethernet", "", "Pseudo-device that captures on all interfaces"};
  TAdapterDlg Adapter;
  TRemoteHostDlg Remote;
  TOpenForm Open;
  // Each dialog with the name of its OK button.
  const std::vector<std::pair<QDialog*, const char*>> All{
      {&Adapter, "OKBtn"}, {&Remote, "OKBtn"}, {&Open, "btnOK"}};
};

TEST_F(SourceDialogs, AdapterOutsideTheListSelectsTheFirstAndOKStoresIt) {
  for (auto [dialog, ok] : {All[0], All[2]}) {
    SCOPED_TRACE(dialog->windowTitle().toStdString());
    for (const int32_t stored : {-1, 3, 1000}) {
      Store([&](TGlobal& g) {
        g.OpenType = 0;
        g.AdapterIndex = stored;
      });
      dialog->open();
      const auto& list = Control<QComboBox>(*dialog, "cbxAdapter");
      EXPECT_EQ(Items(list),
                (Texts{"Intel Ethernet", "lo", "Pseudo-device that captures on all interfaces"}));
      EXPECT_EQ(list.currentIndex(), 0) << stored;
      Click(*dialog, ok);
      EXPECT_EQ(dialog->result(), QDialog::Accepted);
      EXPECT_EQ(Saved().AdapterIndex, 0) << stored;
    }
    Store([](TGlobal& g) { g.AdapterIndex = 2; });
    dialog->open();
    EXPECT_EQ(Control<QComboBox>(*dialog, "cbxAdapter").currentIndex(), 2);
    Click(*dialog, ok);
    EXPECT_EQ(Saved().AdapterIndex, 2);
  }

  // No adapter at all: nothing to select, and OK says so.
  Adapter.SetAdapters({}, {});
  Adapter.open();
  EXPECT_EQ(Control<QComboBox>(Adapter, "cbxAdapter").currentIndex(), -1);
  Click(Adapter, "OKBtn");
  EXPECT_EQ(Saved().AdapterIndex, -1);
}

TEST_F(SourceDialogs, FilterHistoryPutsTheLastFilterFirstOnceWhateverItsLetterCase) {
  Store([](TGlobal& g) {
    g.Filter = "arp";
    g.FilterList = {"udp port 53", "tcp", "arp"};
  });
  Adapter.open();
  auto& filter = Control<QComboBox>(Adapter, "cbxFilter");
  EXPECT_EQ(Items(filter), (Texts{"udp port 53", "tcp", "arp"}));
  EXPECT_EQ(filter.currentText(), "arp");
  filter.setEditText("TCP");
  Click(Adapter, "OKBtn");
  EXPECT_EQ(Saved().Filter, "TCP");
  EXPECT_EQ(Saved().FilterList, (Texts{"TCP", "udp port 53", "arp"}));

  // Every new filter adds one entry, whichever dialog takes it; an empty one too.
  const std::vector<std::pair<std::pair<QDialog*, const char*>, std::string>> steps{
      {All[1], "icmp"}, {All[2], ""}, {All[0], "host 10.0.0.1"}, {All[1], "port 80"}};
  size_t expected = 3;
  for (const auto& [dialog, text] : steps) {
    dialog.first->open();
    Control<QComboBox>(*dialog.first, "cbxFilter").setEditText(QString::fromStdString(text));
    Click(*dialog.first, dialog.second);
    ASSERT_EQ(Saved().FilterList.size(), ++expected) << text;
    EXPECT_EQ(Global->FilterList.front(), text);
  }
  EXPECT_EQ(Global->FilterList,
            (Texts{"port 80", "host 10.0.0.1", "", "icmp", "TCP", "udp port 53", "arp"}));
}

TEST_F(SourceDialogs, FilePagePicksAFileAndGreysTheLiveOptionsButStoresThem) {
  // As the Open File command leaves it: the File page, with the file chosen.
  Store([](TGlobal& g) {
    g.OpenType = 2;
    g.FileName = "/data/old.cap";
  });
  Open.open();
  auto& pages = Control<QTabWidget>(Open, "pcOpen");
  auto& fileName = Control<QLineEdit>(Open, "edFileName");
  EXPECT_EQ(pages.currentWidget()->objectName(), "tsFile");
  EXPECT_EQ(fileName.text(), "/data/old.cap");

  Scope.Answers.Files = {QString("/data/picked.cap"), QString()};  // then a cancel
  Click(Open, "sbtFileName");
  ASSERT_EQ(Scope.Answers.FileRequests.size(), 1u);
  const TFileDialogRequest& odFile = Scope.Answers.FileRequests[0];
  EXPECT_FALSE(odFile.Save);
  EXPECT_EQ(odFile.Filter, "Capture files (*.cap *.pcap *.pcapng);;All files (*)");
  EXPECT_EQ(odFile.DefaultExtension, "cap");
  EXPECT_EQ(odFile.FileName, "/data/old.cap");
  EXPECT_EQ(odFile.Directory, "/data");
  EXPECT_EQ(fileName.text(), "/data/picked.cap");
  Click(Open, "sbtFileName");  // cancelled
  EXPECT_EQ(fileName.text(), "/data/picked.cap");

  auto& timeout = Control<QLineEdit>(Open, "edReadTimeout");
  auto& snapLen = Control<QLineEdit>(Open, "edSnapLen");
  auto& threadSafe = Control<QCheckBox>(Open, "chkThreadSafe");
  const auto live = [&] {
    return std::vector<bool>{timeout.isEnabled(), snapLen.isEnabled(), threadSafe.isEnabled()};
  };
  EXPECT_EQ(live(), std::vector<bool>(3, false));
  EXPECT_TRUE(Control<QComboBox>(Open, "cbxFilter").isEnabled());
  EXPECT_TRUE(Control<QLineEdit>(Open, "edFlags").isEnabled());
  pages.setCurrentIndex(1);
  EXPECT_EQ(live(), std::vector<bool>(3, true));
  pages.setCurrentIndex(2);
  EXPECT_EQ(live(), std::vector<bool>(3, false));

  timeout.setText("250");
  snapLen.setText("96");
  threadSafe.setChecked(false);
  Click(Open, "btnOK");
  const TGlobal& saved = Saved();
  EXPECT_EQ(saved.OpenType, 2);
  EXPECT_EQ(saved.FileName, "/data/picked.cap");
  EXPECT_EQ(saved.ReadTimeout, 250);
  EXPECT_EQ(saved.SnapLen, 96);
  EXPECT_FALSE(saved.ThreadSafe);

  // The next showing opens on the page of the source used last.
  Store([](TGlobal& g) { g.OpenType = 1; });
  Open.open();
  EXPECT_EQ(pages.currentWidget()->objectName(), "tsRemote");
  EXPECT_EQ(live(), std::vector<bool>(3, true));
}

TEST_F(SourceDialogs, NumberThatIsNoIntegerKeepsTheDialogOpenWithNothingStored) {
  Adapter.open();
  Control<QLineEdit>(Adapter, "edFlags").setText("0x3");
  Click(Adapter, "OKBtn");
  EXPECT_EQ(Saved().Flags, 3);
  EXPECT_TRUE(Scope.Answers.Boxes.empty());

  Store([](TGlobal& g) { g.OpenType = 2; });
  const std::vector<std::pair<const char*, QString>> faults{
      {"edFlags", "3 "}, {"edReadTimeout", ""}, {"edSnapLen", "65535x"}};
  for (auto [dialog, ok] : All) {
    for (const auto& [name, text] : faults) {
      SCOPED_TRACE(dialog->windowTitle().toStdString() + " " + name);
      Scope.Answers.Boxes.clear();
      dialog->open();
      const auto before = Snapshot(*Global);
      const std::string file = FileText(Scope.Ini);
      // The source and the fields taken before the numbers must not change either.
      Control<QComboBox>(*dialog, "cbxFilter").setEditText("not stored");
      if (dialog != &Adapter) Control<QLineEdit>(*dialog, "edHost").setText("not.stored");
      if (dialog == &Open) Control<QTabWidget>(Open, "pcOpen").setCurrentIndex(1);
      auto& edit = Control<QLineEdit>(*dialog, name);
      edit.setText(text);
      Click(*dialog, ok);
      ASSERT_EQ(Scope.Answers.Texts(),
                std::vector<QString>{"'" + text + "' is not a valid integer value"});
      EXPECT_TRUE(dialog->isVisible());
      EXPECT_NE(dialog->result(), QDialog::Accepted);
      EXPECT_EQ(dialog->focusWidget(), &edit);
      EXPECT_EQ(Snapshot(*Global), before);
      EXPECT_EQ(FileText(Scope.Ini), file);
      dialog->reject();
    }
  }
}

TEST_F(SourceDialogs, CancelEscapeAndCloseBoxChangeNothing) {
  Store([](TGlobal& g) {
    g.OpenType = 2;
    g.Host = "capture.example";
  });
  const std::string file = FileText(Scope.Ini);
  const std::vector<std::function<void(QDialog&)>> ends{
      [](QDialog& d) { Click(d, d.findChild<QWidget*>("CancelBtn") ? "CancelBtn" : "btnCancel"); },
      [](QDialog& d) { d.reject(); },  // Escape
      [](QDialog& d) { d.close(); }};  // close box
  for (auto [dialog, ok] : All) {
    for (const auto& end : ends) {
      dialog->open();
      Control<QComboBox>(*dialog, "cbxFilter").setEditText("not stored");
      Control<QLineEdit>(*dialog, "edFlags").setText("7");
      end(*dialog);
      EXPECT_FALSE(dialog->isVisible());
      EXPECT_EQ(dialog->result(), QDialog::Rejected);
      EXPECT_EQ(FileText(Scope.Ini), file);
      // What was typed is gone at the next showing.
      dialog->open();
      EXPECT_EQ(Control<QLineEdit>(*dialog, "edFlags").text(), "1");
      dialog->reject();
    }
  }
}

TEST_F(SourceDialogs, EachDialogStoresItsSourceAndKeepsTheOthers) {
  Store([](TGlobal& g) {
    g.OpenType = 2;
    g.AdapterIndex = 1;
    g.Host = "capture.example";
    g.UserName = "alice";
    g.Password = "secret";
    g.FileName = "/data/old.cap";
  });

  Remote.open();
  EXPECT_EQ(Control<QLineEdit>(Remote, "edHost").text(), "capture.example");
  EXPECT_EQ(Control<QLineEdit>(Remote, "edUserName").text(), "alice");
  auto& password = Control<QLineEdit>(Remote, "edPassword");
  EXPECT_EQ(password.text(), "secret");
  EXPECT_EQ(password.echoMode(), QLineEdit::Password);
  Control<QLineEdit>(Remote, "edHost").setText("10.0.0.9");
  password.setText("pa ss*wörd");
  Click(Remote, "OKBtn");
  EXPECT_EQ(Saved().OpenType, 1);
  EXPECT_EQ(Global->Host, "10.0.0.9");
  EXPECT_EQ(Global->Password, "pa ss*wörd");
  EXPECT_EQ(Global->AdapterIndex, 1);
  EXPECT_EQ(Global->FileName, "/data/old.cap");

  Adapter.open();
  Control<QComboBox>(Adapter, "cbxAdapter").setCurrentIndex(2);
  Click(Adapter, "OKBtn");
  EXPECT_EQ(Saved().OpenType, 0);
  EXPECT_EQ(Global->AdapterIndex, 2);
  EXPECT_EQ(Global->Host, "10.0.0.9");
  EXPECT_EQ(Global->UserName, "alice");
  EXPECT_EQ(Global->Password, "pa ss*wörd");
  EXPECT_EQ(Global->FileName, "/data/old.cap");

  // The Open dialog takes every page's fields, whichever page is active.
  Open.open();
  EXPECT_EQ(Control<QTabWidget>(Open, "pcOpen").currentIndex(), 0);
  Control<QLineEdit>(Open, "edUserName").setText("bob");
  Control<QLineEdit>(Open, "edFileName").setText("/data/new.cap");
  Control<QComboBox>(Open, "cbxAdapter").setCurrentIndex(1);
  Control<QTabWidget>(Open, "pcOpen").setCurrentIndex(1);
  Click(Open, "btnOK");
  EXPECT_EQ(Saved().OpenType, 1);
  EXPECT_EQ(Global->AdapterIndex, 1);
  EXPECT_EQ(Global->UserName, "bob");
  EXPECT_EQ(Global->FileName, "/data/new.cap");
}

TEST_F(SourceDialogs, SettingsFileThatCannotBeWrittenKeepsTheDialogOpen) {
  Global->IniFileName = Scope.Dir.File("no such folder/Trellan.ini");
  for (auto [dialog, ok] : All) {
    Scope.Answers.Boxes.clear();
    dialog->open();
    Click(*dialog, ok);
    ASSERT_EQ(
        Scope.Answers.Texts(),
        std::vector<QString>{QString::fromStdString("Unable to write to " + Global->IniFileName)});
    EXPECT_TRUE(dialog->isVisible());
    dialog->reject();
  }
  Global->IniFileName = Scope.Ini;
}
}  // namespace
