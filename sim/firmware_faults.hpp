#pragma once
// Faults of the instrument's firmware-update services: the remote-update service and the MCU
// bootloaders leave answers out so that every failure path of an update can be met on purpose.
// A connection that drops mid-image is a fault of the network service (close-after).
#include <cstdint>
#include <limits>

namespace zr::sim {

// Every commit goes unechoed.
inline constexpr std::uint32_t kAllCommits = std::numeric_limits<std::uint32_t>::max();

struct FpgaFaults {
  bool no_start_ack = false;         // the start is never answered with 0x01
  bool no_erase_done = false;        // the erase never reports 0x55
  std::uint32_t unechoed_commits = 0;  // the first this many commits of an update get no echo
};

// Bootloader commands whose acknowledgement is left out, for both MCUs.
struct McuFaults {
  bool no_begin_ack = false;
  bool no_erase_ack = false;   // the erase is never acknowledged, not even late
  bool no_data_ack = false;
  bool no_finish_ack = false;
  // The erase reply carries no acknowledgement; it arrives with this read after the erase
  // instead (1 = the first read). 0: the erase reply acknowledges at once.
  std::uint32_t late_erase_ack_read = 0;
};

struct FirmwareFaults {
  FpgaFaults fpga;
  McuFaults mcu;
};

}  // namespace zr::sim
