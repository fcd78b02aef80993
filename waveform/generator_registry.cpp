#include "waveform/generator_registry.hpp"

#include <array>
#include <mutex>
#include <optional>

#include "waveform/gen_signal_wave.h"

namespace zr::wave {
namespace {

// Handles are slot + 1 + GSW_MAX_GENERATORS * generation, so a released handle is not
// mistaken for the next one created in its slot.
struct Registry {
  std::mutex mutex;
  std::array<std::optional<GeneratorIdentity>, GSW_MAX_GENERATORS> slots;
  std::array<std::int32_t, GSW_MAX_GENERATORS> handles{};
  std::int32_t generation = 0;
};

Registry& registry() {
  static Registry r;
  return r;
}

int slot_of(const Registry& r, std::int32_t handle) {
  for (int i = 0; i < GSW_MAX_GENERATORS; ++i) {
    if (r.slots[i] && r.handles[i] == handle) return i;
  }
  return -1;
}

}  // namespace

std::int32_t create_generator(const GeneratorIdentity& identity) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  for (int i = 0; i < GSW_MAX_GENERATORS; ++i) {
    if (r.slots[i]) continue;
    r.generation = (r.generation + 1) % 1000000;
    r.slots[i] = identity;
    r.handles[i] = i + 1 + GSW_MAX_GENERATORS * r.generation;
    return r.handles[i];
  }
  return GSW_INVALID;
}

std::int32_t release_generator(std::int32_t handle) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  const int slot = slot_of(r, handle);
  if (slot < 0) return GSW_INVALID;
  r.slots[slot].reset();
  return GSW_OK;
}

bool generator_alive(std::int32_t handle) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return slot_of(r, handle) >= 0;
}

}  // namespace zr::wave
