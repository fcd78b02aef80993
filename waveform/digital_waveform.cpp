#include <cmath>
#include <vector>

#include "waveform/constellation.hpp"
#include "waveform/oscillator.hpp"
#include "waveform/prbs.hpp"
#include "waveform/pulse_shaping.hpp"
#include "waveform/synthesisers.hpp"

namespace zr::wave {
namespace {

// Continuous-phase FSK: tone a of M sits at deviation * (2a - (M - 1)) / (M - 1).
Waveform plan_fsk(const DigitalSpec& spec, double rate, std::int32_t symbols, double sps) {
  std::uint64_t length = 0;
  if (!(sps >= 2.0) || !(spec.deviation > 0.0 && spec.deviation < rate / 2.0) ||
      !whole_samples(symbols * sps, length)) {
    return invalid_waveform();
  }
  const unsigned tones = fsk_tones(spec.modulation);
  unsigned bits = 0;
  while ((1u << bits) < tones) ++bits;
  return {GSW_OK, length, [=](std::span<Iq> out) {
            Prbs data(spec.option_a, spec.option_b);
            double phase = 0.0;
            std::size_t begin = 0;
            for (std::int32_t j = 0; j < symbols; ++j) {
              const std::size_t end =
                  j + 1 == symbols ? out.size()
                                   : std::min(out.size(), static_cast<std::size_t>(std::llround((j + 1) * sps)));
              const double a = data.next_bits(bits);
              const double offset = spec.deviation * (2.0 * a - (tones - 1)) / (tones - 1);
              phase = write_tone(out.subspan(begin, end - begin), phase, offset / rate);
              begin = end;
            }
          }};
}

}  // namespace

Waveform plan_digital(const DigitalSpec& spec, double rate, std::int32_t symbols) {
  if (!usable_rate(rate) || symbols < 1 || !(spec.symbol_rate > 0.0) ||
      !Prbs::supported(spec.option_a)) {
    return invalid_waveform();
  }
  const double sps = rate / spec.symbol_rate;
  if (is_fsk_code(spec.modulation)) return plan_fsk(spec, rate, symbols, sps);

  const PulseShape shape{spec.filter_type, spec.filter_span, spec.filter_factor};
  const double whole = std::round(sps);
  if (!SymbolMapper::create(spec.modulation) || !usable_shape(shape) || whole < 2.0 ||
      whole > 4096.0 || std::fabs(sps - whole) > 1e-6 * whole) {
    return invalid_waveform();
  }
  const auto k = static_cast<unsigned>(whole);
  const std::uint64_t length = static_cast<std::uint64_t>(symbols) * k;
  return {GSW_OK, length, [=](std::span<Iq> out) {
            auto mapper = SymbolMapper::create(spec.modulation);
            Prbs data(spec.option_a, spec.option_b);
            std::vector<Iq> points(static_cast<std::size_t>(symbols));
            for (Iq& p : points) p = mapper->map(data.next_bits(mapper->bits_per_symbol()));
            shape_cyclic(points, k, shape, out);
          }};
}

}  // namespace zr::wave
