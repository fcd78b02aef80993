#pragma once
// The instrument's transmit channels as the channel frames leave them: running or stopped, the
// stop steps taken, triggers and presets counted, the per-channel options and output switches,
// continuous-wave or stream operation. A frame naming a channel the instrument does not have is
// refused whole. Not thread-safe: the model calls it under its lock.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/frame_fault.hpp"

namespace zr::sim {

enum class ChannelMode : std::uint8_t { kIdle, kContinuousWave, kStream };

struct SimChannelState {
  bool running = false;
  // The last step of the stop sequence taken: 1 after 0x11, 2 after 0x1a, 3 after 0x1b; a start
  // sets it back to 0.
  std::uint8_t stop_stage = 0;
  std::uint32_t bus_triggers = 0;
  std::uint32_t presets = 0;
  std::uint8_t lo_mode = 0;
  std::uint8_t data_block = 0;
  std::int16_t port = 0;
  std::int16_t trigger_out_value = 0;
  std::uint8_t trigger_out_flag = 0;
  std::uint8_t trigger_select = 0;
  std::uint8_t trigger_flag1 = 0;
  std::uint8_t trigger_flag2 = 0;
  std::uint8_t trigger_spare = 0;
  std::int32_t trigger_count = 0;
  std::uint8_t output_enable = 0;
  std::uint8_t modulation_enable = 0;
  ChannelMode mode = ChannelMode::kIdle;
  double stream_rate = 0.0;
};

class ChannelModel {
 public:
  // count is bounded to 0..16, the indices a channel list has room for.
  explicit ChannelModel(std::int16_t count = 1);
  // Keeps the state of the channels that remain.
  void set_channel_count(std::int16_t count);
  std::int16_t channel_count() const { return static_cast<std::int16_t>(channels_.size()); }
  bool valid_channel(std::int16_t index) const { return index >= 0 && index < channel_count(); }

  // True for the opcodes take() carries out.
  static bool handles(std::uint8_t opcode);
  // Carries out one checked 256-byte frame of an opcode it handles, or refuses it whole.
  std::optional<FrameFault> take(std::span<const std::uint8_t> frame);

  const std::vector<SimChannelState>& channels() const { return channels_; }

 private:
  std::optional<FrameFault> take_list(std::span<const std::uint8_t> frame);
  std::optional<FrameFault> take_single(std::span<const std::uint8_t> frame);

  std::vector<SimChannelState> channels_;
};

}  // namespace zr::sim
