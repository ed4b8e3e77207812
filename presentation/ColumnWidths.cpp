#include "presentation/ColumnWidths.h"

#include "platform/ProfileFile.h"
#include "settings/Globals.h"

namespace {
std::string WidthKey(int32_t column) { return "Width" + std::to_string(column); }

// Which columns of the view named `name` the column set shows at the start; none for a name
// that is not a view's.
std::vector<bool> ShownAtStart(const std::string& name) {
  std::vector<bool> shown;
  for (const TViewSpec& layout : ViewSpecs) {
    if (name != layout.Name) continue;
    TColumnArray start;
    for (const int32_t group : layout.Groups) AddColumnGroup(start, layout.Number, group);
    for (int32_t i = 0; i < start.ColumnCount(); ++i) shown.push_back(start.Width(i) != 0);
  }
  return shown;
}
}  // namespace

void LoadColumnWidths(const std::vector<TNamedColumns>& views, const std::string& iniFileName) {
  const platform::ProfileFile file(iniFileName);
  for (const auto& view : views) {
    for (int32_t i = 0; i < view.Columns->ColumnCount(); ++i) {
      const int32_t width = file.ReadInteger(view.Name, WidthKey(i), -1);
      if (width >= 0) view.Columns->SetWidth(i, width);
    }
  }
}

void SaveColumnWidths(const std::vector<TNamedColumns>& views, const std::string& iniFileName) {
  platform::ProfileFile file(iniFileName);
  bool written = true;
  for (const auto& view : views) {
    const std::vector<bool> shownAtStart = ShownAtStart(view.Name);
    for (int32_t i = 0; i < view.Columns->ColumnCount(); ++i) {
      const std::string key = WidthKey(i);
      const int32_t width = view.Columns->Width(i);
      // A default width follows the font the view is shown in, so it is not stored as a
      // number unless the file already holds a width for the column.
      const bool asSet = width != 0 && width == view.Columns->DefaultWidth(i) &&
                         size_t(i) < shownAtStart.size() && shownAtStart[size_t(i)] &&
                         file.ReadInteger(view.Name, key, -1) < 0;
      written = written && file.WriteInteger(view.Name, key, asSet ? -1 : width);
    }
  }
  if (!written || !file.Commit()) throw EIniFileException("Unable to write to " + iniFileName);
}
