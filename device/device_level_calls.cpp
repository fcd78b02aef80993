#include "device/device_level_calls.hpp"

#include <algorithm>
#include <cmath>

#include "device/opcodes.hpp"

namespace zr {
namespace {

constexpr std::size_t kFanModeOffset = 8;
constexpr std::size_t kFanSetPointOffset = 12;
constexpr std::size_t kClockSourceOffset = 8;
constexpr std::size_t kClockFrequencyOffset = 16;
constexpr std::size_t kClockOutputOffset = 24;
constexpr std::size_t kGnssConfigOffset = 8;
constexpr std::uint64_t kMonitorCompleteBit = std::uint64_t{1} << 63;
constexpr double kMonitorReferenceHz = 200'000'000.0;
constexpr double kPartsPerMillion = 1'000'000.0;
constexpr double kTemperatureScale = 100.0;

}  // namespace

std::uint8_t fan_mode(std::uint8_t mode) { return std::min(mode, kMaxFanMode); }

float fan_set_point(float set_point) {
  // Written so that NaN fails the first test and is sent as the upper limit.
  if (!(set_point <= kMaxFanSetPoint)) set_point = kMaxFanSetPoint;
  if (!(set_point > kMinFanSetPoint)) set_point = kMinFanSetPoint;
  return set_point;
}

double clock_monitor_deviation(std::uint64_t count, std::uint16_t edges) {
  // Fewer than two edges span no interval: dividing by edges - 1 would give infinity.
  if ((count & kMonitorCompleteBit) == 0 || edges < 2) return 0.0;
  const double cycles = static_cast<double>(count & ~kMonitorCompleteBit);
  return (cycles / (edges - 1) / kMonitorReferenceHz - 1.0) * kPartsPerMillion;
}

std::int32_t config_fan(DeviceContext& context, std::uint8_t mode, float set_point) {
  CommandFrame frame(kOpConfigFan);
  set_frame_u8(frame, kFanModeOffset, fan_mode(mode));
  set_frame_f32(frame, kFanSetPointOffset, fan_set_point(set_point));
  return context.send_frame(frame);
}

std::int32_t config_clock(DeviceContext& context, std::uint8_t source, double frequency,
                          std::uint8_t output) {
  CommandFrame frame(kOpConfigClock);
  set_frame_u8(frame, kClockSourceOffset, source);
  set_frame_f64(frame, kClockFrequencyOffset, frequency);
  set_frame_u8(frame, kClockOutputOffset, output);
  return context.send_frame(frame);
}

std::int32_t config_gnss(DeviceContext& context, const GnssConfig& config) {
  CommandFrame frame(kOpConfigGnss);
  set_frame_u8(frame, kGnssConfigOffset, config.flag_a);
  set_frame_u8(frame, kGnssConfigOffset + 1, config.flag_b);
  set_frame_u8(frame, kGnssConfigOffset + 2, config.reserved[0]);
  set_frame_u8(frame, kGnssConfigOffset + 3, config.reserved[1]);
  set_frame_f32(frame, kGnssConfigOffset + 4, config.period);
  set_frame_f32(frame, kGnssConfigOffset + 8, config.rate);
  return context.send_frame(frame);
}

std::int32_t reset_clock_monitor(DeviceContext& context) {
  CommandFrame frame(kOpResetClockMonitor);
  return context.send_frame(frame);
}

std::int32_t query_clock(DeviceContext& context, ClockReading& reading) {
  DeviceStatus status;
  if (const std::int32_t queried = context.query_frame(kOpQueryClock, status); queried != ZR_OK) {
    return queried;
  }
  reading.source = status.clock_source;
  reading.frequency = status.clock_frequency;
  reading.output = status.clock_output;
  reading.monitor_valid = 0;
  double deviation = 0.0;
  if (query_clock_monitor(context, deviation) == ZR_OK) {
    reading.monitor_valid = deviation != 0.0 ? 1 : 0;
    reading.frequency *= 1.0 + deviation * 1e-6;
  }
  return ZR_OK;
}

std::int32_t query_clock_monitor(DeviceContext& context, double& deviation) {
  DeviceStatus status;
  if (const std::int32_t queried = context.query_frame(kOpQueryClockMonitor, status);
      queried != ZR_OK) {
    return queried;
  }
  deviation = clock_monitor_deviation(status.monitor_count, status.monitor_edges);
  return ZR_OK;
}

std::int32_t query_supply(DeviceContext& context, std::array<std::uint8_t, 16>& supply) {
  DeviceStatus status;
  if (const std::int32_t queried = context.query_frame(kOpQuerySupply, status); queried != ZR_OK) {
    return queried;
  }
  supply = status.supply;
  return ZR_OK;
}

std::int32_t query_temperature(DeviceContext& context, float& celsius) {
  DeviceStatus status;
  if (const std::int32_t queried = context.query_frame(kOpQueryTemperature, status);
      queried != ZR_OK) {
    return queried;
  }
  celsius = static_cast<float>(status.temperature_raw / kTemperatureScale);
  return ZR_OK;
}

std::int32_t query_state(DeviceContext& context) {
  DeviceStatus status;
  return context.query_frame(kOpQueryTemperature, status);
}

std::int32_t query_gnss(DeviceContext& context, GnssStatus& status) {
  status.flag_b = context.device_settings.gnss_flag_b ? 1 : 0;
  status.period = context.device_settings.gnss_period;
  status.rate = context.device_settings.gnss_rate;
  DeviceStatus reply;
  if (const std::int32_t queried = context.query_frame(kOpQueryGnss, reply); queried != ZR_OK) {
    return queried;
  }
  status.state = reply.gnss_fix;
  return ZR_OK;
}

std::int32_t query_gnss_info(DeviceContext& context, GnssInfo& info) {
  DeviceStatus reply;
  if (const std::int32_t queried = context.query_frame(kOpQueryGnss, reply); queried != ZR_OK) {
    return queried;
  }
  info.fix = reply.gnss_fix;
  info.b1 = reply.gnss_b1;
  info.b2 = reply.gnss_b2;
  info.b3 = reply.gnss_b3;
  info.b4 = reply.gnss_b4;
  info.value1 = reply.gnss_value1;
  info.value2 = reply.gnss_value2;
  info.value3 = reply.gnss_value3;
  info.epoch_ns = reply.gnss_epoch_ns;
  return ZR_OK;
}

}  // namespace zr
