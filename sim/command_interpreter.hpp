#pragma once
// The instrument's command interpreter: checks each 256-byte command frame, carries out the
// commands it models and answers queries. Each service (channel frames, waveform memory and
// playback lists, later the firmware updates) has a file of its own and a case in the dispatch of
// command_interpreter.cpp. Not thread-safe: the model calls it under its lock.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "platform/clock.hpp"
#include "sim/channel_model.hpp"
#include "sim/fault_plan.hpp"
#include "sim/frame_fault.hpp"
#include "sim/instrument_config.hpp"
#include "sim/mcu_readiness.hpp"
#include "sim/playback_list.hpp"
#include "sim/waveform_memory_model.hpp"

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
  // client (a table page after 0x5b) are appended to read_out. Returns why the frame was refused
  // (nothing of it carried out), or nothing.
  std::optional<FrameFault> take_write(std::span<const std::uint8_t> frame,
                                       std::deque<std::uint8_t>& read_out);
  // A sample transfer frame (request 8) for the waveform memory.
  std::optional<FrameFault> take_transfer_frame(std::span<const std::uint8_t> frame) {
    return waveform_.take_frame(frame);
  }
  void reset_stream_path() { waveform_.reset_stream_path(); }
  void set_payload_limit(std::size_t bytes) { waveform_.set_payload_limit(bytes); }

  const ChannelModel& channels() const { return channels_; }
  const WaveformMemoryModel& waveform() const { return waveform_; }
  const PlaybackLists& playback() const { return playback_; }

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
  std::uint32_t readiness_queries_ = 0;  // 0x16 queries answered since the configuration was set
  ChannelModel channels_;
  WaveformMemoryModel waveform_;
  PlaybackLists playback_;
};

}  // namespace zr::sim
