#include "sim/usb/virtual_usb_device.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "bus/bus_usb.hpp"
#include "platform/le_codec.hpp"

namespace zr::sim {
namespace {

constexpr std::uint8_t kTypeMask = 0x60;
constexpr std::uint8_t kTypeStandard = 0x00;
constexpr std::uint8_t kTypeClass = 0x20;
constexpr std::uint8_t kTypeVendor = 0x40;
constexpr std::uint8_t kDirectionIn = 0x80;
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::size_t kBusInfoSize = 16;

UsbTransferOutcome stall() { return {false, usb::kNtUnsuccessful, usb::kUsbStall, 0}; }

UsbTransferOutcome moved(std::size_t count) {
  return {false, usb::kNtSuccess, usb::kUsbSuccess, static_cast<std::uint32_t>(count)};
}

// Copies a reply into the data stage, cut to the room the host gave.
UsbTransferOutcome reply(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> data) {
  const std::size_t count = std::min(bytes.size(), data.size());
  if (count > 0) std::memcpy(data.data(), bytes.data(), count);
  return moved(count);
}

}  // namespace

VirtualUsbDevice::VirtualUsbDevice(std::shared_ptr<InstrumentModel> model,
                                   UsbDescriptorSet descriptors)
    : model_(std::move(model)), descriptors_(std::move(descriptors)), banks_(kSimFirmwareBanks) {
  for (auto& bank : banks_) bank.fill(0xFF);
}

VirtualUsbDevice::VirtualUsbDevice(std::shared_ptr<InstrumentModel> model)
    : VirtualUsbDevice(model, instrument_descriptors(identity_of(*model))) {}

void VirtualUsbDevice::add_fault(UsbFaultRule rule) {
  std::lock_guard lock(mutex_);
  faults_.push_back(rule);
}

std::optional<UsbFaultRule> VirtualUsbDevice::take_fault(std::uint8_t endpoint,
                                                         std::optional<std::uint8_t> request) {
  std::lock_guard lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->endpoint != endpoint) continue;
    if (it->request && (!request || *it->request != *request)) continue;
    UsbFaultRule rule = *it;
    faults_.erase(it);
    return rule;
  }
  return std::nullopt;
}

UsbTransferOutcome VirtualUsbDevice::control(const UsbControlSetup& setup,
                                             std::span<std::uint8_t> data) {
  const std::uint8_t type = setup.request_type & kTypeMask;
  if (type != kTypeStandard) {
    if (auto fault = take_fault(0, setup.request)) {
      if (fault->kind == UsbFaultKind::hang) return {true, 0, 0, fault->moved};
      if (fault->kind == UsbFaultKind::stall) return stall();
      return moved(std::min<std::size_t>(fault->moved, data.size()));
    }
    std::lock_guard lock(mutex_);
    UsbControlRecord record{setup, {}};
    if ((setup.request_type & kDirectionIn) == 0) record.data.assign(data.begin(), data.end());
    requests_.push_back(std::move(record));
  }
  switch (type) {
    case kTypeStandard:
      return descriptor(setup, data);
    case kTypeClass:
      return class_request(setup, data);
    case kTypeVendor:
      return vendor_request(setup, data);
    default:
      return stall();
  }
}

UsbTransferOutcome VirtualUsbDevice::descriptor(const UsbControlSetup& setup,
                                                std::span<std::uint8_t> data) {
  if (setup.request != kGetDescriptor || (setup.request_type & kDirectionIn) == 0) return stall();
  const std::uint8_t kind = static_cast<std::uint8_t>(setup.value >> 8);
  const std::uint8_t index = static_cast<std::uint8_t>(setup.value & 0xFF);
  switch (kind) {
    case usb::kDescriptorDevice:
      return reply(descriptors_.device, data);
    case usb::kDescriptorConfiguration:
      if (index >= descriptors_.configurations.size()) return stall();
      return reply(descriptors_.configurations[index], data);
    case usb::kDescriptorString: {
      auto it = descriptors_.strings.find(index);
      if (it == descriptors_.strings.end()) return stall();
      return reply(it->second, data);
    }
    case usb::kDescriptorBos:
      if (descriptors_.bos.empty()) return stall();
      return reply(descriptors_.bos, data);
    default:
      return stall();
  }
}

