#pragma once
// "Adapter": the capture source dialog for a local adapter (OpenType 0) and its capture
// options. Each showing reloads Global and fills the controls from it; OK stores them back,
// enters the filter in the history and saves. The caller runs it modally and opens the
// source when it ends with Accepted.
#include <memory>
#include <string>
#include <vector>

#include "ui/DialogFields.h"
#include "ui/FixedDialog.h"

class QComboBox;

class TAdapterDlg : public TFixedDialog {
  Q_OBJECT
 public:
  explicit TAdapterDlg(QWidget* parent = nullptr);

  // The capture component's adapters (AdapterNames, AdapterDescriptions), which the next
  // showings list in the component's order.
  void SetAdapters(const std::vector<std::string>& names,
                   const std::vector<std::string>& descriptions);

 protected:
  void FormShow() override;

 private:
  void OKBtnClick();

  QComboBox* cbxAdapter;
  std::unique_ptr<TCaptureOptions> Options;
  QStringList Adapters_;
};
