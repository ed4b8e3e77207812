// Start-up and shutdown: the application object, the settings before the main window, the
// event loop, and the settings saved once more after it.
#include <QGuiApplication>
#include <QScreen>
#include <memory>

#include "platform/WorkArea.h"
#include "settings/Globals.h"
#include "ui/Application.h"
#include "ui/FormMain.h"

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  // The settings centre a new window in the primary screen's work area.
  platform::SetWorkAreaProvider([] {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    return platform::WorkAreaRect{area.left(), area.top(), area.width(), area.height()};
  });
  int result = 0;
  {
    std::unique_ptr<TGlobal> settings;
    try {
      settings = std::make_unique<TGlobal>();
    } catch (const std::exception& e) {
      TApplication::ReportException(e.what());
      return 1;
    }
    Global = settings.get();
    {
      TMainForm form;
      form.CreateSourceDialogs();
      form.show();
      result = app.exec();
    }
    // Destroying the settings saves them once more.
    settings.reset();
    Global = nullptr;
  }
  return result;
}
