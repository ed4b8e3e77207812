// Select Fields (the columns of a view) and Options (the payload offsets).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>

#include "platform/WorkArea.h"
#include "presentation/Views.h"
#include "tests/ui/DialogControls.h"
#include "tests/ui/WindowFixture.h"
#include "ui/FormOption.h"
#include "ui/FormPacketField.h"

namespace {
// The TCP Data view with its own column set.
void BuildTCPDataView(TListView& view) {
  const TViewSpec& layout = ViewSpecs[viTCPData];
  for (const int32_t group : layout.Groups) AddColumnGroup(view, layout.Number, group);
}

int32_t ColumnOf(const TListView& view, const std::string& caption) {
  for (int32_t i = 0; i < view.ColumnCount(); ++i)
    if (view.Caption(i) == caption) return i;
  throw std::runtime_error("no column " + caption);
}

class SelectFields : public ::testing::Test {
 protected:
  QList<QCheckBox*> Boxes() const { return Group.findChildren<QCheckBox*>(); }
  QCheckBox& Box(const std::string& caption) const { return *Boxes().at(ColumnOf(View, caption)); }
  void Show(TListView* view) {
    Form.SetListView(view);
    Form.open();
  }

  TListView View{"lvTCPData"};
  TPacketFieldForm Form;
  QGroupBox& Group = Control<QGroupBox>(Form, "pnlMain");
};

TEST_F(SelectFields, GroupGrowsWithTheColumnsAndNamesTheView) {
  TListView thirteen("lvTCPData");
  for (int i = 0; i < 13; ++i) thirteen.AddColumn("Field" + std::to_string(i), 50, 50);
  Show(&thirteen);
  const QList<QCheckBox*> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 13);
  for (int i = 0; i < 13; ++i) {
    EXPECT_EQ(boxes[i]->text().toStdString(), "Field" + std::to_string(i));
    EXPECT_EQ(boxes[i]->pos(), QPoint(12, 20 + 16 * i));
  }
  EXPECT_EQ(boxes.last()->y(), 212);
  EXPECT_EQ(Group.geometry(), QRect(12, 8, 126, 236));
  EXPECT_EQ(Form.size(), QSize(238, 256));
  EXPECT_EQ(Group.title(), "TCPData Fields");
  Form.reject();

  // The next showing starts afresh with the next view.
  TListView arp("lvARP");
  for (int i = 0; i < 3; ++i) arp.AddColumn("Field" + std::to_string(i), 50, 50);
  Show(&arp);
  EXPECT_EQ(Boxes().size(), 3);
  EXPECT_EQ(Group.height(), 52 + 24);
  EXPECT_EQ(Group.title(), "ARP Fields");
  Form.reject();

  TListView empty("lvIP");
  Show(&empty);
  EXPECT_TRUE(Boxes().isEmpty());
  EXPECT_EQ(Group.height(), 8 + 24);
  EXPECT_EQ(Form.height(), 8 + 24 + 20);
}

