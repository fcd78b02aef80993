#pragma once
// Cyclic pulse shaping of a symbol (or chip) sequence: the output is one period of the filtered,
// endlessly repeated sequence, so that the waveform loops without a seam. The peak of symbol j
// lies at sample j * samples_per_symbol.
#include <cstdint>
#include <span>

#include "waveform/waveform.hpp"

namespace zr::wave {

struct PulseShape {
  std::uint32_t type = 0;  // 0, 1 rectangular; 2 raised cosine; 3 root raised cosine; 4 Gaussian
  std::uint32_t span = 0;  // in symbols
  double factor = 0.0;     // roll-off (2, 3) or bandwidth-time product (4)
};

// Whether the shape can be built at samples_per_symbol.
bool usable_shape(const PulseShape& shape);

// out.size() must be symbols.size() * samples_per_symbol.
void shape_cyclic(std::span<const Iq> symbols, unsigned samples_per_symbol,
                  const PulseShape& shape, std::span<Iq> out);

}  // namespace zr::wave
