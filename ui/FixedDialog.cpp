#include "ui/FixedDialog.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

QFont TFixedDialog::DesignFont() {
  // Arial, or a font made to its measures, is the closest to the look the dialogs were drawn
  // with, and the captions fit their controls only in a font that narrow. Set in pixels
  // (8 points at 96 dots per inch) because the controls stand at fixed pixel positions
  // whatever resolution the desktop reports.
  QFont font;
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arimo"), QStringLiteral("Helvetica"),
                    QStringLiteral("Nimbus Sans")});
  font.setPixelSize(11);
  return font;
}

TFixedDialog::TFixedDialog(QWidget* parent, const char* name, const QString& caption,
                           int clientWidth, int clientHeight)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(name);
  setWindowTitle(caption);
  setFont(DesignFont());
  setFixedSize(clientWidth, clientHeight);
}

void TFixedDialog::showEvent(QShowEvent* event) {
  // A spontaneous show is the window system bringing back a window that was already shown
  // (un-minimising it): not a new showing.
  if (!event->spontaneous()) {
    FormShow();
    if (!Shown_) {
      Shown_ = true;
      if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        const QSize outer = frameGeometry().size();
        move(area.left() + (area.width() - outer.width()) / 2,
             area.top() + (area.height() - outer.height()) / 2);
      }
    }
  }
  QDialog::showEvent(event);
}
