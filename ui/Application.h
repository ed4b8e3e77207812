#pragma once
// The application object: names the program, reports every exception that escapes a handler
// in a message box and ends only that action, and serves the calls that capture threads hand
// to the main thread from within the Qt event loop.
#include <QApplication>
#include <memory>

class QSocketNotifier;

class TApplication : public QApplication {
  Q_OBJECT
 public:
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  bool notify(QObject* receiver, QEvent* event) override;

  // Shows the text of an exception that ended a user action.
  static void ReportException(const char* what);

 private:
  int WakeFd_ = -1;
  QSocketNotifier* Wake_ = nullptr;
};
