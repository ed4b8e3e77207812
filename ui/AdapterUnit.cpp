#include "ui/AdapterUnit.h"

#include <QComboBox>
#include <QGroupBox>

#include "settings/Globals.h"

TAdapterDlg::TAdapterDlg(QWidget* parent)
    : TFixedDialog(parent, "AdapterDlg", QStringLiteral("Adapter"), 292, 266) {
  auto* adapterGroup =
      AddGroupBox(this, "AdapterGroupBox", QStringLiteral("Adapter"), 12, 10, 270, 60);
  cbxAdapter = AddAdapterList(adapterGroup, 12, 22, 244);
  auto* optionsGroup =
      AddGroupBox(this, "OptionsGroupBox", QStringLiteral("Options"), 12, 80, 270, 140);
  Options = std::make_unique<TCaptureOptions>(optionsGroup, OptionsGroupLayout);
  AddOKCancel(this, "OKBtn", {120, 232, 76, 24}, "CancelBtn", {206, 232, 76, 24},
              [this] { OKBtnClick(); });
}

void TAdapterDlg::SetAdapters(const std::vector<std::string>& names,
                              const std::vector<std::string>& descriptions) {
  Adapters_ = AdapterCaptions(names, descriptions);
}

void TAdapterDlg::FormShow() {
  Global->Load();
  FillAdapterList(*cbxAdapter, Adapters_, Global->AdapterIndex);
  Options->Fill(*Global);
}

void TAdapterDlg::OKBtnClick() {
  const auto numbers = Options->Numbers();
  if (!numbers) return;
  Global->OpenType = 0;
  Global->AdapterIndex = cbxAdapter->currentIndex();
  Options->Store(*Global, *numbers);
  if (SaveSettings(this)) accept();
}
