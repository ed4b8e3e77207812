#include "ui/FormRemoteAdapter.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

#include "settings/Globals.h"
#include "ui/DialogFields.h"

TRemoteAdapterForm::TRemoteAdapterForm(QWidget* parent)
    : TFixedDialog(parent, "RemoteAdapterForm", QStringLiteral("Select Remote Adapter"), 360, 167) {
  lbRemoteAdapter = new QListWidget(this);
  lbRemoteAdapter->setObjectName("lbRemoteAdapter");
  lbRemoteAdapter->setGeometry(8, 8, 345, 121);
  lbRemoteAdapter->setSelectionMode(QAbstractItemView::SingleSelection);

  chkDontShowJustOne =
      AddCheckBox(this, "chkDontShowJustOne",
                  QStringLiteral("Don't show if count of remote adapter is just one"), 8, 136, 249);

  QPushButton* btnOK = AddButton(this, "btnOK", QStringLiteral("OK"), 278, 136, 75, 25);
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &TRemoteAdapterForm::btnOKClick);
  // The first click of a double-click has selected the entry.
  connect(lbRemoteAdapter, &QListWidget::itemDoubleClicked, btnOK, &QPushButton::click);

  // The caption needs more than the 249 pixels the box was laid out with in the fonts found
  // here: the box may take the room up to the OK button.
  const int room = btnOK->x() - 8 - chkDontShowJustOne->x();
  chkDontShowJustOne->resize(std::clamp(chkDontShowJustOne->sizeHint().width(), 249, room),
                             CheckBoxHeight);
}

void TRemoteAdapterForm::SetAdapters(const std::vector<std::string>& names,
                                     const std::vector<std::string>& descriptions) {
  lbRemoteAdapter->clear();
  lbRemoteAdapter->addItems(AdapterCaptions(names, descriptions));
}

int32_t TRemoteAdapterForm::SelectedIndex() const {
  // The selection, not the current row: the list gets a current row as soon as it has the
  // focus, without the user choosing anything.
  const QList<QListWidgetItem*> selected = lbRemoteAdapter->selectedItems();
  return selected.isEmpty() ? -1 : int32_t(lbRemoteAdapter->row(selected.first()));
}

void TRemoteAdapterForm::FormShow() {
  Global->Load();
  chkDontShowJustOne->setChecked(Global->DontShowJustOne);
}

void TRemoteAdapterForm::btnOKClick() {
  Global->DontShowJustOne = chkDontShowJustOne->isChecked();
  if (SaveSettings(this)) accept();
}
