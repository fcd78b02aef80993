#include "waveform/iq_output.hpp"

#include <cmath>
#include <vector>

namespace zr::wave {
namespace {

constexpr double kFullScale = 32767.0;

}  // namespace

void write_full_scale(std::span<const Iq> waveform, std::int16_t* out) {
  float peak = 0.0f;
  for (const Iq& v : waveform) {
    peak = std::max(peak, std::max(std::fabs(v.real()), std::fabs(v.imag())));
  }
  // In float the product may land a hair above 32767 but never reaches 32767.5.
  const float scale = peak > 0.0f ? static_cast<float>(kFullScale / peak) : 0.0f;
  for (std::size_t i = 0; i < waveform.size(); ++i) {
    out[2 * i] = static_cast<std::int16_t>(std::lrint(waveform[i].real() * scale));
    out[2 * i + 1] = static_cast<std::int16_t>(std::lrint(waveform[i].imag() * scale));
  }
}

std::int32_t deliver(const Waveform& waveform, void* samples, void* sample_count) {
  if (waveform.status != GSW_OK) return waveform.status;
  if (waveform.length == 0 || waveform.length > GSW_MAX_SAMPLES) return GSW_INVALID;
  auto* count = static_cast<std::uint64_t*>(sample_count);
  if (samples == nullptr) {
    *count = waveform.length;
    return GSW_OK;
  }
  if (*count < waveform.length) {
    *count = waveform.length;
    return GSW_TOO_SMALL;
  }
  std::vector<Iq> buffer(waveform.length);
  waveform.render(buffer);
  for (const Iq& v : buffer) {
    if (!std::isfinite(v.real()) || !std::isfinite(v.imag())) return GSW_INVALID;
  }
  write_full_scale(buffer, static_cast<std::int16_t*>(samples));
  *count = waveform.length;
  return GSW_OK;
}

}  // namespace zr::wave
