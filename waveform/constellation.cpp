#include "waveform/constellation.hpp"

#include <liquid/liquid.h>

#include <vector>

namespace zr::wave {
namespace {

class LiquidMapper final : public SymbolMapper {
 public:
  explicit LiquidMapper(modulation_scheme scheme) : modem_(modemcf_create(scheme)) {}
  ~LiquidMapper() override { modemcf_destroy(modem_); }
  LiquidMapper(const LiquidMapper&) = delete;
  LiquidMapper& operator=(const LiquidMapper&) = delete;

  unsigned bits_per_symbol() const override { return modemcf_get_bps(modem_); }
  Iq map(unsigned symbol) override {
    liquid_float_complex point{};
    modemcf_modulate(modem_, symbol, &point);
    return {point.real(), point.imag()};
  }

 private:
  modemcf modem_;
};

// 32 x 32 points, each axis Gray coded from its 5 bits.
class Qam1024Mapper final : public SymbolMapper {
 public:
  unsigned bits_per_symbol() const override { return 10; }
  Iq map(unsigned symbol) override {
    return {level(symbol >> 5), level(symbol & 31u)};
  }

 private:
  static float level(unsigned gray) {
    unsigned binary = gray;
    for (unsigned shift = 1; shift < 5; shift <<= 1) binary ^= binary >> shift;
    return static_cast<float>(2 * static_cast<int>(binary) - 31);
  }
};

bool liquid_scheme(std::uint32_t code, modulation_scheme& scheme) {
  switch (code) {
    case 0: scheme = LIQUID_MODEM_OOK; return true;
    case 1: scheme = LIQUID_MODEM_BPSK; return true;
    case 2: scheme = LIQUID_MODEM_DPSK2; return true;
    case 3: scheme = LIQUID_MODEM_QPSK; return true;
    case 4: scheme = LIQUID_MODEM_DPSK4; return true;
    case 5: scheme = LIQUID_MODEM_PI4DQPSK; return true;
    case 6: scheme = LIQUID_MODEM_QAM4; return true;
    case 7: scheme = LIQUID_MODEM_PSK8; return true;
    case 8: scheme = LIQUID_MODEM_DPSK8; return true;
    case 9: scheme = LIQUID_MODEM_QAM16; return true;
    case 10: scheme = LIQUID_MODEM_APSK16; return true;
    case 11: scheme = LIQUID_MODEM_QAM64; return true;
    case 12: scheme = LIQUID_MODEM_QAM256; return true;
    case 14: scheme = LIQUID_MODEM_ASK2; return true;
    case 19: scheme = LIQUID_MODEM_ASK4; return true;
    case 20: scheme = LIQUID_MODEM_ASK8; return true;
    case 21: scheme = LIQUID_MODEM_ASK16; return true;
    case 22: scheme = LIQUID_MODEM_APSK8; return true;
    default: return false;
  }
}

}  // namespace

std::unique_ptr<SymbolMapper> SymbolMapper::create(std::uint32_t code) {
  if (code == 13) return std::make_unique<Qam1024Mapper>();
  modulation_scheme scheme = LIQUID_MODEM_UNKNOWN;
  if (!liquid_scheme(code, scheme)) return nullptr;
  return std::make_unique<LiquidMapper>(scheme);
}

}  // namespace zr::wave
