#include "tests/ui/WindowFixture.h"

#include <QCoreApplication>

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
