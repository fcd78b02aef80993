#pragma once
// The MCU's confirmation of calibration frames sent with acknowledgement: mcu_ready drops when
// such a frame arrives and comes back after the configured delay, or never under that fault.
#include <chrono>
#include <cstdint>

#include "platform/clock.hpp"

namespace zr::sim {

// The calibration download frames the MCU confirms through mcu_ready (0x54 to 0x58 and 0x5e).
bool is_acknowledged_calibration_frame(std::uint8_t opcode);

class McuReadiness {
 public:
  // never_ready: this frame is never confirmed (an MCU that has seen no such frame is ready).
  void frame_taken(SteadyTime now, std::chrono::milliseconds delay, bool never_ready);
  bool ready(SteadyTime now) const { return now >= ready_at_; }

 private:
  SteadyTime ready_at_ = SteadyTime::min();
};

}  // namespace zr::sim
