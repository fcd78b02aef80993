// The exported firmware update calls: each opens a private context, runs its procedure on it
// and releases it before returning.
#include <memory>

#include "device/api_boundary.hpp"
#include "device/opcodes.hpp"
#include "firmware/firmware_update.hpp"

namespace {

enum class Timeout { Keep, Raise };

template <typename Procedure>
std::int32_t with_private_context(const ConnectionParams* connection, std::uint8_t device_number,
                                  Timeout timeout, Procedure&& procedure) noexcept {
  return zr::guarded([&]() -> std::int32_t {
    if (connection == nullptr) return ZR_INVALID_HANDLE;
    const zr::FirmwareConnection opened =
        zr::firmware_connection(*connection, device_number, timeout == Timeout::Raise);
    auto context = std::make_unique<zr::DeviceContext>();
    if (context->open_bus(opened.params, opened.device_number) != ZR_OK) return ZR_NO_BUS;
    return procedure(*context);
  });
}

}  // namespace

extern "C" ZR_API int32_t device_update_fpga_firmware(const char* path, uint8_t device_number,
                                                      const ConnectionParams* connection) {
  return with_private_context(connection, device_number, Timeout::Keep,
                              [&](zr::DeviceContext& c) { return zr::update_fpga_image(c, path); });
}

extern "C" ZR_API int32_t device_update_rootmcu_firmware(const char* path, uint8_t device_number,
                                                         const ConnectionParams* connection) {
  return with_private_context(connection, device_number, Timeout::Raise, [&](zr::DeviceContext& c) {
    return zr::update_mcu_image(c, zr::kMcuRoot, path);
  });
}

extern "C" ZR_API int32_t device_update_nodemcu_firmware(const char* path, uint8_t device_number,
                                                         const ConnectionParams* connection) {
  return with_private_context(connection, device_number, Timeout::Raise, [&](zr::DeviceContext& c) {
    return zr::update_mcu_image(c, zr::kMcuNode, path);
  });
}

extern "C" ZR_API int32_t device_update_bus_firmware(const char* path, uint8_t device_number,
                                                     const ConnectionParams* connection) {
  return with_private_context(connection, device_number, Timeout::Keep, [&](zr::DeviceContext& c) {
    return zr::update_bus_firmware(c, path);
  });
}
