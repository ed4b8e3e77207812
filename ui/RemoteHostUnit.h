#pragma once
// "Remote Host": the capture source dialog for an adapter of a remote capture host
// (OpenType 1): host, user name, password and the capture options. Each showing reloads
// Global and fills the controls from it; OK stores them back (the adapter and the file stay
// as they are), enters the filter in the history and saves. The caller runs it modally and
// opens the source when it ends with Accepted.
#include <memory>

#include "ui/DialogFields.h"
#include "ui/FixedDialog.h"

class TRemoteHostDlg : public TFixedDialog {
  Q_OBJECT
 public:
  explicit TRemoteHostDlg(QWidget* parent = nullptr);

 protected:
  void FormShow() override;

 private:
  void OKBtnClick();

  std::unique_ptr<TRemoteHostFields> Host;
  std::unique_ptr<TCaptureOptions> Options;
};
