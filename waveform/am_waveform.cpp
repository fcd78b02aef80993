#include <cmath>

#include "waveform/modulating_wave.hpp"
#include "waveform/synthesisers.hpp"

namespace zr::wave {

// One period of the modulating wave on a carrier at 0 Hz: I = 1 + depth * m, Q = 0.
Waveform plan_am(const AmSpec& spec, double rate) {
  std::uint64_t period = 0;
  if (!usable_rate(rate) || !(spec.mod_frequency > 0.0) || !known_wave(spec.option) ||
      !(spec.depth >= 0.0 && spec.depth <= 100.0) ||
      !whole_samples(rate / spec.mod_frequency, period) || period < 2) {
    return invalid_waveform();
  }
  const double depth = spec.depth / 100.0;
  const double cycles_per_sample = spec.mod_frequency / rate;
  return {GSW_OK, period, [=](std::span<Iq> out) {
            for (std::size_t n = 0; n < out.size(); ++n) {
              const double x = static_cast<double>(n) * cycles_per_sample;
              const double m = modulating_wave(spec.option, x - std::floor(x));
              out[n] = Iq(static_cast<float>(1.0 + depth * m), 0.0f);
            }
          }};
}

}  // namespace zr::wave
