#pragma once
// Column widths of the views in the settings file: one section per list view, named after
// it (lvETH ... lvUDPData), with one key per column, Width0, Width1, ..., holding its width
// in pixels, or -1 for the width the column set gives it. Because a hidden column has width 0,
// the field selection survives a restart through these keys too.
#include <string>
#include <vector>

#include "presentation/Views.h"

struct TNamedColumns {
  std::string Name;  // the list view's name, its section
  TColumnList* Columns;
};

// Applies the stored widths; a missing key, a value that is not an integer and -1 keep the
// width the column set gave. Other negative values have no meaning as a width and keep it too.
void LoadColumnWidths(const std::vector<TNamedColumns>& views, const std::string& iniFileName);
// Stores the current width of every column, hidden ones as 0. A column that the column set
// shows at the start and that is still at its default width is stored as -1, unless the file
// holds a width for it already: defaults follow the font, and a width the user saved stays a
// number. Raises "Unable to write to %s" (EIniFileException) when the file cannot be written;
// the file is then left as it was.
void SaveColumnWidths(const std::vector<TNamedColumns>& views, const std::string& iniFileName);
