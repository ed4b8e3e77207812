#include "tests/ui/DialogControls.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <fstream>
#include <sstream>

void Click(const QWidget& dialog, const char* name) {
  Control<QAbstractButton>(dialog, name).click();
}

void DoubleClick(QListWidget& list, int row) {
  QWidget* viewport = list.viewport();
  const QPointF at = list.visualItemRect(list.item(row)).center();
  const QPointF global = viewport->mapToGlobal(at);
  const auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, global, Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
  };
  send(QEvent::MouseButtonPress, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, Qt::NoButton);
  send(QEvent::MouseButtonDblClick, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, Qt::NoButton);
}

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
