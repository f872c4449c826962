#include "app/frontend.h"

#include <atomic>

namespace {
Frontend& SilentFrontend() {
  static Frontend silent;
  return silent;
}
std::atomic<Frontend*> current{nullptr};
}  // namespace

Frontend& UI() {
  Frontend* f = current.load();
  return f ? *f : SilentFrontend();
}

void SetFrontend(Frontend* frontend) { current.store(frontend); }