TEST_F(SelectFields, CheckedFieldsKeepTheirWidthAndReturningOnesGetTheDefault) {
  BuildTCPDataView(View);
  View.SetWidth(ColumnOf(View, "SrcIP"), 150);  // widened by the user
  View.SetWidth(ColumnOf(View, "DstIP"), 180);
  Show(&View);
  ASSERT_EQ(Boxes().size(), View.ColumnCount());
  EXPECT_FALSE(Box("Time").isChecked()) << "hidden by the column set";
  EXPECT_TRUE(Box("SrcIP").isChecked());
  Box("Time").setChecked(true);
  Box("DstIP").setChecked(false);
  Click(Form, "btnOK");
  EXPECT_EQ(Form.result(), QDialog::Accepted);
  EXPECT_EQ(View.Width(ColumnOf(View, "Time")), View.DefaultWidth(ColumnOf(View, "Time")));
  EXPECT_EQ(View.Width(ColumnOf(View, "SrcIP")), 150);
  EXPECT_EQ(View.Width(ColumnOf(View, "DstIP")), 0);
  EXPECT_EQ(View.Width(ColumnOf(View, "Index")), View.DefaultWidth(ColumnOf(View, "Index")));
  EXPECT_TRUE(View.updatesEnabled());

  // Shown again, a field hidden at 180 comes back at its default width.
  Show(&View);
  EXPECT_FALSE(Box("DstIP").isChecked());
  Box("DstIP").setChecked(true);
  Click(Form, "btnOK");
  EXPECT_EQ(View.Width(ColumnOf(View, "DstIP")), View.DefaultWidth(ColumnOf(View, "DstIP")));

  // Cancel changes nothing.
  std::vector<int32_t> widths;
  for (int32_t i = 0; i < View.ColumnCount(); ++i) widths.push_back(View.Width(i));
  Show(&View);
  for (QCheckBox* box : Boxes()) box->setChecked(!box->isChecked());
  Click(Form, "btnCancel");
  for (int32_t i = 0; i < View.ColumnCount(); ++i) EXPECT_EQ(View.Width(i), widths[size_t(i)]) << i;

  // Every field unchecked: every column hidden, and listed unchecked next time.
  Show(&View);
  for (QCheckBox* box : Boxes()) box->setChecked(false);
  Click(Form, "btnOK");
  for (int32_t i = 0; i < View.ColumnCount(); ++i) EXPECT_EQ(View.Width(i), 0) << i;
  Show(&View);
  for (QCheckBox* box : Boxes()) EXPECT_FALSE(box->isChecked());
}

TEST_F(SelectFields, CentredOnTheScreenFirstThenInTheMiddleOfTheWorkAreaAtItsLeft) {
  BuildTCPDataView(View);
  platform::SetWorkAreaProvider([] { return platform::WorkAreaRect{0, 40, 1024, 700}; });
  Show(&View);
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_LE(std::abs(Form.frameGeometry().center().x() - screen.center().x()), 1);
  EXPECT_LE(std::abs(Form.frameGeometry().center().y() - screen.center().y()), 1);
  Form.move(30, 50);
  Form.reject();

  TListView few("lvUDP");
  few.AddColumn("Index", 50, 50);
  Show(&few);
  EXPECT_EQ(Form.x(), 30);
  EXPECT_EQ(Form.y(), 40 + (700 - Form.frameGeometry().height()) / 2);
  platform::SetWorkAreaProvider(nullptr);
}

class Options : public ::testing::Test {
 protected:
  TSettingsScope Scope;
  TOptionForm Form;
  QLineEdit& TCPOffset = Control<QLineEdit>(Form, "edTCPDataOffset");
  QLineEdit& UDPOffset = Control<QLineEdit>(Form, "edUDPDataOffset");
};

TEST_F(Options, OffsetsTakeAnyIntegerAndNothingElse) {
  Form.open();
  EXPECT_EQ(TCPOffset.text(), "0");
  TCPOffset.setText("-4");
  UDPOffset.setText("0x10");
  Click(Form, "btnOK");
  EXPECT_EQ(Form.result(), QDialog::Accepted);
  Global->Load();
  EXPECT_EQ(Global->TCPDataOffset, -4);
  EXPECT_EQ(Global->UDPDataOffset, 16);

  Form.open();
  EXPECT_EQ(UDPOffset.text(), "16");
  const std::string file = FileText(Scope.Ini);
  TCPOffset.setText("7");
  UDPOffset.setText("sixteen");
  Click(Form, "btnOK");
  EXPECT_EQ(Scope.Answers.Texts(), std::vector<QString>{"'sixteen' is not a valid integer value"});
  EXPECT_TRUE(Form.isVisible());
  EXPECT_EQ(Form.focusWidget(), &UDPOffset);
  EXPECT_EQ(Global->TCPDataOffset, -4) << "nothing is taken before every number reads";
  EXPECT_EQ(FileText(Scope.Ini), file);

  Click(Form, "btnCancel");
  EXPECT_EQ(Form.result(), QDialog::Rejected);
  EXPECT_EQ(FileText(Scope.Ini), file);
}
}  // namespace
