#include "ui/FormMain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <pcap/pcap.h>

#include "platform/Files.h"
#include "presentation/ColumnWidths.h"
#include "presentation/PayloadText.h"
#include "settings/Globals.h"
#include "ui/Application.h"
#include "ui/FixedDialog.h"
#include "ui/FileReading.h"
#include "ui/FormCapturing.h"
#include "ui/FormFollowStream.h"
#include "ui/Prompts.h"
#include "ui/StatisticsMenu.h"
#include "ui/WorkProgress.h"
#include "ui/ToolIcons.h"

namespace {
const char* const HomePageName = "Trellan documentation";
// The source's caption takes what the others leave.
constexpr int StatusPanelWidths[3] = {0, 170, 120};
// What the source's caption keeps of a narrow window beside a capture's summary.
constexpr int MinimumCaptionWidth = 60;

// The program's documentation, shown by Help, Home Page: the README installed beside the
// program, or for a program run where it was built, the README of its source tree. Empty
// when neither is there.
QString DocumentationPath() {
  const QString installed =
      QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(TRELLAN_INSTALLED_README);
  for (const QString& path : {installed, QStringLiteral(TRELLAN_SOURCE_README)})
    if (QFileInfo::exists(path)) return QFileInfo(path).canonicalFilePath();
  return {};
}

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) { FormCreate(); }

TMainForm::~TMainForm() {
  // The capture and reading threads must be gone before the store and lists they file into,
  // and the statistics' threads before the store they read.
  Statistics->CaptureGoing();
  Reading_.reset();
  Quarn1.Close();
}

// ---- Creation -----------------------------------------------------------------------------

void TMainForm::FormCreate() {
  setObjectName("MainForm");
  setWindowTitle("Trellan 1.0");
  // The window's columns and tool buttons have fixed pixel widths, drawn for a small font.
  setFont(TFixedDialog::DesignFont());
  resize(600, 450);
  CreateActions();
  CreateToolBar();
  CreateFilterBar();
  CreateMenus();
  CreatePages();
  CreateFindBar();
  Capture = std::make_unique<TCapturePipeline>();
  CreateStatusBar();
  BuildViews();
  Statistics = new TStatisticsMenu(*this, miStatistics);
  WatchTimer = new QTimer(this);
  WatchTimer->setInterval(100);
  connect(WatchTimer, &QTimer::timeout, this, [this] { WatchCapture(); });
  WatchTimer->start();
  CurrentFileName.clear();
  SaveFileName.clear();
  Modified = false;

  Quarn1.SetAdapterIndex(-1);
  Quarn1.SetCaptureEnabled(true);
  Quarn1.SetThreadSafe(true);
  Quarn1.SetSnapLen(68);
  Quarn1.SetFlags(1);
  Quarn1.SetReadTimeout(100);
  Quarn1.OnCapture = [this](TCustomQuarn& sender, const PCAP_PKTHDR* h, const ETH_HDR* e) {
    Quarn1Capture(sender, h, e);
  };
  Quarn1.OnOpened = [this](TCustomQuarn& sender) { return Quarn1Opened(sender); };
  Quarn1.OnGetRemoteAdapterInfo = [this](TCustomQuarn& sender, const TStringList& names,
                                         const TStringList& descriptions, int32_t& index) {
    Quarn1GetRemoteAdapterInfo(sender, names, descriptions, index);
  };
}

void TMainForm::CreateActions() {
  auto command = [this](const char* name, const char* caption, auto handler) {
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, [this, handler] { Guarded(handler); });
    return action;
  };
  ActionOpen = command("ActionOpen", "Open", [this] { ActionOpenExecute(); });
  ActionClose = command("ActionClose", "Close", [this] { ActionCloseExecute(); });
  ActionClear = command("ActionClear", "Clear", [this] { ActionClearExecute(); });
  ActionOption = command("ActionOption", "Option", [this] { ActionOptionExecute(); });
  ActionOpenFile = command("ActionOpenFile", "Open File", [this] { ActionOpenFileExecute(); });
  ActionSave = command("ActionSave", "Save", [this] { ActionSaveExecute(); });
  ActionSaveAs = command("ActionSaveAs", "Save &As", [this] { ActionSaveAsExecute(); });
  ActionExit = command("ActionExit", "E&xit", [this] { ActionExitExecute(); });
  ActionAbout = command("ActionAbout", "&About", [] {});
  ActionHomePage = command("ActionHomePage", "&Home Page", [this] { ActionHomePageExecute(); });
  ActionPacketField =
      command("ActionPacketField", "Packet Field", [this] { ActionPacketFieldExecute(); });
  ActionFollowStream =
      command("ActionFollowStream", "Follow Stream", [this] { ActionFollowStreamExecute(); });
  ActionFollowStream->setShortcut(QKeySequence("Ctrl+T"));
  ActionFollowStream->setEnabled(false);
  addAction(ActionFollowStream);
  ActionCopy = command("ActionCopy", "&Copy", [this] { ActionCopyExecute(); });
  ActionCopy->setShortcut(QKeySequence::Copy);
  ActionExport = command("ActionExport", "&Export...", [this] { ActionExportExecute(); });
}

