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

QWidget* FirstField(const QWidget& area) {
  for (QWidget* w = area.nextInFocusChain(); w && w != &area; w = w->nextInFocusChain())
    if (area.isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
        w->isVisibleTo(&area))
      return w;
  return nullptr;
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

QWidget* TFixedDialog::FirstField() const { return ::FirstField(*this); }

void TFixedDialog::showEvent(QShowEvent* event) {
  // A spontaneous show is the window system bringing back a window that was already shown
  // (un-minimising it): not a new showing.
  if (!event->spontaneous()) {
    FormShow();
    // Without this the toolkit gives the focus back to the field that had it when the dialog
    // was closed. Set before the window is activated, it arrives as a Tab would bring it, so
    // an edit's text is selected and typing replaces it.
    if (QWidget* field = FirstField()) field->setFocus(Qt::TabFocusReason);
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
