#include "bus/usb/usb_descriptors.hpp"

#include "platform/le_codec.hpp"

namespace zr::usb {
namespace {

// The descriptor's own length must cover its fixed fields and fit in the bytes given.
bool well_sized(std::span<const std::uint8_t> bytes, std::size_t fixed) {
  return bytes.size() >= fixed && bytes[0] >= fixed && bytes[0] <= bytes.size();
}

}  // namespace

std::optional<DeviceDescriptor> decode_device_descriptor(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kDeviceDescriptorSize) return std::nullopt;
  DeviceDescriptor d;
  LeReader r(bytes);
  r.u8(d.length);
  r.u8(d.type);
  r.u16(d.usb_version);
  r.u8(d.device_class);
  r.u8(d.device_subclass);
  r.u8(d.device_protocol);
  r.u8(d.max_packet_size0);
  r.u16(d.vendor_id);
  r.u16(d.product_id);
  r.u16(d.device_release);
  r.u8(d.manufacturer_index);
  r.u8(d.product_index);
  r.u8(d.serial_index);
  r.u8(d.configuration_count);
  if (!r.ok()) return std::nullopt;
  return d;
}

std::optional<EndpointDescriptor> decode_endpoint(std::span<const std::uint8_t> bytes) {
  if (!well_sized(bytes, kEndpointDescriptorSize)) return std::nullopt;
  EndpointDescriptor d;
  LeReader r(bytes);
  r.u8(d.length);
  r.u8(d.type);
  r.u8(d.address);
  r.u8(d.attributes);
  r.u16(d.max_packet_size);
  r.u8(d.interval);
  if (!r.ok()) return std::nullopt;
  return d;
}

std::optional<CompanionDescriptor> decode_companion(std::span<const std::uint8_t> bytes) {
  if (!well_sized(bytes, kCompanionDescriptorSize)) return std::nullopt;
  CompanionDescriptor d;
  LeReader r(bytes);
  r.u8(d.length);
  r.u8(d.type);
  r.u8(d.max_burst);
  r.u8(d.attributes);
  r.u16(d.bytes_per_interval);
  if (!r.ok()) return std::nullopt;
  return d;
}

std::optional<ConfigHeader> decode_config_header(std::span<const std::uint8_t> bytes) {
  if (!well_sized(bytes, kConfigHeaderSize)) return std::nullopt;
  ConfigHeader h;
  LeReader r(bytes);
  r.u8(h.length);
  r.u8(h.type);
  r.u16(h.total_length);
  r.u8(h.interface_count);
  r.u8(h.value);
  r.u8(h.string_index);
  r.u8(h.attributes);
  r.u8(h.max_power);
  if (!r.ok()) return std::nullopt;
  return h;
}

std::optional<InterfaceHeader> decode_interface_header(std::span<const std::uint8_t> bytes) {
  if (!well_sized(bytes, kInterfaceHeaderSize)) return std::nullopt;
  InterfaceHeader h;
  LeReader r(bytes);
  r.u8(h.length);
  r.u8(h.type);
  r.u8(h.number);
  r.u8(h.alt_setting);
  r.u8(h.endpoint_count);
  r.u8(h.interface_class);
  r.u8(h.interface_subclass);
  r.u8(h.interface_protocol);
  r.u8(h.string_index);
  if (!r.ok()) return std::nullopt;
  return h;
}

}  // namespace zr::usb
