#pragma once
// The instrument's command interpreter: checks each 256-byte command frame, carries out the
// commands it models and answers queries. Later services (channel frames, waveform memory,
// firmware updates) each get a file of their own and a case in the dispatch of
// command_interpreter.cpp. Not thread-safe: the model calls it under its lock.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "platform/clock.hpp"
#include "sim/fault_plan.hpp"
#include "sim/instrument_config.hpp"
#include "sim/mcu_readiness.hpp"

namespace zr::sim {

enum class FrameCheck : std::uint8_t {
  kValid,        // a command frame whose checksum holds
  kBadChecksum,  // counted and otherwise ignored
  kUnchecked,    // not a command frame: not 256 bytes, or a remote-update packet (no checksum)
};

// What the interpreter made of one frame: its opcode (byte 0, 0 for an empty frame) and check.
struct FrameVerdict {
  std::uint8_t opcode = 0;
  FrameCheck check = FrameCheck::kUnchecked;
};

// Bound on the bytes the interpreter leaves for the client's reads (table pages), so that a
// client that asks and never reads cannot grow the queue without end.
inline constexpr std::size_t kMaxPendingReadBytes = 64 * 1024;

class CommandInterpreter {
 public:
  explicit CommandInterpreter(InstrumentConfig config = default_instrument_config());

  void set_config(InstrumentConfig config);
  const InstrumentConfig& config() const { return config_; }
  void set_faults(const InstrumentFaults& faults) { faults_ = faults; }
  const InstrumentFaults& faults() const { return faults_; }
  // The clock of the instrument's own timings (the mcu_ready delay); the real one by default.
  void set_clock(Clock& clock) { clock_ = &clock; }

  static FrameVerdict check(std::span<const std::uint8_t> frame);

  // Carries out a written frame that check() found valid. Bytes the instrument then has for the
  // client (a table page after 0x5b) are appended to read_out.
  void take_write(std::span<const std::uint8_t> frame, std::deque<std::uint8_t>& read_out);

  // Answers a query frame that check() found valid: appends min(room, 128) reply bytes and
  // returns true, or returns false (nothing appended) when the instrument leaves it unanswered.
  bool answer_query(std::span<const std::uint8_t> frame, std::uint32_t room,
                    std::vector<std::uint8_t>& reply);

 private:
  void serve_table_page(std::span<const std::uint8_t> frame, std::deque<std::uint8_t>& read_out);

  InstrumentConfig config_;
  InstrumentFaults faults_;
  Clock* clock_;
  McuReadiness readiness_;
};

}  // namespace zr::sim
