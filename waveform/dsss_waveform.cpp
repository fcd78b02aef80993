#include <cmath>
#include <vector>

#include "waveform/constellation.hpp"
#include "waveform/prbs.hpp"
#include "waveform/pulse_shaping.hpp"
#include "waveform/synthesisers.hpp"

namespace zr::wave {
namespace {

constexpr unsigned kDataDegree = 15;
constexpr unsigned kMaxSpreadOrder = 16;

}  // namespace

// Every data symbol times one whole period of the spreading m-sequence, chip-shaped.
Waveform plan_dsss(const DsssSpec& spec, double rate, std::int32_t symbols) {
  if (!usable_rate(rate) || symbols < 1 || !(spec.symbol_rate > 0.0) ||
      !Prbs::supported(spec.spread_order) || spec.spread_order > kMaxSpreadOrder) {
    return invalid_waveform();
  }
  const std::uint64_t chips = (std::uint64_t{1} << spec.spread_order) - 1;
  const double spc = rate / (spec.symbol_rate * static_cast<double>(chips));
  const double whole = std::round(spc);
  const PulseShape shape{spec.filter_type, spec.filter_span, spec.filter_factor};
  if (!SymbolMapper::create(spec.modulation) || !usable_shape(shape) || whole < 2.0 ||
      whole > 4096.0 || std::fabs(spc - whole) > 1e-6 * whole) {
    return invalid_waveform();
  }
  const auto k = static_cast<unsigned>(whole);
  const std::uint64_t total_chips = static_cast<std::uint64_t>(symbols) * chips;
  if (total_chips * k > GSW_MAX_SAMPLES) return invalid_waveform();
  return {GSW_OK, total_chips * k, [=](std::span<Iq> out) {
            std::vector<float> code(chips);
            Prbs spreading(spec.spread_order, 1);
            for (float& c : code) c = spreading.next_bit() != 0 ? 1.0f : -1.0f;
            auto mapper = SymbolMapper::create(spec.modulation);
            Prbs data(kDataDegree, spec.option_b);
            std::vector<Iq> chip_values(total_chips);
            for (std::int32_t j = 0; j < symbols; ++j) {
              const Iq symbol = mapper->map(data.next_bits(mapper->bits_per_symbol()));
              for (std::uint64_t c = 0; c < chips; ++c) {
                chip_values[static_cast<std::size_t>(j) * chips + c] = symbol * code[c];
              }
            }
            shape_cyclic(chip_values, k, shape, out);
          }};
}

}  // namespace zr::wave
