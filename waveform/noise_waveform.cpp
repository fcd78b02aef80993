#include <cmath>
#include <cstdint>
#include <numbers>

#include "waveform/inverse_fft.hpp"
#include "waveform/synthesisers.hpp"

namespace zr::wave {
namespace {

// splitmix64: small, fast and good enough to feed Box-Muller; seeded the same way each call so
// that identical parameters give identical noise.
class NoiseSource {
 public:
  explicit NoiseSource(std::uint64_t seed) : state_(seed) {}
  // A pair of independent standard normal values.
  Iq gaussian_pair() {
    const double u1 = (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53;
    const double u2 = static_cast<double>(next() >> 11) * 0x1.0p-53;
    const double radius = std::sqrt(-2.0 * std::log(u1));
    const double angle = 2.0 * std::numbers::pi * u2;
    return Iq(static_cast<float>(radius * std::cos(angle)),
              static_cast<float>(radius * std::sin(angle)));
  }

 private:
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t state_;
};

constexpr std::uint64_t kNoiseSeed = 0x5EED0F5A3D1E2B47ull;

}  // namespace

// Gaussian values on every bin within the band and zero elsewhere, then one inverse FFT of the
// whole length: the band edges are exact and the noise is periodic in its length. A sum of many
// independent bins makes each sample Gaussian.
Waveform plan_awgn(const AwgnSpec& spec, double rate) {
  std::uint64_t length = 0;
  if (!usable_rate(rate) || !(spec.bandwidth > 0.0 && spec.bandwidth <= rate) ||
      !whole_samples(spec.duration * rate, length)) {
    return invalid_waveform();
  }
  const double half_band = spec.bandwidth / 2.0;
  return {GSW_OK, length, [=](std::span<Iq> out) {
            const auto size = static_cast<std::int64_t>(out.size());
            // Bins 0..edge and size-edge..size-1 are within |f| <= bandwidth / 2.
            const auto edge = std::min<std::int64_t>(
                (size - 1) / 2,
                static_cast<std::int64_t>(std::floor(half_band * static_cast<double>(size) / rate)));
            NoiseSource source(kNoiseSeed);
            std::fill(out.begin(), out.end(), Iq(0.0f, 0.0f));
            for (std::int64_t k = 0; k <= edge; ++k) out[static_cast<std::size_t>(k)] = source.gaussian_pair();
            for (std::int64_t k = size - edge; k < size; ++k) {
              if (k > edge) out[static_cast<std::size_t>(k)] = source.gaussian_pair();
            }
            InverseFft(out.size()).run(out, out);
          }};
}

}  // namespace zr::wave
