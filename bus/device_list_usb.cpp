// The exported listing of attached USB instruments.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "bus/bus_usb.hpp"
#include "device/api_boundary.hpp"
#include "zr_api.h"

extern "C" ZR_API int32_t device_list_usb(DeviceListEntry* entries, uint32_t* count) {
  return zr::guarded([&]() -> std::int32_t {
    if (count == nullptr) return ZR_OK;
    constexpr std::uint32_t kMaxEntries =
        std::numeric_limits<std::uint32_t>::max() / sizeof(DeviceListEntry);
    const std::uint32_t room = entries != nullptr ? std::min(*count, kMaxEntries) : 0;
    zr::bus_usb bus(0);
    bus.list_devices(entries, room * static_cast<std::uint32_t>(sizeof(DeviceListEntry)), count);
    return ZR_OK;
  });
}
