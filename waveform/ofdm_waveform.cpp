#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "waveform/constellation.hpp"
#include "waveform/inverse_fft.hpp"
#include "waveform/prbs.hpp"
#include "waveform/synthesisers.hpp"

namespace zr::wave {
namespace {

constexpr unsigned kDataDegree = 15;
constexpr std::uint32_t kMinSize = 8;
constexpr std::uint32_t kMaxSize = 65536;
constexpr std::uint32_t kPilotEvery = 8;

enum class Carrier : std::uint8_t { Unused, Pilot, Data };

// Subcarrier i in frequency order (0 the lowest, size/2 at DC).
std::vector<Carrier> allocation(const OfdmSpec& spec) {
  std::vector<Carrier> carriers(spec.size, Carrier::Unused);
  std::uint32_t used = 0;
  for (std::uint32_t i = spec.edge_low; i < spec.size - spec.edge_high; ++i) {
    if (spec.null_dc && i == spec.size / 2) continue;
    carriers[i] = spec.pilots && used % kPilotEvery == 0 ? Carrier::Pilot : Carrier::Data;
    ++used;
  }
  return carriers;
}

}  // namespace

Waveform plan_ofdm(const OfdmSpec& spec, double rate) {
  if (!usable_rate(rate) || spec.size < kMinSize || spec.size > kMaxSize || spec.symbols < 1 ||
      spec.prefix_percent > 100 || spec.taper_percent > 100 ||
      static_cast<std::uint64_t>(spec.edge_low) + spec.edge_high >= spec.size ||
      !SymbolMapper::create(spec.modulation) || is_fsk_code(spec.modulation)) {
    return invalid_waveform();
  }
  const std::vector<Carrier> carriers = allocation(spec);
  if (std::count(carriers.begin(), carriers.end(), Carrier::Data) == 0) return invalid_waveform();
  const std::size_t n = spec.size;
  const std::size_t prefix = n * spec.prefix_percent / 100;
  const std::size_t taper = prefix * spec.taper_percent / 100;
  const std::uint64_t length = static_cast<std::uint64_t>(spec.symbols) * (n + prefix);
  if (length > GSW_MAX_SAMPLES) return invalid_waveform();

  return {GSW_OK, length, [=](std::span<Iq> out) {
            auto mapper = SymbolMapper::create(spec.modulation);
            Prbs data(kDataDegree, 1);
            InverseFft ifft(n);
            std::vector<Iq> spectrum(n), time(n), tail(taper);
            std::vector<float> rise(taper);
            for (std::size_t t = 0; t < taper; ++t) {
              rise[t] = static_cast<float>(
                  0.5 * (1.0 - std::cos(std::numbers::pi * (t + 0.5) / static_cast<double>(taper))));
            }
            const std::size_t stride = n + prefix;
            for (std::uint32_t s = 0; s < spec.symbols; ++s) {
              for (std::size_t i = 0; i < n; ++i) {
                Iq value(0.0f, 0.0f);
                if (carriers[i] == Carrier::Pilot) value = Iq(1.0f, 0.0f);
                if (carriers[i] == Carrier::Data) {
                  value = mapper->map(data.next_bits(mapper->bits_per_symbol()));
                }
                spectrum[(i + n / 2) % n] = value;
              }
              ifft.run(spectrum, time);
              Iq* symbol = out.data() + static_cast<std::size_t>(s) * stride;
              for (std::size_t t = 0; t < prefix; ++t) symbol[t] = time[n - prefix + t];
              for (std::size_t t = 0; t < n; ++t) symbol[prefix + t] = time[t];
              // Raised-cosine edges: this symbol fades in over the taper while the one before
              // fades out over its continuation; the last one overlaps the first (the loop).
              for (std::size_t t = 0; t < taper; ++t) {
                symbol[t] *= rise[t];
                if (s > 0) symbol[t] += tail[t];
                tail[t] = time[t] * (1.0f - rise[t]);
              }
            }
            for (std::size_t t = 0; t < taper; ++t) out[t] += tail[t];
          }};
}

}  // namespace zr::wave
