#include "bus/usb/usb_config.hpp"

#include <algorithm>

#include "platform/le_codec.hpp"

namespace zr::usb {
namespace {

constexpr std::uint8_t kMajorUsb2 = 2;
constexpr std::size_t kMaxEndpointsPerInterface = kEndpointSlots - 1;
constexpr std::uint8_t kCapabilityUsb2Extension = 2;
constexpr std::uint8_t kCapabilitySuperSpeed = 3;
constexpr std::uint8_t kCapabilityContainerId = 4;
constexpr std::size_t kCapabilityHeaderSize = 3;
constexpr std::size_t kUsb2ExtensionSize = 7;
constexpr std::size_t kSuperSpeedSize = 10;
constexpr std::size_t kContainerIdSize = 20;

// The length byte of the descriptor at offset, when it is at least 2 and fits in bytes.
std::optional<std::size_t> descriptor_length(std::span<const std::uint8_t> bytes,
                                             std::size_t offset) {
  if (offset + 2 > bytes.size()) return std::nullopt;
  const std::size_t length = bytes[offset];
  if (length < 2 || offset + length > bytes.size()) return std::nullopt;
  return length;
}

}  // namespace

std::unique_ptr<UsbInterface> UsbInterface::build(std::span<const std::uint8_t> bytes,
                                                  std::uint8_t usb_major,
                                                  const std::shared_ptr<DriverLink>& link) {
  auto header = decode_interface_header(bytes);
  if (!header || header->endpoint_count > kMaxEndpointsPerInterface) return nullptr;
  auto built = std::unique_ptr<UsbInterface>(new UsbInterface());
  built->header_ = *header;
  std::size_t offset = header->length;
  std::size_t slot = 1;
  std::size_t others = 0;
  while (slot <= header->endpoint_count && offset < bytes.size()) {
    auto length = descriptor_length(bytes, offset);
    if (!length) return nullptr;
    const std::uint8_t type = bytes[offset + 1];
    if (type == kDescriptorInterface) break;  // the next interface: its endpoints are not ours
    if (type != kDescriptorEndpoint) {
      if (others == kMaxOtherDescriptorsPerInterface) break;
      ++others;
      offset += *length;
      continue;
    }
    auto endpoint = decode_endpoint(bytes.subspan(offset, *length));
    if (!endpoint) return nullptr;
    offset += *length;
    std::optional<CompanionDescriptor> companion;
    if (usb_major != kMajorUsb2 && offset + 2 <= bytes.size() &&
        bytes[offset + 1] == kDescriptorSsCompanion) {
      auto companion_length = descriptor_length(bytes, offset);
      if (!companion_length) return nullptr;
      companion = decode_companion(bytes.subspan(offset, *companion_length));
      if (!companion) return nullptr;
      offset += *companion_length;
    }
    auto object = make_endpoint(link, *endpoint, companion ? &*companion : nullptr);
    built->slots_[slot++] = object.get();
    built->owned_.push_back(std::move(object));
  }
  built->span_ = offset;
  return built;
}

std::unique_ptr<UsbConfig> UsbConfig::build(std::span<const std::uint8_t> raw,
                                            std::uint8_t usb_major,
                                            const std::shared_ptr<DriverLink>& link) {
  auto header = decode_config_header(raw);
  if (!header || header->type != kDescriptorConfiguration) return nullptr;
  if (header->total_length < header->length || header->total_length > raw.size()) return nullptr;
  const auto bytes = raw.first(header->total_length);
  auto built = std::unique_ptr<UsbConfig>(new UsbConfig());
  built->header_ = *header;
  std::size_t offset = header->length;
  while (offset < bytes.size()) {
    auto length = descriptor_length(bytes, offset);
    if (!length) return nullptr;
    if (bytes[offset + 1] != kDescriptorInterface) {
      offset += *length;
      continue;
    }
    if (built->interfaces_.size() == kMaxInterfaceObjects) return nullptr;
    auto interface = UsbInterface::build(bytes.subspan(offset), usb_major, link);
    if (!interface) return nullptr;
    offset += interface->span_bytes();
    built->interfaces_.push_back(std::move(interface));
  }
  for (auto& interface : built->interfaces_) {
    const auto same = std::count_if(
        built->interfaces_.begin(), built->interfaces_.end(),
        [&](const auto& other) { return other->header().number == interface->header().number; });
    interface->set_alternate_count(static_cast<std::uint8_t>(same));
  }
  return built;
}

std::optional<UsbBos> UsbBos::build(std::span<const std::uint8_t> raw) {
  LeReader head(raw);
  std::uint8_t length = 0;
  std::uint8_t type = 0;
  UsbBos bos;
  head.u8(length);
  head.u8(type);
  head.u16(bos.total_length);
  head.u8(bos.capability_count);
  if (!head.ok() || length < kBosHeaderSize || type != kDescriptorBos ||
      bos.total_length < length || bos.total_length > raw.size()) {
    return std::nullopt;
  }
  const auto bytes = raw.first(bos.total_length);
  std::size_t offset = length;
  for (std::size_t i = 0; i < bos.capability_count && offset < bytes.size(); ++i) {
    auto cap_length = descriptor_length(bytes, offset);
    if (!cap_length || *cap_length < kCapabilityHeaderSize) return std::nullopt;
    LeReader cap(bytes.subspan(offset, *cap_length));
    cap.skip(2);
    std::uint8_t kind = 0;
    cap.u8(kind);
    if (kind == kCapabilityUsb2Extension) {
      if (*cap_length < kUsb2ExtensionSize) return std::nullopt;
      Usb2Extension ext;
      cap.u32(ext.attributes);
      bos.usb2_extension = ext;
    } else if (kind == kCapabilitySuperSpeed) {
      if (*cap_length < kSuperSpeedSize) return std::nullopt;
      SuperSpeedCapability ss;
      cap.u8(ss.attributes);
      cap.u16(ss.speeds_supported);
      cap.u8(ss.functionality_support);
      cap.u8(ss.u1_exit_latency);
      cap.u16(ss.u2_exit_latency);
      bos.superspeed = ss;
    } else if (kind == kCapabilityContainerId) {
      if (*cap_length < kContainerIdSize) return std::nullopt;
      ContainerId id;
      cap.skip(1);
      cap.bytes(id.id.data(), id.id.size());
      bos.container_id = id;
    } else {
      break;  // a capability the layer does not know ends the walk
    }
    offset += *cap_length;
  }
  return bos;
}

}  // namespace zr::usb
