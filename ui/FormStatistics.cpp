#include "ui/FormStatistics.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <cmath>

#include "pipeline/Conversation.h"
#include "ui/FormCapturing.h"
#include "ui/FormFollowStream.h"
#include "ui/FormMain.h"
#include "ui/Prompts.h"
#include "ui/StatisticsTable.h"

namespace {
QString Local(const std::string& text) { return QString::fromLocal8Bit(text.data(), qsizetype(text.size())); }

double Seconds(int64_t nanoseconds) { return double(nanoseconds) / 1e9; }

// "2026-12-11 15:25:25.123456", in local time as tcpdump -tttt prints it.
QString TimeText(int64_t nanoseconds) {
  const int64_t seconds = nanoseconds / 1'000'000'000;
  const int64_t micro = (nanoseconds % 1'000'000'000) / 1000;
  return QDateTime::fromSecsSinceEpoch(seconds).toString("yyyy-MM-dd hh:mm:ss") +
         QString(".%1").arg(micro, 6, 10, QChar('0'));
}

// An address's bytes, then its port: how an address column sorts (10.0.0.2 before 10.0.0.10,
// IPv4 before IPv6).
std::string AddressKey(const TTrafficAddress& address) {
  std::string key(1, char(address.Family));
  key.append(reinterpret_cast<const char*>(address.Bytes.data()), address.Bytes.size());
  key += char(address.Port >> 8);
  key += char(address.Port & 0xFF);
  return key;
}

// "pcap" or "pcapng", by the file's first four bytes; empty for a file that cannot be read.
QString FileFormat(const std::string& path) {
  QFile file(Local(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray magic = file.read(4);
  if (magic.size() < 4) return {};
  return magic == QByteArray("\x0A\x0D\x0D\x0A", 4) ? QStringLiteral("pcapng") : QStringLiteral("pcap");
}

// The columns of the Conversations tables, of which a kind without ports shows all but the
// two Port columns.
enum TConversationColumn {
  ccAddressA, ccPortA, ccAddressB, ccPortB, ccFrames, ccBytes, ccFramesAB, ccBytesAB, ccFramesBA,
  ccBytesBA, ccRelStart, ccDuration, ccBitsAB, ccBitsBA
};
enum TEndpointColumn { ecAddress, ecPort, ecFrames, ecBytes, ecTxFrames, ecTxBytes, ecRxFrames, ecRxBytes };

// The column kinds of one table, without the ports where the kind has none.
std::vector<int> ColumnsOf(bool conversations, TTrafficKind kind) {
  std::vector<int> columns;
  const int last = conversations ? int(ccBitsBA) : int(ecRxBytes);
  for (int c = 0; c <= last; ++c) {
    const bool port = conversations ? (c == ccPortA || c == ccPortB) : c == ecPort;
    if (!port || HasPorts(kind)) columns.push_back(c);
  }
  return columns;
}

// The widest address of a kind.
QString AddressSample(TTrafficKind kind) {
  switch (kind) {
    case TTrafficKind::Ethernet: return QStringLiteral("00:00:00:00:00:00");
    case TTrafficKind::IPv6: return QStringLiteral("2001:db8:85a3::8a2e:370:7334");
    // Most TCP and UDP ends are IPv4 (ShowResults widens the columns for an IPv6 one).
    default: return QStringLiteral("255.255.255.255");
  }
}

std::vector<TStatisticsTable::TColumn> Captions(bool conversations, TTrafficKind kind,
                                                const std::vector<int>& columns) {
  static const char* const conversationCaptions[] = {
      "Address A", "Port A", "Address B", "Port B", "Frames", "Bytes", "Frames A→B", "Bytes A→B",
      "Frames B→A", "Bytes B→A", "Rel Start", "Duration", "Bits/s A→B", "Bits/s B→A"};
  static const char* const endpointCaptions[] = {"Address", "Port", "Frames", "Bytes",
                                                 "Tx Frames", "Tx Bytes", "Rx Frames", "Rx Bytes"};
  std::vector<TStatisticsTable::TColumn> captions;
  for (int c : columns) {
    const bool address = conversations ? (c == ccAddressA || c == ccAddressB) : c == ecAddress;
    captions.push_back({QString::fromUtf8((conversations ? conversationCaptions : endpointCaptions)[c]),
                        !address, address ? AddressSample(kind) : QString()});
  }
  return captions;
}

// The rows of one Conversations tab, over the window's vector.
class TConversationTable final : public TStatisticsTable {
 public:
  TConversationTable(TTrafficKind kind, const std::vector<TConversationStats>& rows, const int64_t& origin)
      : TStatisticsTable(Captions(true, kind, ColumnsOf(true, kind))), Columns_(ColumnsOf(true, kind)),
        Rows_(rows), Origin_(origin) {}

 protected:
  double Number(int32_t row, int32_t column) const override {
    const TConversationStats& c = Rows_[size_t(row)];
    const double duration = Seconds(c.LastTime - c.FirstTime);
    switch (Columns_[size_t(column)]) {
      case ccPortA: return c.A.Port;
      case ccPortB: return c.B.Port;
      case ccFrames: return double(c.Frames());
      case ccBytes: return double(c.Bytes());
      case ccFramesAB: return double(c.FramesAToB);
      case ccBytesAB: return double(c.BytesAToB);
      case ccFramesBA: return double(c.FramesBToA);
      case ccBytesBA: return double(c.BytesBToA);
      case ccRelStart: return Seconds(c.FirstTime - Origin_);
      case ccDuration: return duration;
      // A conversation of one instant has no rate.
      case ccBitsAB: return duration > 0 ? double(c.BytesAToB) * 8 / duration : -1;
      case ccBitsBA: return duration > 0 ? double(c.BytesBToA) * 8 / duration : -1;
      default: return 0;
    }
  }
  QString Text(int32_t row, int32_t column) const override {
    const TConversationStats& c = Rows_[size_t(row)];
    switch (Columns_[size_t(column)]) {
      case ccAddressA: return Local(AddressText(c.A));
      case ccAddressB: return Local(AddressText(c.B));
      case ccRelStart:
      case ccDuration: return QString::number(Number(row, column), 'f', 6);
      case ccBitsAB:
      case ccBitsBA: {
        const double bits = Number(row, column);
        return bits < 0 ? QString() : QString::number(std::llround(bits));
      }
      default: return QString::number(uint64_t(Number(row, column)));
    }
  }
  std::string SortKey(int32_t row, int32_t column) const override {
    const TConversationStats& c = Rows_[size_t(row)];
    return AddressKey(Columns_[size_t(column)] == ccAddressA ? c.A : c.B);
  }

 private:
  std::vector<int> Columns_;
  const std::vector<TConversationStats>& Rows_;
  const int64_t& Origin_;
};

class TEndpointTable final : public TStatisticsTable {
 public:
  TEndpointTable(TTrafficKind kind, const std::vector<TEndpointStats>& rows)
      : TStatisticsTable(Captions(false, kind, ColumnsOf(false, kind))), Columns_(ColumnsOf(false, kind)),
        Rows_(rows) {}

 protected:
  double Number(int32_t row, int32_t column) const override {
    const TEndpointStats& e = Rows_[size_t(row)];
    switch (Columns_[size_t(column)]) {
      case ecPort: return e.Address.Port;
      case ecFrames: return double(e.Frames());
      case ecBytes: return double(e.Bytes());
      case ecTxFrames: return double(e.TxFrames);
      case ecTxBytes: return double(e.TxBytes);
      case ecRxFrames: return double(e.RxFrames);
      case ecRxBytes: return double(e.RxBytes);
      default: return 0;
    }
  }
  QString Text(int32_t row, int32_t column) const override {
    if (Columns_[size_t(column)] == ecAddress) return Local(AddressText(Rows_[size_t(row)].Address));
    return QString::number(uint64_t(Number(row, column)));
  }
  std::string SortKey(int32_t row, int32_t) const override {
    return AddressKey(Rows_[size_t(row)].Address);
  }

 private:
  std::vector<int> Columns_;
  const std::vector<TEndpointStats>& Rows_;
};

// The connections of the TCP Analysis window: their ends, frames, and a count per kind.
class TTroubleTable final : public TStatisticsTable {
 public:
  explicit TTroubleTable(const std::vector<TTCPConversationTrouble>& rows)
      : TStatisticsTable(Columns()), Rows_(rows) {}

 protected:
  static std::vector<TColumn> Columns() {
    const QString widest = AddressSample(TTrafficKind::IPv4);
    std::vector<TColumn> columns = {{"Address A", false, widest}, {"Port A"}, {"Address B", false, widest},
                                    {"Port B"}, {"Frames"}, {"First Trouble"}};
    for (int bit = 0; bit < TCPTroubleKinds; ++bit) columns.push_back({TCPTroubleName(bit)});
    return columns;
  }
  double Number(int32_t row, int32_t column) const override {
    const TTCPConversationTrouble& t = Rows_[size_t(row)];
    switch (column) {
      case 1: return t.Conversation.A.Port;
      case 3: return t.Conversation.B.Port;
      case 4: return double(t.Conversation.Frames());
      case 5: return t.FirstTroubleFrame;
      default: return column >= 6 ? t.Counts[size_t(column - 6)] : 0;
    }
  }
  QString Text(int32_t row, int32_t column) const override {
    const TTCPConversationTrouble& t = Rows_[size_t(row)];
    if (column == 0) return Local(AddressText(t.Conversation.A));
    if (column == 2) return Local(AddressText(t.Conversation.B));
    return QString::number(uint64_t(Number(row, column)));
  }
  std::string SortKey(int32_t row, int32_t column) const override {
    const TConversationStats& c = Rows_[size_t(row)].Conversation;
    return AddressKey(column == 0 ? c.A : c.B);
  }

 private:
  const std::vector<TTCPConversationTrouble>& Rows_;
};

// The address columns, made for IPv4, widened for an IPv6 address.
void WidenAddressColumns(QTableView* view, const TStatisticsTable& model) {
  const int wide = view->fontMetrics().horizontalAdvance(AddressSample(TTrafficKind::IPv6)) + 14;
  for (int c = 0; c < model.columnCount(); ++c)
    if (!model.Column(c).Number && view->columnWidth(c) < wide) view->setColumnWidth(c, wide);
}

// The rows of a table the user acts on: the current one when it is selected, else none.
int32_t CurrentPosition(const QTableView* view) {
  const QModelIndex current = view->currentIndex();
  return current.isValid() && view->selectionModel()->isRowSelected(current.row(), {})
             ? current.row()
             : -1;
}

// The view of a traffic kind's frames.
int32_t ViewOfKind(TTrafficKind kind) {
  switch (kind) {
    case TTrafficKind::Ethernet: return viETH;
    case TTrafficKind::TCP: return viTCP;
    case TTrafficKind::UDP: return viUDP;
    default: return viIP;
  }
}
}  // namespace

// ---- The work's thread ----------------------------------------------------------------------

void TTakeInThread::Start(TWork work, std::function<void(bool)> finished) {
  Stop();
  Cancel_ = false;
  Done_ = Total_ = 0;
  Ended_ = false;
  Running_ = true;
  Finished_ = std::move(finished);
  if (!Poll_) {
    Poll_ = new QTimer(Owner_);
    Poll_->setInterval(10);
    QObject::connect(Poll_, &QTimer::timeout, Owner_, [this] { Ended(); });
  }
  Poll_->start();
  Thread_ = std::thread([this, work = std::move(work)] {
    const bool complete = work([this](int64_t done, int64_t total) {
      Done_.store(done, std::memory_order_relaxed);
      Total_.store(total, std::memory_order_relaxed);
      return !Cancel_.load(std::memory_order_relaxed);
    });
    Complete_.store(complete, std::memory_order_relaxed);
    Ended_.store(true, std::memory_order_release);
  });
}

void TTakeInThread::Ended() {
  if (!Running_ || !Ended_.load(std::memory_order_acquire)) return;
  Poll_->stop();
  Thread_.join();
  Running_ = false;
  // The handler may start the next work, which replaces Finished_.
  const std::function<void(bool)> finished = Finished_;
  finished(Complete_.load(std::memory_order_relaxed));
}

void TTakeInThread::Stop() {
  Cancel_ = true;
  if (Thread_.joinable()) Thread_.join();
  Running_ = false;
  if (Poll_) Poll_->stop();
}

// ---- What every window shares -------------------------------------------------------------

bool ShowFrameInView(TMainForm& main, int32_t view, int32_t frame) {
  if (frame <= 0) return false;
  // A filtered view may not show the frame its list holds: the list decides where it is filed.
  const TShownRows unfiltered;
  if (unfiltered.RowOf(frame, main.Capture->List(view)) < 0) view = viETH;
  main.pcView->setCurrentIndex(view);
  main.activateWindow();
  return main.GoToFrame(frame);
}

void ApplyAsDisplayFilter(TMainForm& main, const std::string& expression) {
  main.cbxDisplayFilter->setEditText(Local(expression));
  main.ApplyFilterClick();
}

TStatisticsWindow::TStatisticsWindow(TMainForm& main, const char* name, const QString& title,
                                     bool limitBox)
    : QWidget(&main, Qt::Window), Main(main) {
  setObjectName(name);
  setWindowTitle(title);
  resize(760, 420);
  auto* layout = new QVBoxLayout(this);
  if (limitBox) {
    chkLimitToFilter = new QCheckBox("Limit to display filter", this);
    chkLimitToFilter->setObjectName("chkLimitToFilter");
    chkLimitToFilter->setToolTip("Count only the frames the main window's display filter shows");
    connect(chkLimitToFilter, &QCheckBox::toggled, this, [this] { Refresh(); });
  }
  Body = new QVBoxLayout;
  layout->addLayout(Body, 1);
  Buttons = new QHBoxLayout;
  layout->addLayout(Buttons);
  if (chkLimitToFilter) Buttons->addWidget(chkLimitToFilter);
  lblState = new QLabel(this);
  lblState->setObjectName("lblState");
  Buttons->addWidget(lblState, 1);
  pbWork = new QProgressBar(this);
  pbWork->setObjectName("pbWork");
  pbWork->setRange(0, 1000);
  pbWork->setMaximumWidth(160);
  pbWork->hide();
  Buttons->addWidget(pbWork);
  btnCancel = AddButton("btnCancel", "Cancel", [this] {
    if (Work_.Running()) {
      Stopped_ = true;
      Work_.Cancel();
    } else {
      Stopped_ = false;
      Refresh();
    }
  });
  btnCancel->hide();

  RefreshTimer_ = new QTimer(this);
  RefreshTimer_->setInterval(1000);
  connect(RefreshTimer_, &QTimer::timeout, this, [this] { Refresh(); });
  RefreshTimer_->start();
  ProgressTimer_ = new QTimer(this);
  ProgressTimer_->setInterval(100);
  connect(ProgressTimer_, &QTimer::timeout, this, [this] { ShowProgress(); });
}

TStatisticsWindow::~TStatisticsWindow() { Work_.Stop(); }

QPushButton* TStatisticsWindow::AddButton(const char* name, const QString& caption,
                                          std::function<void()> clicked) {
  auto* button = new QPushButton(caption, this);
  button->setObjectName(name);
  button->setAutoDefault(false);
  connect(button, &QPushButton::clicked, this, [clicked = std::move(clicked)] {
    try {
      clicked();
    } catch (const std::exception& e) {
      TApplication::ReportException(e.what());
    }
  });
  Buttons->addWidget(button);
  return button;
}

bool TStatisticsWindow::FilterMatters() const {
  return chkLimitToFilter && chkLimitToFilter->isChecked();
}

void TStatisticsWindow::CaptureGoing() {
  Work_.Stop();
  Identity_ = 0;
  Stopped_ = false;
  QTimer::singleShot(0, this, [this] { Refresh(); });
}

void TStatisticsWindow::Recompute() {
  Work_.Stop();
  Identity_ = 0;
  Stopped_ = false;
  Refresh();
}

void TStatisticsWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  QTimer::singleShot(0, this, [this] { Refresh(); });
}

void TStatisticsWindow::Refresh() {
  // A closed window counts nothing; shown again, it takes in what it missed.
  if (!isVisible()) return;
  const TCapturePipeline& capture = *Main.Capture;
  const std::string expression = FilterMatters() ? Main.Shown.Filter().Expression() : std::string();
  const bool limit = chkLimitToFilter && chkLimitToFilter->isChecked();
  const bool startOver = capture.Identity() != Identity_ || expression != Expression_ || limit != Limited_;
  if (Work_.Running()) {
    // What it counts no longer holds: it ends, and Finished starts over.
    if (startOver) Work_.Cancel();
    return;
  }
  if (startOver) {
    Identity_ = capture.Identity();
    Expression_ = expression;
    Limited_ = limit;
    Stopped_ = false;
    // An expression the main window applied compiles here too, for the same link type.
    if (!Filter_.Compile(expression, capture.LinkType(), capture.SnapLength()))
      Filter_.Compile({}, capture.LinkType(), capture.SnapLength());
    Restart(Filter_.Empty() ? nullptr : &Filter_, limit);
  }
  const int32_t count = capture.Count();
  if (Stopped_ || count <= Taken()) {
    if (startOver) {
      ShowResults();
      ShowProgress();
    }
    return;
  }
  const TFrameStore& store = capture.Store();
  Work_.Start([this, &store, count](const TTakeInThread::TProgress& progress) {
    return TakeIn(store, count, progress);
  }, [this](bool complete) { Finished(complete); });
  ProgressTimer_->start();
  ShowProgress();
}

void TStatisticsWindow::Finished(bool) {
  ProgressTimer_->stop();
  ShowResults();
  ShowProgress();
  // New frames, a new capture or filter that came meanwhile are taken in at once.
  if (!Stopped_) Refresh();
}

void TStatisticsWindow::ShowProgress() {
  const bool working = Work_.Running();
  const int32_t count = Main.Capture->Count(), taken = Taken();
  pbWork->setVisible(working);
  if (working && Work_.Total() > 0)
    pbWork->setValue(int(std::min<int64_t>(Work_.Done() * 1000 / Work_.Total(), 1000)));
  btnCancel->setVisible(working || (Stopped_ && taken < count));
  btnCancel->setText(working ? "Cancel" : "Continue");
  QString state = GroupedNumber(uint64_t(std::max(taken, 0))) + " frames";
  if (working) state = "Counting: " + state + " of " + GroupedNumber(uint64_t(count));
  else if (taken < count) state = "Stopped at " + state + " of " + GroupedNumber(uint64_t(count));
  if (!Expression_.empty()) state += "   Display filter: " + Local(Expression_);
  lblState->setText(state);
}

void TTrafficWindow::Restart(const TDisplayFilter* filter, bool limit) {
  Stats_ = TTrafficStatistics();
  Stats_.SetFilter(filter, limit);
}

bool TTrafficWindow::TakeIn(const TFrameStore& store, int32_t count, const TTakeInThread::TProgress& progress) {
  return Stats_.TakeIn(store, count, progress);
}

// ---- Capture Summary ----------------------------------------------------------------------

TSummaryForm::TSummaryForm(TMainForm& main)
    : TTrafficWindow(main, "SummaryForm", "Capture Summary", true) {
  resize(560, 440);
  Table_ = new TTextTable({{"Property", false, "Dropped by the interface"}, {"Value", false}});
  tvSummary = NewStatisticsTableView(this, Table_);
  tvSummary->setObjectName("tvSummary");
  Body->addWidget(tvSummary);
  AddButton("btnExport", "Export...", [this] { ExportCells(this, "Export Summary", ShownCells(*tvSummary, false)); });
}

void TSummaryForm::Restart(const TDisplayFilter* filter, bool limit) {
  TTrafficWindow::Restart(filter, limit);
  Drops_[0] = Drops_[1] = QString();
}

void TSummaryForm::ShowResults() {
  const TCapturePipeline& capture = *Main.Capture;
  const TCaptureTotals& totals = Stats_.Totals();
  const bool live = capture.Live();
  if (live && Main.Quarn1.Active()) {
    TCaptureStatistics counted;
    if (Main.Quarn1.Statistics(counted)) {
      Drops_[0] = GroupedNumber(counted.KernelDropped);
      Drops_[1] = GroupedNumber(counted.InterfaceDropped);
    } else {
      // The capture helper's stream has no counts.
      Drops_[0] = Drops_[1] = "n/a";
    }
  }
  QStringList links;
  for (int32_t link : totals.LinkTypes) links << Local(LinkTypeText(link));
  const double span = Seconds(totals.LastTime - totals.FirstTime);
  auto rate = [span](double amount) { return span > 0 ? QString::number(amount / span, 'f', 1) : QString(); };
  std::vector<QStringList> rows = {
      {"File", Local(capture.FileName()) + (capture.Temporary() ? " (temporary)" : "")},
      {"Format", capture.FileName().empty() ? QString() : FileFormat(capture.FileName())},
      {"File size", capture.FileName().empty() ? QString() : GroupedNumber(capture.FileSize()) + " bytes"},
      {"Link types", links.join(", ")},
      {"Snapshot length", QString::number(capture.SnapLength())},
      {"Frames", GroupedNumber(uint64_t(totals.Frames))},
      {"Captured bytes", GroupedNumber(totals.CapturedBytes)},
      {"Wire bytes", GroupedNumber(totals.WireBytes)},
      {"First frame", totals.Frames ? TimeText(totals.FirstTime) : QString()},
      {"Last frame", totals.Frames ? TimeText(totals.LastTime) : QString()},
      {"Between first and last", totals.Frames ? QString::number(span, 'f', 6) + " s" : QString()},
      {"Average frames/s", rate(double(totals.Frames))},
      {"Average bytes/s", rate(double(totals.WireBytes))},
      {"Average frame size",
       totals.Frames ? QString::number(double(totals.WireBytes) / double(totals.Frames), 'f', 1) + " bytes"
                     : QString()},
  };
  if (live) {
    rows.push_back({"Dropped by the kernel", Drops_[0]});
    rows.push_back({"Dropped by the interface", Drops_[1]});
  }
  if (!FilterExpression().empty()) rows.push_back({"Display filter", Local(FilterExpression())});
  Table_->SetRows(std::move(rows));
}

// ---- Protocol Hierarchy -------------------------------------------------------------------

TProtocolsForm::TProtocolsForm(TMainForm& main)
    : TTrafficWindow(main, "ProtocolsForm", "Protocol Hierarchy", true) {
  Model_ = new QStandardItemModel(this);
  Model_->setHorizontalHeaderLabels({"Protocol", "Frames", "% Frames", "Bytes", "% Bytes"});
  // The numbers sort as numbers: each cell keeps its value beside its text.
  Model_->setSortRole(Qt::UserRole);
  tvProtocols = new QTreeView(this);
  tvProtocols->setObjectName("tvProtocols");
  tvProtocols->setModel(Model_);
  tvProtocols->header()->setSortIndicator(-1, Qt::AscendingOrder);
  tvProtocols->setSortingEnabled(true);
  tvProtocols->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tvProtocols->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvProtocols->setUniformRowHeights(true);
  tvProtocols->setColumnWidth(0, 260);
  AddCopyShortcut(tvProtocols);
  Body->addWidget(tvProtocols);
  AddButton("btnExport", "Export...",
            [this] { ExportCells(this, "Export Protocol Hierarchy", ShownCells(*tvProtocols, false)); });
}

void TProtocolsForm::ShowResults() {
  const TProtocolNode& root = Stats_.Protocols();
  const double frames = double(std::max<uint64_t>(root.Frames, 1));
  const double bytes = double(std::max<uint64_t>(root.Bytes, 1));
  auto cell = [](const QString& text, const QVariant& value, bool number) {
    auto* item = new QStandardItem(text);
    item->setData(value, Qt::UserRole);
    if (number) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
  };
  auto row = [&](const TProtocolNode& node) {
    return QList<QStandardItem*>{
        cell(Local(node.Name), Local(node.Name), false),
        cell(QString::number(node.Frames), qulonglong(node.Frames), true),
        cell(QString::number(100.0 * double(node.Frames) / frames, 'f', 2), double(node.Frames) / frames, true),
        cell(QString::number(node.Bytes), qulonglong(node.Bytes), true),
        cell(QString::number(100.0 * double(node.Bytes) / bytes, 'f', 2), double(node.Bytes) / bytes, true)};
  };
  auto add = [&](auto& self, QStandardItem* parent, const TProtocolNode& node) -> void {
    QList<QStandardItem*> items = row(node);
    parent->appendRow(items);
    for (const TProtocolNode& child : node.Children) self(self, items[0], child);
  };
  Model_->removeRows(0, Model_->rowCount());
  // The root is the frames themselves, when the engine names it; its children otherwise.
  if (!root.Name.empty()) add(add, Model_->invisibleRootItem(), root);
  else
    for (const TProtocolNode& child : root.Children) add(add, Model_->invisibleRootItem(), child);
  const int column = tvProtocols->header()->sortIndicatorSection();
  if (column >= 0) Model_->sort(column, tvProtocols->header()->sortIndicatorOrder());
  tvProtocols->expandAll();
}

// ---- Conversations and Endpoints ----------------------------------------------------------

TTrafficForm::TTrafficForm(TMainForm& main, bool conversations)
    : TTrafficWindow(main, conversations ? "ConversationsForm" : "EndpointsForm",
                        conversations ? "Conversations" : "Endpoints", true),
      Conversations_(conversations) {
  resize(conversations ? 1240 : 760, 440);
  pcKinds = new QTabWidget(this);
  pcKinds->setObjectName("pcKinds");
  Body->addWidget(pcKinds);
  for (int k = 0; k < TrafficKindCount; ++k) {
    const auto kind = TTrafficKind(k);
    TStatisticsTable* model =
        conversations ? static_cast<TStatisticsTable*>(new TConversationTable(kind, ConversationRows_[size_t(k)], Origin_))
                      : new TEndpointTable(kind, EndpointRows_[size_t(k)]);
    QTableView* view = NewStatisticsTableView(this, model);
    view->setObjectName(QString("tv") + TrafficKindName(kind));
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, kind](const QPoint& at) { ContextMenu(kind, at); });
    connect(view, &QAbstractItemView::doubleClicked, this,
            [this, kind](const QModelIndex& index) { GoToFirstFrame(kind, index.row()); });
    Views_[size_t(k)] = view;
    Models_[size_t(k)] = model;
    pcKinds->addTab(view, TrafficKindName(kind));
  }
  AddButton("btnExport", "Export...", [this] {
    const auto kind = TTrafficKind(pcKinds->currentIndex());
    ExportCells(this, QString("Export %1 %2").arg(TrafficKindName(kind), windowTitle()),
                ShownCells(*Table(kind), false));
  });
}

