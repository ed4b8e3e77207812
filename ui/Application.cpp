#include "ui/Application.h"

#include <QSocketNotifier>
#include <exception>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/MainThread.h"
#include "ui/Prompts.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // A name, but no display name: on X11 the toolkit appends a display name to the title of
  // every window ("Trellan 1.0 — Trellan", "Adapter — Trellan"), and each window's caption
  // is meant to be its whole title.
  setApplicationName(QStringLiteral("Trellan"));
  // A capture thread wakes the event loop through an eventfd: the write allocates nothing
  // and posts nothing, and however many wake-ups arrive before the loop gets to it, the
  // loop drains the queue once.
  WakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  Wake_ = new QSocketNotifier(WakeFd_, QSocketNotifier::Read, this);
  connect(Wake_, &QSocketNotifier::activated, this, [this] {
    uint64_t n;
    while (::read(WakeFd_, &n, sizeof n) == sizeof n) {
    }
    platform::DrainMainThreadQueue();
  });
  const int fd = WakeFd_;
  platform::SetMainThreadWakeUp([fd] {
    const uint64_t one = 1;
    (void)::write(fd, &one, sizeof one);
  });
}

TApplication::~TApplication() {
  platform::SetMainThreadWakeUp(nullptr);
  delete Wake_;
  ::close(WakeFd_);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ReportException(e.what());
  }
  return false;
}

void TApplication::ReportException(const char* what) {
  Prompts::ShowException(activeWindow(), QString::fromLocal8Bit(what));
}
