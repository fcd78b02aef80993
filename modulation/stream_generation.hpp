#pragma once
// mod_generate_stream: has the waveform library synthesise the current kind within the sample
// budget, falling back to the last generated parameters when the pending ones are too large.
#include <cstdint>

#include "device/device_context.hpp"

namespace zr {

// Rate the call writes when there is no current kind.
inline constexpr double kNoKindRate = 4e6;

std::int32_t generate_stream(DeviceContext& context, std::int32_t count, void* output,
                             void* output_size, double* rate);

}  // namespace zr
