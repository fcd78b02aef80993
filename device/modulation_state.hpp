#pragma once
// Modulation state of a context. Its record belongs to the modulation subsystem, which creates it
// on its first call; the deleter travels with it so that the device core need not link that
// subsystem. Empty means the zero state: nothing bound, no kind, status 0.
#include <memory>

namespace zr {

struct ModulationState {
  std::unique_ptr<void, void (*)(void*)> session{nullptr, nullptr};
};

}  // namespace zr
