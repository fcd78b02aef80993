#pragma once
// The USB identity record the open hands to the bus, so that the instrument's USB strings name
// its model and unique id.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/device_context.hpp"

namespace zr {

inline constexpr std::size_t kIdentityRecordSize = 100;
using IdentityRecord = std::array<std::uint8_t, kIdentityRecordSize>;

// "mmm" (at least three decimal digits), then, when either uid part is non-zero, "_" with
// uid_high in 8 and uid_low in 16 lowercase hexadecimal digits, each only when non-zero.
std::string identity_serial(std::uint16_t model, std::uint32_t uid_high, std::uint64_t uid_low);

IdentityRecord build_identity_record(const DeviceIdentity& identity);

// Hands the record built from the context's identity block to the bus. 0, or
// ZR_TRANSPORT_FAILED when the bus refused it.
std::int32_t identify_device(DeviceContext& context);

}  // namespace zr
