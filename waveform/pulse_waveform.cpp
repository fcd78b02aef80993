#include <algorithm>

#include "waveform/synthesisers.hpp"

namespace zr::wave {

Waveform plan_pulse(const PulseSpec& spec, double rate) {
  std::uint64_t period = 0;
  if (!usable_rate(rate) || !(spec.width >= 0.0) || !whole_samples(spec.period * rate, period)) {
    return invalid_waveform();
  }
  std::uint64_t width = 0;
  if (spec.width * rate >= 0.5 && !whole_samples(spec.width * rate, width)) {
    return invalid_waveform();
  }
  width = std::min(width, period);
  return {GSW_OK, period, [=](std::span<Iq> out) {
            std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(width), Iq(1.0f, 0.0f));
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(width), out.end(), Iq(0.0f, 0.0f));
          }};
}

}  // namespace zr::wave
