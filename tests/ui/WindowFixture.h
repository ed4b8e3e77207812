#pragma once
// What the window tests share: a settings file of their own in a temporary folder, answers
// for message boxes and file dialogs, and a helper to read a view's cells through its model.
#include <QApplication>
#include <QDialog>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/Globals.h"
#include "tests/common/Frames.h"
#include "ui/PacketView.h"
#include "ui/Prompts.h"

// Records every message box and answers file dialogs from a queue of paths (an empty queue,
// or an empty path, cancels).
class TTestAnswerer : public TPromptAnswerer {
 public:
  struct Box {
    QString Caption, Text;
    bool Error;
  };
  std::vector<Box> Boxes;
  std::deque<QString> Files;
  // The filter each file dialog ends on, in order; without one it keeps its first.
  std::deque<QString> Filters;
  std::vector<TFileDialogRequest> FileRequests;
  // Answers to the save question, in order; without one the capture is discarded.
  std::deque<TSaveChoice> SaveChoices;
  std::vector<QString> SaveQuestions;

  void Message(const QString& caption, const QString& text, bool error) override {
    Boxes.push_back({caption, text, error});
  }
  TSaveChoice SaveQuestion(const QString& text) override {
    SaveQuestions.push_back(text);
    if (SaveChoices.empty()) return TSaveChoice::Discard;
    const TSaveChoice answer = SaveChoices.front();
    SaveChoices.pop_front();
    return answer;
  }
  // Shows Qt's own file dialogs instead, for a test that answers them itself.
  bool RealFileDialogs = false;

  std::optional<QString> File(const TFileDialogRequest& request, QString& filter) override {
    if (RealFileDialogs) {
      Prompts::SetAnswerer(nullptr);
      const auto chosen = Prompts::ChooseFile(nullptr, request, &filter);
      Prompts::SetAnswerer(this);
      return chosen;
    }
    FileRequests.push_back(request);
    if (!Filters.empty()) {
      filter = Filters.front();
      Filters.pop_front();
    }
    if (Files.empty()) return std::nullopt;
    const QString answer = Files.front();
    Files.pop_front();
    if (answer.isEmpty()) return std::nullopt;
    return answer;
  }
  std::vector<QString> Texts() const {
    std::vector<QString> t;
    for (const auto& b : Boxes) t.push_back(b.Text);
    return t;
  }
};

// A settings object on a file in a fresh folder, installed as Global, with the answerer.
class TSettingsScope {
 public:
  TSettingsScope() : Ini(Dir.File("Trellan.ini")) { Open(); }
  ~TSettingsScope() {
    Prompts::SetAnswerer(nullptr);
    Close();
  }
  // A second run of the program on the same settings file.
  void Reopen() {
    Close();
    Open();
  }
  TempDir Dir;
  std::string Ini;
  std::unique_ptr<TGlobal> Settings;
  TTestAnswerer Answers;

 private:
  void Open() {
    Settings = std::make_unique<TGlobal>(Ini);
    Global = Settings.get();
    Prompts::SetAnswerer(&Answers);
  }
  void Close() {
    Settings.reset();
    Global = nullptr;
  }
};

// Answers the next modal dialog the program shows, as a user would; a test failure when none
// shows within five seconds.
void OnNextDialog(std::function<void(QDialog&)> answer);
// Lets queued events (row announcements, repaints) run.
void ProcessEvents(int rounds = 3);
// The text of a cell as the view shows it.
QString Cell(TListView* view, int row, int column);
// The captions of the columns that are visible.
std::vector<std::string> VisibleColumns(TListView* view);
