#include "sim/instrument_config.hpp"

#include <algorithm>
#include <utility>

#include "platform/le_codec.hpp"

namespace zr::sim {
namespace {

constexpr std::int64_t kSegmentStart = 100'000'000;    // 100 MHz
constexpr std::int64_t kSegmentStop = 6'000'000'000;   // 6 GHz
constexpr std::int64_t kSegmentStep = 100'000'000;
constexpr std::size_t kSegmentSize = 48;
constexpr std::size_t kGridPoints = (kSegmentStop - kSegmentStart) / kSegmentStep + 1;
constexpr std::int16_t kTablePointTemperature = 2500;
constexpr std::int16_t kUpperLevel = 2000;    // hundredths of a dB
constexpr std::int16_t kLowerLevel = -12000;

void put_i64(LeWriter& out, std::int64_t value) { out.u64(static_cast<std::uint64_t>(value)); }

std::vector<std::uint8_t> level_row(std::int16_t level) {
  std::vector<std::uint8_t> row;
  LeWriter out(row);
  for (std::size_t i = 0; i < kGridPoints; ++i) out.u16(static_cast<std::uint16_t>(level));
  return row;
}

StoredTable table_of(std::uint8_t kind, std::vector<std::uint8_t> data) {
  StoredTable table;
  table.kind = kind;
  table.data = std::move(data);
  return table;
}

std::vector<StoredTable> default_tables() {
  std::vector<std::uint8_t> segment;
  LeWriter out(segment);
  put_i64(out, kSegmentStart);
  put_i64(out, kSegmentStop);
  out.zeros(8);
  put_i64(out, kSegmentStep);
  out.zeros(kSegmentSize - 32);

  std::vector<std::uint8_t> temperatures;
  LeWriter(temperatures).u8(1).u16(static_cast<std::uint16_t>(kTablePointTemperature));

  std::vector<StoredTable> tables;
  tables.push_back(table_of(2, std::move(segment)));
  tables.push_back(table_of(0, std::move(temperatures)));
  tables.push_back(table_of(1, level_row(kUpperLevel)));
  tables.push_back(table_of(3, level_row(kLowerLevel)));
  return tables;
}

}  // namespace

InstrumentConfig default_instrument_config() {
  InstrumentConfig config;
  config.identity = {.model = 132,
                     .uid_low = 0x0123456789abcdefull,
                     .uid_high = 0x00c0ffeeu,
                     .info_word = 1,
                     .mcu_version = 0x00010200,
                     .fpga_version = 0x00020301,
                     .aux1 = 0,
                     .aux2 = 0,
                     .aux3 = 0};
  config.temperature_raw = 3125;
  config.gnss = {.value1 = 31.2304f,
                 .value2 = 121.4737f,
                 .fix = 3,
                 .value3 = 12,
                 .b1 = 9,
                 .b2 = 7,
                 .b3 = 1,
                 .b4 = 2,
                 // 2023-03-01 12:34:56
                 .datetime = (std::uint64_t{10323} << 32) | 123456u,
                 .counter = 25'000'000};
  config.clock = {.source = 0, .frequency = 10e6, .output = 1};
  config.clock_monitor = {.count = 10'000'000, .edges = 0};
  // Four rails in millivolts: 12 V, 5 V, 3.3 V, 1.8 V.
  std::vector<std::uint8_t> supply;
  LeWriter(supply).u32(12000).u32(5000).u32(3300).u32(1800);
  std::copy(supply.begin(), supply.end(), config.supply.begin());
  config.iq_cal_loaded = true;
  config.rf_cal_loaded = true;
  config.tables = default_tables();
  return config;
}

}  // namespace zr::sim
