#pragma once
// The descriptors a virtual USB device answers with. The default set presents an instrument: one
// interface with a bulk OUT and a bulk IN endpoint, SuperSpeed companions and a BOS descriptor
// when it claims USB 3. Tests replace any part to present odd or broken devices.
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sim/instrument_model.hpp"

namespace zr::sim {

struct UsbDescriptorSet {
  std::vector<std::uint8_t> device;
  std::vector<std::vector<std::uint8_t>> configurations;
  std::map<std::uint8_t, std::vector<std::uint8_t>> strings;  // index 0: the language table
  std::vector<std::uint8_t> bos;
};

struct UsbIdentity {
  std::uint16_t vendor = 0x5A52;  // the simulator's made-up IDs
  std::uint16_t product = 0x0001;
  std::uint16_t release = 0x0100;
  std::uint16_t usb_version = 0x0200;
  std::string manufacturer;
  std::string product_name;
  std::string serial;
};

inline constexpr std::uint8_t kSimBulkOut = 0x01;
inline constexpr std::uint8_t kSimBulkIn = 0x81;
inline constexpr std::uint8_t kManufacturerIndex = 1;
inline constexpr std::uint8_t kProductIndex = 2;
inline constexpr std::uint8_t kSerialIndex = 3;

// Identity strings and release of the model's bus information.
UsbIdentity identity_of(const InstrumentModel& model);
UsbDescriptorSet instrument_descriptors(const UsbIdentity& identity);

// Building blocks for hand-made sets.
std::vector<std::uint8_t> device_descriptor(std::uint16_t usb_version, std::uint8_t max_packet0,
                                            std::uint16_t vendor, std::uint16_t product,
                                            std::uint16_t release, std::uint8_t serial_index,
                                            std::uint8_t configuration_count = 1);
std::vector<std::uint8_t> string_descriptor(std::string_view ascii);
std::vector<std::uint8_t> language_table(std::initializer_list<std::uint16_t> languages);
// A configuration descriptor around body (interfaces, endpoints, ...) with the right total length.
std::vector<std::uint8_t> configuration(std::uint8_t interface_count,
                                        const std::vector<std::uint8_t>& body);
std::vector<std::uint8_t> interface_descriptor(std::uint8_t number, std::uint8_t alt,
                                               std::uint8_t endpoint_count);
std::vector<std::uint8_t> endpoint_descriptor(std::uint8_t address, std::uint8_t attributes,
                                              std::uint16_t max_packet, std::uint8_t interval = 0);
std::vector<std::uint8_t> companion_descriptor(std::uint8_t max_burst, std::uint8_t attributes);

}  // namespace zr::sim
