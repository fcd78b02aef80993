#pragma once
// Maximal-length bit sequences (m-sequences) of degree 4..24 from a Fibonacci shift register.
// liquid-dsp's m-sequences stop at degree 15; the data sequences here go up to 24.
#include <cstdint>

namespace zr::wave {

inline constexpr unsigned kMinPrbsDegree = 4;
inline constexpr unsigned kMaxPrbsDegree = 24;

class Prbs {
 public:
  // degree must lie in kMinPrbsDegree..kMaxPrbsDegree; the low `degree` bits of state start
  // the register, and a zero start counts as 1.
  Prbs(unsigned degree, std::uint32_t state);

  unsigned next_bit();
  // count bits, the first one most significant.
  unsigned next_bits(unsigned count);

  static bool supported(unsigned degree) {
    return degree >= kMinPrbsDegree && degree <= kMaxPrbsDegree;
  }

 private:
  unsigned degree_;
  std::uint32_t taps_;
  std::uint32_t state_;
};

}  // namespace zr::wave
