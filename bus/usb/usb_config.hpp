#pragma once
// The configuration, interface and BOS objects a UsbDevice builds from the raw descriptors its
// device returned. Building refuses a malformed table (zero lengths, lengths past the total, more
// interfaces or endpoints than the tables hold) without reading outside the bytes given.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "bus/usb/usb_descriptors.hpp"
#include "bus/usb/usb_endpoint.hpp"

namespace zr::usb {

inline constexpr std::size_t kEndpointSlots = 32;  // slot 0: the control endpoint
inline constexpr std::size_t kMaxInterfaceObjects = 255;
inline constexpr std::size_t kMaxOtherDescriptorsPerInterface = 11;

class UsbInterface {
 public:
  // Builds from the bytes starting at the interface descriptor up to the configuration's end.
  // usb_major selects whether SuperSpeed companions are taken. Nothing when malformed.
  static std::unique_ptr<UsbInterface> build(std::span<const std::uint8_t> bytes,
                                             std::uint8_t usb_major,
                                             const std::shared_ptr<DriverLink>& link);

  const InterfaceHeader& header() const { return header_; }
  // Slot 0 is the control endpoint once the device assigned it; null slots are empty.
  UsbEndpoint* endpoint(std::size_t slot) const {
    return slot < kEndpointSlots ? slots_[slot] : nullptr;
  }
  void set_control_endpoint(UsbEndpoint* control) { slots_[0] = control; }
  std::size_t span_bytes() const { return span_; }
  std::uint8_t alternate_count() const { return alternate_count_; }
  void set_alternate_count(std::uint8_t count) { alternate_count_ = count; }

 private:
  InterfaceHeader header_;
  std::array<UsbEndpoint*, kEndpointSlots> slots_{};
  std::vector<std::unique_ptr<UsbEndpoint>> owned_;
  std::size_t span_ = 0;
  std::uint8_t alternate_count_ = 0;
};

class UsbConfig {
 public:
  // Nothing when the descriptor is malformed.
  static std::unique_ptr<UsbConfig> build(std::span<const std::uint8_t> raw, std::uint8_t usb_major,
                                          const std::shared_ptr<DriverLink>& link);

  const ConfigHeader& header() const { return header_; }
  std::size_t interface_count() const { return interfaces_.size(); }
  UsbInterface* interface(std::size_t index) const {
    return index < interfaces_.size() ? interfaces_[index].get() : nullptr;
  }

 private:
  ConfigHeader header_;
  std::vector<std::unique_ptr<UsbInterface>> interfaces_;
};

struct Usb2Extension {
  std::uint32_t attributes = 0;
};
struct SuperSpeedCapability {
  std::uint8_t attributes = 0;
  std::uint16_t speeds_supported = 0;
  std::uint8_t functionality_support = 0;
  std::uint8_t u1_exit_latency = 0;
  std::uint16_t u2_exit_latency = 0;
};
struct ContainerId {
  std::array<std::uint8_t, 16> id{};
};

// Kept for completeness; nothing in the library reads it.
class UsbBos {
 public:
  static std::optional<UsbBos> build(std::span<const std::uint8_t> raw);

  std::uint16_t total_length = 0;
  std::uint8_t capability_count = 0;
  std::optional<Usb2Extension> usb2_extension;
  std::optional<SuperSpeedCapability> superspeed;
  std::optional<ContainerId> container_id;
};

}  // namespace zr::usb
