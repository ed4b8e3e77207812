// Start-up and shutdown: the command line, the application object, the settings before the
// main window, the capture file named on the command line, the event loop, and the settings
// saved once more after it.
#include <QGuiApplication>
#include <QScreen>
#include <cstdio>
#include <memory>
#include <pcap/pcap.h>

#include "platform/WorkArea.h"
#include "settings/Globals.h"
#include "ui/Application.h"
#include "ui/CommandLine.h"
#include "ui/FormMain.h"

namespace {
int BadCommandLine(const std::string& error) {
  std::fprintf(stderr, "Trellan: %s\n%s", error.c_str(), TrellanUsage);
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  // --help and --version answer before the application object, which needs a display.
  const TCommandLine asked = ParseCommandLine(argc, argv);
  if (asked.Action == TCommandLine::TAction::Help) {
    std::fputs(TrellanUsage, stdout);
    return 0;
  }
  if (asked.Action == TCommandLine::TAction::Version) {
    std::printf("Trellan %s\n%s\n", TRELLAN_VERSION, pcap_lib_version());
    return 0;
  }
  TApplication app(argc, argv);
  // The application object has taken out Qt's own options; what is left is the program's.
  const TCommandLine commandLine = ParseCommandLine(argc, argv);
  if (commandLine.Action == TCommandLine::TAction::Error) return BadCommandLine(commandLine.Error);
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
      if (!commandLine.File.empty()) form.OpenFileAtStart(commandLine.File);
      result = app.exec();
    }
    // Destroying the settings saves them once more.
    settings.reset();
    Global = nullptr;
  }
  return result;
}
