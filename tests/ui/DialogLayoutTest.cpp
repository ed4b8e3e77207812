// How the six dialogs look: captions, control names and places, fixed size, place on the
// screen, texts that fit their controls, and the field that has the focus when they appear.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QTabWidget>
#include <functional>
#include <memory>

#include "presentation/Views.h"
#include "tests/ui/DialogControls.h"
#include "tests/ui/WindowFixture.h"
#include "ui/AdapterUnit.h"
#include "ui/FormOpen.h"
#include "ui/FormOption.h"
#include "ui/FormPacketField.h"
#include "ui/FormRemoteAdapter.h"
#include "ui/RemoteHostUnit.h"

namespace {
// A control where the dialog's layout places it, with the caption on it or on its label; a
// width or a height of 0 is not checked.
struct Place {
  const char* Name;
  const char* Text;
  int Left, Top, Width, Height;
};

struct Design {
  const char* Caption;
  QSize Client;
  std::vector<Place> Controls;
};

// clang-format off
const std::vector<Place> OptionsGroup{
    {"cbxFilter", "Filter:", 87, 19, 168, 0},
    {"edFlags", "Flags:", 87, 43, 168, 0},
    {"edReadTimeout", "Read Timeout:", 87, 67, 77, 0},
    {"edSnapLen", "Snap Len:", 87, 91, 77, 0},
    {"chkThreadSafe", "Thread Safe", 87, 115, 113, 0}};
// clang-format on

std::vector<Place> Join(std::vector<Place> a, const std::vector<Place>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The label that names a field.
const QLabel* LabelOf(const QWidget& field) {
  for (const QLabel* label : field.window()->findChildren<QLabel*>())
    if (label->buddy() == &field) return label;
  return nullptr;
}

QString TextOf(const QWidget& w) {
  if (auto* label = qobject_cast<const QLabel*>(&w)) return label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(&w)) return button->text();
  if (auto* group = qobject_cast<const QGroupBox*>(&w)) return group->title();
  return {};
}

class DialogLayout : public ::testing::Test {
 protected:
  DialogLayout() {
    auto adapter = std::make_unique<TAdapterDlg>();
    adapter->SetAdapters({"eth0", "lo"}, {"Intel(R) Ethernet Connection I219-V", ""});
    auto open = std::make_unique<TOpenForm>();
    open->SetAdapters({"eth0", "lo"}, {"Intel(R) Ethernet Connection I219-V", ""});
    auto chooser = std::make_unique<TRemoteAdapterForm>();
    chooser->SetAdapters({"rpcap://10.0.0.9/eth0"}, {"Intel(R) Ethernet Connection I219-V"});
    Dialogs.push_back(std::move(adapter));
    Dialogs.push_back(std::make_unique<TRemoteHostDlg>());
    Dialogs.push_back(std::move(open));
    Dialogs.push_back(std::move(chooser));
    Dialogs.push_back(std::make_unique<TPacketFieldForm>());
    Dialogs.push_back(std::make_unique<TOptionForm>());
  }

