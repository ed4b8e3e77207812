#pragma once
// The work area of the primary screen (the desktop less its panels), where new windows are
// placed. The engine has no display of its own: the user interface tells it, through a
// provider set before the settings object is created.
#include <cstdint>
#include <functional>

namespace platform {

struct WorkAreaRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Width = 0;
  int32_t Height = 0;

  friend bool operator==(const WorkAreaRect&, const WorkAreaRect&) = default;
};

using WorkAreaProvider = std::function<WorkAreaRect()>;

// An empty provider brings back the default area.
void SetWorkAreaProvider(WorkAreaProvider provider);

// The provider's area, or 1024 by 768 at 0,0 when no provider is set (no display).
WorkAreaRect WorkArea();

}  // namespace platform
