#pragma once
// Reaching the controls of a dialog the way a user sees them: by name, as shown on screen.
#include <QListWidget>
#include <QString>
#include <QWidget>
#include <stdexcept>
#include <string>

// The control called `name` in `dialog`; a missing or differently typed control fails the test.
template <class T>
T& Control(const QWidget& dialog, const char* name) {
  T* control = dialog.findChild<T*>(QString::fromLatin1(name));
  if (!control) throw std::runtime_error(std::string("no control ") + name);
  return *control;
}

// Clicks the button called `name`, as the mouse would.
void Click(const QWidget& dialog, const char* name);
// Double-clicks an entry of a list with the mouse.
void DoubleClick(QListWidget& list, int row);
// The settings file as it is on disk.
std::string FileText(const std::string& path);
