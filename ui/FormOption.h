#pragma once
// "Options": the offsets at which the TCP and UDP payload panes start showing a payload
// (TCPDataOffset, UDPDataOffset). Each showing reloads Global; OK stores both and saves at
// once. Any 32-bit value is taken, negative ones included: the payload panes keep the range
// they show within the captured bytes. The caller runs it modally and repaints its TCP Data
// and UDP Data views afterwards, whatever the result.
#include "ui/FixedDialog.h"

class QLineEdit;

class TOptionForm : public TFixedDialog {
  Q_OBJECT
 public:
  explicit TOptionForm(QWidget* parent = nullptr);

 protected:
  void FormShow() override;

 private:
  void btnOKClick();

  QLineEdit* edTCPDataOffset;
  QLineEdit* edUDPDataOffset;
};
