// The main window's control of capture sources and of capture files: opening a source,
// closing and clearing it, and saving and loading captures.
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QLabel>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <pcap/pcap.h>

#include "platform/Files.h"
#include "platform/System.h"
#include "settings/Globals.h"
#include "ui/Application.h"
#include "ui/FormCapturing.h"
#include "ui/FileReading.h"
#include "ui/FormMain.h"
#include "ui/Prompts.h"
#include "ui/StatisticsMenu.h"

namespace {
// Clear All throws the capture away as opening another source does, and asks the same.
constexpr const char* SaveBeforeAnotherSource =
    "Do you want to save the captured frames before opening another source?";

QString Text(const std::string& s) { return QString::fromLocal8Bit(s.data(), qsizetype(s.size())); }

std::string ErrorText(int code) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Error $%04X", unsigned(code));
  return buf;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Extension(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot);
}
}  // namespace

// ---- Sources ------------------------------------------------------------------------------

void TMainForm::OpenSource(bool applyFilter) {
  // A capture that was not saved is not thrown away without asking, and a running one is
  // stopped before another source opens.
  if (!ConfirmDiscard(SaveBeforeAnotherSource)) return;
  if (Quarn1.Active()) ActionCloseExecute();
  MirrorSettings();
  Quarn1.SetFilter(applyFilter ? Global->Filter : std::string());
  Quarn1.SetFlags(Global->Flags);
  Quarn1.SetReadTimeout(Global->ReadTimeout);
  Quarn1.SetSnapLen(Global->SnapLen);
  Quarn1.SetThreadSafe(Global->ThreadSafe);
  // The previous capture stays as it is until the new source has opened (Quarn1Opened
  // replaces it then), so a source that cannot be opened loses nothing.
  if (Global->OpenType == 2) {
    OpenCaptureFile();
    return;
  }
  // The progress window exists before the first frame can arrive; Quarn1Opened sets its
  // counters to zero.
  if (!CapturingForm) {
    CapturingForm = new TCapturingForm(this);
    CapturingForm->OnStop = [this] { Execute(ActionClose); };
    CapturingForm->Counts = [this](int32_t view) { return Capture->Seen(view); };
    CapturingForm->Bytes = [this] { return Capture->SeenBytes(); };
    CapturingForm->Statistics = [this](TCaptureStatistics& s) { return Quarn1.Statistics(s); };
  }
  // The previous capture's summary does not stand beside the new source.
  ShowCaptureSummary({});
  if (Global->OpenType == 0) {
    Quarn1.SetAdapterIndex(Global->AdapterIndex);
    Quarn1.Open(true);
  } else {
    Quarn1.Open(Global->Host, Global->UserName, Global->Password);
  }
  if (!Quarn1.Active()) {
    Prompts::ShowError(this, Text(Quarn1.LastError()));
    UpdateActions();
    return;
  }
  CapturingForm->Start();
  CapturingForm->show();
  StatusPanels[0]->setText(Text(SourceCaption()));
  UpdateActions();
}

void TMainForm::OpenCaptureFile() {
  IncomingCapture = std::make_unique<TCapturePipeline>();
  IncomingCapture->SetDecodeIPv6AndVLAN(Global->DecodeIPv6AndVLAN);
  std::string error;
  if (!IncomingCapture->OpenFile(Quarn1, Global->FileName, error)) {
    // The file did not open, so the capture on screen is still the previous one.
    IncomingCapture.reset();
    Prompts::ShowError(this, Text(error));
    UpdateActions();
    return;
  }
  // Quarn1Opened made the file's pipeline the capture.
  StatusPanels[0]->setText(Text(SourceCaption()));
  if (Capture->FileSize() < TFileReading::InBackgroundFrom) {
    const auto result = Capture->ReadOpenedFile(Quarn1, error);
    FinishFileRead(result, error);
    return;
  }
  // The end is taken in as soon as it comes, not at the next beat of the watch timer.
  Reading_ = std::make_unique<TFileReading>(*Capture, Quarn1, [this] {
    QMetaObject::invokeMethod(this, [this] { WatchCapture(); }, Qt::QueuedConnection);
  });
  // The first frames are on screen before the reading goes on.
  Shown.Extend(*Capture, DataOffsets());
  RefreshActiveView();
  ShowReadingProgress();
  ReadingPanel->show();
  CancelReadButton->show();
  UpdateActions();
  QTimer::singleShot(0, this, [this] {
    if (Reading_) Reading_->Resume();
  });
}

