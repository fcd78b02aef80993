#pragma once
// The 128-byte replies of the queries the instrument answers, in the layouts the library decodes.
#include <cstdint>
#include <span>

#include "device/command_frame.hpp"
#include "sim/instrument_config.hpp"

namespace zr::sim {

// The readiness flags as the MCU reports them at this moment.
struct ReadyFlags {
  bool iq_cal_loaded = false;
  bool mcu_ready = false;
  bool rf_cal_loaded = false;
};

// Writes the reply to opcode into reply (zero-filled first). False for an opcode that has no
// modelled reply; reply is then all zeros.
bool encode_query_reply(std::uint8_t opcode, const InstrumentConfig& config, ReadyFlags flags,
                        std::span<std::uint8_t, kReplySize> reply);

}  // namespace zr::sim
