#include "sim/bus_firmware_store.hpp"

namespace zr::sim {

std::int32_t BusFirmwareStore::take(std::span<const std::uint8_t> data,
                                    const BusFirmwareConfig& config) {
  if (!is_image(data)) {
    ++record_.identity_writes;
    record_.identity.assign(data.begin(), data.end());
    return 0;
  }
  // One image kept: the last one replaces the one before.
  ++record_.images;
  record_.image.assign(data.begin(), data.end());
  return config.status;
}

}  // namespace zr::sim
