#pragma once
// A planned waveform: its length is known before anything is synthesised, so that a length
// query or a too-small buffer costs nothing; render fills exactly `length` samples.
#include <complex>
#include <cstdint>
#include <functional>
#include <span>

#include "waveform/gen_signal_wave.h"

namespace zr::wave {

using Iq = std::complex<float>;

struct Waveform {
  std::int32_t status = GSW_OK;
  std::uint64_t length = 0;
  std::function<void(std::span<Iq>)> render;
};

inline Waveform invalid_waveform() { return Waveform{GSW_INVALID, 0, {}}; }

// A sample rate the synthesisers accept.
inline bool usable_rate(double rate) { return rate > 0.0 && rate <= GSW_MAX_RATE; }

// value * rate rounded to whole samples, or nothing when it is not a sane sample count.
inline bool whole_samples(double seconds_times_rate, std::uint64_t& samples) {
  if (!(seconds_times_rate >= 0.5) || !(seconds_times_rate < 2.0 * GSW_MAX_SAMPLES)) return false;
  samples = static_cast<std::uint64_t>(seconds_times_rate + 0.5);
  return true;
}

}  // namespace zr::wave
