// The packet list view with the row counts of a long capture: it must keep nothing per row,
// and still scroll, select and move through its rows as a table does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <string>

#include "tests/common/Process.h"
#include "ui/PacketView.h"

namespace {
void Settle() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}
}  // namespace

TEST(ListView, TenMillionRowsCostNoMemoryAndStillScrollSelectAndMove) {
  TListView view("lvTest");
  int32_t built = 0;  // rows the view asked for
  view.Model()->SetRowHandler([&](int32_t position, TRowText& row) {
    ++built;
    row.Add() = std::to_string(position + 1);
    row.Add() = "x" + std::to_string(position);
    row.Add() = "y";
  });
  view.AddColumn("Index", 60, 60);
  view.AddColumn("Hidden", 0, 80);
  view.AddColumn("Last", 70, 70);
  view.resize(300, 200);
  view.show();
  Settle();

  const long before = ResidentBytes();
  view.SetItemCount(10'000'000);
  Settle();
  EXPECT_EQ(view.model()->rowCount(), 10'000'000);
  // A table that kept an entry per row would hold tens of megabytes now.
  EXPECT_LT(ResidentBytes() - before, 4L << 20);
  // Only the rows on screen were built.
  const int page = view.viewport()->height() / view.RowHeight();
  EXPECT_LE(built, 3 * (page + 1));

  // The last row is shown whole at the bottom.
  view.scrollToBottom();
  Settle();
  const int last = view.rowViewportPosition(9'999'999);
  EXPECT_GE(last, 0);
  EXPECT_LE(last + view.RowHeight(), view.viewport()->height());
  EXPECT_EQ(view.indexAt(QPoint(5, last + 1)).row(), 9'999'999);

  // A click selects the row under the mouse; the hidden column is never hit.
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(65, last + 1));
  EXPECT_EQ(view.SelectedRow(), 9'999'999);
  EXPECT_EQ(view.indexAt(QPoint(65, last + 1)).column(), 2);
  EXPECT_TRUE(view.isColumnHidden(1));
  EXPECT_EQ(view.Width(1), 0);

  // Keys move the selection and the view follows it.
  view.setFocus();
  QTest::keyClick(&view, Qt::Key_Up);
  EXPECT_EQ(view.SelectedRow(), 9'999'998);
  QTest::keyClick(&view, Qt::Key_Home);
  EXPECT_EQ(view.SelectedRow(), 0);
  EXPECT_EQ(view.verticalScrollBar()->value(), 0);
  QTest::keyClick(&view, Qt::Key_PageDown);
  EXPECT_EQ(view.SelectedRow(), page);
  QTest::keyClick(&view, Qt::Key_End);
  EXPECT_EQ(view.SelectedRow(), 9'999'999);
  EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
  view.selectRow(1234);
  EXPECT_EQ(view.SelectedRow(), 1234);
  const int shown = view.rowViewportPosition(1234);
  EXPECT_TRUE(shown >= 0 && shown + view.RowHeight() <= view.viewport()->height());

  // Typing does not search the rows (that would build all ten million).
  built = 0;
  QTest::keyClicks(&view, "zq");
  EXPECT_LE(built, 3 * (page + 1));

  // Fewer rows (Clear All) empty the view at once.
  view.SetItemCount(0);
  EXPECT_EQ(view.model()->rowCount(), 0);
  EXPECT_EQ(view.SelectedRow(), -1);
  EXPECT_EQ(view.verticalScrollBar()->maximum(), 0);
}
