#include "bus/usb/usb_device.hpp"

#include <algorithm>
#include <cstring>
#include <iostream>

#include "bus/usb/transfer_header.hpp"
#include "bus/usb/usb_text.hpp"
#include "platform/le_codec.hpp"

namespace zr::usb {
namespace {

constexpr std::uint8_t kGetDescriptorType = 0x80;  // standard, device, in
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kMajorUsb3 = 3;
constexpr std::uint8_t kMaxPacketExponent = 15;
constexpr std::uint8_t kControlDescriptorLength = 7;

std::uint8_t major_of(std::uint16_t bcd_usb) { return static_cast<std::uint8_t>(bcd_usb >> 8); }

}  // namespace

UsbDevice::UsbDevice(DeviceClass device_class, UsbDriver& driver)
    : class_(device_class),
      driver_(driver),
      link_(std::make_shared<DriverLink>(DriverLink{&driver, kInvalidHandle})) {}

UsbDevice::~UsbDevice() { Close(); }

std::uint8_t UsbDevice::CountDevices() {
  const std::size_t present = driver_.enumerate(class_).size();
  return static_cast<std::uint8_t>(std::min(present, kMaxDevicesPerClass));
}

bool UsbDevice::sync_request(std::uint32_t code, std::span<std::uint8_t> buffer) {
  if (!link_->valid()) return false;
  std::uint32_t returned = 0;
  DriverError error = DriverError::none;
  const bool accepted = driver_.request(link_->handle, code, buffer, returned, error);
  bytes_returned_ = returned;
  const bool ok = accepted && returned == buffer.size();
  if (!ok) last_error_ = error != DriverError::none ? error : DriverError::failed;
  return ok;
}

std::optional<std::vector<std::uint8_t>> UsbDevice::read_descriptor(std::uint8_t type,
                                                                    std::uint8_t index,
                                                                    std::uint16_t language,
                                                                    std::uint16_t length) {
  std::vector<std::uint8_t> block(kTransferHeaderSize + length);
  TransferHeader header;
  header.request_type = kGetDescriptorType;
  header.request = kGetDescriptor;
  header.value = static_cast<std::uint16_t>(type << 8 | index);
  header.index = language;
  header.length = length;
  header.timeout_s = kDescriptorTimeoutS;
  header.data_offset = static_cast<std::uint32_t>(kTransferHeaderSize);
  header.data_length = length;
  encode_header(header, block);
  const bool ok = sync_request(kRequestControlTransfer, block);
  last_nt_status_ = load_u32(block.data() + kHeaderNtStatusOffset);
  last_usb_status_ = load_u32(block.data() + kHeaderUsbStatusOffset);
  if (!ok) return std::nullopt;
  return std::vector<std::uint8_t>(block.begin() + kTransferHeaderSize, block.end());
}

std::optional<std::vector<std::uint8_t>> UsbDevice::read_sized(std::uint8_t type,
                                                               std::uint8_t index,
                                                               std::uint16_t language) {
  const std::uint16_t head_size = type == kDescriptorString          ? kStringHeaderSize
                                  : type == kDescriptorConfiguration ? kConfigHeaderSize
                                                                     : kBosHeaderSize;
  auto head = read_descriptor(type, index, language, head_size);
  if (!head) return std::nullopt;
  const std::uint16_t declared =
      type == kDescriptorString ? (*head)[0] : load_u16(head->data() + 2);
  // A declared length shorter than the head is malformed; the head goes to the builder, which
  // refuses it.
  if (declared <= head_size) return head;
  return read_descriptor(type, index, language, declared);
}

std::uint32_t UsbDevice::query_u32(std::uint32_t code) {
  std::array<std::uint8_t, 4> value{};
  if (!sync_request(code, value)) return 0;
  return load_u32(value.data());
}

std::string UsbDevice::query_name(std::uint32_t code) {
  std::vector<std::uint8_t> name(kDriverNameSize, 0);
  if (!sync_request(code, name)) return {};
  const auto end = std::find(name.begin(), name.end(), std::uint8_t{0});
  return std::string(name.begin(), end);
}

void UsbDevice::read_strings() {
  language_id_ = 0;
  if (auto table = read_sized(kDescriptorString, 0, 0);
      table && table->size() >= 4 && (*table)[0] >= 4) {
    const std::size_t count = (std::min<std::size_t>(table->size(), (*table)[0]) - 2) / 2;
    if (count > 0) language_id_ = load_u16(table->data() + 2);
    for (std::size_t i = 0; i < count; ++i) {
      if (load_u16(table->data() + 2 + 2 * i) == kPreferredLanguage) {
        language_id_ = kPreferredLanguage;
      }
    }
  }
  auto fetch = [&](std::uint8_t index, std::u16string& into) {
    auto text = read_sized(kDescriptorString, index, language_id_);
    if (!text || text->size() <= kStringHeaderSize || (*text)[0] <= kStringHeaderSize ||
        (*text)[1] != kDescriptorString) {
      return;
    }
    const std::size_t bytes = std::min<std::size_t>((*text)[0], text->size()) - 2;
    into.clear();
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
      into.push_back(static_cast<char16_t>(load_u16(text->data() + 2 + i)));
    }
  };
  fetch(descriptor_.manufacturer_index, manufacturer_);
  fetch(descriptor_.product_index, product_);
  fetch(descriptor_.serial_index, serial_);
}

