#pragma once
// The firmware update procedures, each working on an already opened context, and the
// connection each update export opens its private context with.
#include <cstdint>

#include "device/device_context.hpp"
#include "zr_api.h"

namespace zr {

// FPGA remote update of the flash image from path. 0, -20, -21, -22, -8 or -24.
std::int32_t update_fpga_image(DeviceContext& context, const char* path);

// MCU update through the bootloader selected by target (kMcuRoot or kMcuNode). 0, -20, -21,
// -24 or -8 (also when the node MCU's version cannot be queried; nothing is sent then).
std::int32_t update_mcu_image(DeviceContext& context, std::uint8_t target, const char* path);

// Bus controller firmware through the bus's own download, run on a worker thread while this
// thread shows the 40-second progress line. The bus's status, or -20 (nothing started).
std::int32_t update_bus_firmware(DeviceContext& context, const char* path);

struct FirmwareConnection {
  ConnectionParams params{};
  std::uint8_t device_number = 0;
};

// The connection an update export opens: over Ethernet (and the refused type 2) device number
// 0; with raise_timeout (the MCU updates) a time-out below 25000 ms, compared signed, raised.
FirmwareConnection firmware_connection(const ConnectionParams& params, std::uint8_t device_number,
                                       bool raise_timeout);

}  // namespace zr
