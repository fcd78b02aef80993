#pragma once
// A complex tone written by rotation, re-anchored to the exact phase every block so that rounding
// does not build up over millions of samples.
#include <cmath>
#include <complex>
#include <numbers>
#include <span>

#include "waveform/waveform.hpp"

namespace zr::wave {

// Writes exp(j 2 pi (phase + i * step)) for each i of out; returns the phase after the last
// sample, in cycles, wrapped into [0, 1).
inline double write_tone(std::span<Iq> out, double phase, double step) {
  constexpr std::size_t kBlock = 256;
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  const std::complex<double> turn = std::polar(1.0, kTwoPi * step);
  for (std::size_t begin = 0; begin < out.size(); begin += kBlock) {
    const double start = phase + static_cast<double>(begin) * step;
    std::complex<double> z = std::polar(1.0, kTwoPi * (start - std::floor(start)));
    const std::size_t end = std::min(out.size(), begin + kBlock);
    for (std::size_t i = begin; i < end; ++i) {
      out[i] = Iq(static_cast<float>(z.real()), static_cast<float>(z.imag()));
      z *= turn;
    }
  }
  const double after = phase + static_cast<double>(out.size()) * step;
  return after - std::floor(after);
}

}  // namespace zr::wave