void UsbDevice::read_driver_facts() {
  std::uint8_t address = 0;
  device_address_ =
      sync_request(kRequestDeviceAddress, std::span<std::uint8_t>(&address, 1)) ? address : 0;
  driver_name_ = query_name(kRequestDeviceName);
  friendly_name_ = query_name(kRequestFriendlyName);
  driver_version_ = query_u32(kRequestDriverVersion);
  stack_version_ = query_u32(kRequestStackVersion);
  const std::uint32_t speed = query_u32(kRequestBusSpeed);
  high_speed_ = speed == kBusSpeedHigh;
  super_speed_ = speed == kBusSpeedSuper;
}

void UsbDevice::reject(std::string_view title, std::string_view text) {
  std::cerr << title << ": " << text << '\n';
  Close();
}

bool UsbDevice::Open(std::uint8_t index) {
  if (is_open()) Close();
  const std::vector<std::string> paths = driver_.enumerate(class_);
  device_count_ = static_cast<std::uint8_t>(std::min(paths.size(), kMaxDevicesPerClass));
  if (device_count_ == 0 || index >= device_count_) return false;
  // A cut path would name another device, so an over-long one is not opened at all.
  if (paths[index].size() > kMaxDevicePath) return false;
  DriverError error = DriverError::none;
  const DriverHandle handle = driver_.open(paths[index], error);
  if (handle == kInvalidHandle) {
    last_error_ = error;
    return false;
  }
  link_ = std::make_shared<DriverLink>(DriverLink{&driver_, handle});
  path_ = paths[index];
  device_number_ = index;

  if (auto raw = read_descriptor(kDescriptorDevice, 0, 0, kDeviceDescriptorSize)) {
    if (auto decoded = decode_device_descriptor(*raw)) descriptor_ = *decoded;
  }
  const std::uint8_t major = major_of(descriptor_.usb_version);
  const std::uint8_t exponent = descriptor_.max_packet_size0;
  if (major >= kMajorUsb3) {
    max_packet_size0_ = exponent <= kMaxPacketExponent ? 1u << exponent : 0;
  } else {
    max_packet_size0_ = exponent;
  }

  read_strings();

  if (major == kMajorUsb3) {
    if (auto raw = read_sized(kDescriptorBos, 0, 0)) {
      bos_ = UsbBos::build(*raw);
      if (!bos_) {
        reject(kBadBosTitle, kBadBosText);
        return false;
      }
      raw_bos_ = std::move(*raw);
    }
  }

  read_driver_facts();

  const std::size_t config_count =
      std::min<std::size_t>(descriptor_.configuration_count, kMaxConfigurations);
  raw_configs_.resize(config_count);
  configs_.resize(config_count);
  for (std::size_t i = 0; i < config_count; ++i) {
    auto raw = read_sized(kDescriptorConfiguration, static_cast<std::uint8_t>(i), 0);
    if (!raw) continue;
    auto built = UsbConfig::build(*raw, major, link_);
    if (!built) {
      reject(kBadConfigTitle, kBadConfigText);
      return false;
    }
    raw_configs_[i] = std::move(*raw);
    configs_[i] = std::move(built);
  }

  control_ = std::make_unique<UsbControlEndpoint>(link_);
  control_->set_descriptor(EndpointDescriptor{kControlDescriptorLength, kDescriptorEndpoint, 0, 0,
                                              static_cast<std::uint16_t>(max_packet_size0_), 0});

  if (configs_.empty() || !configs_[0] || configs_[0]->interface_count() == 0) return false;
  SelectConfiguration(0);
  return true;
}

