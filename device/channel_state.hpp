#pragma once
// The per-channel mirror of what has been sent to the instrument.
#include <array>
#include <cstdint>

namespace zr {

inline constexpr std::size_t kMscanCapacity = 16384;
inline constexpr std::size_t kMscanPointsPerPage = 8;

struct FfmSetting {
  double frequency = 0.0;
  double level = 0.0;
};

struct FscanSetting {
  double start_frequency = 0.0;
  double stop_frequency = 0.0;
  double frequency_step = 0.0;
  double level = 0.0;
  float dwell = 0.0f;
  std::array<std::uint8_t, 4> extra{};
};

struct LscanSetting {
  double start_level = 0.0;
  double stop_level = 0.0;
  double level_step = 0.0;
  double frequency = 0.0;
  float dwell = 0.0f;
  std::array<std::uint8_t, 4> extra{};
};

struct MscanPoint {
  double frequency = 0.0;
  double level = 0.0;
  float dwell = 0.0f;
  std::array<std::uint8_t, 4> extra{};
};

struct ChannelState {
  std::uint8_t running = 0;
  std::uint8_t lo_mode = 0;
  std::uint8_t data_block = 0;
  std::uint16_t port_setting = 0;
  std::uint16_t trigger_out_word = 0;
  std::uint8_t trigger_out_byte = 0;
  FfmSetting ffm;
  FscanSetting fscan;
  LscanSetting lscan;
  std::array<MscanPoint, kMscanCapacity> mscan_points{};
  std::uint16_t mscan_count = 0;
  std::array<std::uint32_t, 2> trigger{};
  std::array<std::uint8_t, 2> output{};
};

}  // namespace zr
