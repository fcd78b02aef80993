#pragma once
// Decoding of the instrument's query replies into DeviceStatus.
#include <cstdint>
#include <span>

#include "device/command_frame.hpp"
#include "device/device_status.hpp"

namespace zr {

// Fills the fields of status that opcode carries; other opcodes leave status unchanged. The GNSS
// time of 0x9c is computed separately (gnss_time.hpp).
void decode_reply(std::uint8_t opcode, std::span<const std::uint8_t, kReplySize> reply,
                  DeviceStatus& status);

}  // namespace zr
