#pragma once
// What query_frame decodes from the instrument's reply. One record serves every query; each
// opcode fills only its own fields.
#include <array>
#include <cstdint>

namespace zr {

struct DeviceStatus {
  std::uint8_t opcode = 0;  // the opcode sent, set by every query
  // 0x89: identity and firmware versions
  std::uint16_t model = 0;
  std::uint64_t uid_low = 0;
  std::uint32_t uid_high = 0;
  std::uint16_t info_word = 0;
  std::uint32_t mcu_version = 0;
  std::uint32_t fpga_version = 0;
  std::uint32_t aux1 = 0;
  std::uint32_t aux2 = 0;
  std::uint32_t aux3 = 0;
  // 0xc2
  std::array<std::uint8_t, 16> supply{};
  // 0x95, hundredths of a degree
  std::int16_t temperature_raw = 0;
  // 0x9c
  std::uint8_t gnss_fix = 0;
  std::uint8_t gnss_b1 = 0;
  std::uint8_t gnss_b2 = 0;
  std::uint8_t gnss_b3 = 0;
  std::uint8_t gnss_b4 = 0;
  float gnss_value1 = 0.0f;
  float gnss_value2 = 0.0f;
  float gnss_value3 = 0.0f;
  std::uint64_t gnss_epoch_ns = 0;
  // 0xca
  std::uint8_t clock_source = 0;
  double clock_frequency = 0.0;
  std::uint8_t clock_output = 0;
  // 0xa1
  std::uint16_t monitor_edges = 0;
  std::uint64_t monitor_count = 0;
  // 0x9c, raw time fields
  std::uint64_t gnss_datetime = 0;  // low 32 bits hhmmss, high 32 bits ddmmyy (decimal)
  std::uint32_t gnss_counter = 0;   // 10 ns ticks since the pulse
  // 0x16
  std::uint8_t iq_cal_loaded = 0;
  std::uint8_t mcu_ready = 0;
  std::uint8_t rf_cal_loaded = 0;
};

// Working record of the GNSS time computation, owned by the context.
struct GnssTime {
  std::int64_t tick_ns = 0;
  std::int64_t tick_base = 0;
  std::int64_t pps_seconds = 0;  // seconds since 1970 UTC of the pulse
  std::int64_t ticks = 0;
  std::int64_t counter_base = 0;
  std::int64_t epoch_ns = 0;
};

}  // namespace zr
