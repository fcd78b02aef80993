#include "waveform/pulse_shaping.hpp"

#include <liquid/liquid.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace zr::wave {
namespace {

constexpr unsigned kMaxSpan = 400;

bool rectangular(std::uint32_t type) { return type == 0 || type == 1; }

// Gaussian pulse of bandwidth-time product bt, sampled k times a symbol over 2m symbols.
std::vector<float> gaussian_taps(unsigned k, unsigned m, double bt) {
  const unsigned length = 2 * k * m + 1;
  std::vector<float> taps(length);
  const double a = std::numbers::pi * bt * std::sqrt(2.0 / std::numbers::ln2);
  for (unsigned i = 0; i < length; ++i) {
    const double t = (static_cast<double>(i) - k * m) / k;  // in symbols
    taps[i] = static_cast<float>(std::exp(-a * a * t * t));
  }
  return taps;
}

std::vector<float> prototype_taps(const PulseShape& shape, unsigned k, unsigned m) {
  if (shape.type == 4) return gaussian_taps(k, m, shape.factor);
  std::vector<float> taps(2 * k * m + 1);
  liquid_firdes_prototype(shape.type == 2 ? LIQUID_FIRFILT_RCOS : LIQUID_FIRFILT_RRC, k, m,
                          static_cast<float>(shape.factor), 0.0f, taps.data());
  return taps;
}

}  // namespace

bool usable_shape(const PulseShape& shape) {
  if (rectangular(shape.type)) return true;
  if (shape.span < 2 || shape.span > kMaxSpan) return false;
  if (shape.type == 2 || shape.type == 3) return shape.factor > 0.0 && shape.factor <= 1.0;
  if (shape.type == 4) return shape.factor > 0.0 && shape.factor <= 10.0;
  return false;
}

void shape_cyclic(std::span<const Iq> symbols, unsigned k, const PulseShape& shape,
                  std::span<Iq> out) {
  const std::size_t n = symbols.size();
  if (rectangular(shape.type)) {
    for (std::size_t j = 0; j < n; ++j) {
      for (unsigned s = 0; s < k; ++s) out[j * k + s] = symbols[j];
    }
    return;
  }
  const unsigned m = shape.span / 2;
  std::vector<float> taps = prototype_taps(shape, k, m);
  firinterp_crcf interp = firinterp_crcf_create(k, taps.data(), static_cast<unsigned>(taps.size()));
  // Feed the last m symbols first so that the start already carries the tail of the period,
  // then skip the filter delay (m symbols) and the lead-in (m symbols).
  std::vector<liquid_float_complex> scratch(k);
  const std::size_t lead = 2 * static_cast<std::size_t>(m);
  for (std::size_t i = 0; i < n + lead; ++i) {
    const std::size_t index = (i + n * (lead + 1) - m) % n;
    const liquid_float_complex x(symbols[index].real(), symbols[index].imag());
    if (i < lead) {
      firinterp_crcf_execute(interp, x, scratch.data());
    } else {
      firinterp_crcf_execute(interp, x, reinterpret_cast<liquid_float_complex*>(
                                            out.data() + (i - lead) * k));
    }
  }
  firinterp_crcf_destroy(interp);
}

}  // namespace zr::wave
