#include "ui/StatisticsMenu.h"

#include <QMenu>
#include <QTimer>

#include "ui/FormMain.h"
#include "ui/IOGraph.h"

namespace {
// A first analysis of a large file is taken in in steps of this many frames, so that the
// views' tints come in as it goes rather than all at its end.
constexpr int32_t TroubleStep = 1 << 20;
}  // namespace

TStatisticsMenu::TStatisticsMenu(TMainForm& main, QMenu* menu) : QObject(&main), Main_(main) {
  menu->setObjectName("miStatistics");
  const std::array<std::pair<const char*, const char*>, WindowCount> items = {{
      {"miCaptureSummary", "Capture &Summary"},
      {"miProtocolHierarchy", "&Protocol Hierarchy"},
      {"miConversations", "&Conversations"},
      {"miEndpoints", "&Endpoints"},
      {"miIOGraph", "&I/O Graph"},
      {"miTCPAnalysis", "&TCP Analysis"},
  }};
  for (int w = 0; w < WindowCount; ++w) {
    QAction* item = menu->addAction(items[size_t(w)].second);
    item->setObjectName(items[size_t(w)].first);
    connect(item, &QAction::triggered, this, [this, w] { Open(TWindow(w)); });
  }

  // The verdicts are asked for only up to the frames the last finished work took in: the
  // work's own count moves while it runs.
  for (int32_t view : {int32_t(viTCP), int32_t(viTCPData)}) {
    auto frameAt = [this, view](int32_t position) {
      const TPacketList rows = Main_.ShownItems(view);
      return size_t(position) < rows.size() ? rows[size_t(position)].Index : 0;
    };
    Main_.ListView(view)->Model()->SetMarkHandlers(
        [this, frameAt](int32_t position) {
          const int32_t frame = frameAt(position);
          return frame > 0 && frame <= SafeTaken_ && Troubles_->Troubles(frame) != 0;
        },
        [this, frameAt](int32_t position) {
          const int32_t frame = frameAt(position);
          if (frame <= 0 || frame > SafeTaken_) return QString();
          if (!Work_.Running()) return QString::fromStdString(Troubles_->Reasons(frame));
          // While the work runs, only the verdict itself may be read: its kinds are named.
          QStringList kinds;
          const uint16_t troubles = Troubles_->Troubles(frame);
          for (int bit = 0; bit < TCPTroubleKinds; ++bit)
            if (troubles & (1u << bit)) kinds << TCPTroubleName(bit);
          return kinds.join('\n');
        });
  }
  Timer_ = new QTimer(this);
  Timer_->setInterval(500);
  connect(Timer_, &QTimer::timeout, this, [this] { AnalyseTroubles(); });
  Timer_->start();
}

TStatisticsMenu::~TStatisticsMenu() { Work_.Stop(); }

TStatisticsWindow* TStatisticsMenu::Open(TWindow window) {
  TStatisticsWindow*& form = Windows_[size_t(window)];
  if (!form) {
    switch (window) {
      case swSummary: form = new TSummaryForm(Main_); break;
      case swProtocols: form = new TProtocolsForm(Main_); break;
      case swConversations: form = new TTrafficForm(Main_, true); break;
      case swEndpoints: form = new TTrafficForm(Main_, false); break;
      case swIOGraph: form = new TIOGraphForm(Main_); break;
      case swTCPAnalysis: form = new TTCPAnalysisForm(Main_); break;
    }
  }
  form->show();
  form->raise();
  form->activateWindow();
  return form;
}

void TStatisticsMenu::CaptureGoing() {
  Work_.Stop();
  // The verdicts are of the frames going: none of them may tint a row of the next capture.
  Troubles_ = std::make_unique<TTCPAnalysis>();
  SafeTaken_ = 0;
  TroublesOf_ = 0;
  for (TStatisticsWindow* form : Windows_)
    if (form) form->CaptureGoing();
}

void TStatisticsMenu::AnalyseTroubles() {
  if (Work_.Running()) return;
  const TCapturePipeline& capture = *Main_.Capture;
  if (capture.Identity() != TroublesOf_) {
    TroublesOf_ = capture.Identity();
    Troubles_ = std::make_unique<TTCPAnalysis>();
    SafeTaken_ = 0;
  }
  const int32_t count = capture.Count();
  if (count <= SafeTaken_) return;
  const int32_t until = std::min(count, SafeTaken_ + TroubleStep);
  const TFrameStore& store = capture.Store();
  TTCPAnalysis* analysis = Troubles_.get();
  Work_.Start([analysis, &store, until](const TTakeInThread::TProgress& progress) {
    return analysis->TakeIn(store, until, progress);
  }, [this](bool) {
    SafeTaken_ = Troubles_->Taken();
    for (int32_t view : {int32_t(viTCP), int32_t(viTCPData)}) {
      TListView* list = Main_.ListView(view);
      list->Model()->Invalidate();
      list->viewport()->update();
    }
    // The rest of a large file at once.
    if (SafeTaken_ < Main_.Capture->Count()) QTimer::singleShot(0, this, [this] { AnalyseTroubles(); });
  });
}
