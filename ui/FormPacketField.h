#pragma once
// "Select Fields": shows and hides the fields (columns) of one packet view. The caller sets
// ListView to the active page's list view and runs the dialog modally; OK has applied the
// choice by the time it returns, Cancel changes nothing. A field is hidden by giving its column
// the width 0; there is no other visibility flag.
//
// Each showing lists the view's columns, one check box each, checked when the column is
// shown, and remembers every column's width at that moment. OK gives a column that stays
// checked the width it had, an unchecked one 0, and one checked again after being hidden its
// default width.
#include <QPointer>
#include <cstdint>
#include <vector>

#include "ui/FixedDialog.h"
#include "ui/PacketView.h"

class QCheckBox;
class QGroupBox;

class TPacketFieldForm : public TFixedDialog {
  Q_OBJECT
 public:
  // The most columns the dialog lists; the views have far fewer.
  static constexpr int32_t MaxFields = 256;

  explicit TPacketFieldForm(QWidget* parent = nullptr);

  TListView* ListView() const { return ListView_; }
  void SetListView(TListView* view) { ListView_ = view; }

 protected:
  void FormShow() override;
  // The first check box: the boxes are made at every showing, after OK and Cancel, which
  // come first in the tab order.
  QWidget* FirstField() const override;

 private:
  // A column's check box, with the width the column had when the dialog was shown.
  struct TFieldBox {
    QCheckBox* Box;
    int32_t Tag;
  };

  void RemoveCheckBoxes();
  void btnOKClick();

  QPointer<TListView> ListView_;
  QGroupBox* pnlMain;
  std::vector<TFieldBox> CheckBoxes;  // entry i stands for column i
};
