// The exported device-level calls: thin shims over device_level_calls. Null outputs are skipped.
#include <algorithm>

#include "device/api_boundary.hpp"
#include "device/device_level_calls.hpp"

using zr::DeviceContext;

namespace {

template <typename Call>
std::int32_t with_device(DeviceContext** device, Call&& call) noexcept {
  return zr::guarded([&]() -> std::int32_t {
    DeviceContext* context = zr::context_of(device);
    if (context == nullptr) return ZR_INVALID_HANDLE;
    return call(*context);
  });
}

template <typename T>
void put(T* out, const T& value) {
  if (out != nullptr) *out = value;
}

}  // namespace

extern "C" ZR_API int32_t device_config_fan(DeviceContext** device, uint8_t mode,
                                            float set_point) {
  return with_device(device,
                     [&](DeviceContext& c) { return zr::config_fan(c, mode, set_point); });
}

extern "C" ZR_API int32_t device_config_clock(DeviceContext** device, uint8_t source,
                                              double frequency, uint8_t output) {
  return with_device(
      device, [&](DeviceContext& c) { return zr::config_clock(c, source, frequency, output); });
}

extern "C" ZR_API int32_t device_config_gnss(DeviceContext** device, GnssConfig config) {
  return with_device(device, [&](DeviceContext& c) { return zr::config_gnss(c, config); });
}

extern "C" ZR_API int32_t device_query_clock(DeviceContext** device, uint8_t* source,
                                             double* frequency, uint8_t* output,
                                             uint8_t* monitor_valid) {
  return with_device(device, [&](DeviceContext& c) {
    zr::ClockReading reading;
    const std::int32_t status = zr::query_clock(c, reading);
    if (status != ZR_OK) return status;
    put(source, reading.source);
    put(frequency, reading.frequency);
    put(output, reading.output);
    put(monitor_valid, reading.monitor_valid);
    return status;
  });
}

extern "C" ZR_API int32_t device_reset_clock_monitor(DeviceContext** device) {
  return with_device(device, [&](DeviceContext& c) { return zr::reset_clock_monitor(c); });
}

extern "C" ZR_API int32_t device_query_clock_monitor(DeviceContext** device, double* deviation) {
  return with_device(device, [&](DeviceContext& c) {
    double value = 0.0;
    const std::int32_t status = zr::query_clock_monitor(c, value);
    if (status == ZR_OK) put(deviation, value);
    return status;
  });
}

extern "C" ZR_API int32_t device_query_supply(DeviceContext** device, uint8_t supply[16]) {
  return with_device(device, [&](DeviceContext& c) {
    std::array<std::uint8_t, 16> report{};
    const std::int32_t status = zr::query_supply(c, report);
    if (status == ZR_OK && supply != nullptr) std::copy(report.begin(), report.end(), supply);
    return status;
  });
}

extern "C" ZR_API int32_t device_query_temperature(DeviceContext** device, float* temperature) {
  return with_device(device, [&](DeviceContext& c) {
    float celsius = 0.0f;
    const std::int32_t status = zr::query_temperature(c, celsius);
    if (status == ZR_OK) put(temperature, celsius);
    return status;
  });
}

extern "C" ZR_API int32_t device_query_state(DeviceContext** device) {
  return with_device(device, [&](DeviceContext& c) { return zr::query_state(c); });
}

extern "C" ZR_API int32_t device_query_gnss(DeviceContext** device, GnssStatus* status) {
  return with_device(device, [&](DeviceContext& c) {
    GnssStatus scratch{};
    return zr::query_gnss(c, status != nullptr ? *status : scratch);
  });
}

extern "C" ZR_API int32_t device_query_gnss_info(DeviceContext** device, GnssInfo* info) {
  return with_device(device, [&](DeviceContext& c) {
    GnssInfo reply{};
    const std::int32_t status = zr::query_gnss_info(c, reply);
    if (status == ZR_OK) put(info, reply);
    return status;
  });
}

extern "C" ZR_API void device_epoch_to_utc(uint64_t stamp_ns, uint16_t* year, uint16_t* month,
                                           uint16_t* day, uint16_t* hour, uint16_t* minute,
                                           uint16_t* second, uint16_t* millisecond,
                                           uint16_t* microsecond, uint16_t* nanosecond) {
  const zr::UtcFields f = zr::epoch_to_utc(stamp_ns);
  put(year, f.year);
  put(month, f.month);
  put(day, f.day);
  put(hour, f.hour);
  put(minute, f.minute);
  put(second, f.second);
  put(millisecond, f.millisecond);
  put(microsecond, f.microsecond);
  put(nanosecond, f.nanosecond);
}
