#include "ui/DialogFields.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <exception>
#include <utility>

#include "platform/IntegerText.h"
#include "settings/Globals.h"
#include "ui/Prompts.h"

namespace {
// Space between a label's text and its field.
constexpr int LabelGap = 6;
// Labels start this far into their parent; their text is right-aligned up to the gap.
constexpr int LabelLeft = 4;
constexpr int RowSpacing = 24;

template <class T>
T* Place(T* control, const char* name, int left, int top, int width, int height) {
  control->setObjectName(name);
  control->setGeometry(left, top, width, height);
  return control;
}

bool SameText(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}
}  // namespace

QString QText(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}

std::string StdText(const QString& text) { return text.toLocal8Bit().toStdString(); }

QLineEdit* AddEdit(QWidget* parent, const char* name, int left, int top, int width) {
  return Place(new QLineEdit(parent), name, left, top, width, EditHeight);
}

QCheckBox* AddCheckBox(QWidget* parent, const char* name, const QString& caption, int left, int top,
                       int width) {
  return Place(new QCheckBox(caption, parent), name, left, top, width, CheckBoxHeight);
}

QPushButton* AddButton(QWidget* parent, const char* name, const QString& caption, int left, int top,
                       int width, int height) {
  auto* button = Place(new QPushButton(caption, parent), name, left, top, width, height);
  button->setAutoDefault(false);
  return button;
}

QGroupBox* AddGroupBox(QWidget* parent, const char* name, const QString& caption, int left, int top,
                       int width, int height) {
  return Place(new QGroupBox(caption, parent), name, left, top, width, height);
}

QLabel* AddLabel(QWidget* field, const char* name, const QString& caption) {
  const QRect at = field->geometry();
  auto* label = Place(new QLabel(caption, field->parentWidget()), name, LabelLeft, at.top(),
                      at.left() - LabelGap - LabelLeft, at.height());
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setBuddy(field);
  return label;
}

void AddOKCancel(QDialog* dialog, const char* okName, const QRect& ok, const char* cancelName,
                 const QRect& cancel, std::function<void()> onOK) {
  QPushButton* okButton =
      AddButton(dialog, okName, QStringLiteral("OK"), ok.x(), ok.y(), ok.width(), ok.height());
  okButton->setDefault(true);
  QPushButton* cancelButton = AddButton(dialog, cancelName, QStringLiteral("Cancel"), cancel.x(),
                                        cancel.y(), cancel.width(), cancel.height());
  QObject::connect(okButton, &QPushButton::clicked, dialog, std::move(onOK));
  QObject::connect(cancelButton, &QPushButton::clicked, dialog, &QDialog::reject);
}

QStringList AdapterCaptions(const std::vector<std::string>& names,
                            const std::vector<std::string>& descriptions) {
  QStringList captions;
  for (size_t i = 0; i < descriptions.size(); ++i) {
    const std::string& description = descriptions[i];
    captions.append(QText(description.empty() && i < names.size() ? names[i] : description));
  }
  return captions;
}

QComboBox* AddAdapterList(QWidget* parent, int left, int top, int width) {
  return Place(new QComboBox(parent), "cbxAdapter", left, top, width, EditHeight);
}

void FillAdapterList(QComboBox& list, const QStringList& adapters, int32_t index) {
  list.clear();
  list.addItems(adapters);
  list.setCurrentIndex(index >= 0 && index < list.count() ? index : 0);
}

bool ReadNumbers(std::span<QLineEdit* const> edits, std::span<int32_t> values) {
  for (size_t i = 0; i < edits.size(); ++i) {
    try {
      values[i] = platform::StrToInt(StdText(edits[i]->text()));
    } catch (const platform::EConvertError& e) {
      Prompts::ShowException(edits[i]->window(), QText(e.what()));
      edits[i]->setFocus(Qt::OtherFocusReason);
      edits[i]->selectAll();
      return false;
    }
  }
  return true;
}

bool SaveSettings(QWidget* dialog) {
  try {
    Global->Save();
    return true;
  } catch (const std::exception& e) {
    Prompts::ShowException(dialog, QText(e.what()));
    return false;
  }
}

void EnterFilter(std::vector<std::string>& history, const std::string& filter) {
  const auto same = std::find_if(history.begin(), history.end(),
                                 [&](const std::string& entry) { return SameText(entry, filter); });
  if (same != history.end()) history.erase(same);
  history.insert(history.begin(), filter);
}

