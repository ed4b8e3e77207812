#include "ui/FormFollowStream.h"

#include <QBrush>
#include <QComboBox>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

#include "pipeline/CapturePipeline.h"
#include "presentation/PayloadText.h"
#include "ui/FormCapturing.h"
#include "ui/Prompts.h"

namespace {
QString Local(const std::string& s) { return QString::fromLocal8Bit(s.data(), qsizetype(s.size())); }

// The bytes as the text area shows them: line ends as the payload pane reads them, and every
// other control byte (C0, DEL and C1, which fonts draw as boxes or not at all) as a dot, so
// that binary data cannot break the lines or hide text.
QString ShownText(std::string_view bytes) {
  std::string text = PaneLines(bytes);
  for (char& c : text)
    if ((uint8_t(c) < 0x20 && c != '\n' && c != '\t') || (uint8_t(c) >= 0x7F && uint8_t(c) < 0xA0))
      c = '.';
  return QString::fromLatin1(text.data(), qsizetype(text.size()));
}
}  // namespace

TFollowStreamForm::TFollowStreamForm(QWidget* parent, const TCapturePipeline& capture,
                                     TConversation conversation, TCaptureSource currentCapture)
    : QDialog(parent),
      Capture_(&capture),
      CaptureIdentity_(capture.Identity()),
      Conversation_(std::move(conversation)),
      CurrentCapture_(std::move(currentCapture)) {
  setObjectName("FollowStreamForm");
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  setWindowTitle(QString("Follow %1 Stream (%2 \u2194 %3)")
                     .arg(Conversation_.TCP ? "TCP" : "UDP",
                          Local(EndpointText(Conversation_.Sides[0])),
                          Local(EndpointText(Conversation_.Sides[1]))));
  resize(760, 560);

  mmStream = new QPlainTextEdit(this);
  mmStream->setObjectName("mmStream");
  mmStream->setReadOnly(true);
  mmStream->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  QFont font("Courier New");
  font.setStyleHint(QFont::TypeWriter);
  font.setPixelSize(12);
  mmStream->setFont(font);

  const auto grouped = [](uint64_t n) { return GroupedNumber(n).toStdString(); };
  lblBytes = new QLabel(this);
  lblBytes->setObjectName("lblBytes");
  lblBytes->setText(QString::fromUtf8(DirectionText(Conversation_, 0, " \u2192 ") + ": " +
                                      SideBytesText(Conversation_, 0, grouped) + "; " +
                                      DirectionText(Conversation_, 1, " \u2192 ") + ": " +
                                      SideBytesText(Conversation_, 1, grouped)));

  rbText = new QRadioButton("Text", this);
  rbText->setObjectName("rbText");
  rbText->setChecked(true);
  rbHex = new QRadioButton("Hex", this);
  rbHex->setObjectName("rbHex");
  connect(rbHex, &QRadioButton::toggled, this, [this] { ShowStream(); });

  cbSavePart = new QComboBox(this);
  cbSavePart->setObjectName("cbSavePart");
  cbSavePart->addItem("Both sides");
  cbSavePart->addItem(QString::fromUtf8(DirectionText(Conversation_, 0, " \u2192 ") + " only"));
  cbSavePart->addItem(QString::fromUtf8(DirectionText(Conversation_, 1, " \u2192 ") + " only"));
  btnSaveAs = new QPushButton("Save As...", this);
  btnSaveAs->setObjectName("btnSaveAs");
  connect(btnSaveAs, &QPushButton::clicked, this, [this] { SaveAsClick(); });
  btnClose = new QPushButton("Close", this);
  btnClose->setObjectName("btnClose");
  connect(btnClose, &QPushButton::clicked, this, &QDialog::close);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(rbText);
  buttons->addWidget(rbHex);
  buttons->addStretch(1);
  buttons->addWidget(cbSavePart);
  buttons->addWidget(btnSaveAs);
  buttons->addWidget(btnClose);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(mmStream, 1);
  layout->addWidget(lblBytes);
  layout->addLayout(buttons);
  ShowStream();
}

const TCapturePipeline* TFollowStreamForm::Capture() const {
  const TCapturePipeline* current = CurrentCapture_ ? CurrentCapture_() : Capture_;
  // Cleared, or replaced by another capture (which may even have the old one's address).
  return current && current == Capture_ && current->Identity() == CaptureIdentity_ ? current
                                                                                     : nullptr;
}

void TFollowStreamForm::ShowStream() {
  mmStream->clear();
  const TCapturePipeline* capture = Capture();
  if (!capture) {
    mmStream->setPlainText("The capture this stream was followed in is no longer open.");
    return;
  }
  const bool hex = rbHex->isChecked();
  std::array<QTextCharFormat, 2> sides;
  sides[0].setForeground(QBrush(Qt::darkRed));
  sides[1].setForeground(QBrush(Qt::darkBlue));
  QTextCharFormat gap;
  gap.setForeground(QBrush(Qt::darkGray));
  gap.setFontItalic(true);

  QTextCursor cursor(mmStream->document());
  qsizetype shown = 0;
  bool cut = false;
  // One insertion per run of chunks from one side: a bulk transfer is one run, not thousands.
  std::string run;
  int runSide = -1;
  auto endRun = [&] {
    if (runSide < 0 || cut) return;
    QString text = hex ? QString::fromLatin1(
                             HexDumpLines(reinterpret_cast<const uint8_t*>(run.data()), run.size()))
                       : ShownText(run);
    if (!text.endsWith('\n')) text += '\n';
    if (shown + text.size() > ShownCharacters) {
      text.truncate(std::max<qsizetype>(ShownCharacters - shown, 0));
      cut = true;
    }
    cursor.insertText(text, sides[size_t(runSide)]);
    shown += text.size();
    run.clear();
    runSide = -1;
  };
  for (const TConversationChunk& chunk : Conversation_.Chunks) {
    if (cut) break;
    if (chunk.Gap) {
      endRun();
      cursor.insertText(Local(GapText(chunk.Length)) + '\n', gap);
      continue;
    }
    if (runSide != chunk.Side) endRun();
    runSide = chunk.Side;
    run.append(ChunkBytes(capture->Store(), chunk));
    // A run as long as the window shows is shown without waiting for its end.
    if (qsizetype(run.size()) > ShownCharacters) endRun();
  }
  endRun();
  if (cut)
    cursor.insertText(QString("\nOnly the first %1 characters are shown; Save As writes every byte.\n")
                          .arg(GroupedNumber(uint64_t(ShownCharacters))),
                      gap);
  mmStream->moveCursor(QTextCursor::Start);
}

void TFollowStreamForm::SaveAsClick() {
  const TCapturePipeline* capture = Capture();
  if (!capture) {
    Prompts::ShowError(this, "The capture this stream was followed in is no longer open.");
    return;
  }
  TFileDialogRequest request;
  request.Save = true;
  request.Title = "Save Stream As";
  request.Filter = "All files (*)";
  const auto chosen = Prompts::ChooseFile(this, request);
  if (!chosen) return;
  const std::string path = chosen->toLocal8Bit().toStdString();
  const auto part = TConversationPart(cbSavePart->currentIndex());
  std::string error;
  if (SaveConversation(capture->Store(), Conversation_, part, path, error))
    Prompts::FileUsed(*chosen);
  else
    Prompts::ShowError(this, Local("Cannot save the stream to " + error));
}
