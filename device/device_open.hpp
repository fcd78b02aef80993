#pragma once
// Opening, presetting and closing an instrument: the C++ side of the device_open_*,
// device_preset, device_close, device_config_calmode and power-source exports.
#include <chrono>
#include <cstdint>

#include "device/device_context.hpp"
#include "zr_api.h"

namespace zr {

inline constexpr std::chrono::milliseconds kReadyWait{5000};
inline constexpr std::chrono::milliseconds kReadyPollPause{5};
inline constexpr std::chrono::milliseconds kPowerSourceSettle{2000};

// The caller's out-parameters of an open; each may be null.
struct OpenOutputs {
  ChannelHandle* channels = nullptr;
  std::int16_t* channel_count = nullptr;
  DeviceInfo* info = nullptr;
  std::uint32_t* api_version = nullptr;
  std::uint8_t* interface_used = nullptr;
};

// The connection record of an Ethernet open. Only protocol 1 gives an interface with a bus.
ConnectionParams eth_connection(const EthParams& params);

// The record device_open_merge falls back to: the caller's, aimed at the default address.
ConnectionParams default_eth_connection(const ConnectionParams& given);

// Full opens: identification, preset, normal mode, ready wait and (USB only) the table read.
std::int32_t open_full(DeviceContext** handle, const ConnectionParams& record,
                       std::uint8_t device_number, const OpenOutputs& out);
std::int32_t open_usb_updater(DeviceContext** handle, std::uint8_t device_number,
                              const OpenOutputs& out);
// connection may be null unless use_parameters is 1.
std::int32_t open_merge(DeviceContext** handle, std::uint8_t device_number,
                        std::uint8_t use_parameters, const ConnectionParams* connection,
                        const OpenOutputs& out);

// Polls 0x16 until both calibrations are loaded: 0, -8, or after kReadyWait -29 / -43.
std::int32_t wait_until_ready(DeviceContext& context);

std::int32_t device_preset(DeviceContext& context, DeviceContext** handle);
std::int32_t device_config_calmode(DeviceContext& context, std::uint16_t mode);
// Sends 0x34, destroys the context and clears *handle; the status of the send.
std::int32_t close_device(DeviceContext** handle);

// Sends the power-source notice over a private connection. 0 or ZR_NO_BUS.
std::int32_t notify_power_source(const ConnectionParams& record, std::uint8_t device_number);

}  // namespace zr
