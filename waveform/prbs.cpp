#include "waveform/prbs.hpp"

namespace zr::wave {
namespace {

// Exponents of the primitive polynomials below x^n, one per degree (x^n + ... + 1).
constexpr std::uint32_t tap_mask(unsigned degree) {
  switch (degree) {
    case 4: return 1u << 3;                                   // x^4 + x^3 + 1
    case 5: return 1u << 3;                                   // x^5 + x^3 + 1
    case 6: return 1u << 5;                                   // x^6 + x^5 + 1
    case 7: return 1u << 6;                                   // x^7 + x^6 + 1
    case 8: return (1u << 6) | (1u << 5) | (1u << 4);         // x^8 + x^6 + x^5 + x^4 + 1
    case 9: return 1u << 5;                                   // x^9 + x^5 + 1
    case 10: return 1u << 7;                                  // x^10 + x^7 + 1
    case 11: return 1u << 9;                                  // x^11 + x^9 + 1
    case 12: return (1u << 6) | (1u << 4) | (1u << 1);        // x^12 + x^6 + x^4 + x + 1
    case 13: return (1u << 4) | (1u << 3) | (1u << 1);        // x^13 + x^4 + x^3 + x + 1
    case 14: return (1u << 5) | (1u << 3) | (1u << 1);        // x^14 + x^5 + x^3 + x + 1
    case 15: return 1u << 14;                                 // x^15 + x^14 + 1
    case 16: return (1u << 15) | (1u << 13) | (1u << 4);      // x^16 + x^15 + x^13 + x^4 + 1
    case 17: return 1u << 14;                                 // x^17 + x^14 + 1
    case 18: return 1u << 11;                                 // x^18 + x^11 + 1
    case 19: return (1u << 6) | (1u << 2) | (1u << 1);        // x^19 + x^6 + x^2 + x + 1
    case 20: return 1u << 17;                                 // x^20 + x^17 + 1
    case 21: return 1u << 19;                                 // x^21 + x^19 + 1
    case 22: return 1u << 21;                                 // x^22 + x^21 + 1
    case 23: return 1u << 18;                                 // x^23 + x^18 + 1
    case 24: return (1u << 23) | (1u << 22) | (1u << 17);     // x^24 + x^23 + x^22 + x^17 + 1
    default: return 0;
  }
}

}  // namespace

// The register holds s[i] .. s[i+n-1] in bits 0 .. n-1, the oldest shifted out as the output;
// x^n + x^k + ... + 1 gives s[i+n] = s[i+k] + ... + s[i] (mod 2).
Prbs::Prbs(unsigned degree, std::uint32_t state) : degree_(degree), taps_(tap_mask(degree) | 1u) {
  state_ = state & ((1u << degree) - 1);
  if (state_ == 0) state_ = 1;
}

unsigned Prbs::next_bit() {
  const unsigned out = state_ & 1u;
  const unsigned feedback = static_cast<unsigned>(__builtin_parity(state_ & taps_));
  state_ = (state_ >> 1) | (static_cast<std::uint32_t>(feedback) << (degree_ - 1));
  return out;
}

unsigned Prbs::next_bits(unsigned count) {
  unsigned value = 0;
  for (unsigned i = 0; i < count; ++i) value = (value << 1) | next_bit();
  return value;
}

}  // namespace zr::wave
