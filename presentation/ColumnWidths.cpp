#include "presentation/ColumnWidths.h"

#include "platform/ProfileFile.h"
#include "settings/Globals.h"

namespace {
std::string WidthKey(int32_t column) { return "Width" + std::to_string(column); }
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
  for (const auto& view : views)
    for (int32_t i = 0; i < view.Columns->ColumnCount(); ++i)
      written = written && file.WriteInteger(view.Name, WidthKey(i), view.Columns->Width(i));
  if (!written || !file.Commit()) throw EIniFileException("Unable to write to " + iniFileName);
}
