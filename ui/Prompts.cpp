#include "ui/Prompts.h"

#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QRegularExpression>

namespace {
TPromptAnswerer* Answerer = nullptr;
// The folder of the last file opened or saved, for a dialog that has none of its own.
QString LastGoodFolder;

// Qt's own provider names a file's type from its contents where its name does not tell, and
// reads them in the window's thread: in /proc or /sys such a read may never return (reading
// /proc/kmsg waits for the kernel's next message). By its name alone, nothing is read.
class TNameOnlyIconProvider : public QFileIconProvider {
 public:
  QString type(const QFileInfo& info) const override {
    if (!info.isFile()) return QFileIconProvider::type(info);
    const QMimeType mime = Mimes_.mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    return mime.comment().isEmpty() ? mime.name() : mime.comment();
  }

 private:
  QMimeDatabase Mimes_;
};

// A dialog left without a folder that is there starts in the last good one, else in the
// working folder: never where Qt last saw one accepted, which may be a folder a save failed in.
QString StartFolder(const QString& asked) {
  for (const QString& folder : {asked, LastGoodFolder})
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
  return QDir::currentPath();
}

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
  // Declared first, so that it outlives the dialog, which uses it before anything can have
  // asked for a file's type.
  TNameOnlyIconProvider icons;
  QFileDialog dialog(parent, request.Title, StartFolder(request.Directory), request.Filter);
  dialog.setIconProvider(&icons);
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

void FileUsed(const QString& path) { LastGoodFolder = QFileInfo(path).absolutePath(); }

}  // namespace Prompts
