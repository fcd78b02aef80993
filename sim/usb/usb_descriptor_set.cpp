#include "sim/usb/usb_descriptor_set.hpp"

#include <algorithm>

#include "platform/le_codec.hpp"

namespace zr::sim {
namespace {

constexpr std::size_t kIdentityField = 30;
constexpr std::uint16_t kUsb3 = 0x0300;
constexpr std::uint8_t kUsb2MaxPacket0 = 64;
constexpr std::uint8_t kUsb3MaxPacket0Exponent = 9;
constexpr std::uint8_t kBulk = 0x02;
constexpr std::uint16_t kUsb2BulkPacket = 512;
constexpr std::uint16_t kUsb3BulkPacket = 1024;
constexpr std::uint8_t kUsb3Burst = 15;

std::string field(const BusInfo& info, std::size_t offset) {
  const auto first = info.identity_text.begin() + static_cast<std::ptrdiff_t>(offset);
  const auto end = std::find(first, first + kIdentityField, std::uint8_t{0});
  return std::string(first, end);
}

void append(std::vector<std::uint8_t>& into, const std::vector<std::uint8_t>& piece) {
  into.insert(into.end(), piece.begin(), piece.end());
}

std::vector<std::uint8_t> usb3_bos() {
  std::vector<std::uint8_t> bos;
  LeWriter(bos)
      .u8(5)
      .u8(0x0F)
      .u16(5 + 7 + 10)
      .u8(2)  // header, two capabilities
      .u8(7)
      .u8(0x10)
      .u8(2)
      .u32(0x00000002)  // USB 2.0 extension: LPM
      .u8(10)
      .u8(0x10)
      .u8(3)
      .u8(0)
      .u16(0x000E)
      .u8(1)
      .u8(10)
      .u16(0x07FF);  // SuperSpeed
  return bos;
}

}  // namespace

UsbIdentity identity_of(const InstrumentModel& model) {
  const BusInfo info = model.config().bus_info;
  UsbIdentity identity;
  identity.release = info.device_release;
  identity.product_name = field(info, 0);
  identity.serial = field(info, 30);
  identity.manufacturer = field(info, 60);
  return identity;
}

std::vector<std::uint8_t> device_descriptor(std::uint16_t usb_version, std::uint8_t max_packet0,
                                            std::uint16_t vendor, std::uint16_t product,
                                            std::uint16_t release, std::uint8_t serial_index,
                                            std::uint8_t configuration_count) {
  std::vector<std::uint8_t> d;
  LeWriter(d)
      .u8(18)
      .u8(1)
      .u16(usb_version)
      .u8(0)
      .u8(0)
      .u8(0)
      .u8(max_packet0)
      .u16(vendor)
      .u16(product)
      .u16(release)
      .u8(kManufacturerIndex)
      .u8(kProductIndex)
      .u8(serial_index)
      .u8(configuration_count);
  return d;
}

std::vector<std::uint8_t> string_descriptor(std::string_view ascii) {
  std::vector<std::uint8_t> d;
  const std::size_t chars = std::min<std::size_t>(ascii.size(), 126);
  LeWriter w(d);
  w.u8(static_cast<std::uint8_t>(2 + 2 * chars)).u8(3);
  for (std::size_t i = 0; i < chars; ++i) w.u16(static_cast<std::uint8_t>(ascii[i]));
  return d;
}

std::vector<std::uint8_t> language_table(std::initializer_list<std::uint16_t> languages) {
  std::vector<std::uint8_t> d;
  LeWriter w(d);
  w.u8(static_cast<std::uint8_t>(2 + 2 * languages.size())).u8(3);
  for (std::uint16_t language : languages) w.u16(language);
  return d;
}

std::vector<std::uint8_t> configuration(std::uint8_t interface_count,
                                        const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> d;
  LeWriter(d)
      .u8(9)
      .u8(2)
      .u16(static_cast<std::uint16_t>(9 + body.size()))
      .u8(interface_count)
      .u8(1)
      .u8(0)
      .u8(0x80)
      .u8(250);
  append(d, body);
  return d;
}

std::vector<std::uint8_t> interface_descriptor(std::uint8_t number, std::uint8_t alt,
                                               std::uint8_t endpoint_count) {
  std::vector<std::uint8_t> d;
  LeWriter(d).u8(9).u8(4).u8(number).u8(alt).u8(endpoint_count).u8(0xFF).u8(0).u8(0).u8(0);
  return d;
}

std::vector<std::uint8_t> endpoint_descriptor(std::uint8_t address, std::uint8_t attributes,
                                              std::uint16_t max_packet, std::uint8_t interval) {
  std::vector<std::uint8_t> d;
  LeWriter(d).u8(7).u8(5).u8(address).u8(attributes).u16(max_packet).u8(interval);
  return d;
}

std::vector<std::uint8_t> companion_descriptor(std::uint8_t max_burst, std::uint8_t attributes) {
  std::vector<std::uint8_t> d;
  LeWriter(d).u8(6).u8(0x30).u8(max_burst).u8(attributes).u16(0);
  return d;
}

UsbDescriptorSet instrument_descriptors(const UsbIdentity& identity) {
  const bool usb3 = identity.usb_version >= kUsb3;
  UsbDescriptorSet set;
  set.device =
      device_descriptor(identity.usb_version, usb3 ? kUsb3MaxPacket0Exponent : kUsb2MaxPacket0,
                        identity.vendor, identity.product, identity.release, kSerialIndex);
  std::vector<std::uint8_t> body = interface_descriptor(0, 0, 2);
  const std::uint16_t packet = usb3 ? kUsb3BulkPacket : kUsb2BulkPacket;
  append(body, endpoint_descriptor(kSimBulkOut, kBulk, packet));
  if (usb3) append(body, companion_descriptor(kUsb3Burst, 0));
  append(body, endpoint_descriptor(kSimBulkIn, kBulk, packet));
  if (usb3) append(body, companion_descriptor(kUsb3Burst, 0));
  set.configurations.push_back(configuration(1, body));
  set.strings[0] = language_table({0x0409});
  set.strings[kManufacturerIndex] = string_descriptor(identity.manufacturer);
  set.strings[kProductIndex] = string_descriptor(identity.product_name);
  set.strings[kSerialIndex] = string_descriptor(identity.serial);
  if (usb3) set.bos = usb3_bos();
  return set;
}

}  // namespace zr::sim
