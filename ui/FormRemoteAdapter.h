#pragma once
// "Select Remote Adapter": the user picks one adapter of a remote capture host. The caller
// lists the adapters with SetAdapters (none selected), runs the dialog modally and, when it
// ends with Accepted, uses SelectedIndex unless that is -1. There is no Cancel button: the
// close box cancels. The check box is the DontShowJustOne setting, saved only by OK (or a
// double-click on an adapter, which is OK for that adapter).
#include <cstdint>
#include <string>
#include <vector>

#include "ui/FixedDialog.h"

class QCheckBox;
class QListWidget;

class TRemoteAdapterForm : public TFixedDialog {
  Q_OBJECT
 public:
  explicit TRemoteAdapterForm(QWidget* parent = nullptr);

  // The remote host's adapters (AdapterNames, AdapterDescriptions), listed in their order,
  // with none selected.
  void SetAdapters(const std::vector<std::string>& names,
                   const std::vector<std::string>& descriptions);
  // The position of the selected adapter, or -1.
  int32_t SelectedIndex() const;

 protected:
  void FormShow() override;

 private:
  void btnOKClick();

  QListWidget* lbRemoteAdapter;
  QCheckBox* chkDontShowJustOne;
};
