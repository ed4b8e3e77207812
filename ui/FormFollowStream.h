#pragma once
// "Follow Stream": the payload of both directions of one TCP or UDP conversation, side A (the
// source of its first frame) in dark red and side B in dark blue, as text or as a hex dump,
// with each side's byte count; Save As writes the raw bytes of both sides or of one.
//
// The window is not modal and may stay open while the main window opens another capture. The
// conversation refers to the frames of the capture it was followed in, so the window asks
// `currentCapture` before it reads them again, and refuses to save once that capture is gone.
#include <QDialog>
#include <functional>

#include "pipeline/Conversation.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class TCapturePipeline;

class TFollowStreamForm : public QDialog {
  Q_OBJECT
 public:
  // At most this many characters of a stream are shown; a longer stream is cut with a note,
  // and Save As still writes all of it, so that the window stays responsive.
  static constexpr qsizetype ShownCharacters = qsizetype(16) << 20;

  using TCaptureSource = std::function<const TCapturePipeline*()>;
  TFollowStreamForm(QWidget* parent, const TCapturePipeline& capture, TConversation conversation,
                    TCaptureSource currentCapture);

  QPlainTextEdit* mmStream;
  QRadioButton *rbText, *rbHex;
  QLabel* lblBytes;
  QComboBox* cbSavePart;
  QPushButton *btnSaveAs, *btnClose;

  const TConversation& Conversation() const { return Conversation_; }
  // Fills the text area in the chosen form (text or hex).
  void ShowStream();
  void SaveAsClick();

 private:
  // The capture the conversation's frames belong to, while it is still the one on screen.
  const TCapturePipeline* Capture() const;

  const TCapturePipeline* Capture_;
  uint64_t CaptureIdentity_;
  TConversation Conversation_;
  TCaptureSource CurrentCapture_;
};
