#include "platform/console.hpp"

#include <atomic>
#include <iostream>

namespace zr {
namespace {
std::atomic<std::ostream*> g_console{nullptr};
}

std::ostream& console() {
  std::ostream* stream = g_console.load(std::memory_order_acquire);
  return stream != nullptr ? *stream : std::cout;
}

ScopedConsole::ScopedConsole(std::ostream& stream)
    : previous_(g_console.exchange(&stream, std::memory_order_acq_rel)) {}

ScopedConsole::~ScopedConsole() { g_console.store(previous_, std::memory_order_release); }

}  // namespace zr
