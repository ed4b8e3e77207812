#pragma once
// "Open": one dialog for every kind of capture source, a page each (Adapter, Remote, File),
// with the capture options below them. The active page is the source: OK stores its position
// as OpenType, and takes every field of every page. Each showing reloads Global and opens on
// the page of the source used last. The caller runs it modally and opens the source when it
// ends with Accepted.
#include <memory>
#include <string>
#include <vector>

#include "ui/DialogFields.h"
#include "ui/FixedDialog.h"

class QTabWidget;
class QToolButton;

class TOpenForm : public TFixedDialog {
  Q_OBJECT
 public:
  explicit TOpenForm(QWidget* parent = nullptr);

  // The capture component's local adapters (AdapterNames, AdapterDescriptions), which the
  // next showings list on the Adapter page.
  void SetAdapters(const std::vector<std::string>& names,
                   const std::vector<std::string>& descriptions);

 protected:
  void FormShow() override;
  // The first field of the page shown, not the row of page tabs.
  QWidget* FirstField() const override;

 private:
  // The time-out, snap length and thread mode are greyed on the File page.
  void UpdateControls();
  // "...": picks the capture file.
  void sbtFileNameClick();
  void btnOKClick();

  QTabWidget* pcOpen;
  QComboBox* cbxAdapter;
  std::unique_ptr<TRemoteHostFields> Host;
  QLineEdit* edFileName;
  QToolButton* sbtFileName;
  std::unique_ptr<TCaptureOptions> Options;
  QStringList Adapters_;
};
