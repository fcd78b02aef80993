#include <cmath>

#include "waveform/oscillator.hpp"
#include "waveform/synthesisers.hpp"

namespace zr::wave {

// points tones from start to stop around the carrier at their middle, each for dwell, with the
// phase carried over from one step to the next.
Waveform plan_step_sweep(const StepSweepSpec& spec, double rate) {
  std::uint64_t length = 0;
  if (!usable_rate(rate) || spec.points < 1 || !(spec.dwell > 0.0) ||
      !std::isfinite(spec.start) || !std::isfinite(spec.stop) ||
      !whole_samples(static_cast<double>(spec.points) * spec.dwell * rate, length)) {
    return invalid_waveform();
  }
  const double center = (spec.start + spec.stop) / 2.0;
  const double half_span = std::fabs(spec.stop - spec.start) / 2.0;
  if (!(half_span < rate / 2.0)) return invalid_waveform();
  const std::uint32_t points = spec.points;
  const double step = points > 1 ? (spec.stop - spec.start) / (points - 1) : 0.0;
  return {GSW_OK, length, [=](std::span<Iq> out) {
            double phase = 0.0;
            std::size_t begin = 0;
            for (std::uint32_t k = 0; k < points; ++k) {
              const std::size_t end =
                  k + 1 == points ? out.size()
                                  : std::min(out.size(), static_cast<std::size_t>(std::llround(
                                                             (k + 1) * spec.dwell * rate)));
              const double offset = spec.start + k * step - center;
              phase = write_tone(out.subspan(begin, end - begin), phase, offset / rate);
              begin = end;
            }
          }};
}

}  // namespace zr::wave
