#pragma once
// A sample transfer: reserves waveform memory for the samples, records the segment and writes the
// transfer frames through the bus's stream_write.
#include <cstddef>
#include <cstdint>

#include "device/device_context.hpp"
#include "device/waveform_memory.hpp"

namespace zr {

// Sends count samples (count >= 2, samples not null) in mode. The segment number is stored into
// *segment (when given) once the memory is reserved. Returns 0, ZR_WAVEFORM_MEMORY_FULL (nothing
// sent, bookkeeping unchanged), ZR_TRANSFER_CANCELLED when the bus reported a cancelled frame, or
// ZR_TRANSPORT_FAILED; after a failed frame the reservation stands and no further frame is sent.
std::int32_t run_transfer(DeviceContext& context, TransferMode mode, const std::int16_t* samples,
                          std::size_t count, std::uint16_t* segment);

}  // namespace zr