  TSettingsScope Scope;
  std::vector<std::unique_ptr<QDialog>> Dialogs;
  // clang-format off
  const std::vector<Design> Designs{
      {"Adapter", {292, 266}, Join({
          {"AdapterGroupBox", "Adapter", 12, 10, 270, 60},
          {"cbxAdapter", "", 12, 22, 244, 0},
          {"OptionsGroupBox", "Options", 12, 80, 270, 140},
          {"OKBtn", "OK", 120, 232, 76, 24},
          {"CancelBtn", "Cancel", 206, 232, 76, 24}}, OptionsGroup)},
      {"Remote Host", {292, 306}, Join({
          {"RemoteHostGroupBox", "Remote Host", 12, 10, 270, 102},
          {"edHost", "Host:", 87, 19, 168, 0},
          {"edUserName", "User Name:", 87, 43, 168, 0},
          {"edPassword", "Password:", 87, 67, 168, 0},
          {"OptionsGroupBox", "Options", 12, 119, 270, 140},
          {"OKBtn", "OK", 120, 271, 76, 24},
          {"CancelBtn", "Cancel", 206, 271, 76, 24}}, OptionsGroup)},
      {"Open", {296, 301}, {
          {"pcOpen", "", 8, 8, 281, 129},
          {"cbxAdapter", "", 8, 40, 257, 0},
          {"edHost", "Host", 64, 8, 201, 0},
          {"edUserName", "UserName", 64, 40, 201, 0},
          {"edPassword", "Password", 64, 72, 201, 0},
          {"edFileName", "", 8, 40, 257, 0},
          {"sbtFileName", "...", 243, 64, 23, 22},
          {"cbxFilter", "Filter", 80, 144, 209, 0},
          {"edFlags", "Flags", 80, 168, 209, 0},
          {"edReadTimeout", "ReadTimeout", 80, 192, 209, 0},
          {"edSnapLen", "SnapLen", 80, 216, 209, 0},
          {"chkThreadSafe", "Thread Safe", 80, 240, 113, 0},
          {"btnOK", "OK", 72, 264, 75, 25},
          {"btnCancel", "Cancel", 152, 264, 75, 25}}},
      {"Select Remote Adapter", {360, 167}, {
          {"lbRemoteAdapter", "", 8, 8, 345, 121},
          // At least the 249 pixels it was laid out with: see TextsFitAndLabelsEndAtTheirFields.
          {"chkDontShowJustOne", "Don't show if count of remote adapter is just one", 8, 136, 0, 0},
          {"btnOK", "OK", 278, 136, 75, 25}}},
      {"Select Fields", {238, 444}, {
          {"btnOK", "OK", 150, 12, 76, 24},
          {"btnCancel", "Cancel", 150, 44, 76, 24},
          {"pnlMain", "Fields", 12, 8, 126, 0}}},
      {"Options", {254, 136}, {
          {"OptionsGroupBox", "Options", 12, 10, 230, 81},
          {"edTCPDataOffset", "TCP Data Offset:", 98, 19, 118, 0},
          {"edUDPDataOffset", "UDP Data Offset:", 98, 43, 118, 0},
          {"btnOK", "OK", 79, 102, 76, 24},
          {"btnCancel", "Cancel", 165, 102, 76, 24}}}};
  // clang-format on
};

TEST_F(DialogLayout, EveryControlHasItsNameCaptionAndPlace) {
  ASSERT_EQ(Dialogs.size(), Designs.size());
  for (size_t d = 0; d < Dialogs.size(); ++d) {
    const QDialog& dialog = *Dialogs[d];
    const Design& design = Designs[d];
    SCOPED_TRACE(design.Caption);
    EXPECT_EQ(dialog.windowTitle(), design.Caption);
    EXPECT_EQ(dialog.size(), design.Client);
    // Fixed size, with a close box but no minimise or maximise box.
    EXPECT_EQ(dialog.minimumSize(), design.Client);
    EXPECT_EQ(dialog.maximumSize(), design.Client);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dialog.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    for (const Place& place : design.Controls) {
      SCOPED_TRACE(place.Name);
      const auto& control = Control<QWidget>(dialog, place.Name);
      const QLabel* label = LabelOf(control);
      EXPECT_EQ(label ? label->text() : TextOf(control), place.Text);
      if (label) {
        // Labels are named after their fields: lblFilter for cbxFilter.
        const QString name = place.Name;
        EXPECT_EQ(label->objectName(), "lbl" + name.mid(name.indexOf(QRegularExpression("[A-Z]"))));
      }
      EXPECT_EQ(control.pos(), QPoint(place.Left, place.Top));
      if (place.Width > 0) {
        EXPECT_EQ(control.width(), place.Width);
      }
      if (place.Height > 0) {
        EXPECT_EQ(control.height(), place.Height);
      }
    }
  }
  const auto& pages = Control<QTabWidget>(*Dialogs[2], "pcOpen");
  ASSERT_EQ(pages.count(), 3);
  const std::vector<std::pair<QString, QString>> tabs{
      {"tsAdapter", "Adapter"}, {"tsRemote", "Remote"}, {"tsFile", "File"}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(pages.widget(i)->objectName(), tabs[size_t(i)].first);
    EXPECT_EQ(pages.tabText(i), tabs[size_t(i)].second);
  }
  EXPECT_EQ(Control<QLineEdit>(*Dialogs[2], "edPassword").echoMode(), QLineEdit::Password);
}

// What a user sees of a shown dialog: no text cut short, nothing sticking out of its group box,
// page or window, and labels that end just left of their fields, level with them.
void ExpectNothingCutOff(const QDialog& dialog) {
  for (const QWidget* w : dialog.findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    SCOPED_TRACE(w->objectName().toStdString() + " " + TextOf(*w).toStdString());
    const QRect at = w->geometry();
    EXPECT_TRUE(w->parentWidget()->rect().contains(at))
        << at.x() << "," << at.y() << " " << at.width() << "x" << at.height() << " in "
        << w->parentWidget()->width() << "x" << w->parentWidget()->height();
    const QFontMetrics metrics(w->font());
    if (qobject_cast<const QLabel*>(w) || qobject_cast<const QCheckBox*>(w)) {
      EXPECT_LE(w->sizeHint().width(), w->width());
    } else if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
      EXPECT_LE(metrics.horizontalAdvance(button->text()) + 8, button->width());
    } else if (auto* group = qobject_cast<const QGroupBox*>(w)) {
      EXPECT_LE(metrics.horizontalAdvance(group->title()) + 16, group->width());
    }
    if (auto* label = qobject_cast<const QLabel*>(w); label && label->buddy()) {
      const QRect field = label->buddy()->geometry();
      EXPECT_TRUE(label->alignment() & Qt::AlignRight);
      EXPECT_LT(at.right(), field.left());
      EXPECT_GE(at.right(), field.left() - 8);
      EXPECT_EQ(at.center().y(), field.center().y());
    }
  }
}

