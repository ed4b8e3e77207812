#pragma once
// The main window: the eight packet views with their payload panes, the tool bar, menus and
// status bar, the capture pipeline that files every frame into the views, control of the
// capture sources, saving and loading capture files, and the window's layout.
#include <QMainWindow>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capture/Quarn.h"
#include "pipeline/CapturePipeline.h"
#include "pipeline/ShownRows.h"
#include "ui/Application.h"
#include "ui/PacketView.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QTimer;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTabWidget;
class QToolBar;
class QToolButton;
class TCapturingForm;
class TAdapterDlg;
class TRemoteHostDlg;
class TOpenForm;
class TRemoteAdapterForm;
class TPacketFieldForm;
class TOptionForm;
class TExportForm;
class TFileReading;
class TStatisticsMenu;

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // ---- Controls ----
  QToolBar* ToolBar;
  QToolButton *AdapterToolButton, *RemoteHostToolButton, *SaveToolButton, *OpenFileToolButton,
      *ClearAllToolButton, *FieldsToolButton, *HexToolButton;
  QTabWidget* pcView;
  TListView *lvETH, *lvIP, *lvARP, *lvICMP, *lvTCP, *lvUDP, *lvTCPData, *lvUDPData;
  QPlainTextEdit *mmTCP, *mmUDP, *mmTCPData, *mmUDPData;
  std::array<QLabel*, 3> StatusPanels{};
  QMenu* pmList;  // the list views' context menu
  QAction *miOpenFile, *miSave, *miSaveAs, *miExit, *miAdapter, *miRemoteHost, *miOptions,
      *miSelectFields, *ViewHex1, *miFollowNewRows, *miDecodeIPv6AndVLAN, *miHomePage, *miPacketField;
  // The named commands; their enabled state is set by UpdateActions.
  QAction *ActionOpen, *ActionClose, *ActionClear, *ActionOption, *ActionOpenFile, *ActionSave,
      *ActionSaveAs, *ActionExit, *ActionAbout, *ActionHomePage, *ActionPacketField, *ActionCopy,
      *ActionExport;
  // View, Follow Stream (and the lists' context menu): the conversation of the selected row
  // of the TCP, UDP, TCP Data or UDP Data view in a window of its own.
  QAction* ActionFollowStream;
  // The Statistics menu, its windows and the TCP views' tints (ui/StatisticsMenu.h).
  QMenu* miStatistics = nullptr;
  TStatisticsMenu* Statistics = nullptr;

  // ---- State ----
  TQuarn Quarn1;
  int32_t ActiveViewIndex = 0;
  // The capture on screen: its file, its frames and the lists of the eight views, in tab order.
  // There is always one, empty before the first source opens.
  std::unique_ptr<TCapturePipeline> Capture;
  // The capture of a file being opened, until the file has opened (Quarn1Opened).
  std::unique_ptr<TCapturePipeline> IncomingCapture;
  std::string CurrentFileName;
  std::string SaveFileName;
  TCaptureFormat SaveFileFormat = TCaptureFormat::Pcap;
  std::atomic<bool> Modified{false};
  TCapturingForm* CapturingForm = nullptr;
  // The secondary windows: created once and kept. The adapter and remote host dialogs are
  // created at start-up (CreateSourceDialogs), the others at first use.
  TAdapterDlg* AdapterDlg = nullptr;
  TRemoteHostDlg* RemoteHostDlg = nullptr;
  TOpenForm* OpenForm = nullptr;
  TRemoteAdapterForm* RemoteAdapterForm = nullptr;
  TPacketFieldForm* PacketFieldForm = nullptr;
  TOptionForm* OptionForm = nullptr;
  TExportForm* ExportForm = nullptr;
  void CreateSourceDialogs();

  TListView* ListView(int32_t view) const { return Views_[size_t(view)]; }
  // The payload pane of a view; nullptr for the four views without one.
  QPlainTextEdit* Memo(int32_t view) const;

  // ---- Pipeline ----
  void Quarn1Capture(TCustomQuarn& Sender, const PCAP_PKTHDR* PKTHdr, const ETH_HDR* ETHHdr);
  void RefreshActiveView();
  void UpdateAllViewCounts();
  void pcViewChange(int index);
  void BuildViews();
  TListView* GetActiveListView() const;
  // The rows view `view` shows, in the order it shows them: row r of the list view is
  // element r.
  TPacketList ShownItems(int32_t view) const;
  // While a capture runs: new rows into the active view (the only place they reach it, ten
  // times a second at most, whatever the frame rate), and a capture that cannot go on
  // (its file cannot be written) is stopped. For a capture file: a file that another
  // program changed is reported.
  void WatchCapture();
  // What the status bar says of a live capture that stopped: the frames kept, those the
  // library counted lost when it has counts (`counted`), and how long it ran.
  QString CaptureSummary(const TCaptureStatistics* counted, int64_t elapsed) const;
  void ShowCaptureSummary(const QString& text);
  QString CaptureSummary_;
  int StatusBarOverhead_ = 0;
  QTimer* WatchTimer = nullptr;
  bool FileChangeReported = false;
  // The decoding notice has been shown for this capture.
  bool DecodingNoticeShown = false;
  QPlainTextEdit* GetActiveMemo() const;

  // ---- Display filter, find, sort, go to ----
  // What the eight views show of the capture: filtered by the display filter, sorted by a
  // column. Reset with the capture; the display filter stays and applies to the next one.
  TShownViews Shown;
  QToolBar* FilterBar = nullptr;
  QComboBox* cbxDisplayFilter = nullptr;
  QToolButton *ApplyFilterButton = nullptr, *ClearFilterButton = nullptr;
  QLabel* lblFilterError = nullptr;
  QToolBar* FindBar = nullptr;
  QLineEdit* edFind = nullptr;
  QCheckBox *chkFindHex = nullptr, *chkFindCase = nullptr;
  QToolButton *FindNextButton = nullptr, *FindPreviousButton = nullptr;
  QLabel* lblFindNotice = nullptr;
  // The status bar's "Shown X of Y" of the active view, with the display filter in force.
  QLabel* ShownPanel = nullptr;
  // Says once what the decoding leaves out: a link type shown undecoded, or frames that
  // View > Decode IPv6 and VLAN would file further.
  QLabel* DecodingPanel = nullptr;
  QAction *miFind = nullptr, *miFindNext = nullptr, *miFindPrevious = nullptr,
          *miGoToFrame = nullptr;
  // Applies the display filter box's expression (Enter, Apply, a history entry).
  void ApplyFilterClick();
  // Narrows every view to the frames `expression` passes; empty shows every frame. False
  // when libpcap refuses it (its message then shows beside the box and nothing changes) or
  // when the user cancelled.
  bool ApplyDisplayFilter(const std::string& expression);
  // Edit, Find: shows the find bar and puts the cursor in it.
  void FindClick();
  // Finds the next (or previous) row of the active view holding the find bar's text, from
  // the selected row on, and selects it; the bar says when the search went round or found
  // nothing.
  void FindInView(bool forward);
  // Edit, Go to Frame: asks for an Index and goes there.
  void GoToFrameClick();
  // Selects the row of the active view that shows frame `index`; tells the user when the
  // view does not hold it. False then.
  bool GoToFrame(int32_t index);
  // A click on a column's header: sorts by it, again the other way, a third time back to
  // capture order.
  void SortColumnClick(int32_t view, int32_t column);
  // The frame of the selected row of `view`, or 0.
  int32_t SelectedFrame(int32_t view) const;
  // Shows the rows of every view again after a filter or a sort, with the frames that were
  // selected still selected where they are shown.
  void ShowNewOrder(const std::array<int32_t, ViewCount>& selected);
  void UpdateShownCount();
  TShownViews::TOffsets DataOffsets() const;

  // ---- Payload panes ----
  void ShowPayload();
  void lvDataChange();
  void HexToolButtonClick();
  // View, Follow New Rows: every view keeps to its newest rows while at its last one, or not.
  void FollowNewRowsClick();
  void DecodeIPv6AndVLANClick();
  void ShowDecodingNotice();
  void FitAddressColumns(bool ipv6);
  // Opens a Follow Stream window on the selected row's conversation; nothing for another view
  // or without a selected row.
  void ActionFollowStreamExecute();
  // Follow Stream is enabled on a selected row of the TCP, UDP, TCP Data or UDP Data view.
  void UpdateFollowStream();

  // ---- Commands ----
  // Runs a command object: only while it is enabled, as the command's own trigger does.
  static void Execute(QAction* action);
  void UpdateActions();
  void ActionCloseExecute();
  void ActionClearExecute();
  // The user's Clear All: asks first about a stopped capture that was not saved.
  void ClearAllToolButtonClick();
  void ActionExitExecute();
  void ActionHomePageExecute();
  void AdapterToolButtonClick();
  void RemoteHostToolButtonClick();
  void ActionOpenExecute();
  void ActionOptionExecute();
  void ActionPacketFieldExecute();
  // Edit > Copy: the selected rows of the active view to the clipboard (ui/FormExport.h).
  void ActionCopyExecute();
  // File > Export: rows of the active view to a CSV or tab-separated file.
  void ActionExportExecute();
  void Quarn1GetRemoteAdapterInfo(TCustomQuarn& Sender, const TStringList& AdapterNames,
                                  const TStringList& AdapterDescriptions, int32_t& AdapterIndex);
  // Opens the source the settings name. applyFilter false opens it without the stored
  // capture filter, which stays stored.
  void OpenSource(bool applyFilter = true);
  // A large file is read while the window goes on (TFileReading): its rows come in on the
  // watch timer, the status bar shows how far the reading is, and its Cancel (or Close) stops
  // it, keeping what was read.
  bool ReadingFile() const { return Reading_ != nullptr; }
  QLabel* ReadingPanel = nullptr;
  QToolButton* CancelReadButton = nullptr;
  // The capture file named on the command line: opened as File, Open File opens one, but
  // without the capture filter, as a file given by name is expected whole.
  void OpenFileAtStart(const std::string& file);
  // The component's OnOpened: the new source has opened, so the previous capture goes.
  // Returns the reason to give the new source up, or an empty text.
  std::string Quarn1Opened(TCustomQuarn& Sender);
  // A live or remote capture with frames that are only in its temporary file.
  bool HasUnsavedCapture() const;
  // Asks whether to save an unsaved capture first; false when the user cancelled, or when a
  // save that was asked for did not happen.
  bool ConfirmDiscard(const char* question);
  // Before the user's Clear or Clear All: false when the capture is to stay as it is.
  bool ConfirmClear();

  // ---- Capture files ----
  void ActionOpenFileExecute();
  void ActionSaveExecute();
  void ActionSaveAsExecute();
  // Saves the capture to `target` in `format`; on success it becomes the file saved to.
  void SaveCapture(const std::string& target, TCaptureFormat format);
  // True for a file whose extension is exactly ".$$$".
  static bool IsTemporary(const std::string& fileName);

  // ---- Layout ----
  void LoadLayout();
  void SaveLayout();

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void FormResize();
  void FormClose();
  // Empties the store, the lists and the counters, and sets every view to no rows.
  void EmptyCapture();
  // Empties the capture, every view and payload pane, without asking: for a new source,
  // whose question was asked before it opened, and for Clear All once the user has answered.
  void ClearAll();
  void CreateActions();
  void CreateToolBar();
  void CreateMenus();
  void CreatePages();
  void CreateStatusBar();
  void CreateFilterBar();
  void CreateFindBar();
  // The display filter box lists the history, newest first.
  void FillFilterHistory();
  std::vector<struct TNamedColumns> NamedViews() const;
  // The row texts of view `view`, for its model.
  void RowText(int32_t view, int32_t position, TRowText& row) const;
  // Runs a handler and reports an exception that escapes it, ending that action only.
  template <class F>
  void Guarded(F&& handler);

  void OpenCaptureFile();
  void ShowReadingProgress();
  // The end of reading a file: what was read is shown, and a file cut short is reported.
  void FinishFileRead(TCapturePipeline::TReadResult result, const std::string& error);
  std::unique_ptr<TFileReading> Reading_;
  // A sort asked for while a file is read waits for its end: the rows still coming would
  // each have to find their place among the sorted ones.
  std::optional<std::pair<int32_t, int32_t>> SortAfterReading_;

  std::array<TListView*, ViewCount> Views_{};
  bool Shown_ = false;
  bool Closed_ = false;
  // The ThreadSafe setting, copied after every dialog that may change it: whether the active
  // view takes a running capture's rows as they come (on WatchCapture's beat), or waits for a
  // tab change or the stop.
  bool RefreshWhileCapturing_ = true;
  // A filter, sort, find or export is running with its progress shown: the rows it reads
  // must not move, so the capture's new rows wait.
  bool Busy_ = false;
  class TBusyScope {
   public:
    explicit TBusyScope(bool& busy) : Busy_(busy) { Busy_ = true; }
    ~TBusyScope() { Busy_ = false; }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

   private:
    bool& Busy_;
  };
  void MirrorSettings();
  // The status bar's text for the open source, with its filter.
  std::string SourceCaption() const;
  // The capture file dialogs open in the folder of the last file opened or saved: one where
  // a save failed may be no place to start again (it may not even be there).
  std::string LastFolder_;
  void RememberFolderOf(const std::string& file);
  struct TFileDialogRequest CaptureFileDialog(bool save, const char* title);
  // `format`, when given, takes the format the save dialog's choice or the name asks for.
  std::optional<std::string> ChooseCaptureFile(bool save, const char* title,
                                               TCaptureFormat* format = nullptr);
};

template <class F>
void TMainForm::Guarded(F&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    TApplication::ReportException(e.what());
  }
}
