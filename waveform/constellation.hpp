#pragma once
// Symbol mapping of the linear modulation codes: liquid-dsp modems, and a square 1024-QAM of our
// own (liquid's modems stop at 8 bits a symbol).
#include <cstdint>
#include <memory>

#include "waveform/waveform.hpp"

namespace zr::wave {

class SymbolMapper {
 public:
  // Null for codes that are not linear modulations (the FSK codes, unknown codes).
  static std::unique_ptr<SymbolMapper> create(std::uint32_t code);
  virtual ~SymbolMapper() = default;

  virtual unsigned bits_per_symbol() const = 0;
  // The point of a symbol value; differential codes depend on the symbols before.
  virtual Iq map(unsigned symbol) = 0;
};

// Codes 15..18: frequency-shift keying with 2, 4, 8 or 16 tones.
inline bool is_fsk_code(std::uint32_t code) { return code >= 15 && code <= 18; }
inline unsigned fsk_tones(std::uint32_t code) { return 2u << (code - 15); }

}  // namespace zr::wave
