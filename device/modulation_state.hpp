#pragma once
// Modulation configuration and buffers of a context. The modulation interface defines their
// contents; the context only owns them so that they live and die with the instrument.
#include <cstdint>
#include <vector>

namespace zr {

struct ModulationState {
  bool opened = false;
  std::vector<std::uint8_t> configuration;
  std::vector<std::int16_t> samples;
};

}  // namespace zr
