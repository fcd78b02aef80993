#pragma once
// Standard USB descriptor records as the access layer reads them from a device. Every decode
// checks the descriptor's own length against the bytes that hold it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zr::usb {

inline constexpr std::uint8_t kDescriptorDevice = 1;
inline constexpr std::uint8_t kDescriptorConfiguration = 2;
inline constexpr std::uint8_t kDescriptorString = 3;
inline constexpr std::uint8_t kDescriptorInterface = 4;
inline constexpr std::uint8_t kDescriptorEndpoint = 5;
inline constexpr std::uint8_t kDescriptorBos = 0x0F;
inline constexpr std::uint8_t kDescriptorCapability = 0x10;
inline constexpr std::uint8_t kDescriptorSsCompanion = 0x30;

inline constexpr std::size_t kDeviceDescriptorSize = 18;
inline constexpr std::size_t kConfigHeaderSize = 9;
inline constexpr std::size_t kInterfaceHeaderSize = 9;
inline constexpr std::size_t kEndpointDescriptorSize = 7;
inline constexpr std::size_t kCompanionDescriptorSize = 6;
inline constexpr std::size_t kBosHeaderSize = 5;
inline constexpr std::size_t kStringHeaderSize = 2;

enum class TransferType : std::uint8_t { control = 0, isochronous = 1, bulk = 2, interrupt = 3 };

struct DeviceDescriptor {
  std::uint8_t length = 0;
  std::uint8_t type = 0;
  std::uint16_t usb_version = 0;  // bcdUSB
  std::uint8_t device_class = 0;
  std::uint8_t device_subclass = 0;
  std::uint8_t device_protocol = 0;
  std::uint8_t max_packet_size0 = 0;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::uint16_t device_release = 0;  // bcdDevice
  std::uint8_t manufacturer_index = 0;
  std::uint8_t product_index = 0;
  std::uint8_t serial_index = 0;
  std::uint8_t configuration_count = 0;
};

struct EndpointDescriptor {
  std::uint8_t length = 0;
  std::uint8_t type = 0;
  std::uint8_t address = 0;
  std::uint8_t attributes = 0;
  std::uint16_t max_packet_size = 0;  // wMaxPacketSize, raw
  std::uint8_t interval = 0;
};

struct CompanionDescriptor {
  std::uint8_t length = 0;
  std::uint8_t type = 0;
  std::uint8_t max_burst = 0;
  std::uint8_t attributes = 0;
  std::uint16_t bytes_per_interval = 0;
};

struct ConfigHeader {
  std::uint8_t length = 0;
  std::uint8_t type = 0;
  std::uint16_t total_length = 0;
  std::uint8_t interface_count = 0;
  std::uint8_t value = 0;
  std::uint8_t string_index = 0;
  std::uint8_t attributes = 0;
  std::uint8_t max_power = 0;
};

struct InterfaceHeader {
  std::uint8_t length = 0;
  std::uint8_t type = 0;
  std::uint8_t number = 0;
  std::uint8_t alt_setting = 0;
  std::uint8_t endpoint_count = 0;
  std::uint8_t interface_class = 0;
  std::uint8_t interface_subclass = 0;
  std::uint8_t interface_protocol = 0;
  std::uint8_t string_index = 0;
};

// Each fails when the bytes are fewer than the fixed fields or than the descriptor's own length,
// or when that length is shorter than the fixed fields.
std::optional<DeviceDescriptor> decode_device_descriptor(std::span<const std::uint8_t> bytes);
std::optional<EndpointDescriptor> decode_endpoint(std::span<const std::uint8_t> bytes);
std::optional<CompanionDescriptor> decode_companion(std::span<const std::uint8_t> bytes);
std::optional<ConfigHeader> decode_config_header(std::span<const std::uint8_t> bytes);
std::optional<InterfaceHeader> decode_interface_header(std::span<const std::uint8_t> bytes);

}  // namespace zr::usb