UsbTransferOutcome VirtualUsbDevice::class_request(const UsbControlSetup& setup,
                                                   std::span<std::uint8_t> data) {
  std::vector<std::uint8_t> out;
  switch (setup.request) {
    case usb_request::kWrite:
      model_->write(data);
      return moved(data.size());
    case usb_request::kRead:
      model_->read(static_cast<std::uint32_t>(data.size()), out);
      return reply(out, data);
    case usb_request::kQuerySend: {
      std::lock_guard lock(mutex_);
      query_frame_.emplace(data.begin(), data.end());
      query_timeout_ms_ = setup.value;
      return moved(data.size());
    }
    case usb_request::kQueryReply: {
      std::optional<std::vector<std::uint8_t>> frame;
      std::uint16_t timeout = 0;
      {
        std::lock_guard lock(mutex_);
        frame = std::exchange(query_frame_, std::nullopt);
        timeout = query_timeout_ms_;
      }
      if (!frame) return stall();
      model_->query(*frame, static_cast<std::uint32_t>(data.size()), timeout, out);
      return reply(out, data);
    }
    case usb_request::kBusInfo: {
      std::uint32_t kind = 0;
      std::uint32_t bandwidth = 0;
      std::uint32_t version = 0;
      model_->read_bus_info(kind, bandwidth, version);
      std::array<std::uint8_t, kBusInfoSize> info{};
      info[0] = static_cast<std::uint8_t>(kind);
      store_u32(info.data() + 12, version);
      return reply(info, data);
    }
    default:
      return stall();
  }
}

UsbTransferOutcome VirtualUsbDevice::vendor_request(const UsbControlSetup& setup,
                                                    std::span<std::uint8_t> data) {
  if ((setup.request_type & kDirectionIn) != 0) return stall();
  switch (setup.request) {
    case usb_request::kNotify:
      model_->notify_device();
      return moved(data.size());
    case usb_request::kStreamStop:
      model_->stream_stop();
      return moved(data.size());
    case usb_request::kOpenNotice:
      return moved(data.size());
    case usb_request::kWriteData: {
      if (setup.value == usb_request::kIdentityValue &&
          setup.index == usb_request::kIdentityIndex) {
        {
          std::lock_guard lock(mutex_);
          identity_record_.assign(data.begin(), data.end());
        }
        model_->write_data(data);
        return moved(data.size());
      }
      // Bus firmware: wValue names the bank, wIndex the offset in it.
      if (setup.value >= kSimFirmwareBanks || setup.index + data.size() > kSimFirmwareBankSize) {
        return stall();
      }
      {
        std::lock_guard lock(mutex_);
        std::copy(data.begin(), data.end(), banks_[setup.value].begin() + setup.index);
      }
      model_->write_data(data);
      return moved(data.size());
    }
    default:
      return stall();
  }
}

UsbTransferOutcome VirtualUsbDevice::data_transfer(std::uint8_t endpoint,
                                                   std::span<std::uint8_t> data) {
  if (auto fault = take_fault(endpoint, std::nullopt)) {
    if (fault->kind == UsbFaultKind::hang) return {true, 0, 0, fault->moved};
    if (fault->kind == UsbFaultKind::stall) return stall();
    return moved(std::min<std::size_t>(fault->moved, data.size()));
  }
  if ((endpoint & kDirectionIn) == 0) {
    model_->stream_write(data);
    return moved(data.size());
  }
  std::vector<std::uint8_t> block;
  if (model_->read_block(static_cast<std::uint32_t>(data.size()), block) != kModelOk) {
    return stall();
  }
  return reply(block, data);
}

bool VirtualUsbDevice::reset_pipe(std::uint8_t /*endpoint*/) {
  std::lock_guard lock(mutex_);
  ++pipe_resets_;
  return !reset_fails_;
}

std::vector<UsbControlRecord> VirtualUsbDevice::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::uint8_t> VirtualUsbDevice::identity_record() const {
  std::lock_guard lock(mutex_);
  return identity_record_;
}

std::vector<std::uint8_t> VirtualUsbDevice::firmware_bank(std::size_t bank) const {
  std::lock_guard lock(mutex_);
  if (bank >= banks_.size()) return {};
  return std::vector<std::uint8_t>(banks_[bank].begin(), banks_[bank].end());
}

std::uint32_t VirtualUsbDevice::pipe_resets() const {
  std::lock_guard lock(mutex_);
  return pipe_resets_;
}

}  // namespace zr::sim