void TMainForm::CreateToolBar() {
  ToolBar = new QToolBar(this);
  ToolBar->setObjectName("ToolBar");
  ToolBar->setMovable(false);
  ToolBar->setFloatable(false);
  ToolBar->setIconSize(QSize(24, 24));
  ToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  addToolBar(Qt::TopToolBarArea, ToolBar);
  auto button = [this](const char* name, const char* caption, TToolImage image, auto handler) {
    auto* b = new QToolButton(ToolBar);
    b->setObjectName(name);
    b->setText(caption);
    b->setIcon(ToolIcon(image));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setFixedSize(69, 44);
    b->setAutoRaise(true);
    connect(b, &QToolButton::clicked, this, [this, handler] { Guarded(handler); });
    ToolBar->addWidget(b);
    return b;
  };
  auto separator = [this] {
    auto* gap = new QWidget(ToolBar);
    gap->setFixedWidth(8);
    ToolBar->addWidget(gap);
  };
  AdapterToolButton = button("AdapterToolButton", "Adapter", TToolImage::Adapter,
                             [this] { AdapterToolButtonClick(); });
  RemoteHostToolButton = button("RemoteHostToolButton", "Remote Host", TToolImage::RemoteHost,
                                [this] { RemoteHostToolButtonClick(); });
  separator();
  SaveToolButton = button("SaveToolButton", "Save", TToolImage::Save, [this] { ActionSaveExecute(); });
  OpenFileToolButton = button("OpenFileToolButton", "Open File", TToolImage::OpenFile,
                              [this] { ActionOpenExecute(); });
  separator();
  ClearAllToolButton = button("ClearAllToolButton", "Clear All", TToolImage::ClearAll,
                              [this] { ClearAllToolButtonClick(); });
  separator();
  FieldsToolButton = button("FieldsToolButton", "Select Fields", TToolImage::SelectFields,
                            [this] { ActionPacketFieldExecute(); });
  HexToolButton = button("HexToolButton", "View Hex", TToolImage::ViewHex,
                         [this] { HexToolButtonClick(); });
  HexToolButton->setCheckable(true);
}

void TMainForm::CreateMenus() {
  auto item = [this](QMenu* menu, const char* name, const char* caption, auto handler,
                     QKeySequence shortcut = {}) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    a->setShortcut(shortcut);
    connect(a, &QAction::triggered, this, [this, handler] { Guarded(handler); });
    return a;
  };
  QMenu* file = menuBar()->addMenu("&File");
  miOpenFile = item(file, "miOpenFile", "Open File", [this] { ActionOpenFileExecute(); },
                    QKeySequence("Ctrl+O"));
  file->addSeparator();
  miSave = item(file, "miSave", "Save", [this] { ActionSaveExecute(); }, QKeySequence("Ctrl+S"));
  miSaveAs = item(file, "miSaveAs", "Save &As", [this] { ActionSaveAsExecute(); },
                  QKeySequence("Shift+Ctrl+S"));
  file->addAction(ActionExport);
  file->addSeparator();
  miExit = item(file, "miExit", "E&xit", [this] { ActionExitExecute(); });

  QMenu* edit = menuBar()->addMenu("&Edit");
  edit->addAction(ActionCopy);
  edit->addSeparator();
  miFind = item(edit, "miFind", "&Find...", [this] { FindClick(); }, QKeySequence("Ctrl+F"));
  miFindNext = item(edit, "miFindNext", "Find &Next", [this] { FindInView(true); },
                    QKeySequence("F3"));
  miFindPrevious = item(edit, "miFindPrevious", "Find &Previous", [this] { FindInView(false); },
                        QKeySequence("Shift+F3"));
  edit->addSeparator();
  miGoToFrame = item(edit, "miGoToFrame", "&Go to Frame...", [this] { GoToFrameClick(); },
                     QKeySequence("Ctrl+G"));

  QMenu* capture = menuBar()->addMenu("Capture");
  miAdapter = item(capture, "miAdapter", "Adapter", [this] { AdapterToolButtonClick(); },
                   QKeySequence("Ctrl+A"));
  miRemoteHost = item(capture, "miRemoteHost", "Remote Host",
                      [this] { RemoteHostToolButtonClick(); }, QKeySequence("Ctrl+R"));
  capture->addSeparator();
  miOptions = item(capture, "miOptions", "Options", [this] { ActionOptionExecute(); });

  QMenu* view = menuBar()->addMenu("View");
  miSelectFields = item(view, "miSelectFields", "Select Fields", [this] { ActionPacketFieldExecute(); });
  ViewHex1 = item(view, "ViewHex1", "View Hex", [this] { HexToolButtonClick(); });
  ViewHex1->setCheckable(true);
  miFollowNewRows =
      item(view, "miFollowNewRows", "Follow New Rows", [this] { FollowNewRowsClick(); });
  miFollowNewRows->setCheckable(true);
  miFollowNewRows->setChecked(true);
  miDecodeIPv6AndVLAN = item(view, "miDecodeIPv6AndVLAN", "Decode IPv6 and VLAN",
                             [this] { DecodeIPv6AndVLANClick(); });
  miDecodeIPv6AndVLAN->setCheckable(true);
  view->addSeparator();
  view->addAction(ActionFollowStream);
  miStatistics = menuBar()->addMenu("&Statistics");

  // The one menu item bound to its command: it takes the command's caption and state.
  QMenu* help = menuBar()->addMenu("Help");
  help->addAction(ActionHomePage);
  miHomePage = ActionHomePage;

  pmList = new QMenu(this);
  pmList->setObjectName("pmList");
  miPacketField = item(pmList, "miPacketField", "Select Fields", [this] { ActionPacketFieldExecute(); });
  pmList->addAction(ActionCopy);
  pmList->addAction(ActionFollowStream);
}

