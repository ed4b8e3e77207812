#include "platform/WorkArea.h"

#include <utility>

namespace platform {

namespace {
WorkAreaProvider& Provider() {
  static WorkAreaProvider provider;
  return provider;
}
}  // namespace

void SetWorkAreaProvider(WorkAreaProvider provider) { Provider() = std::move(provider); }

WorkAreaRect WorkArea() {
  if (const auto& provider = Provider()) return provider();
  return {0, 0, 1024, 768};
}

}  // namespace platform