TRemoteHostFields::TRemoteHostFields(QWidget* parent, int left, int top, int spacing, int width,
                                     const std::array<const char*, 3>& captions) {
  edHost = AddEdit(parent, "edHost", left, top, width);
  edUserName = AddEdit(parent, "edUserName", left, top + spacing, width);
  edPassword = AddEdit(parent, "edPassword", left, top + 2 * spacing, width);
  edPassword->setEchoMode(QLineEdit::Password);
  edPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
  AddLabel(edHost, "lblHost", QString::fromLatin1(captions[0]));
  AddLabel(edUserName, "lblUserName", QString::fromLatin1(captions[1]));
  AddLabel(edPassword, "lblPassword", QString::fromLatin1(captions[2]));
}

void TRemoteHostFields::Fill(const TGlobal& global) const {
  edHost->setText(QText(global.Host));
  edUserName->setText(QText(global.UserName));
  edPassword->setText(QText(global.Password));
}

void TRemoteHostFields::Store(TGlobal& global) const {
  global.Host = StdText(edHost->text());
  global.UserName = StdText(edUserName->text());
  global.Password = StdText(edPassword->text());
}

TCaptureOptions::TCaptureOptions(QWidget* parent, const TCaptureOptionsLayout& layout) {
  const int left = layout.Left;
  const auto row = [&](int n) { return layout.Top + n * RowSpacing; };
  cbxFilter = Place(new QComboBox(parent), "cbxFilter", left, row(0), layout.Width, EditHeight);
  cbxFilter->setEditable(true);
  // The list is the history, which OK keeps; typing neither adds to it nor gets completed
  // from it, so the filter is exactly what was typed.
  cbxFilter->setInsertPolicy(QComboBox::NoInsert);
  cbxFilter->setCompleter(nullptr);
  edFlags = AddEdit(parent, "edFlags", left, row(1), layout.Width);
  edReadTimeout = AddEdit(parent, "edReadTimeout", left, row(2), layout.NumberWidth);
  edSnapLen = AddEdit(parent, "edSnapLen", left, row(3), layout.NumberWidth);
  chkThreadSafe =
      AddCheckBox(parent, "chkThreadSafe", QStringLiteral("Thread Safe"), left, row(4), 113);
  AddLabel(cbxFilter, "lblFilter", QString::fromLatin1(layout.Captions[0]));
  AddLabel(edFlags, "lblFlags", QString::fromLatin1(layout.Captions[1]));
  AddLabel(edReadTimeout, "lblReadTimeout", QString::fromLatin1(layout.Captions[2]));
  AddLabel(edSnapLen, "lblSnapLen", QString::fromLatin1(layout.Captions[3]));
}

void TCaptureOptions::Fill(const TGlobal& global) const {
  edFlags->setText(QString::number(global.Flags));
  edReadTimeout->setText(QString::number(global.ReadTimeout));
  edSnapLen->setText(QString::number(global.SnapLen));
  chkThreadSafe->setChecked(global.ThreadSafe);
  cbxFilter->clear();
  for (const std::string& filter : global.FilterList) cbxFilter->addItem(QText(filter));
  cbxFilter->setCurrentIndex(-1);
  cbxFilter->setEditText(QText(global.Filter));
}

std::optional<std::array<int32_t, 3>> TCaptureOptions::Numbers() const {
  const std::array<QLineEdit*, 3> edits{edFlags, edReadTimeout, edSnapLen};
  std::array<int32_t, 3> values{};
  if (!ReadNumbers(edits, values)) return std::nullopt;
  return values;
}

void TCaptureOptions::Store(TGlobal& global, const std::array<int32_t, 3>& numbers) const {
  const std::string filter = StdText(cbxFilter->currentText());
  global.Filter = filter;
  global.Flags = numbers[0];
  global.ReadTimeout = numbers[1];
  global.SnapLen = numbers[2];
  global.ThreadSafe = chkThreadSafe->isChecked();
  EnterFilter(global.FilterList, filter);
}

void TCaptureOptions::SetLiveOptionsEnabled(bool enabled) const {
  edReadTimeout->setEnabled(enabled);
  edSnapLen->setEnabled(enabled);
  chkThreadSafe->setEnabled(enabled);
}
