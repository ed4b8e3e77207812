// View, Follow Stream on a capture file opened in the window: the conversation of the selected
// row in a window of its own, its byte counts, and Save As writing exactly the stream's bytes.
// With TRELLAN_SCREENSHOT set to a path, the window is also saved there as a picture.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include "tests/common/Conversations.h"
#include "tests/ui/WindowFixture.h"
#include "ui/FormFollowStream.h"
#include "ui/FormMain.h"

TEST(FollowStream, ShowsTheSelectedConversationAndSavesItsBytes) {
  TSettingsScope scope;
  const std::string file = scope.Dir.File("conversations.pcap");
  WritePcap(file, ConversationCapture());
  TMainForm form;
  form.show();
  ProcessEvents();
  Global->OpenType = 2;
  Global->FileName = file;
  form.OpenSource();
  form.pcView->setCurrentIndex(viTCP);
  ProcessEvents();

  // No row selected: nothing opens.
  form.ActionFollowStream->trigger();
  EXPECT_EQ(form.findChildren<TFollowStreamForm*>().size(), 0);
  form.lvTCP->selectRow(9);  // frame 10, the server's first answer
  form.ActionFollowStream->trigger();
  auto forms = form.findChildren<TFollowStreamForm*>();
  ASSERT_EQ(forms.size(), 1);
  TFollowStreamForm* stream = forms[0];
  EXPECT_TRUE(stream->isVisible());
  EXPECT_FALSE(stream->isModal());
  EXPECT_EQ(stream->windowTitle(), QString::fromUtf8("Follow TCP Stream (10.0.0.1:40000 ↔ 10.0.0.2:80)"));
  EXPECT_EQ(stream->lblBytes->text(),
            QString::fromUtf8("10.0.0.1:40000 → 10.0.0.2:80: 700 bytes; "
                              "10.0.0.2:80 → 10.0.0.1:40000: 800 bytes, 600 missing"));
  const QString text = stream->mmStream->toPlainText();
  EXPECT_TRUE(text.startsWith(QString::fromStdString(ClientStream(0, 700)))) << text.toStdString();
  EXPECT_TRUE(text.contains("... 300 bytes missing ...")) << text.toStdString();
  stream->rbHex->setChecked(true);
  EXPECT_TRUE(stream->mmStream->toPlainText().startsWith("abcdefghijklmnop [ 61 62 63 64 |"))
      << stream->mmStream->toPlainText().toStdString();
  if (const QByteArray shot = qgetenv("TRELLAN_SCREENSHOT"); !shot.isEmpty()) {
    stream->rbText->setChecked(true);
    stream->grab().save(QString::fromLocal8Bit(shot));
  }

  const std::string both = scope.Dir.File("both.bin"), client = scope.Dir.File("client.bin");
  scope.Answers.Files = {QString::fromStdString(both), QString::fromStdString(client)};
  stream->btnSaveAs->click();
  EXPECT_EQ(FileContents(both),
            ClientStream(0, 700) + ServerStream(0, 300) + ServerStream(600, 1100));
  stream->cbSavePart->setCurrentIndex(1);
  stream->btnSaveAs->click();
  EXPECT_EQ(FileContents(client), ClientStream(0, 700));
  const std::string nowhere = scope.Dir.File("no/such/stream.bin");
  scope.Answers.Files = {QString::fromStdString(nowhere)};
  stream->btnSaveAs->click();
  ASSERT_EQ(scope.Answers.Boxes.size(), 1u);
  EXPECT_EQ(scope.Answers.Boxes[0].Text.toStdString(),
            "Cannot save the stream to " + nowhere + ": No such file or directory");

  // A frame whose ports were not captured has no conversation, which the user is told.
  form.lvTCP->selectRow(16);
  form.ActionFollowStream->trigger();
  ASSERT_EQ(scope.Answers.Boxes.size(), 2u);
  EXPECT_TRUE(scope.Answers.Boxes[1].Error);
  EXPECT_EQ(form.findChildren<TFollowStreamForm*>().size(), 1);
  // Emptied by Clear All, the capture no longer holds the stream's frames: nothing is saved.
  form.ClearAllToolButton->click();
  scope.Answers.Files = {QString::fromStdString(both)};
  stream->btnSaveAs->click();
  ASSERT_EQ(scope.Answers.Boxes.size(), 3u);
  // Once another capture is on screen, the window no longer reads the old one's frames.
  const std::string other = scope.Dir.File("other.pcap");
  WritePcap(other, ConversationCapture());
  Global->FileName = other;
  form.OpenSource();
  stream->rbHex->setChecked(false);
  scope.Answers.Files = {QString::fromStdString(both)};
  stream->btnSaveAs->click();
  EXPECT_EQ(scope.Answers.Boxes.size(), 4u);
  stream->close();
}
