// The main window's control of capture sources and of capture files: opening a source,
// closing and clearing it, and saving and loading captures.
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QLabel>
#include <cstdio>

#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/System.h"
#include "settings/Globals.h"
#include "ui/FormCapturing.h"
#include "ui/FormMain.h"
#include "ui/Prompts.h"

namespace {
QString Text(const std::string& s) { return QString::fromLocal8Bit(s.data(), qsizetype(s.size())); }

// The capture file dialogs: default extension "cap". "All Files" matches every name: on
// Linux many files have no extension, which "*.*" would hide.
TFileDialogRequest CaptureFileDialog(bool save) {
  TFileDialogRequest r;
  r.Save = save;
  r.Filter = "Capture Files (*.cap);;All Files (*)";
  r.DefaultExtension = "cap";
  return r;
}

std::string ErrorText(int code) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Error $%04X", unsigned(code));
  return buf;
}

std::string Extension(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot);
}
}  // namespace

// ---- Sources ------------------------------------------------------------------------------

void TMainForm::OpenSource() {
  MirrorSettings();
  Quarn1.SetFilter(Global->Filter);
  Quarn1.SetFlags(Global->Flags);
  Quarn1.SetReadTimeout(Global->ReadTimeout);
  Quarn1.SetSnapLen(Global->SnapLen);
  Quarn1.SetThreadSafe(Global->ThreadSafe);
  if (!PacketMemory) {
    std::lock_guard lock(FilingLock_);
    PacketMemory = std::make_unique<TQuarnMemory>();
  }
  Execute(ActionClear);

  if (Global->OpenType == 2) {
    const bool loaded = Quarn1.LoadFromFile(Global->FileName);
    lvTCPData->SetItemCount(Lists ? (*Lists)[viTCPData].Count() : 0);
    if (loaded) {
      CurrentFileName = Global->FileName;
      SaveFileName = Global->FileName;
    } else {
      Prompts::ShowError(this, Text(Quarn1.LastError()));
    }
  } else {
    // The progress window exists and counts from zero before the first frame can arrive.
    if (!CapturingForm) {
      CapturingForm = new TCapturingForm(this);
      CapturingForm->OnStop = [this] { Execute(ActionClose); };
    }
    if (!Quarn1.Active()) CapturingForm->ResetCounters();
    if (Global->OpenType == 0) {
      Quarn1.SetAdapterIndex(Global->AdapterIndex);
      Quarn1.Open(true);
    } else {
      Quarn1.Open(Global->Host, Global->UserName, Global->Password);
    }
    // Success is judged by the component's state: opening while a capture runs is refused,
    // and the running capture goes on into a new temporary file.
    if (Quarn1.Active()) {
      CapturingForm->ResetCounters();
      CapturingForm->show();
      if (!CaptureDump) CaptureDump = std::make_unique<TQuarnDump>();
      CaptureDump->Close();
      CurrentFileName = MakeUniqueTempName("temp.$$$");
      SaveFileName.clear();
      CaptureDump->Open(Quarn1.Handle(), CurrentFileName);
      if (!CaptureDump->Active()) {
        Prompts::ShowError(this, Text(CaptureDump->LastError()));
        CapturingForm->close();
        return;
      }
    } else {
      if (CapturingForm->isVisible()) CapturingForm->close();
      Prompts::ShowError(this, Text(Quarn1.LastError()));
    }
  }
  StatusPanels[0]->setText(Text(Quarn1.Source()));
  UpdateActions();
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

void TMainForm::ActionOpenFileExecute() {
  TFileDialogRequest request = CaptureFileDialog(false);
  request.Title = "Open File";
  const auto chosen = Prompts::ChooseFile(this, request);
  if (!chosen) return;
  Global->FileName = chosen->toLocal8Bit().toStdString();
  Global->OpenType = 2;
  Global->Save();
  MirrorSettings();
  Execute(ActionOpen);
}

void TMainForm::ActionSaveExecute() {
  if (SaveFileName.empty()) {
    TFileDialogRequest request = CaptureFileDialog(true);
    request.Title = "Save";
    const auto chosen = Prompts::ChooseFile(this, request);
    if (!chosen) return;
    SaveFileName = chosen->toLocal8Bit().toStdString();
  }
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
                        ? platform::MoveFile(CurrentFileName, SaveFileName)
                        : platform::CopyFile(CurrentFileName, SaveFileName);
  if (done) {
    CurrentFileName = SaveFileName;
    Modified = false;
  } else {
    Prompts::ShowError(this, Text(ErrorText(platform::LastError())));
  }
  UpdateActions();
}

void TMainForm::ActionSaveAsExecute() {
  TFileDialogRequest request = CaptureFileDialog(true);
  request.Title = "Save As";
  const auto chosen = Prompts::ChooseFile(this, request);
  if (!chosen) return;
  const std::string name = chosen->toLocal8Bit().toStdString();
  if (name == SaveFileName) {
    Prompts::ShowError(this, "Same file name");
    return;
  }
  SaveFileName = name;
  ActionSave->setEnabled(true);
  Execute(ActionSave);
}

void TMainForm::DeleteTempFile() {
  if (IsTemporary(CurrentFileName) && platform::FileExists(CurrentFileName))
    platform::DeleteFile(CurrentFileName);
}
