// Bus selection: the context's one bus, created from the connection record.
#include <memory>
#include <utility>

#include "bus/bus_eth.hpp"
#include "bus/bus_pcie.hpp"
#include "bus/bus_usb.hpp"
#include "device/device_context.hpp"

namespace zr {
namespace {

constexpr std::uint32_t kEthExtraWord = 0;

std::unique_ptr<abus> create_bus(const ConnectionParams& record, std::uint8_t device_index) {
  switch (record.interface) {
    case ZR_INTERFACE_ETH:
      return std::make_unique<bus_eth>(record, device_index, kEthExtraWord);
    case ZR_INTERFACE_PCIE:
      return std::make_unique<bus_pcie>(device_index);
    case ZR_INTERFACE_USB:
      return std::make_unique<bus_usb>(device_index);
    default:
      return nullptr;
  }
}

}  // namespace

std::int32_t DeviceContext::open_bus(ConnectionParams record, std::uint8_t device_index) {
  connection = record;  // stored even when the interface is then rejected
  std::unique_ptr<abus> created = create_bus(record, device_index);
  if (!created) return ZR_NO_BUS;
  // The new bus is in place before the old one is destroyed.
  std::unique_ptr<abus> replaced = std::exchange(bus, std::move(created));
  replaced.reset();
  return bus->open();
}

}  // namespace zr
