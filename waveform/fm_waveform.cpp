#include <cmath>
#include <numbers>

#include "waveform/modulating_wave.hpp"
#include "waveform/synthesisers.hpp"

namespace zr::wave {

// One period of the modulating wave; the phase advances by deviation * m / rate each sample, so
// the frequency between two samples is exactly deviation * m. liquid-dsp's table-based
// frequency modulator is off by up to a percent at these deviations, hence the plain phase sum.
Waveform plan_fm(const FmSpec& spec, double rate) {
  std::uint64_t period = 0;
  if (!usable_rate(rate) || !(spec.mod_frequency > 0.0) || !known_wave(spec.option) ||
      !(spec.deviation > 0.0 && spec.deviation < rate / 2.0) ||
      !whole_samples(rate / spec.mod_frequency, period) || period < 2) {
    return invalid_waveform();
  }
  const double cycles_per_sample = spec.mod_frequency / rate;
  const double deviation = spec.deviation / rate;
  return {GSW_OK, period, [=](std::span<Iq> out) {
            double phase = 0.0;
            for (std::size_t n = 0; n < out.size(); ++n) {
              const float angle = static_cast<float>(2.0 * std::numbers::pi * phase);
              out[n] = Iq(std::cos(angle), std::sin(angle));
              const double x = static_cast<double>(n) * cycles_per_sample;
              phase += deviation * modulating_wave(spec.option, x - std::floor(x));
              phase -= std::floor(phase);
            }
          }};
}

}  // namespace zr::wave
