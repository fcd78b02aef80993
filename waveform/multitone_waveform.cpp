#include <cmath>
#include <cstdlib>
#include <numbers>

#include "waveform/inverse_fft.hpp"
#include "waveform/synthesisers.hpp"

namespace zr::wave {
namespace {

constexpr std::uint32_t kMaxTones = 100000;

}  // namespace

// One period by inverse FFT: the tones fall exactly on bins of the period's transform.
Waveform plan_multitone(const MultitoneSpec& spec, double rate) {
  const std::uint32_t tones = spec.tones;
  if (!usable_rate(rate) || tones < 1 || tones > kMaxTones || !(spec.spacing > 0.0)) {
    return invalid_waveform();
  }
  const bool even = tones % 2 == 0;
  const double bin_width = even ? spec.spacing / 2.0 : spec.spacing;
  std::uint64_t period = 0;
  if (!whole_samples(rate / bin_width, period)) return invalid_waveform();
  // Tone j sits on bin 2j - (tones - 1) (even count) or j - (tones - 1) / 2 (odd count).
  const std::int64_t highest = even ? static_cast<std::int64_t>(tones) - 1
                                    : (static_cast<std::int64_t>(tones) - 1) / 2;
  if (2 * highest >= static_cast<std::int64_t>(period)) return invalid_waveform();
  const double phase = std::isfinite(spec.phase) ? spec.phase : 0.0;
  return {GSW_OK, period, [=](std::span<Iq> out) {
            std::fill(out.begin(), out.end(), Iq(0.0f, 0.0f));
            const auto size = static_cast<std::int64_t>(out.size());
            for (std::uint32_t j = 0; j < tones; ++j) {
              const std::int64_t bin = even ? 2 * static_cast<std::int64_t>(j) - (tones - 1)
                                            : static_cast<std::int64_t>(j) - (tones - 1) / 2;
              const double start = std::fmod(phase * static_cast<double>(j) * j, 2.0 * std::numbers::pi);
              out[static_cast<std::size_t>((bin + size) % size)] =
                  Iq(static_cast<float>(std::cos(start)), static_cast<float>(std::sin(start)));
            }
            InverseFft(out.size()).run(out, out);
          }};
}

}  // namespace zr::wave
