#pragma once
// What the simulated instrument reports through its command interpreter: identity, readings,
// calibration flags, stored tables and how quickly its MCU confirms a calibration frame.
#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/stored_table.hpp"

namespace zr::sim {

// Answer to 0x89.
struct InstrumentIdentity {
  std::uint16_t model = 0;
  std::uint64_t uid_low = 0;
  std::uint32_t uid_high = 0;
  std::uint16_t info_word = 0;
  std::uint32_t mcu_version = 0;   // major.minor.patch in bits 31..16 / 15..8 / 7..0
  std::uint32_t fpga_version = 0;
  std::uint32_t aux1 = 0;
  std::uint32_t aux2 = 0;
  std::uint32_t aux3 = 0;
};

// Answer to 0x9c.
struct GnssReading {
  float value1 = 0.0f;
  float value2 = 0.0f;
  std::uint8_t fix = 0;      // 0..127: it travels shifted left by one bit
  std::uint16_t value3 = 0;
  std::uint8_t b1 = 0;
  std::uint8_t b2 = 0;
  std::uint8_t b3 = 0;
  std::uint8_t b4 = 0;
  std::uint64_t datetime = 0;  // low 32 bits hhmmss, high 32 bits ddmmyy, both decimal
  std::uint32_t counter = 0;   // 10 ns ticks since the pulse
};

// Answer to 0xca.
struct ClockSetting {
  std::uint8_t source = 0;
  double frequency = 0.0;
  std::uint8_t output = 0;
};

// Answer to 0xa1.
struct ClockMonitor {
  std::uint64_t count = 0;
  std::uint16_t edges = 0;
};

struct InstrumentConfig {
  InstrumentIdentity identity;
  std::int16_t temperature_raw = 0;  // 0x95, hundredths of a degree
  GnssReading gnss;
  ClockSetting clock;
  ClockMonitor clock_monitor;
  std::array<std::uint8_t, 16> supply{};  // 0xc2, passed on as it is
  bool iq_cal_loaded = false;             // 0x16
  bool rf_cal_loaded = false;
  // The loaded flags above are reported only from this many readiness queries (0x16) on, so that
  // an open has to wait for them; 0 = from the first.
  std::uint32_t ready_after_queries = 0;
  // mcu_ready comes back this long after each acknowledged calibration frame; 0 = at once.
  std::chrono::milliseconds ready_delay{0};
  std::vector<StoredTable> tables;  // served to 0x5b; a missing one reads as empty
  // Transmit channels the channel frames may name (0..16); the library opens every device with 1.
  std::int16_t channel_count = 1;
};

// A signal generator of model 132 with both calibrations loaded, made-up readings, and the four
// open-time tables: one frequency segment (kind 2), one temperature point (kind 0) and the upper
// and lower level rows for it (kinds 1 and 3).
InstrumentConfig default_instrument_config();

}  // namespace zr::sim
