#include "sim/mcu_readiness.hpp"

#include "device/opcodes.hpp"

namespace zr::sim {

bool is_acknowledged_calibration_frame(std::uint8_t opcode) {
  switch (opcode) {
    case kOpCalStrategyTable:
    case kOpCalRfHeader:
    case kOpCalRfData:
    case kOpCalIqHeader:
    case kOpCalIqData:
    case kOpCalFreqTable:
      return true;
    default:
      return false;
  }
}

void McuReadiness::frame_taken(SteadyTime now, std::chrono::milliseconds delay,
                               bool never_ready) {
  ready_at_ = never_ready ? SteadyTime::max() : now + delay;
}

}  // namespace zr::sim
