// The exported open, close, preset, mode and power-source calls: thin shims over device_open.
#include "device/api_boundary.hpp"
#include "device/device_open.hpp"

using zr::DeviceContext;
using zr::guarded;
using zr::OpenOutputs;

extern "C" ZR_API int32_t device_open_usb(DeviceContext** device, uint8_t device_number,
                                          ChannelHandle* channels, int16_t* channel_count,
                                          DeviceInfo* info) {
  return guarded([&]() -> std::int32_t {
    if (device == nullptr) return ZR_INVALID_HANDLE;
    ConnectionParams record{};
    record.interface = ZR_INTERFACE_USB;
    return zr::open_full(device, record, device_number,
                         OpenOutputs{.channels = channels, .channel_count = channel_count,
                                     .info = info});
  });
}

extern "C" ZR_API int32_t device_open_eth(DeviceContext** device, EthParams params,
                                          ChannelHandle* channels, int16_t* channel_count,
                                          DeviceInfo* info) {
  return guarded([&]() -> std::int32_t {
    if (device == nullptr) return ZR_INVALID_HANDLE;
    return zr::open_full(device, zr::eth_connection(params), 0,
                         OpenOutputs{.channels = channels, .channel_count = channel_count,
                                     .info = info});
  });
}

extern "C" ZR_API int32_t device_open_usb_updater(DeviceContext** device, uint8_t device_number,
                                                  ChannelHandle* channels,
                                                  int16_t* channel_count, DeviceInfo* info,
                                                  uint32_t* api_version) {
  return guarded([&]() -> std::int32_t {
    if (device == nullptr) return ZR_INVALID_HANDLE;
    return zr::open_usb_updater(device, device_number,
                                OpenOutputs{.channels = channels,
                                            .channel_count = channel_count,
                                            .info = info,
                                            .api_version = api_version});
  });
}

extern "C" ZR_API int32_t device_open_merge(DeviceContext** device, uint8_t device_number,
                                            uint8_t use_parameters,
                                            const ConnectionParams* connection,
                                            ChannelHandle* channels, int16_t* channel_count,
                                            DeviceInfo* info, uint32_t* api_version,
                                            uint8_t* interface_used) {
  return guarded([&]() -> std::int32_t {
    if (device == nullptr) return ZR_INVALID_HANDLE;
    return zr::open_merge(device, device_number, use_parameters, connection,
                          OpenOutputs{.channels = channels,
                                      .channel_count = channel_count,
                                      .info = info,
                                      .api_version = api_version,
                                      .interface_used = interface_used});
  });
}

extern "C" ZR_API int32_t device_open_query(DeviceContext** device, uint8_t device_number,
                                            uint8_t use_parameters,
                                            const ConnectionParams* connection, DeviceInfo* info,
                                            uint32_t* api_version, uint8_t* interface_used) {
  return guarded([&]() -> std::int32_t {
    if (device == nullptr) return ZR_INVALID_HANDLE;
    ChannelHandle own_channel{};
    int16_t own_count = 0;
    return zr::open_merge(device, device_number, use_parameters, connection,
                          OpenOutputs{.channels = &own_channel,
                                      .channel_count = &own_count,
                                      .info = info,
                                      .api_version = api_version,
                                      .interface_used = interface_used});
  });
}

extern "C" ZR_API int32_t device_close(DeviceContext** device) {
  return guarded([&]() -> std::int32_t {
    if (zr::context_of(device) == nullptr) return ZR_INVALID_HANDLE;
    return zr::close_device(device);
  });
}

extern "C" ZR_API int32_t device_preset(DeviceContext** device) {
  return guarded([&]() -> std::int32_t {
    DeviceContext* context = zr::context_of(device);
    if (context == nullptr) return ZR_INVALID_HANDLE;
    return zr::device_preset(*context, device);
  });
}

extern "C" ZR_API int32_t device_config_calmode(DeviceContext** device, uint16_t mode) {
  return guarded([&]() -> std::int32_t {
    DeviceContext* context = zr::context_of(device);
    if (context == nullptr) return ZR_INVALID_HANDLE;
    return zr::device_config_calmode(*context, mode);
  });
}

extern "C" ZR_API uint32_t device_query_apiverion(void) { return ZR_INTERFACE_VERSION; }

extern "C" ZR_API int32_t device_powered_by_usb(uint8_t device_number) {
  return guarded([&]() -> std::int32_t {
    ConnectionParams record{};
    record.interface = ZR_INTERFACE_USB;
    return zr::notify_power_source(record, device_number);
  });
}

extern "C" ZR_API int32_t device_powered_by_eth(EthParams params) {
  return guarded(
      [&]() -> std::int32_t { return zr::notify_power_source(zr::eth_connection(params), 0); });
}