void TTrafficForm::ShowResults() {
  // The conversations' Rel Start counts from the capture's first frame.
  Origin_ = Stats_.StartTime();
  for (int k = 0; k < TrafficKindCount; ++k) {
    const auto kind = TTrafficKind(k);
    size_t rows;
    if (Conversations_) {
      ConversationRows_[size_t(k)] = Stats_.Conversations(kind);
      rows = ConversationRows_[size_t(k)].size();
    } else {
      EndpointRows_[size_t(k)] = Stats_.Endpoints(kind);
      rows = EndpointRows_[size_t(k)].size();
    }
    Models_[size_t(k)]->Refill(int32_t(rows));
    if (HasPorts(kind)) WidenForIPv6(kind);
    pcKinds->setTabText(k, QString::fromUtf8("%1 · %2").arg(TrafficKindName(kind)).arg(rows));
  }
}

void TTrafficForm::WidenForIPv6(TTrafficKind kind) {
  bool ipv6 = false;
  for (const TConversationStats& c : ConversationRows_[size_t(kind)]) ipv6 = ipv6 || c.A.Family == 6;
  for (const TEndpointStats& e : EndpointRows_[size_t(kind)]) ipv6 = ipv6 || e.Address.Family == 6;
  if (ipv6) WidenAddressColumns(Table(kind), *Models_[size_t(kind)]);
}

