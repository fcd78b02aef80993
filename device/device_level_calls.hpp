#pragma once
// Instrument-wide configuration and queries not tied to a channel: fan, reference clock and its
// monitor, GNSS, supply and temperature, and the split of a time stamp into UTC fields.
#include <array>
#include <cstdint>

#include "device/device_context.hpp"
#include "zr_api.h"

namespace zr {

inline constexpr std::uint8_t kMaxFanMode = 2;
inline constexpr float kMaxFanSetPoint = 160.0f;
inline constexpr float kMinFanSetPoint = -40.0f;

// The mode and set point device_config_fan sends.
std::uint8_t fan_mode(std::uint8_t mode);
float fan_set_point(float set_point);

// Deviation in parts per million from the monitor's count and edge count: 0.0 unless bit 63 of
// count marks a complete measurement over at least two edges.
double clock_monitor_deviation(std::uint64_t count, std::uint16_t edges);

std::int32_t config_fan(DeviceContext& context, std::uint8_t mode, float set_point);
std::int32_t config_clock(DeviceContext& context, std::uint8_t source, double frequency,
                          std::uint8_t output);
std::int32_t config_gnss(DeviceContext& context, const GnssConfig& config);
std::int32_t reset_clock_monitor(DeviceContext& context);

struct ClockReading {
  std::uint8_t source = 0;
  double frequency = 0.0;  // corrected by the monitor's deviation
  std::uint8_t output = 0;
  std::uint8_t monitor_valid = 0;
};
std::int32_t query_clock(DeviceContext& context, ClockReading& reading);
std::int32_t query_clock_monitor(DeviceContext& context, double& deviation);
std::int32_t query_supply(DeviceContext& context, std::array<std::uint8_t, 16>& supply);
std::int32_t query_temperature(DeviceContext& context, float& celsius);
std::int32_t query_state(DeviceContext& context);
// Writes the configured fields into status, then queries; state only on success.
std::int32_t query_gnss(DeviceContext& context, GnssStatus& status);
std::int32_t query_gnss_info(DeviceContext& context, GnssInfo& info);

struct UtcFields {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t millisecond = 0;
  std::uint16_t microsecond = 0;
  std::uint16_t nanosecond = 0;
};
UtcFields epoch_to_utc(std::uint64_t stamp_ns);

}  // namespace zr
