#pragma once
// Transmit calibration tables of an instrument, kept in its DeviceContext. They are filled from
// the calibration files or read from the instrument at open, and sent by the calibration download.
#include <array>
#include <cstdint>
#include <vector>

namespace zr {

inline constexpr std::size_t kMaxStrategies = 10;
inline constexpr std::size_t kMaxFreqSegments = 34;
inline constexpr std::size_t kStrategyTableBytes = 3128;
inline constexpr std::size_t kFreqCalRows = 8;
inline constexpr std::size_t kFreqCalColumns = 10;
inline constexpr std::size_t kFreqCalBlockBytes = 340;
inline constexpr std::size_t kMaxRfPoints = 8;
inline constexpr std::size_t kMaxIqPoints = 107;

// One frequency segment (48 bytes on the wire). The two opaque areas keep whatever the instrument
// reported for them.
struct FreqSegment {
  std::int64_t start = 0;
  std::int64_t stop = 0;
  std::array<std::uint8_t, 8> reserved_a{};
  std::int64_t step = 0;
  std::array<std::uint8_t, 16> reserved_b{};
};

// Sent whole (3128 bytes) by opcode 0x54.
struct StrategyTable {
  std::uint8_t strategy_count = 0;
  std::uint8_t segment_count = 0;
  std::array<std::uint8_t, kMaxStrategies> strategy{};
  float strategy_param = 0.0f;
  std::array<FreqSegment, kMaxFreqSegments> segments{};
};

// Sent whole (340 bytes) by opcode 0x5e.
struct FreqCalBlock {
  std::uint8_t row_count = 0;
  std::array<std::int16_t, kFreqCalRows> row_value{};
  std::uint8_t column_count = 0;
  std::array<std::array<std::int16_t, kFreqCalColumns>, kFreqCalRows> table_a{};
  std::array<std::array<std::int16_t, kFreqCalColumns>, kFreqCalRows> table_b{};
};

struct RfCalTable {
  std::vector<std::int16_t> rf_points;
  std::uint32_t rf_param = 0;
  std::uint32_t rf_columns = 0;
  std::vector<std::int16_t> rf_data;  // [point * rf_columns + column], hundredths
};

struct IqEntry {
  std::int16_t c = 0;
  std::int16_t d = 0;
  std::int16_t a = 0;
  std::int16_t b = 0;
};

struct IqCalTable {
  std::uint32_t iq_count = 0;  // frequencies
  std::vector<std::int16_t> iq_points;
  std::vector<double> iq_freqs;
  std::vector<IqEntry> iq_data;  // [point * iq_count + frequency]
};

// Tables read from the instrument at USB open for the output level range check.
inline constexpr std::size_t kMaxTemperaturePoints = 8;

struct LevelTable {
  std::vector<std::int16_t> entries;  // hundredths of a dB, one row per temperature point
  std::array<std::size_t, kMaxTemperaturePoints> row_start{};
};

struct OpenTimeTables {
  std::vector<double> freq_grid;
  std::vector<std::uint8_t> temperature_points;  // count byte, then i16 hundredths of a degree
  LevelTable upper_levels;
  LevelTable lower_levels;
};

}  // namespace zr
