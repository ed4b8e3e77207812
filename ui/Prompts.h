#pragma once
// Every message box and file dialog of the program goes through here, so that tests can
// answer them. Without an answerer the real Qt dialogs are shown.
#include <QString>
#include <functional>
#include <optional>

class QWidget;

struct TFileDialogRequest {
  bool Save = false;
  QString Title;
  QString Filter;            // Qt form: "Capture Files (*.cap);;All Files (*)"
  // Appended to a typed name without an extension, in a save dialog unless the chosen filter
  // names one ("*.pcapng"), which is then appended.
  QString DefaultExtension;
  QString Directory;
  QString FileName;  // the name the dialog starts with
};

// The answers to the question asked before a capture that was not saved would be lost.
enum class TSaveChoice { Save, Discard, Cancel };

class TPromptAnswerer {
 public:
  virtual ~TPromptAnswerer() = default;
  // Called instead of showing a message box; returns nothing (OK is the only button).
  virtual void Message(const QString& caption, const QString& text, bool error) = 0;
  // Called instead of asking whether to save a capture first.
  virtual TSaveChoice SaveQuestion(const QString& text) = 0;
  // Called instead of showing a file dialog; nullopt means the user cancelled. `filter` comes
  // with the request's first filter, which a dialog starts with, and takes the one chosen.
  virtual std::optional<QString> File(const TFileDialogRequest& request, QString& filter) = 0;
};

namespace Prompts {
// The filters of every capture file dialog: the formats the program reads first, then every
// file, since on Linux many files have no extension and "*.*" would hide them.
inline const QString CaptureFileFilter =
    QStringLiteral("Capture files (*.cap *.pcap *.pcapng);;All files (*)");
// The save dialog's: one choice for each format a capture is saved in, which the choice then
// decides.
inline const QString PcapngFileFilter = QStringLiteral("pcapng (*.pcapng)");
inline const QString CaptureSaveFilter =
    QStringLiteral("pcap (*.cap *.pcap);;") + PcapngFileFilter + QStringLiteral(";;All files (*)");
// Installs an answerer (nullptr: the real dialogs again). The caller keeps ownership.
void SetAnswerer(TPromptAnswerer* answerer);
// A modal message box with an error icon, the caption "Error" and an OK button.
void ShowError(QWidget* parent, const QString& text);
// A modal message box with an information icon, the caption "Trellan" and an OK button.
void ShowInformation(QWidget* parent, const QString& text);
// The box that reports an exception that ended a user action.
void ShowException(QWidget* parent, const QString& text);
// Asks whether to save the capture before it is lost: Save, Discard or Cancel.
TSaveChoice AskToSave(QWidget* parent, const QString& text);
// The chosen file's full path, or nullopt when cancelled; `chosenFilter`, when given, takes
// the filter the user chose.
std::optional<QString> ChooseFile(QWidget* parent, const TFileDialogRequest& request,
                                  QString* chosenFilter = nullptr);
// A file was opened or saved: a dialog given no folder, or one that is gone, starts in its folder.
void FileUsed(const QString& path);
}  // namespace Prompts
