#pragma once
// Delivery of a planned waveform into the caller's buffer: the length query, the capacity check
// and the scaling to full 16-bit range.
#include <cstdint>
#include <span>

#include "waveform/waveform.hpp"

namespace zr::wave {

// The result of an entry point for waveform and the two caller values.
std::int32_t deliver(const Waveform& waveform, void* samples, void* sample_count);

// Scales so that the largest I or Q magnitude becomes 32767 and writes interleaved pairs.
void write_full_scale(std::span<const Iq> waveform, std::int16_t* out);

}  // namespace zr::wave
