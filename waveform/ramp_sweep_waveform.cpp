#include <cmath>
#include <numbers>

#include "waveform/synthesisers.hpp"

namespace zr::wave {

// A sawtooth of frequency from -span/2 to +span/2 every sub_time; the phase advances by the
// sample's frequency / rate, so the frequency between two samples is exactly the ramp's.
Waveform plan_ramp_sweep(const RampSweepSpec& spec, double rate) {
  std::uint64_t length = 0;
  if (!usable_rate(rate) || !(spec.span >= 0.0 && spec.span < rate) || !(spec.sub_time > 0.0) ||
      !whole_samples(spec.sweep_time * rate, length)) {
    return invalid_waveform();
  }
  const double ramp_samples = spec.sub_time * rate;
  if (!(ramp_samples >= 1.0)) return invalid_waveform();
  const double low = -spec.span / 2.0 / rate;
  const double slope = spec.span / rate / ramp_samples;  // cycles per sample, per sample
  return {GSW_OK, length, [=](std::span<Iq> out) {
            double phase = 0.0;
            double ramp_start = 0.0;
            for (std::size_t n = 0; n < out.size(); ++n) {
              const double t = static_cast<double>(n);
              if (t - ramp_start >= ramp_samples) ramp_start += ramp_samples * std::floor((t - ramp_start) / ramp_samples);
              const float angle = static_cast<float>(2.0 * std::numbers::pi * phase);
              out[n] = Iq(std::cos(angle), std::sin(angle));
              phase += low + slope * (t - ramp_start);
              phase -= std::floor(phase);
            }
          }};
}

}  // namespace zr::wave
