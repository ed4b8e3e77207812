#include "ui/FormOpen.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QTabWidget>
#include <QToolButton>

#include "settings/Globals.h"
#include "ui/Prompts.h"

namespace {
enum TPage { tpAdapter, tpRemote, tpFile };

QWidget* AddPage(QTabWidget* pages, const char* name, const QString& caption) {
  auto* page = new QWidget(pages);
  page->setObjectName(name);
  pages->addTab(page, caption);
  return page;
}
}  // namespace

TOpenForm::TOpenForm(QWidget* parent)
    : TFixedDialog(parent, "OpenForm", QStringLiteral("Open"), 296, 301) {
  pcOpen = new QTabWidget(this);
  pcOpen->setObjectName("pcOpen");
  pcOpen->setGeometry(8, 8, 281, 129);

  QWidget* tsAdapter = AddPage(pcOpen, "tsAdapter", QStringLiteral("Adapter"));
  cbxAdapter = AddAdapterList(tsAdapter, 8, 40, 257);

  QWidget* tsRemote = AddPage(pcOpen, "tsRemote", QStringLiteral("Remote"));
  Host = std::make_unique<TRemoteHostFields>(tsRemote, 64, 8, 32, 201,
                                             std::array{"Host", "UserName", "Password"});

  QWidget* tsFile = AddPage(pcOpen, "tsFile", QStringLiteral("File"));
  edFileName = AddEdit(tsFile, "edFileName", 8, 40, 257);
  sbtFileName = new QToolButton(tsFile);
  sbtFileName->setObjectName("sbtFileName");
  sbtFileName->setText(QStringLiteral("..."));
  sbtFileName->setGeometry(243, 64, 23, 22);
  connect(sbtFileName, &QToolButton::clicked, this, &TOpenForm::sbtFileNameClick);

  Options = std::make_unique<TCaptureOptions>(
      this,
      TCaptureOptionsLayout{80, 144, 209, 209, {"Filter", "Flags", "ReadTimeout", "SnapLen"}});
  AddOKCancel(this, "btnOK", {72, 264, 75, 25}, "btnCancel", {152, 264, 75, 25},
              [this] { btnOKClick(); });
  connect(pcOpen, &QTabWidget::currentChanged, this, &TOpenForm::UpdateControls);
}

void TOpenForm::SetAdapters(const std::vector<std::string>& names,
                            const std::vector<std::string>& descriptions) {
  Adapters_ = AdapterCaptions(names, descriptions);
}

void TOpenForm::FormShow() {
  Global->Load();
  // A source kind the dialog does not know opens the first page.
  const int32_t page = Global->OpenType;
  pcOpen->setCurrentIndex(page >= tpAdapter && page <= tpFile ? page : tpAdapter);
  FillAdapterList(*cbxAdapter, Adapters_, Global->AdapterIndex);
  Host->Fill(*Global);
  edFileName->setText(QText(Global->FileName));
  Options->Fill(*Global);
  UpdateControls();
}

QWidget* TOpenForm::FirstField() const {
  const QWidget* page = pcOpen->currentWidget();
  return page ? ::FirstField(*page) : nullptr;
}

void TOpenForm::UpdateControls() {
  Options->SetLiveOptionsEnabled(pcOpen->currentIndex() != tpFile);
}

void TOpenForm::sbtFileNameClick() {
  TFileDialogRequest odFile;
  odFile.Title = QStringLiteral("Open");
  odFile.Filter = Prompts::CaptureFileFilter;
  odFile.DefaultExtension = QStringLiteral("cap");
  odFile.FileName = edFileName->text();
  // The folder of the file last chosen here.
  odFile.Directory = QFileInfo(edFileName->text()).path();
  if (const auto chosen = Prompts::ChooseFile(this, odFile)) edFileName->setText(*chosen);
}

void TOpenForm::btnOKClick() {
  const auto numbers = Options->Numbers();
  if (!numbers) return;
  Global->OpenType = pcOpen->currentIndex();
  Global->AdapterIndex = cbxAdapter->currentIndex();
  Host->Store(*Global);
  Global->FileName = StdText(edFileName->text());
  Options->Store(*Global, *numbers);
  if (SaveSettings(this)) accept();
}