void TMainForm::CreatePages() {
  pcView = new QTabWidget(this);
  pcView->setObjectName("pcView");
  pcView->setMinimumHeight(50);
  setCentralWidget(pcView);
  QFont memoFont("Courier New");
  memoFont.setStyleHint(QFont::TypeWriter);
  memoFont.setPixelSize(11);
  std::array<QPlainTextEdit**, ViewCount> memos = {nullptr, nullptr, nullptr, nullptr,
                                                   &mmTCP,  &mmUDP,  &mmTCPData, &mmUDPData};
  std::array<TListView**, ViewCount> views = {&lvETH, &lvIP,  &lvARP,     &lvICMP,
                                              &lvTCP, &lvUDP, &lvTCPData, &lvUDPData};
  for (int32_t v = 0; v < ViewCount; ++v) {
    const TViewSpec& layout = ViewSpecs[size_t(v)];
    auto* list = new TListView(layout.Name);
    list->setToolTip(layout.Hint);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this, list](const QPoint& at) { pmList->popup(list->viewport()->mapToGlobal(at)); });
    list->Model()->SetRowHandler(
        [this, v](int32_t position, TRowText& row) { RowText(v, position, row); });
    connect(list, &TListView::ColumnClicked, this,
            [this, v](int column) { Guarded([&] { SortColumnClick(v, column); }); });
    Views_[size_t(v)] = *views[size_t(v)] = list;
    QWidget* page = list;
    if (memos[size_t(v)]) {
      auto* memo = new QPlainTextEdit;
      memo->setObjectName(QString("mm") + (layout.Name + 2));
      memo->setFont(memoFont);
      memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
      memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      *memos[size_t(v)] = memo;
      auto* splitter = new QSplitter(Qt::Vertical);
      splitter->setObjectName(QString("Splitter") + (layout.Name + 2));
      splitter->setHandleWidth(2);
      splitter->addWidget(list);
      splitter->addWidget(memo);
      splitter->setStretchFactor(0, 1);
      splitter->setStretchFactor(1, 0);
      splitter->setSizes({300, 77});
      page = splitter;
      connect(list, &TListView::ItemChanged, this, [this] { lvDataChange(); });
    }
    pcView->addTab(page, layout.Caption);
  }
  connect(pcView, &QTabWidget::currentChanged, this, [this](int index) { pcViewChange(index); });
}