int32_t TTrafficForm::Row(TTrafficKind kind, int32_t position) const {
  if (position < 0 || position >= Models_[size_t(kind)]->rowCount()) return -1;
  return Models_[size_t(kind)]->RowAt(position);
}

std::string TTrafficForm::RowFilter(TTrafficKind kind, int32_t position) const {
  const int32_t row = Row(kind, position);
  if (row < 0) return {};
  return Conversations_ ? ConversationFilter(kind, ConversationRows_[size_t(kind)][size_t(row)])
                        : EndpointFilter(kind, EndpointRows_[size_t(kind)][size_t(row)]);
}

int32_t TTrafficForm::RowFirstFrame(TTrafficKind kind, int32_t position) const {
  const int32_t row = Row(kind, position);
  if (row < 0) return 0;
  return Conversations_ ? ConversationRows_[size_t(kind)][size_t(row)].FirstFrame
                        : EndpointRows_[size_t(kind)][size_t(row)].FirstFrame;
}

void TTrafficForm::ApplyAsFilter(TTrafficKind kind, int32_t position) {
  const std::string expression = RowFilter(kind, position);
  if (!expression.empty()) ApplyAsDisplayFilter(Main, expression);
}

void TTrafficForm::FollowStream(TTrafficKind kind, int32_t position) {
  const int32_t first = RowFirstFrame(kind, position);
  if (first <= 0 || first > Main.Capture->Count()) return;
  auto conversation = FollowConversation(*Main.Capture, Main.Capture->Store().Frame(first));
  if (!conversation) {
    // Filed only in the Ethernet view (IPv6 or VLAN while View > Decode IPv6 and VLAN is off).
    Prompts::ShowError(this, "This conversation's frames are not in the TCP or UDP view: turn on "
                             "View > Decode IPv6 and VLAN to follow it.");
    return;
  }
  TMainForm* main = &Main;
  auto* form = new TFollowStreamForm(&Main, *Main.Capture, std::move(*conversation),
                                     [main] { return main->Capture.get(); });
  form->show();
}