TEST_F(DialogLayout, TextsFitAndLabelsEndAtTheirFields) {
  auto& fields = static_cast<TPacketFieldForm&>(*Dialogs[4]);
  for (auto& shown : Dialogs) {
    if (shown.get() == &fields) continue;  // below
    QDialog& dialog = *shown;
    SCOPED_TRACE(dialog.windowTitle().toStdString());
    dialog.open();
    ExpectNothingCutOff(dialog);
    if (auto* pages = dialog.findChild<QTabWidget*>("pcOpen")) {
      for (int page = 1; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        ExpectNothingCutOff(dialog);
      }
    }
    dialog.reject();
  }
  // Select Fields with the longest captions there are: every column of every view.
  for (const TViewSpec& layout : ViewSpecs) {
    SCOPED_TRACE(layout.Name);
    TListView view(layout.Name);
    for (const int32_t group : layout.Groups) AddColumnGroup(view, layout.Number, group);
    fields.SetListView(&view);
    fields.open();
    ExpectNothingCutOff(fields);
    fields.reject();
  }
  // The chooser's check box is wider than the 249 pixels it was laid out with only as far as
  // its text needs, and stays clear of the OK button.
  const QDialog& chooser = *Dialogs[3];
  const auto& box = Control<QCheckBox>(chooser, "chkDontShowJustOne");
  EXPECT_GE(box.width(), 249);
  EXPECT_LT(box.geometry().right(), Control<QWidget>(chooser, "btnOK").x());
}

TEST_F(DialogLayout, CentredAtTheFirstShowingThenLeftWhereTheUserPutIt) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  for (auto& dialog : Dialogs) {
    SCOPED_TRACE(dialog->windowTitle().toStdString());
    dialog->open();
    EXPECT_LE((dialog->frameGeometry().center() - screen.center()).manhattanLength(), 2);
    dialog->move(20, 30);
    dialog->reject();
    dialog->open();
    EXPECT_EQ(dialog->pos(), QPoint(20, 30));
    dialog->reject();
  }
}

TEST_F(DialogLayout, EveryShowingStartsInTheFirstFieldWhereverTheUserLeftTheFocus) {
  Global->Host = "capture.example";
  Global->Save();
  TListView view("lvTCP");
  const TViewSpec& tcp = ViewSpecs[viTCP];
  for (const int32_t group : tcp.Groups) AddColumnGroup(view, tcp.Number, group);
  static_cast<TPacketFieldForm&>(*Dialogs[4]).SetListView(&view);
  const auto named = [](const char* name) {
    return [name](const QDialog& d) { return &Control<QWidget>(d, name); };
  };
  const auto firstBox = [](const QDialog& d) {
    return Control<QGroupBox>(d, "pnlMain").findChildren<QCheckBox*>().value(0);
  };
  // Per dialog: its first field, and a field the user moves to before closing it.
  const std::vector<std::pair<std::function<QWidget*(const QDialog&)>, const char*>> fields{
      {named("cbxAdapter"), "edSnapLen"},
      {named("edHost"), "edUserName"},
      {named("cbxAdapter"), "edFlags"},  // the Adapter page, as at the first start
      {named("lbRemoteAdapter"), "chkDontShowJustOne"},
      {firstBox, "btnCancel"},
      {named("edTCPDataOffset"), "edUDPDataOffset"}};
  ASSERT_EQ(fields.size(), Dialogs.size());
  for (size_t d = 0; d < Dialogs.size(); ++d) {
    QDialog& dialog = *Dialogs[d];
    SCOPED_TRACE(dialog.windowTitle().toStdString());
    const auto& [first, other] = fields[d];
    for (int showing = 0; showing < 2; ++showing) {
      dialog.open();
      ASSERT_NE(first(dialog), nullptr);
      EXPECT_EQ(dialog.focusWidget(), first(dialog)) << "showing " << showing;
      // An edit with a text is ready to be typed over.
      if (auto* edit = qobject_cast<QLineEdit*>(first(dialog))) {
        EXPECT_FALSE(edit->text().isEmpty());
        EXPECT_EQ(edit->selectedText(), edit->text());
      }
      Control<QWidget>(dialog, other).setFocus(Qt::MouseFocusReason);
      ASSERT_EQ(dialog.focusWidget(), &Control<QWidget>(dialog, other));
      dialog.reject();
    }
  }
}
}  // namespace