void TMainForm::ShowReadingProgress() {
  const uint64_t size = Reading_->Size(), read = Reading_->Read();
  QString text = "Reading: " + GroupedNumber(uint64_t(Reading_->Frames())) + " frames (" +
                 QString::number(size ? read * 100 / size : 100) + " %)";
  if (SortAfterReading_) text += ", then sorting";
  ReadingPanel->setText(text);
}

void TMainForm::FinishFileRead(TCapturePipeline::TReadResult result, const std::string& error) {
  Quarn1.Close();
  ReadingPanel->hide();
  CancelReadButton->hide();
  // As frames delivered one by one always did: a file with frames counts as modified, and its
  // rows show in the TCP Data view, and in the active view unless ThreadSafe is off (then it
  // waits for a tab change).
  if (Capture->Count() > 0) Modified = true;
  Shown.Extend(*Capture, DataOffsets());
  if (RefreshWhileCapturing_) RefreshActiveView();
  lvTCPData->SetItemCount(Shown.Count(*Capture, viTCPData));
  ShowDecodingNotice();
  UpdateActions();
  if (result == TCapturePipeline::TReadResult::Incomplete)
    Prompts::ShowError(this, Text("Only the first " + std::to_string(Capture->Count()) +
                                  " frames of " + Global->FileName + " were read: " + error +
                                  "."));
  if (const auto sort = std::exchange(SortAfterReading_, std::nullopt))
    SortColumnClick(sort->first, sort->second);
}

void TMainForm::OpenFileAtStart(const std::string& file) {
  // Stored absolute, so that the Open dialog finds it again from any working folder.
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  Global->FileName = error ? file : absolute.lexically_normal().string();
  Global->OpenType = 2;
  // Outside the event loop nothing else would report a settings file that cannot be written.
  try {
    Global->Save();
  } catch (const std::exception& e) {
    TApplication::ReportException(e.what());
  }
  OpenSource(false);
}

std::string TMainForm::Quarn1Opened(TCustomQuarn& Sender) {
  std::unique_ptr<TCapturePipeline> incoming;
  if (Global->OpenType != 2) {
    // The new capture's temporary file is made before the previous capture is given up:
    // when it cannot be made, the new source is closed again and nothing is lost. Its name is
    // made as the file is, with a random part, so that no other user can take it first.
    incoming = std::make_unique<TCapturePipeline>();
    incoming->SetDecodeIPv6AndVLAN(Global->DecodeIPv6AndVLAN);
    std::string error;
    if (!incoming->StartLive(platform::TempDirectory() + "tempXXXXXX.$$$",
                             pcap_datalink(Sender.Handle()), pcap_snapshot(Sender.Handle()), error))
      return error;
  } else {
    incoming = IncomingCapture ? std::move(IncomingCapture) : std::make_unique<TCapturePipeline>();
  }
  // The previous capture goes: its frames, every view and payload pane, and its temporary
  // file, which was either saved already or discarded by the user.
  for (TListView* view : Views_) view->SetItemCount(0);
  Statistics->CaptureGoing();
  Capture = std::move(incoming);
  ClearAll();
  // The display filter stays in force, compiled again for the new source's link type and
  // snapshot length; one that does not fit it any more is dropped, and the bar says why.
  if (!Shown.Filter().Empty()) {
    std::string error, none;
    if (!Shown.ApplyFilter(*Capture, Shown.Filter().Expression(), error)) {
      Shown.ApplyFilter(*Capture, {}, none);
      lblFilterError->setText(QString::fromLocal8Bit(error));
    }
    UpdateShownCount();
  }
  Modified = false;
  FileChangeReported = false;
  DecodingNoticeShown = false;
  DecodingPanel->hide();
  if (Global->OpenType != 2) {
    CurrentFileName = Capture->FileName();
    SaveFileName.clear();
  } else {
    CurrentFileName = Global->FileName;
    SaveFileName = Global->FileName;
    RememberFolderOf(Global->FileName);
    SaveFileFormat = FormatOfName(SaveFileName);
  }
  return {};
}

