#pragma once
// Time of the GNSS pulse from the date and time words of query 0x9c, in nanoseconds since 1970.
#include <cstdint>

#include "device/device_status.hpp"

namespace zr {

inline constexpr std::int64_t kGnssTickNs = 10;

// Fills record (pps_seconds, ticks, epoch_ns, ...) and returns epoch_ns. datetime holds hhmmss in
// its low and ddmmyy in its high 32 bits (decimal); the pulse marks the second after that time.
// A date too far out for 64-bit nanoseconds gives 0.
std::uint64_t compute_gnss_epoch_ns(GnssTime& record, std::uint64_t datetime,
                                    std::uint32_t counter);

}  // namespace zr
