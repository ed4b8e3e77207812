#include "ui/Prompts.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

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

// The extension a name typed without one gets: in a save dialog the first that the chosen
// filter names, so that the name says the format chosen; else the request's default.
QString ExtensionFor(const TFileDialogRequest& request, const QString& filter) {
  static const QRegularExpression named(QStringLiteral("\\*\\.(\\w+)"));
  const QRegularExpressionMatch match = named.match(filter);
  return request.Save && match.hasMatch() ? match.captured(1) : request.DefaultExtension;
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

std::optional<QString> ChooseFile(QWidget* parent, const TFileDialogRequest& request,
                                  QString* chosenFilter) {
  if (Answerer) {
    QString filter = request.Filter.section(QStringLiteral(";;"), 0, 0);
    std::optional<QString> chosen = Answerer->File(request, filter);
    if (chosenFilter) *chosenFilter = filter;
    // What the dialog's default suffix does for a name typed without an extension.
    const QString extension = ExtensionFor(request, filter);
    if (chosen && request.Save && !extension.isEmpty() && QFileInfo(*chosen).suffix().isEmpty())
      *chosen += QLatin1Char('.') + extension;
    return chosen;
  }
  QFileDialog dialog(parent, request.Title, request.Directory, request.Filter);
  dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // A replaced file is not asked about, as the program's save has always done.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.setDefaultSuffix(ExtensionFor(request, dialog.selectedNameFilter()));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
    dialog.setDefaultSuffix(ExtensionFor(request, filter));
  });
  if (!request.FileName.isEmpty()) dialog.selectFile(request.FileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  if (chosenFilter) *chosenFilter = dialog.selectedNameFilter();
  return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
}

}  // namespace Prompts