std::string TMainForm::SourceCaption() const {
  // A filter left from an earlier capture would otherwise narrow a file silently.
  if (Quarn1.Filter().empty()) return Quarn1.Source();
  return Quarn1.Source() + "   Filter: " + Quarn1.Filter();
}

bool TMainForm::HasUnsavedCapture() const {
  return Capture->Temporary() && Modified && Capture->Count() > 0;
}

bool TMainForm::ConfirmDiscard(const char* question) {
  if (!HasUnsavedCapture()) return true;
  switch (Prompts::AskToSave(this, question)) {
    case TSaveChoice::Discard: return true;
    case TSaveChoice::Cancel: return false;
    case TSaveChoice::Save: break;
  }
  if (Quarn1.Active()) ActionCloseExecute();
  ActionSaveExecute();
  // A save that was cancelled or failed keeps the capture, and what was to follow waits.
  return !HasUnsavedCapture();
}

bool TMainForm::ConfirmClear() {
  // A running capture is emptied and goes on, as it always was: the frames that come are
  // what the user wants to see. A stopped one would be gone for good.
  return Quarn1.Active() || ConfirmDiscard(SaveBeforeAnotherSource);
}

bool TMainForm::IsTemporary(const std::string& fileName) { return Extension(fileName) == ".$$$"; }

// ---- Capture files ------------------------------------------------------------------------

TFileDialogRequest TMainForm::CaptureFileDialog(bool save, const char* title) {
  TFileDialogRequest r;
  r.Save = save;
  r.Title = title;
  r.Filter = save ? Prompts::CaptureSaveFilter : Prompts::CaptureFileFilter;
  r.DefaultExtension = "cap";
  if (LastFolder_.empty() && !Global->FileName.empty()) LastFolder_ = FolderOf(Global->FileName);
  r.Directory = Text(LastFolder_);
  return r;
}

void TMainForm::RememberFolderOf(const std::string& file) {
  LastFolder_ = FolderOf(file);
  Prompts::FileUsed(Text(file));
}

std::optional<std::string> TMainForm::ChooseCaptureFile(bool save, const char* title,
                                                         TCaptureFormat* format) {
  QString filter;
  const auto chosen = Prompts::ChooseFile(this, CaptureFileDialog(save, title), &filter);
  if (!chosen) return std::nullopt;
  std::string path = chosen->toLocal8Bit().toStdString();
  // The pcapng choice, or a name that says pcapng, saves pcapng.
  if (format)
    *format = filter == Prompts::PcapngFileFilter ? TCaptureFormat::Pcapng : FormatOfName(path);
  return path;
}

void TMainForm::ActionOpenFileExecute() {
  const auto chosen = ChooseCaptureFile(false, "Open File");
  if (!chosen) return;
  Global->FileName = *chosen;
  Global->OpenType = 2;
  Global->Save();
  MirrorSettings();
  Execute(ActionOpen);
}

void TMainForm::ActionSaveExecute() {
  if (!SaveFileName.empty()) {
    SaveCapture(SaveFileName, SaveFileFormat);
    return;
  }
  TCaptureFormat format = TCaptureFormat::Pcap;
  if (const auto chosen = ChooseCaptureFile(true, "Save", &format)) SaveCapture(*chosen, format);
}

void TMainForm::SaveCapture(const std::string& target, TCaptureFormat format) {
  std::string error;
  if (!Capture->CanSaveAs(format)) {
    Prompts::ShowError(this, Text("Cannot save to " + target +
                                  " as pcap: the capture's frames have more than one link type, "
                                  "which only pcapng holds. Save it as pcapng."));
  } else if (Capture->SaveTo(target, format, error)) {
    CurrentFileName = target;
    SaveFileName = target;
    SaveFileFormat = format;
    Modified = false;
    RememberFolderOf(target);
  } else {
    // The code alone tells a user nothing: the path and the system's reason follow it. The
    // file name to save to stays as it was, so that a corrected Save As can follow.
    Prompts::ShowError(this, Text(ErrorText(platform::LastError()) + ": " + error));
  }
  UpdateActions();
}

void TMainForm::ActionSaveAsExecute() {
  TCaptureFormat format = TCaptureFormat::Pcap;
  const auto chosen = ChooseCaptureFile(true, "Save As", &format);
  if (!chosen) return;
  if (*chosen == SaveFileName) {
    Prompts::ShowError(this, "Same file name");
    return;
  }
  SaveCapture(*chosen, format);
}

