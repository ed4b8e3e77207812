#pragma once
// The frame the program's small dialogs share: a client area of fixed size laid out in pixels
// for the 8-point font the dialogs were drawn in, a title bar with a close box but no minimise
// or maximise box, and a place on the screen chosen once: centred at the first showing, left
// where the user put it at every later one.
//
// FormShow, the dialog's show handler, runs at every showing before the window appears, so a
// dialog may fill its controls and even change its size there. After it, the focus goes to the
// dialog's first field, wherever the user left it the last time, so that every showing is
// ready to be typed into.
#include <QDialog>
#include <QFont>

class QShowEvent;

// The first control within `area`, in the tab order, that is shown, enabled and takes the focus
// from the keyboard; null when there is none.
QWidget* FirstField(const QWidget& area);

class TFixedDialog : public QDialog {
  Q_OBJECT
 public:
  // The dialogs were laid out for an 8-point sans-serif font; sizes that follow the font
  // (the rows of the field selection) count in these points.
  static constexpr int DesignFontPoints = 8;
  static QFont DesignFont();

  TFixedDialog(QWidget* parent, const char* name, const QString& caption, int clientWidth,
               int clientHeight);

 protected:
  virtual void FormShow() {}
  // The field that has the focus when the dialog appears: by default the first one in the
  // tab order that takes the focus from the keyboard. Null leaves the focus as it is.
  virtual QWidget* FirstField() const;
  void showEvent(QShowEvent* event) final;

 private:
  bool Shown_ = false;
};
