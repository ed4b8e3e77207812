#pragma once
// What the settings dialogs have in common: controls at the pixel positions they were laid out
// at, labels that end just left of their fields, the adapter lists, number edits that are read
// before anything is stored, the five capture options with the filter history, and the save on
// OK.
#include <QRect>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class TGlobal;

// Heights of the one-line controls, which the layout leaves to the platform.
constexpr int EditHeight = 21;  // edits and combo boxes
constexpr int CheckBoxHeight = 17;

// Settings texts are 8-bit strings in the system's encoding.
QString QText(const std::string& text);
std::string StdText(const QString& text);

// Controls named `name`, children of `parent`, at the geometry they were laid out with.
QLineEdit* AddEdit(QWidget* parent, const char* name, int left, int top, int width);
QCheckBox* AddCheckBox(QWidget* parent, const char* name, const QString& caption, int left, int top,
                       int width);
QPushButton* AddButton(QWidget* parent, const char* name, const QString& caption, int left, int top,
                       int width, int height);
QGroupBox* AddGroupBox(QWidget* parent, const char* name, const QString& caption, int left, int top,
                       int width, int height);
// A right-aligned label beside `field`, in the same parent, ending just left of it.
QLabel* AddLabel(QWidget* field, const char* name, const QString& caption);
// The default OK button, which runs `onOK` (the dialog closes only if that accepts it), and
// the Cancel button, which rejects the dialog as Escape and the close box do.
void AddOKCancel(QDialog* dialog, const char* okName, const QRect& ok, const char* cancelName,
                 const QRect& cancel, std::function<void()> onOK);

// What the adapter lists show for each adapter: its description, or its name when it has none
// (most adapters on Linux). Positions stay those of the capture component's lists.
QStringList AdapterCaptions(const std::vector<std::string>& names,
                            const std::vector<std::string>& descriptions);
// The drop-down list of local adapters, cbxAdapter: a choice, no free text.
QComboBox* AddAdapterList(QWidget* parent, int left, int top, int width);
// Lists `adapters` and selects the one at `index`; an index outside the list (-1 when none was
// chosen yet) selects the first. An empty list stays without selection.
void FillAdapterList(QComboBox& list, const QStringList& adapters, int32_t index);

// Converts the texts of `edits`, in order, into `values` by the integer rule of the settings
// file. The first edit that holds no integer is reported ("'...' is not a valid integer
// value", through the application's exception report) and gets the focus; the result is then
// false. Dialogs read their numbers this way before they change anything, so that a typing
// error leaves the dialog open with nothing stored.
bool ReadNumbers(std::span<QLineEdit* const> edits, std::span<int32_t> values);

// Saves Global. A file that cannot be written is reported like any failed user action and the
// result is false: the dialog stays open.
bool SaveSettings(QWidget* dialog);

// Enters a filter in the history, most recent first: the first entry that equals it when case
// is ignored goes, and the filter, written as typed, comes first. No limit on the length.
void EnterFilter(std::vector<std::string>& history, const std::string& filter);

// The remote host and the account on it: edHost, edUserName and edPassword, one above the
// other at `left`, the first at `top`, `spacing` pixels apart, with their labels.
class TRemoteHostFields {
 public:
  TRemoteHostFields(QWidget* parent, int left, int top, int spacing, int width,
                    const std::array<const char*, 3>& captions);
  void Fill(const TGlobal& global) const;
  // Host, UserName and Password as typed.
  void Store(TGlobal& global) const;

  QLineEdit* edHost;
  QLineEdit* edUserName;
  QLineEdit* edPassword;
};

// Where the five capture options stand in their parent: the fields' left edge, the first
// row's top (rows are 24 pixels apart), the widths of the filter and flags fields and of the
// time-out and snap length fields, and the label captions of the four rows with a field.
struct TCaptureOptionsLayout {
  int Left;
  int Top;
  int Width;
  int NumberWidth;
  std::array<const char*, 4> Captions;  // filter, flags, read time-out, snap length
};

// The options group of the Adapter and Remote Host dialogs.
inline constexpr TCaptureOptionsLayout OptionsGroupLayout{
    87, 19, 168, 77, {"Filter:", "Flags:", "Read Timeout:", "Snap Len:"}};

// The capture options of the source dialogs: filter with its history, flags, read time-out,
// snap length and thread mode.
class TCaptureOptions {
 public:
  TCaptureOptions(QWidget* parent, const TCaptureOptionsLayout& layout);

  // The filter text, the numbers in decimal, the thread mode, and the history in the
  // filter's drop-down list (its text stays the filter).
  void Fill(const TGlobal& global) const;
  // Flags, ReadTimeout and SnapLen from their edits; nothing after reporting the first edit
  // that holds no integer.
  std::optional<std::array<int32_t, 3>> Numbers() const;
  // Filter, the numbers, ThreadSafe, and the filter entered in the history.
  void Store(TGlobal& global, const std::array<int32_t, 3>& numbers) const;
  // The read time-out, snap length and thread mode mean nothing to a capture file.
  void SetLiveOptionsEnabled(bool enabled) const;

  QComboBox* cbxFilter;
  QLineEdit* edFlags;
  QLineEdit* edReadTimeout;
  QLineEdit* edSnapLen;
  QCheckBox* chkThreadSafe;
};