void UsbDevice::SelectConfiguration(std::uint8_t index) {
  if (index >= configs_.size() || !configs_[index]) return;
  selected_config_ = configs_[index].get();
  const ConfigHeader& header = selected_config_->header();
  config_value_ = header.value;
  config_attributes_ = header.attributes;
  config_max_power_ = header.max_power;
  config_interface_count_ = header.interface_count;
  config_interface_objects_ = static_cast<std::uint8_t>(selected_config_->interface_count());
  first_interface_number_ =
      selected_config_->interface_count() > 0 ? selected_config_->interface(0)->header().number : 0;
  std::uint8_t alt = 0;
  if (!sync_request(kRequestAltSetting, std::span<std::uint8_t>(&alt, 1))) {
    alt = kUnknownAltSetting;
  }
  SelectAltSetting(alt);
}

void UsbDevice::SelectAltSetting(std::uint8_t alt_setting) {
  if (selected_config_ == nullptr) return;
  for (std::size_t i = 0; i < selected_config_->interface_count(); ++i) {
    UsbInterface* candidate = selected_config_->interface(i);
    if (candidate->header().alt_setting != alt_setting) continue;
    interface_index_ = static_cast<std::uint8_t>(i);
    interface_class_ = candidate->header().interface_class;
    interface_subclass_ = candidate->header().interface_subclass;
    interface_protocol_ = candidate->header().interface_protocol;
    current_interface_ = candidate;
    assign_endpoints();
    return;
  }
}

void UsbDevice::assign_endpoints() {
  current_interface_->set_control_endpoint(control_.get());
  isoc_in_ = isoc_out_ = bulk_in_ = bulk_out_ = interrupt_in_ = interrupt_out_ = nullptr;
  for (std::size_t slot = 1; slot < kEndpointSlots; ++slot) {
    UsbEndpoint* endpoint = current_interface_->endpoint(slot);
    if (endpoint == nullptr) continue;
    endpoint->set_direct_mode(true);
    UsbEndpoint** role = nullptr;
    switch (endpoint->transfer_type()) {
      case TransferType::isochronous:
        role = endpoint->direction_in() ? &isoc_in_ : &isoc_out_;
        break;
      case TransferType::bulk:
        role = endpoint->direction_in() ? &bulk_in_ : &bulk_out_;
        break;
      case TransferType::interrupt:
        role = endpoint->direction_in() ? &interrupt_in_ : &interrupt_out_;
        break;
      case TransferType::control:
        break;
    }
    if (role != nullptr && *role == nullptr) *role = endpoint;
  }
}

std::uint8_t UsbDevice::CountEndpoints() const {
  if (!is_open() || current_interface_ == nullptr) return 0;
  return static_cast<std::uint8_t>(current_interface_->header().endpoint_count + 1);
}

bool UsbDevice::Close() {
  bool ok = true;
  if (link_->valid()) {
    DriverError error = DriverError::none;
    if (!driver_.close(link_->handle, error)) {
      last_error_ = error;
      std::cerr << kCloseFailedText << '\n';
      ok = false;
    }
    link_->handle = kInvalidHandle;  // endpoints left over from this open fail from now on
  }
  link_ = std::make_shared<DriverLink>(DriverLink{&driver_, kInvalidHandle});
  descriptor_ = {};
  max_packet_size0_ = 0;
  language_id_ = 0;
  manufacturer_.clear();
  product_.clear();
  serial_.clear();
  raw_bos_.clear();
  bos_.reset();
  isoc_in_ = isoc_out_ = bulk_in_ = bulk_out_ = interrupt_in_ = interrupt_out_ = nullptr;
  current_interface_ = nullptr;
  selected_config_ = nullptr;
  configs_.clear();
  raw_configs_.clear();
  control_.reset();
  device_count_ = 0;
  config_interface_count_ = 0;
  config_interface_objects_ = 0;
  interface_index_ = 0;
  return ok;
}

}  // namespace zr::usb
