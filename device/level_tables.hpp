#pragma once
// The stored level tables read at USB open for the output level range check: the frequency
// segments with the grid built from them, the temperature points and the upper and lower level
// rows, one row per temperature point.
#include <cstddef>
#include <cstdint>
#include <span>

#include "device/device_context.hpp"

namespace zr {

inline constexpr std::size_t kSegmentRecordSize = 48;
// Bounds the grid, and with it every level row (8 rows of 2 bytes per point per table).
inline constexpr std::size_t kMaxFreqGridPoints = 65536;

// Replaces the segment table and rebuilds the grid from segment bytes. ZR_TRANSPORT_FAILED when
// there are more than kMaxFreqSegments segments, a step is not positive, a stop lies below its
// start or the grid would exceed kMaxFreqGridPoints; the context is left unchanged then.
std::int32_t take_segment_table(DeviceContext& context, std::span<const std::uint8_t> bytes);

// Reads all four tables. A failed read or a rejected table returns ZR_TRANSPORT_FAILED: after a
// failed read the tables read so far stay, after a rejected one all open-time tables are
// emptied so that the range check treats them as absent.
std::int32_t read_level_tables(DeviceContext& context);

}  // namespace zr