void TMainForm::CreateStatusBar() {
  ShownPanel = new QLabel(this);
  ShownPanel->setObjectName("ShownPanel");
  ShownPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  statusBar()->addWidget(ShownPanel);
  const int* widths = StatusPanelWidths;
  for (int i = 0; i < 3; ++i) {
    auto* panel = new QLabel(this);
    panel->setObjectName(QString("StatusPanel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    if (widths[i]) panel->setFixedWidth(widths[i]);
    statusBar()->addWidget(panel, i == 0 ? 1 : 0);
    StatusPanels[size_t(i)] = panel;
  }
  StatusPanels[1]->setText(HomePageName);
  ReadingPanel = new QLabel(this);
  ReadingPanel->setObjectName("ReadingPanel");
  ReadingPanel->hide();
  statusBar()->addPermanentWidget(ReadingPanel);
  CancelReadButton = new QToolButton(this);
  CancelReadButton->setObjectName("CancelReadButton");
  CancelReadButton->setText("Cancel");
  CancelReadButton->setToolTip("Stop reading the file; the frames read so far stay");
  CancelReadButton->hide();
  connect(CancelReadButton, &QToolButton::clicked, this, [this] { Guarded([this] { ActionCloseExecute(); }); });
  statusBar()->addPermanentWidget(CancelReadButton);
  DecodingPanel = new QLabel(this);
  DecodingPanel->setObjectName("DecodingPanel");
  DecodingPanel->hide();
  statusBar()->addPermanentWidget(DecodingPanel);
  UpdateShownCount();
}

QPlainTextEdit* TMainForm::Memo(int32_t view) const {
  switch (view) {
    case viTCP: return mmTCP;
    case viUDP: return mmUDP;
    case viTCPData: return mmTCPData;
    case viUDPData: return mmUDPData;
    default: return nullptr;
  }
}

// ---- Pipeline -----------------------------------------------------------------------------

void TMainForm::BuildViews() {
  std::array<TColumnList*, ViewCount> views{};
  for (int32_t v = 0; v < ViewCount; ++v) views[size_t(v)] = Views_[size_t(v)];
  ::BuildViews(views);
}

void TMainForm::Quarn1Capture(TCustomQuarn&, const PCAP_PKTHDR* PKTHdr, const ETH_HDR* ETHHdr) {
  Modified.store(true, std::memory_order_relaxed);
  // A frame that cannot be kept (the disk is full) is refused by the capture, which then
  // stops taking frames; WatchCapture stops the source and says why.
  Capture->Add(PKTHdr, reinterpret_cast<const uint8_t*>(ETHHdr));
  // The views are not touched here: a frame reaches the lists only when the pipeline has
  // written it to the file, and WatchCapture takes the new rows into the active view on its
  // own beat, so that the views repaint at a bounded rate however fast frames arrive.
}

void TMainForm::WatchCapture() {
  // A sort or filter that shows its progress lets the event loop run; the rows it works on
  // must not change under it.
  if (Busy_) return;
  if (Reading_) {
    if (Reading_->Finished()) {
      std::string error;
      const auto result = Reading_->Wait(error);
      Reading_.reset();
      FinishFileRead(result, error);
    } else {
      Shown.Extend(*Capture, DataOffsets());
      RefreshActiveView();
      ShowReadingProgress();
    }
    return;
  }
  if (Quarn1.Active()) {
    // Frames reach the views when they have been written to the capture's file, which is
    // after their own delivery. This timer is the only place a running capture's rows reach
    // the active view, which bounds its repaints to the timer's rate.
    if (RefreshWhileCapturing_) {
      Shown.Extend(*Capture, DataOffsets());
      RefreshActiveView();
    }
    ShowDecodingNotice();
    // A capture the user did not stop ends here, whatever ended it: the file could not be
    // written, or the source stopped giving frames. What it captured stays, to be saved.
    if (Capture->Failed() || Quarn1.CaptureEnded()) {
      const bool fileFailed = Capture->Failed();
      ActionCloseExecute();
      // The reason is read after Close, which learns how a capture helper ended.
      std::string reason = fileFailed ? Capture->Error() : Quarn1.StopReason();
      if (reason.ends_with('.')) reason.pop_back();  // the library's sentences bring their own
      const QString stopped = QString::fromLocal8Bit("The capture was stopped: " + reason + ".");
      ShowCaptureSummary(CaptureSummary_.isEmpty() ? stopped : CaptureSummary_ + ". " + stopped);
      Prompts::ShowError(this, stopped);
    }
    return;
  }
  if (!FileChangeReported && Capture->CheckFileChanged()) {
    FileChangeReported = true;
    for (TListView* view : Views_) {
      view->Model()->Invalidate();
      view->viewport()->update();
    }
    ShowPayload();
    Prompts::ShowError(this, QString::fromLocal8Bit(
                                 "The capture file " + Capture->FileName() +
                                 " was changed by another program. Frames it no longer holds "
                                 "are shown as unreadable."));
  }
}

void TMainForm::RowText(int32_t view, int32_t position, TRowText& row) const {
  ViewRowText(view, ShownItems(view), position, Global->TCPDataOffset, Global->UDPDataOffset, row);
}

TListView* TMainForm::GetActiveListView() const {
  return ActiveViewIndex >= 0 && ActiveViewIndex < ViewCount ? Views_[size_t(ActiveViewIndex)]
                                                             : nullptr;
}

TPacketList TMainForm::ShownItems(int32_t view) const { return Shown.Items(*Capture, view); }

QPlainTextEdit* TMainForm::GetActiveMemo() const { return Memo(ActiveViewIndex); }

void TMainForm::RefreshActiveView() {
  TListView* view = GetActiveListView();
  if (!view) return;
  const int32_t count = Shown.Count(*Capture, ActiveViewIndex);
  if (view->ItemCount() != count) {
    view->SetItemCount(count);
    // New frames take their places among the sorted rows, not only at the end.
    if (Shown.View(ActiveViewIndex).Sorted()) {
      view->Model()->Invalidate();
      view->viewport()->update();
    }
  }
  UpdateShownCount();
}

void TMainForm::UpdateAllViewCounts() {
  for (int32_t v = 0; v < ViewCount; ++v) {
    Views_[size_t(v)]->SetItemCount(Shown.Count(*Capture, v));
    Views_[size_t(v)]->Model()->Flush();
  }
  UpdateShownCount();
}

void TMainForm::pcViewChange(int index) {
  ActiveViewIndex = index;
  UpdateAllViewCounts();
  UpdateFollowStream();
}

// ---- Payload panes ------------------------------------------------------------------------

void TMainForm::ShowPayload() {
  TListView* view = GetActiveListView();
  if (!view) return;
  const TPacketList items = ShownItems(ActiveViewIndex);
  const int32_t row = view->SelectedRow();
  if (row < 0 || size_t(row) >= items.size()) return;
  QPlainTextEdit* memo = GetActiveMemo();
  if (!memo) return;
  const int32_t offset = PayloadOf(ActiveViewIndex) == TPayloadKind::TCP
                             ? Global->TCPDataOffset
                             : Global->UDPDataOffset;
  // The payload's bytes are 8-bit text.
  const std::string text = PaneLines(
      PayloadText(ActiveViewIndex, items[size_t(row)], offset, HexToolButton->isChecked()));
  memo->setPlainText(QString::fromLatin1(text.data(), qsizetype(text.size())));
}

void TMainForm::lvDataChange() {
  ShowPayload();
  UpdateFollowStream();
}

void TMainForm::UpdateFollowStream() {
  const int32_t v = ActiveViewIndex;
  const TListView* view = GetActiveListView();
  ActionFollowStream->setEnabled(HasPayloadPane(v) &&
                                 view && view->SelectedRow() >= 0);
}

void TMainForm::ActionFollowStreamExecute() {
  const int32_t view = ActiveViewIndex;
  if (!HasPayloadPane(view)) return;
  const int32_t row = GetActiveListView()->SelectedRow();
  const TPacketList items = ShownItems(view);
  if (row < 0 || size_t(row) >= items.size()) return;
  auto conversation = FollowConversation(*Capture, items[size_t(row)]);
  if (!conversation) {
    Prompts::ShowError(this, "The selected frame's TCP or UDP ports were not captured.");
    return;
  }
  auto* form = new TFollowStreamForm(this, *Capture, std::move(*conversation),
                                     [this] { return Capture.get(); });
  form->show();
}

void TMainForm::HexToolButtonClick() {
  // The tool button and the menu item toggle themselves when clicked; the state that counts
  // is the one before the click, which the other face still shows.
  const bool hex = sender() == ViewHex1 ? !HexToolButton->isChecked() : HexToolButton->isChecked();
  HexToolButton->setChecked(hex);
  ViewHex1->setChecked(hex);
  ShowPayload();
}

void TMainForm::DecodeIPv6AndVLANClick() {
  const bool deep = miDecodeIPv6AndVLAN->isChecked();
  if (Busy_) {
    miDecodeIPv6AndVLAN->setChecked(!deep);
    return;
  }
  std::array<int32_t, ViewCount> selected{};
  for (int32_t v = 0; v < ViewCount; ++v) selected[size_t(v)] = SelectedFrame(v);
  bool filed;
  {
    const TBusyScope busy(Busy_);
    TWorkProgress progress(this, "Decode IPv6 and VLAN", "Filing the frames again");
    filed = Capture->Refile(deep, progress.Handler());
  }
  if (!filed) {
    // Cancelled: the frames stay filed as they were.
    miDecodeIPv6AndVLAN->setChecked(!deep);
    return;
  }
  Global->DecodeIPv6AndVLAN = deep;
  FitAddressColumns(deep);
  // The views hold other frames now: a sort goes, the display filter is applied again.
  const std::string expression = Shown.Filter().Expression();
  Shown.Reset();
  for (TListView* view : Views_) view->ShowSortIndicator(-1, false);
  if (expression.empty() || !ApplyDisplayFilter(expression)) Shown.Extend(*Capture, DataOffsets());
  for (TListView* view : Views_) view->Model()->Invalidate();
  ShowNewOrder(selected);
  UpdateAllViewCounts();
  ShowPayload();
  if (deep) DecodingPanel->hide();
  Global->Save();
}

void TMainForm::FitAddressColumns(bool ipv6) {
  // An IP address column the user has not resized widens to an IPv6 address while IPv6 is
  // decoded, and goes back to its width otherwise; a width the user chose stays.
  for (int32_t v = 0; v < ViewCount; ++v) {
    TListView* view = Views_[size_t(v)];
    for (int32_t c = 0; c < view->ColumnCount(); ++c) {
      const TColumnSpec* described = ViewColumn(v, c);
      const std::string_view caption = described ? described->Caption : "";
      if (caption != "SrcIP" && caption != "DstIP") continue;
      TColumnSpec wide = *described;
      wide.Sample = "2001:db8:85a3::8a2e:370:7334";
      const int32_t narrow = view->DefaultWidth(c), widened = view->DefaultWidthFor(wide);
      const int32_t width = view->Width(c);
      if (width == (ipv6 ? narrow : widened)) view->SetWidth(c, ipv6 ? widened : narrow);
    }
  }
}

void TMainForm::ShowDecodingNotice() {
  if (DecodingNoticeShown) return;
  const int32_t linkType = Capture->FrameLinkType();
  QString text, tip;
  if (Capture->Count() > 0 && !LinkTypeDecoded(linkType)) {
    const char* name = pcap_datalink_val_to_name(linkType);
    text = QString("Link type %1 (%2): frames shown undecoded")
               .arg(QString::fromLatin1(name ? name : "unknown"))
               .arg(linkType);
    tip = "The capture holds link type " + QString::fromLatin1(name ? name : "unknown") +
          ", which Trellan does not decode: its frames are shown in the Ethernet view only, "
          "with empty link cells.";
  } else if (!Capture->DecodeIPv6AndVLAN() && Capture->DeeperFrames() > 0) {
    text = "IPv6 or VLAN frames: see View > Decode IPv6 and VLAN";
    tip = QString::number(Capture->DeeperFrames()) +
          " frames are filed by their type codes alone (IPv6, VLAN-tagged, IPv4 with options "
          "or fragments). Turn on View > Decode IPv6 and VLAN to file them in the IP, TCP, UDP "
          "and ICMP views.";
  } else {
    return;
  }
  DecodingNoticeShown = true;
  DecodingPanel->setText(text);
  DecodingPanel->setToolTip(tip);
  DecodingPanel->show();
}

void TMainForm::FollowNewRowsClick() {
  for (TListView* view : Views_) view->SetFollowNewRows(miFollowNewRows->isChecked());
}

// ---- Commands -----------------------------------------------------------------------------

void TMainForm::Execute(QAction* action) {
  if (action->isEnabled()) action->trigger();
}

void TMainForm::UpdateActions() {
  const bool active = Quarn1.Active();
  // Nothing to save: no capture, or one emptied by Clear All.
  const bool framesToSave = !CurrentFileName.empty() && Capture->Count() > 0;
  ActionOpen->setEnabled(!active);
  ActionClose->setEnabled(active);
  ActionClear->setEnabled(true);
  ActionOption->setEnabled(!active);
  ActionOpenFile->setEnabled(!active);
  ActionSave->setEnabled(!active && Modified && framesToSave);
  ActionSaveAs->setEnabled(!active && framesToSave);
  // The menu items and the tool button also save a running capture.
  // A file being read is saved when it has been read (or its reading cancelled).
  const bool reading = Reading_ != nullptr;
  for (QAction* item : {miSave, miSaveAs}) item->setEnabled(!reading && (active || framesToSave));
  SaveToolButton->setEnabled(!reading && (active || framesToSave));
  // Filing the frames again needs all of them.
  miDecodeIPv6AndVLAN->setEnabled(!reading);
  ActionExit->setEnabled(!active);
  ActionAbout->setEnabled(true);
  ActionHomePage->setEnabled(true);
  ActionPacketField->setEnabled(true);
}

void TMainForm::ActionCloseExecute() {
  if (Reading_) {
    Reading_->Cancel();
    std::string error;
    const auto result = Reading_->Wait(error);
    Reading_.reset();
    FinishFileRead(result, error);
    return;
  }
  // The library's counts go with the source's handle: they are read before it closes.
  const bool live = Quarn1.Active() && CapturingForm && CapturingForm->isVisible();
  TCaptureStatistics lastCounts;
  const bool counted = live && Quarn1.Statistics(lastCounts);
  const int64_t elapsed = live ? CapturingForm->Elapsed() : 0;
  Quarn1.Close();
  // What is still pending reaches the file and the views.
  Capture->Stop();
  Shown.Extend(*Capture, DataOffsets());
  ShowDecodingNotice();
  if (CapturingForm && CapturingForm->isVisible()) CapturingForm->close();
  if (RefreshWhileCapturing_) RefreshActiveView();
  if (!Global->ThreadSafe) UpdateAllViewCounts();
  if (live) ShowCaptureSummary(CaptureSummary(counted ? &lastCounts : nullptr, elapsed));
  UpdateActions();
}

// In the words of tcpdump's closing lines, which a user who knows them reads at once. The
// frames are those this program kept, after the capture filter.
QString TMainForm::CaptureSummary(const TCaptureStatistics* counted, int64_t elapsed) const {
  QString text = GroupedNumber(uint64_t(std::max(Capture->Seen(viETH), 0))) + " frames captured";
  if (counted)
    text += ", " + GroupedNumber(counted->KernelDropped) + " dropped by the kernel, " +
            GroupedNumber(counted->InterfaceDropped) + " by the interface";
  return text + ", in " + ElapsedText(elapsed);
}

// The summary stays in the status bar until the next source opens. It takes the place of the
// documentation's caption, which says nothing about the capture, so that the whole of it fits
// beside the source's caption in a window of the first start's size.
void TMainForm::ShowCaptureSummary(const QString& text) {
  CaptureSummary_ = text;
  StatusPanels[1]->setVisible(text.isEmpty());
  StatusPanels[2]->setToolTip(text);
  FormResize();
}

void TMainForm::EmptyCapture() {
  Statistics->CaptureGoing();
  // The capture clears its counters under the same lock as its lists.
  Capture->Clear();
  // The display filter stays, for the frames that come; a sort goes with the rows.
  Shown.Reset();
  for (TListView* view : Views_) view->ShowSortIndicator(-1, false);
  if (CapturingForm) CapturingForm->ShowCounters();
  UpdateAllViewCounts();
}

void TMainForm::ActionClearExecute() {
  if (!ConfirmClear()) return;
  // The reading thread files into the capture: it stops first.
  if (Reading_) ActionCloseExecute();
  EmptyCapture();
  if (TListView* view = GetActiveListView()) view->viewport()->update();
  if (QPlainTextEdit* memo = GetActiveMemo()) memo->clear();
}

void TMainForm::ClearAllToolButtonClick() {
  if (ConfirmClear()) ClearAll();
}

void TMainForm::ClearAll() {
  EmptyCapture();
  for (TListView* view : Views_) {
    view->Model()->Invalidate();
    view->viewport()->update();
  }
  for (QPlainTextEdit* memo : {mmTCP, mmUDP, mmTCPData, mmUDPData}) memo->clear();
  UpdateActions();
}

void TMainForm::ActionExitExecute() { close(); }

void TMainForm::ActionHomePageExecute() {
  const QString path = DocumentationPath();
  if (path.isEmpty()) {
    Prompts::ShowError(this, "The documentation of Trellan was not found.");
    return;
  }
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
    Prompts::ShowError(this, "No program was found to open the documentation: " + path);
}

// ---- Layout -------------------------------------------------------------------------------

std::vector<TNamedColumns> TMainForm::NamedViews() const {
  std::vector<TNamedColumns> views;
  for (int32_t v = 0; v < ViewCount; ++v) views.push_back({ViewSpecs[size_t(v)].Name, Views_[size_t(v)]});
  return views;
}

void TMainForm::LoadLayout() {
  Global->Load();
  MirrorSettings();
  move(Global->Left, Global->Top);
  resize(Global->Width, Global->Height);
  if (Global->WindowState == 2) setWindowState(Qt::WindowMaximized);
  else if (Global->WindowState == 1) setWindowState(Qt::WindowMinimized);
  else setWindowState(Qt::WindowNoState);
  HexToolButton->setChecked(Global->ViewHexa);
  ViewHex1->setChecked(HexToolButton->isChecked());
  miFollowNewRows->setChecked(Global->FollowNewRows);
  FollowNewRowsClick();
  miDecodeIPv6AndVLAN->setChecked(Global->DecodeIPv6AndVLAN);
  Capture->SetDecodeIPv6AndVLAN(Global->DecodeIPv6AndVLAN);
  FillFilterHistory();
  ActiveViewIndex = Global->ActiveListViewIndex;
  if (ActiveViewIndex >= 0 && ActiveViewIndex < ViewCount) {
    const QSignalBlocker quiet(pcView);
    pcView->setCurrentIndex(ActiveViewIndex);
  }
}

void TMainForm::SaveLayout() {
  const QRect frame = frameGeometry();
  Global->Left = frame.left();
  Global->Top = frame.top();
  Global->Width = width();
  Global->Height = height();
  Global->WindowState = isMaximized() ? 2 : isMinimized() ? 1 : 0;
  Global->ActiveListViewIndex = pcView->currentIndex();
  Global->ViewHexa = HexToolButton->isChecked();
  Global->FollowNewRows = miFollowNewRows->isChecked();
  Global->Save();
}

void TMainForm::MirrorSettings() {
  RefreshWhileCapturing_ = Global->ThreadSafe;
}

void TMainForm::FormShow() {
  Guarded([this] { LoadColumnWidths(NamedViews(), Global->IniFileName); });
  LoadLayout();
  FitAddressColumns(Global->DecodeIPv6AndVLAN);
  UpdateActions();
}

// The source's caption takes the room the other panels leave. The status bar's margins,
// spacing and size grip take some too: the panels that do not fit are cut off at the right.
void TMainForm::FormResize() {
  // The count of rows shown is as wide as its text.
  ShownPanel->setFixedWidth(ShownPanel->fontMetrics().horizontalAdvance(ShownPanel->text()) +
                            2 * ShownPanel->frameWidth() + 8);
  // The status bar lays out a panel that was hidden a moment ago only later: what the bar
  // takes for itself is measured while every panel is in it, which is at least as much.
  if (!StatusPanels[1]->isHidden()) {
    int panels = ShownPanel->minimumWidth();
    for (const QLabel* panel : StatusPanels) panels += panel->minimumWidth();
    StatusBarOverhead_ = std::max(0, statusBar()->minimumSizeHint().width() - panels);
  }
  const int shown =
      (StatusPanels[1]->isHidden() ? 0 : StatusPanels[1]->width()) + ShownPanel->minimumWidth();
  const int room = statusBar()->width() - StatusBarOverhead_ - shown;
  // The summary is shown whole, but in a narrow window the source's caption keeps enough room
  // to be read, and the summary loses its end, the least of it (its tooltip has all of it).
  QLabel* summary = StatusPanels[2];
  const int margins = 2 * summary->frameWidth() + 2 * summary->margin() + 8;
  const int advance = summary->fontMetrics().horizontalAdvance(CaptureSummary_);
  const int most = room - std::min(MinimumCaptionWidth, room / 3);
  const int width = std::max(StatusPanelWidths[2], std::min(advance + margins, most));
  summary->setFixedWidth(width);
  summary->setText(advance <= width - margins
                       ? CaptureSummary_
                       : summary->fontMetrics().elidedText(CaptureSummary_, Qt::ElideRight,
                                                           width - margins));
  StatusPanels[0]->setFixedWidth(std::max(0, room - width));
}

void TMainForm::FormClose() {
  Execute(ActionClose);
  // A capture that is still open (its close command may be disabled after a dump file that
  // could not be opened) is stopped before anything it files into goes away.
  if (Quarn1.Active()) ActionCloseExecute();
  Guarded([this] { SaveLayout(); });
  Guarded([this] { SaveColumnWidths(NamedViews(), Global->IniFileName); });
  // The views forget their rows before the frames behind them are freed.
  for (TListView* view : Views_) view->SetItemCount(0);
  WatchTimer->stop();
  // A temporary file the user did not save goes with its capture.
  Statistics->CaptureGoing();
  Capture = std::make_unique<TCapturePipeline>();
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!Shown_) {
    Shown_ = true;
    FormShow();
  }
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!Closed_) {
    if (!ConfirmDiscard("Do you want to save the captured frames before closing?")) {
      event->ignore();
      return;
    }
    Closed_ = true;
    FormClose();
  }
  event->accept();
}
