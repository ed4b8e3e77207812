#include "ui/FormPacketField.h"

#include <QCheckBox>
#include <QGroupBox>
#include <algorithm>

#include "platform/WorkArea.h"
#include "presentation/Views.h"
#include "ui/DialogFields.h"

namespace {
constexpr int ClientWidth = 238;
constexpr int GroupTop = 8;
constexpr int GroupWidth = 126;
constexpr int BoxLeft = 12;

// The hint that names a view in this dialog ("TCPData" for lvTCPData).
QString ViewHint(const TListView& view) {
  for (const TViewSpec& layout : ViewSpecs)
    if (view.objectName() == QLatin1String(layout.Name)) return QString::fromLatin1(layout.Hint);
  return {};
}
}  // namespace

TPacketFieldForm::TPacketFieldForm(QWidget* parent)
    : TFixedDialog(parent, "PacketFieldForm", QStringLiteral("Select Fields"), ClientWidth, 444) {
  pnlMain =
      AddGroupBox(this, "pnlMain", QStringLiteral("Fields"), BoxLeft, GroupTop, GroupWidth, 424);
  AddOKCancel(this, "btnOK", {150, 12, 76, 24}, "btnCancel", {150, 44, 76, 24},
              [this] { btnOKClick(); });
}

void TPacketFieldForm::RemoveCheckBoxes() {
  for (const TFieldBox& field : CheckBoxes) delete field.Box;
  CheckBoxes.clear();
}

void TPacketFieldForm::FormShow() {
  RemoveCheckBoxes();
  if (!ListView_) return;

  // Rows follow the font: two of its point sizes apart, the group three points below the last.
  constexpr int points = DesignFontPoints;
  const int32_t count = std::min(ListView_->ColumnCount(), MaxFields);
  int lastTop = 8;
  for (int32_t i = 0; i < count; ++i) {
    lastTop = 20 + 2 * i * points;
    auto* box = AddCheckBox(pnlMain, "", QString::fromStdString(ListView_->Caption(i)), BoxLeft,
                            lastTop, GroupWidth - BoxLeft - 4);
    const int32_t width = ListView_->Width(i);
    box->setChecked(width != 0);
    box->show();  // created while the window is being shown
    CheckBoxes.push_back({box, width});
  }
  pnlMain->resize(GroupWidth, lastTop + 3 * points);
  const int clientHeight = pnlMain->height() + 20;
  setFixedSize(ClientWidth, clientHeight);
  pnlMain->setTitle(ViewHint(*ListView_) + QStringLiteral(" Fields"));

  // Centred vertically in the work area, title bar included, at every showing; the first
  // showing then centres it on the screen both ways.
  const int titleBar = frameGeometry().height() - geometry().height();
  const platform::WorkAreaRect area = platform::WorkArea();
  move(x(), area.Top + (area.Height - (clientHeight + titleBar)) / 2);
}

QWidget* TPacketFieldForm::FirstField() const {
  return CheckBoxes.empty() ? TFixedDialog::FirstField() : CheckBoxes.front().Box;
}

void TPacketFieldForm::btnOKClick() {
  if (ListView_) {
    TListView& view = *ListView_;
    // One repaint for all the columns, not one per column.
    view.setUpdatesEnabled(false);
    const int32_t count = std::min(int32_t(CheckBoxes.size()), view.ColumnCount());
    for (int32_t i = 0; i < count; ++i) {
      const TFieldBox& field = CheckBoxes[size_t(i)];
      view.SetWidth(i, field.Tag);
      if (!field.Box->isChecked())
        view.SetWidth(i, 0);
      else if (view.Width(i) == 0)
        view.SetWidth(i, view.DefaultWidth(i));
    }
    view.setUpdatesEnabled(true);
  }
  accept();
}
