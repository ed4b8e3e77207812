#include "ui/Prompts.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {
TPromptAnswerer* Answerer = nullptr;

void Box(QWidget* parent, const QString& caption, const QString& text, QMessageBox::Icon icon) {
  if (Answerer) {
    Answerer->Message(caption, text, icon == QMessageBox::Critical);
    return;
  }
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.exec();
}
}  // namespace

namespace Prompts {

void SetAnswerer(TPromptAnswerer* answerer) { Answerer = answerer; }

void ShowError(QWidget* parent, const QString& text) {
  Box(parent, QStringLiteral("Error"), text, QMessageBox::Critical);
}

void ShowInformation(QWidget* parent, const QString& text) {
  Box(parent, QStringLiteral("Trellan"), text, QMessageBox::Information);
}

void ShowException(QWidget* parent, const QString& text) {
  Box(parent, QStringLiteral("Trellan"), text, QMessageBox::Critical);
}

TSaveChoice AskToSave(QWidget* parent, const QString& text) {
  if (Answerer) return Answerer->SaveQuestion(text);
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Trellan"), text,
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
  box.setInformativeText(QStringLiteral("The captured frames are lost if you don't save them."));
  box.setDefaultButton(QMessageBox::Save);
  box.setEscapeButton(QMessageBox::Cancel);
  switch (box.exec()) {
    case QMessageBox::Save: return TSaveChoice::Save;
    case QMessageBox::Discard: return TSaveChoice::Discard;
    default: return TSaveChoice::Cancel;
  }
}

std::optional<QString> ChooseFile(QWidget* parent, const TFileDialogRequest& request) {
  if (Answerer) return Answerer->File(request);
  QFileDialog dialog(parent, request.Title, request.Directory, request.Filter);
  dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // A replaced file is not asked about, as the program's save has always done.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.setDefaultSuffix(request.DefaultExtension);
  if (!request.FileName.isEmpty()) dialog.selectFile(request.FileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
}

}  // namespace Prompts
