#include "ui/RemoteHostUnit.h"

#include <QGroupBox>

#include "settings/Globals.h"

TRemoteHostDlg::TRemoteHostDlg(QWidget* parent)
    : TFixedDialog(parent, "RemoteHostDlg", QStringLiteral("Remote Host"), 292, 306) {
  auto* hostGroup =
      AddGroupBox(this, "RemoteHostGroupBox", QStringLiteral("Remote Host"), 12, 10, 270, 102);
  Host = std::make_unique<TRemoteHostFields>(hostGroup, 87, 19, 24, 168,
                                             std::array{"Host:", "User Name:", "Password:"});
  auto* optionsGroup =
      AddGroupBox(this, "OptionsGroupBox", QStringLiteral("Options"), 12, 119, 270, 140);
  Options = std::make_unique<TCaptureOptions>(optionsGroup, OptionsGroupLayout);
  AddOKCancel(this, "OKBtn", {120, 271, 76, 24}, "CancelBtn", {206, 271, 76, 24},
              [this] { OKBtnClick(); });
}

void TRemoteHostDlg::FormShow() {
  Global->Load();
  Host->Fill(*Global);
  Options->Fill(*Global);
}

void TRemoteHostDlg::OKBtnClick() {
  const auto numbers = Options->Numbers();
  if (!numbers) return;
  Global->OpenType = 1;
  Host->Store(*Global);
  Options->Store(*Global, *numbers);
  if (SaveSettings(this)) accept();
}