void TTrafficForm::GoToFirstFrame(TTrafficKind kind, int32_t position) {
  ShowFrameInView(Main, ViewOfKind(kind), RowFirstFrame(kind, position));
}

void TTrafficForm::ContextMenu(TTrafficKind kind, const QPoint& at) {
  QTableView* view = Table(kind);
  const int32_t position = view->indexAt(at).row();
  if (position < 0) return;
  QMenu menu(this);
  menu.addAction("Apply as Display Filter", this, [this, kind, position] { ApplyAsFilter(kind, position); });
  if (Conversations_ && HasPorts(kind))
    menu.addAction("Follow Stream", this, [this, kind, position] { FollowStream(kind, position); });
  menu.addAction("Go to First Frame", this, [this, kind, position] { GoToFirstFrame(kind, position); });
  menu.exec(view->viewport()->mapToGlobal(at));
}

// ---- TCP Analysis -------------------------------------------------------------------------

TTCPAnalysisForm::TTCPAnalysisForm(TMainForm& main)
    : TStatisticsWindow(main, "TCPAnalysisForm", "TCP Analysis", false) {
  resize(1240, 400);
  // The kinds beside the connections: nine short rows.
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  Kinds_ = new TTextTable({{"Trouble", false, "Previous segment not captured"}, {"Frames"}});
  tvKinds = NewStatisticsTableView(splitter, Kinds_);
  tvKinds->setObjectName("tvKinds");
  tvKinds->horizontalHeader()->setStretchLastSection(false);
  Connections_ = new TTroubleTable(Rows_);
  tvConnections = NewStatisticsTableView(splitter, Connections_);
  tvConnections->setObjectName("tvConnections");
  tvConnections->horizontalHeader()->setStretchLastSection(false);
  connect(tvConnections, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex& index) { GoToFirstTrouble(index.row()); });
  splitter->addWidget(tvKinds);
  splitter->addWidget(tvConnections);
  splitter->setSizes({tvKinds->columnWidth(0) + tvKinds->columnWidth(1) + 24, 1000});
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  Body->addWidget(splitter);
  AddButton("btnGoToFirst", "Go to First Frame", [this] { GoToFirstTrouble(CurrentPosition(tvConnections)); });
  AddButton("btnExport", "Export...",
            [this] { ExportCells(this, "Export TCP Analysis", ShownCells(*tvConnections, false)); });
}

void TTCPAnalysisForm::Restart(const TDisplayFilter*, bool) {
  Analysis_ = std::make_unique<TTCPAnalysis>();
}

bool TTCPAnalysisForm::TakeIn(const TFrameStore& store, int32_t count, const TTakeInThread::TProgress& progress) {
  return Analysis_->TakeIn(store, count, progress);
}

void TTCPAnalysisForm::ShowResults() {
  std::vector<QStringList> kinds;
  for (int bit = 0; bit < TCPTroubleKinds; ++bit)
    kinds.push_back({TCPTroubleName(bit), QString::number(Analysis_->Counts()[size_t(bit)])});
  Kinds_->SetRows(std::move(kinds));
  Rows_ = Analysis_->Conversations();
  Connections_->Refill(int32_t(Rows_.size()));
  for (const TTCPConversationTrouble& row : Rows_)
    if (row.Conversation.A.Family == 6) {
      WidenAddressColumns(tvConnections, *Connections_);
      break;
    }
}

void TTCPAnalysisForm::GoToFirstTrouble(int32_t position) {
  if (position < 0 || position >= Connections_->rowCount()) return;
  ShowFrameInView(Main, viTCP, Rows_[size_t(Connections_->RowAt(position))].FirstTroubleFrame);
}
