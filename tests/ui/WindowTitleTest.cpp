// The titles the window system shows. On X11 a window's title is not passed on as it is: the
// platform window builds the title bar's text with QPlatformWindow::formatWindowTitle, which
// appends the application's display name when one is set. The test asks that same function,
// with the separator the X11 platform uses, about the main window and its dialogs (their own
// captions are checked with their layout).
#include <gtest/gtest.h>

#include <QWindow>
#include <qpa/qplatformwindow.h>

#include "tests/ui/WindowFixture.h"
#include "ui/AdapterUnit.h"
#include "ui/FormMain.h"
#include "ui/RemoteHostUnit.h"

namespace {
// The platform windows' own rule, which they keep to themselves.
struct TPlatformTitle : QPlatformWindow {
  using QPlatformWindow::formatWindowTitle;
};
}  // namespace

TEST(WindowTitles, EachWindowShowsItsOwnCaptionAndNothingElse) {
  TSettingsScope scope;
  TMainForm form;
  form.CreateSourceDialogs();
  const std::vector<std::pair<QWidget*, QString>> windows{
      {&form, "Trellan 1.0"},
      {form.AdapterDlg, "Adapter"},
      {form.RemoteHostDlg, "Remote Host"}};
  const QString separator = QString::fromUtf8(" \u2014 ");
  for (const auto& [window, caption] : windows) {
    SCOPED_TRACE(caption.toStdString());
    window->show();
    ASSERT_NE(window->windowHandle(), nullptr);
    EXPECT_EQ(
        TPlatformTitle::formatWindowTitle(window->windowHandle()->title(), separator).toStdString(),
        caption.toStdString());
    if (window != &form) window->hide();
  }
  form.close();
}
