#include "tests/ui/WindowFixture.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

#include "platform/System.h"

void OnNextDialog(std::function<void(QDialog&)> answer) {
  auto* poll = new QTimer;
  auto started = std::make_shared<uint32_t>(platform::TickCount());
  QObject::connect(poll, &QTimer::timeout, [poll, answer, started] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      answer(*dialog);
    } else if (platform::TickCount() - *started > 5000) {
      poll->stop();
      poll->deleteLater();
      ADD_FAILURE() << "no dialog was shown";
    }
  });
  poll->start(5);
}

void ProcessEvents(int rounds) {
  for (int i = 0; i < rounds; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QString Cell(TListView* view, int row, int column) {
  return view->model()->data(view->model()->index(row, column), Qt::DisplayRole).toString();
}

std::vector<std::string> VisibleColumns(TListView* view) {
  std::vector<std::string> v;
  for (int32_t i = 0; i < view->ColumnCount(); ++i)
    if (view->Width(i) != 0) v.push_back(view->Caption(i));
  return v;
}
