// The main window's dialogs: choosing a source, the remote adapter, the fields of a view and
// the payload offsets.
#include <QDialog>

#include "settings/Globals.h"
#include "ui/AdapterUnit.h"
#include "ui/FormMain.h"
#include "ui/FormExport.h"
#include "ui/FormOpen.h"
#include "ui/FormOption.h"
#include "ui/FormPacketField.h"
#include "ui/FormRemoteAdapter.h"
#include "ui/RemoteHostUnit.h"

void TMainForm::CreateSourceDialogs() {
  if (!AdapterDlg) AdapterDlg = new TAdapterDlg(this);
  if (!RemoteHostDlg) RemoteHostDlg = new TRemoteHostDlg(this);
}

void TMainForm::AdapterToolButtonClick() {
  CreateSourceDialogs();
  AdapterDlg->SetAdapters(Quarn1.AdapterNames(), Quarn1.AdapterDescriptions());
  const bool ok = AdapterDlg->exec() == QDialog::Accepted;
  MirrorSettings();
  if (ok) OpenSource();
}

void TMainForm::RemoteHostToolButtonClick() {
  CreateSourceDialogs();
  const bool ok = RemoteHostDlg->exec() == QDialog::Accepted;
  MirrorSettings();
  if (ok) OpenSource();
}

void TMainForm::ActionOpenExecute() {
  if (!OpenForm) OpenForm = new TOpenForm(this);
  OpenForm->SetAdapters(Quarn1.AdapterNames(), Quarn1.AdapterDescriptions());
  const bool ok = OpenForm->exec() == QDialog::Accepted;
  MirrorSettings();
  if (ok) OpenSource();
}

void TMainForm::ActionOptionExecute() {
  if (!OptionForm) OptionForm = new TOptionForm(this);
  OptionForm->exec();
  MirrorSettings();
  // The Data columns follow the offsets, whatever the dialog's result.
  for (TListView* view : {lvTCPData, lvUDPData}) {
    view->Model()->Invalidate();
    view->viewport()->update();
  }
}

void TMainForm::ActionPacketFieldExecute() {
  TListView* view = GetActiveListView();
  if (!view) return;
  if (!PacketFieldForm) PacketFieldForm = new TPacketFieldForm(this);
  PacketFieldForm->SetListView(view);
  PacketFieldForm->exec();
}

void TMainForm::ActionCopyExecute() {
  if (TListView* view = GetActiveListView())
    CopySelectedRows(*view, ActiveViewIndex, ShownItems(ActiveViewIndex));
}

void TMainForm::ActionExportExecute() {
  if (Busy_) return;
  if (!ExportForm) ExportForm = new TExportForm(this);
  // The progress bar lets a running capture's timer in; the shown rows must stay put.
  const TBusyScope busy(Busy_);
  ExportForm->Run(ActiveViewIndex, ShownItems(ActiveViewIndex), Capture->Items(ActiveViewIndex),
                  LastFolder_);
}

void TMainForm::Quarn1GetRemoteAdapterInfo(TCustomQuarn&, const TStringList& AdapterNames,
                                           const TStringList& AdapterDescriptions,
                                           int32_t& AdapterIndex) {
  if (Global->DontShowJustOne && AdapterNames.size() == 1) {
    AdapterIndex = 0;
    return;
  }
  if (!RemoteAdapterForm) RemoteAdapterForm = new TRemoteAdapterForm(this);
  RemoteAdapterForm->SetAdapters(AdapterNames, AdapterDescriptions);
  if (RemoteAdapterForm->exec() == QDialog::Accepted && RemoteAdapterForm->SelectedIndex() >= 0)
    AdapterIndex = RemoteAdapterForm->SelectedIndex();
}
