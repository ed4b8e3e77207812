// The main window's control of capture sources and of capture files: opening a source,
// closing and clearing it, and saving and loading captures.
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QLabel>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/System.h"
#include "settings/Globals.h"
#include "ui/Application.h"
#include "ui/FormCapturing.h"
#include "ui/FormMain.h"
#include "ui/Prompts.h"

namespace {
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
  if (!ConfirmDiscard("Do you want to save the captured frames before opening another source?"))
    return;
  if (Quarn1.Active()) ActionCloseExecute();
  MirrorSettings();
  Quarn1.SetFilter(applyFilter ? Global->Filter : std::string());
  Quarn1.SetFlags(Global->Flags);
  Quarn1.SetReadTimeout(Global->ReadTimeout);
  Quarn1.SetSnapLen(Global->SnapLen);
  Quarn1.SetThreadSafe(Global->ThreadSafe);
  if (!PacketMemory) {
    std::lock_guard lock(FilingLock_);
    PacketMemory = std::make_unique<TQuarnMemory>();
  }
  // The previous capture stays as it is until the new source has opened (Quarn1Opened
  // replaces it then), so a source that cannot be opened loses nothing.
  if (Global->OpenType == 2) {
    const bool loaded = Quarn1.LoadFromFile(Global->FileName);
    lvTCPData->SetItemCount(Lists ? (*Lists)[viTCPData].Count() : 0);
    if (!loaded) {
      Prompts::ShowError(this, Text(Quarn1.LastError()));
      UpdateActions();
      return;
    }
  } else {
    // The progress window exists before the first frame can arrive; Quarn1Opened sets its
    // counters to zero.
    if (!CapturingForm) {
      CapturingForm = new TCapturingForm(this);
      CapturingForm->OnStop = [this] { Execute(ActionClose); };
    }
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
    CapturingForm->show();
  }
  StatusPanels[0]->setText(Text(SourceCaption()));
  UpdateActions();
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
  std::unique_ptr<TQuarnDump> dump;
  std::string dumpName;
  if (Global->OpenType != 2) {
    // The new capture's temporary file is opened before the previous capture is given up:
    // when it cannot be opened, the new source is closed again and nothing is lost.
    try {
      dumpName = MakeUniqueTempName("temp.$$$");
    } catch (const std::exception& e) {
      return e.what();
    }
    dump = std::make_unique<TQuarnDump>();
    dump->Open(Sender.Handle(), dumpName);
    if (!dump->Active()) return dump->LastError();
  }
  // The previous capture goes: its frames, every view and payload pane, and its temporary
  // file, which was either saved already or discarded by the user.
  if (CaptureDump) CaptureDump->Close();
  DeleteTempFile();
  ClearAllToolButtonClick();
  Modified = false;
  if (dump) {
    CaptureDump = std::move(dump);
    CurrentFileName = dumpName;
    SaveFileName.clear();
  } else {
    CurrentFileName = Global->FileName;
    SaveFileName = Global->FileName;
  }
  return {};
}

std::string TMainForm::SourceCaption() const {
  // A filter left from an earlier capture would otherwise narrow a file silently.
  if (Quarn1.Filter().empty()) return Quarn1.Source();
  return Quarn1.Source() + "   Filter: " + Quarn1.Filter();
}

bool TMainForm::HasUnsavedCapture() const {
  return IsTemporary(CurrentFileName) && Modified && PacketMemory && PacketMemory->Count() > 0;
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

std::string TMainForm::MakeUniqueTempName(const std::string& pattern) {
  std::string path = pattern.find('/') == std::string::npos ? platform::TempDirectory() + pattern
                                                            : pattern;
  if (!platform::FileExists(path)) return path;
  if (path.find('*') == std::string::npos) {
    const std::string ext = Extension(path);
    path = path.substr(0, path.size() - ext.size()) + "*" + (ext.empty() ? "." : ext);
  }
  const size_t star = path.find('*');
  const uint32_t c0 = platform::TickCount();
  for (uint32_t c = c0;; ++c) {
    if (c - c0 > 10000) {
      std::string shown = path;
      shown.replace(star, 1, "{UniqueID}");
      throw std::runtime_error(platform::Format("Can't create temp file \"%s\".", {shown}));
    }
    char id[9];
    std::snprintf(id, sizeof id, "%08X", c);
    std::string candidate = path;
    candidate.replace(star, 1, id);
    if (!platform::FileExists(candidate)) return candidate;
  }
}

bool TMainForm::IsTemporary(const std::string& fileName) { return Extension(fileName) == ".$$$"; }

// ---- Capture files ------------------------------------------------------------------------

TFileDialogRequest TMainForm::CaptureFileDialog(bool save, const char* title) {
  TFileDialogRequest r;
  r.Save = save;
  r.Title = title;
  r.Filter = Prompts::CaptureFileFilter;
  r.DefaultExtension = "cap";
  if (LastFolder_.empty() && !Global->FileName.empty()) LastFolder_ = FolderOf(Global->FileName);
  r.Directory = Text(LastFolder_);
  return r;
}

std::optional<std::string> TMainForm::ChooseCaptureFile(bool save, const char* title) {
  const auto chosen = Prompts::ChooseFile(this, CaptureFileDialog(save, title));
  if (!chosen) return std::nullopt;
  std::string path = chosen->toLocal8Bit().toStdString();
  LastFolder_ = FolderOf(path);
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
    SaveCapture(SaveFileName);
    return;
  }
  if (const auto chosen = ChooseCaptureFile(true, "Save")) SaveCapture(*chosen);
}

void TMainForm::SaveCapture(const std::string& target) {
  if (CaptureDump && CaptureDump->Active()) {
    // The frames of the store as it is now, in arrival order. Nodes never move and the walk
    // sees only nodes already published, so the walk up to the last node seen under the lock
    // needs no copy of the store, even while a capture thread goes on appending.
    const TQuarnNode* last = nullptr;
    {
      std::lock_guard lock(FilingLock_);
      if (PacketMemory) last = PacketMemory->Last;
    }
    for (const TQuarnNode* n = last ? PacketMemory->First : nullptr; n; n = PacketMemory->Next(n)) {
      CaptureDump->Write(&n->PktHdr, n->Data());
      if (n == last) break;
    }
    CaptureDump->Close();
  }
  // rename() replaces an existing target in one step, so the target is not deleted first:
  // a move that fails then leaves the old file where it was.
  const bool done = IsTemporary(CurrentFileName)
                        ? platform::MoveFile(CurrentFileName, target)
                        : platform::CopyFile(CurrentFileName, target);
  if (done) {
    CurrentFileName = target;
    SaveFileName = target;
    Modified = false;
  } else {
    // The code alone tells a user nothing: the path and the system's reason follow it. The
    // file name to save to stays as it was, so that a corrected Save As can follow.
    const int code = platform::LastError();
    Prompts::ShowError(this, Text(ErrorText(code) + ": cannot save to " + target + ": " +
                                  std::strerror(code)));
  }
  UpdateActions();
}

void TMainForm::ActionSaveAsExecute() {
  const auto chosen = ChooseCaptureFile(true, "Save As");
  if (!chosen) return;
  if (*chosen == SaveFileName) {
    Prompts::ShowError(this, "Same file name");
    return;
  }
  SaveCapture(*chosen);
}

void TMainForm::DeleteTempFile() {
  if (IsTemporary(CurrentFileName) && platform::FileExists(CurrentFileName))
    platform::DeleteFile(CurrentFileName);
}
