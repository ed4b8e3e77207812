// The remote adapter chooser: what the caller gets back, and when the check box reaches the
// settings file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>

#include "tests/ui/DialogControls.h"
#include "tests/ui/WindowFixture.h"
#include "ui/FormRemoteAdapter.h"

namespace {
class RemoteAdapterChooser : public ::testing::Test {
 protected:
  void StoreDontShowJustOne(bool value) {
    Global->DontShowJustOne = value;
    Global->Save();
  }
  bool SavedDontShowJustOne() {
    Global->Load();
    return Global->DontShowJustOne;
  }

  TSettingsScope Scope;
  TRemoteAdapterForm Form;
  QListWidget& List = Control<QListWidget>(Form, "lbRemoteAdapter");
  QCheckBox& DontShow = Control<QCheckBox>(Form, "chkDontShowJustOne");
};

TEST_F(RemoteAdapterChooser, OKWithoutChoosingLeavesTheChoiceOpen) {
  EXPECT_EQ(Form.findChildren<QPushButton*>().size(), 1) << "OK is the only button";
  StoreDontShowJustOne(false);
  Form.SetAdapters({"rpcap://10.0.0.9/eth0"}, {"Intel Ethernet"});
  Form.open();
  // The list holding the focus has a current row, which is no choice of the user's.
  Form.activateWindow();
  List.setFocus();
  ProcessEvents();
  ASSERT_EQ(List.count(), 1);
  EXPECT_EQ(List.item(0)->text(), "Intel Ethernet");
  EXPECT_FALSE(DontShow.isChecked());
  DontShow.setChecked(true);
  Click(Form, "btnOK");
  EXPECT_EQ(Form.result(), QDialog::Accepted);
  EXPECT_EQ(Form.SelectedIndex(), -1);
  EXPECT_TRUE(SavedDontShowJustOne());

  // A host without adapters: an empty list, and no choice whatever the user does.
  Form.SetAdapters({}, {});
  Form.open();
  EXPECT_EQ(List.count(), 0);
  Click(Form, "btnOK");
  EXPECT_EQ(Form.SelectedIndex(), -1);
}

TEST_F(RemoteAdapterChooser, DoubleClickChoosesTheAdapter) {
  StoreDontShowJustOne(true);
  // Remote adapters without a description are listed by name.
  Form.SetAdapters({"rpcap://h/eth0", "rpcap://h/lo", "rpcap://h/any"},
                   {"Intel Ethernet", "", "Pseudo-device"});
  Form.open();
  ASSERT_EQ(List.count(), 3);
  EXPECT_EQ(List.item(1)->text(), "rpcap://h/lo");
  EXPECT_EQ(Form.SelectedIndex(), -1);
  EXPECT_TRUE(DontShow.isChecked()) << "shown all the same with three adapters";
  DoubleClick(List, 2);
  EXPECT_FALSE(Form.isVisible());
  EXPECT_EQ(Form.result(), QDialog::Accepted);
  EXPECT_EQ(Form.SelectedIndex(), 2);

  // A new list starts without a choice again.
  Form.SetAdapters({"rpcap://h/eth0"}, {"Intel Ethernet"});
  EXPECT_EQ(Form.SelectedIndex(), -1);
}

TEST_F(RemoteAdapterChooser, CloseBoxKeepsTheSetting) {
  StoreDontShowJustOne(true);
  Form.SetAdapters({"rpcap://h/eth0"}, {"Intel Ethernet"});
  Form.open();
  List.setCurrentRow(0);
  DontShow.setChecked(false);
  Form.close();
  EXPECT_EQ(Form.result(), QDialog::Rejected);
  EXPECT_TRUE(SavedDontShowJustOne());
  Form.open();
  EXPECT_TRUE(DontShow.isChecked());
  Form.close();
}
}  // namespace
