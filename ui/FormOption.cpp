#include "ui/FormOption.h"

#include <QGroupBox>
#include <QLineEdit>
#include <array>

#include "settings/Globals.h"
#include "ui/DialogFields.h"

TOptionForm::TOptionForm(QWidget* parent)
    : TFixedDialog(parent, "OptionForm", QStringLiteral("Options"), 254, 136) {
  auto* group = AddGroupBox(this, "OptionsGroupBox", QStringLiteral("Options"), 12, 10, 230, 81);
  edTCPDataOffset = AddEdit(group, "edTCPDataOffset", 98, 19, 118);
  edUDPDataOffset = AddEdit(group, "edUDPDataOffset", 98, 43, 118);
  AddLabel(edTCPDataOffset, "lblTCPDataOffset", QStringLiteral("TCP Data Offset:"));
  AddLabel(edUDPDataOffset, "lblUDPDataOffset", QStringLiteral("UDP Data Offset:"));
  AddOKCancel(this, "btnOK", {79, 102, 76, 24}, "btnCancel", {165, 102, 76, 24},
              [this] { btnOKClick(); });
}

void TOptionForm::FormShow() {
  Global->Load();
  edTCPDataOffset->setText(QString::number(Global->TCPDataOffset));
  edUDPDataOffset->setText(QString::number(Global->UDPDataOffset));
}

void TOptionForm::btnOKClick() {
  const std::array<QLineEdit*, 2> edits{edTCPDataOffset, edUDPDataOffset};
  std::array<int32_t, 2> offsets{};
  if (!ReadNumbers(edits, offsets)) return;
  Global->TCPDataOffset = offsets[0];
  Global->UDPDataOffset = offsets[1];
  if (SaveSettings(this)) accept();
}
