#pragma once
// The frame the program's small dialogs share: a client area of fixed size laid out in pixels
// for the design font, a title bar with a close box but no minimise or maximise box, and a
// place on the screen chosen once: centred at the first showing, left where the user put it
// at every later one.
//
// FormShow, the dialog's show handler, runs at every showing before the window appears, so a
// dialog may fill its controls and even change its size there.
#include <QDialog>
#include <QFont>

class QShowEvent;

class TFixedDialog : public QDialog {
  Q_OBJECT
 public:
  // The dialogs were designed for an 8-point sans-serif font; sizes that follow the font
  // (the rows of the field selection) count in these points.
  static constexpr int DesignFontPoints = 8;
  static QFont DesignFont();

  TFixedDialog(QWidget* parent, const char* name, const QString& caption, int clientWidth,
               int clientHeight);

 protected:
  virtual void FormShow() {}
  void showEvent(QShowEvent* event) final;

 private:
  bool Shown_ = false;
};
