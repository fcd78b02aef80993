#pragma once
// The modulating signal of AM and FM: option 1 sine, 2 square, 3 triangle, 4 sawtooth, each
// between -1 and +1 and starting its period at phase 0.
#include <cmath>
#include <cstdint>
#include <numbers>

namespace zr::wave {

inline bool known_wave(std::uint32_t option) { return option >= 1 && option <= 4; }

// x is the position within the period, in [0, 1).
inline double modulating_wave(std::uint32_t option, double x) {
  switch (option) {
    case 2: return x < 0.5 ? 1.0 : -1.0;
    case 3: return x < 0.25 ? 4.0 * x : (x < 0.75 ? 2.0 - 4.0 * x : 4.0 * x - 4.0);
    case 4: return x < 0.5 ? 2.0 * x : 2.0 * x - 2.0;
    default: return std::sin(2.0 * std::numbers::pi * x);
  }
}

}  // namespace zr::wave
