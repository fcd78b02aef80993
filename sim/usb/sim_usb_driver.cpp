#include "sim/usb/sim_usb_driver.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "bus/usb/transfer_header.hpp"
#include "platform/clock.hpp"
#include "platform/le_codec.hpp"

namespace zr::sim {
namespace {

using usb::DriverError;
using usb::Submission;
using usb::WaitResult;

// A wait "without limit" on a hanging transfer that nobody aborts ends after this long.
constexpr std::chrono::milliseconds kUnboundedWait{60000};
constexpr std::uint32_t kDriverVersion = 0x00010000;
constexpr std::uint8_t kSimAddress = 7;

class CompletedRequest final : public usb::PendingRequest {
 public:
  CompletedRequest(bool ok, std::uint32_t bytes) : ok_(ok), bytes_(bytes) {}
  WaitResult wait(std::optional<std::chrono::milliseconds>) override {
    return WaitResult::signalled;
  }
  bool result(std::uint32_t& bytes_returned) override {
    bytes_returned = bytes_;
    return ok_;
  }

 private:
  bool ok_;
  std::uint32_t bytes_;
};

Submission completed(bool ok, std::uint32_t bytes) {
  return Submission{ok ? DriverError::none : DriverError::failed,
                    std::make_unique<CompletedRequest>(ok, bytes)};
}

}  // namespace

// A transfer that does not complete by itself. Only the thread that submitted it waits on it, and
// an abort comes from that same thread, so the flag needs no lock beyond the driver's.
struct SimUsbDriver::Hang {
  std::uint8_t endpoint = 0;
  std::span<std::uint8_t> header;
  std::uint32_t reported_if_cancelled = 0;
  bool cancelled = false;

  void cancel() {
    if (cancelled) return;
    cancelled = true;
    usb::store_statuses(header, usb::kNtCancelled, usb::kUsbCancelled);
  }
};

namespace {

class HangingRequest final : public usb::PendingRequest {
 public:
  explicit HangingRequest(std::shared_ptr<SimUsbDriver::Hang> hang) : hang_(std::move(hang)) {}
  WaitResult wait(std::optional<std::chrono::milliseconds> timeout) override {
    if (hang_->cancelled) return WaitResult::signalled;
    zr::sleep_for(timeout.value_or(kUnboundedWait));
    if (hang_->cancelled) return WaitResult::signalled;
    return timeout ? WaitResult::timed_out : WaitResult::failed;
  }
  bool result(std::uint32_t& bytes_returned) override {
    bytes_returned = hang_->cancelled ? hang_->reported_if_cancelled : 0;
    return false;
  }

 private:
  std::shared_ptr<SimUsbDriver::Hang> hang_;
};

}  // namespace

std::string SimUsbDriver::attach(usb::DeviceClass device_class,
                                 std::shared_ptr<VirtualUsbDevice> device, std::string path) {
  std::lock_guard lock(mutex_);
  if (path.empty()) {
    char text[32];
    std::snprintf(text, sizeof text, "sim:%zu", attached_.size());
    path = text;
  }
  attached_.push_back({device_class, path, std::move(device)});
  return path;
}

std::vector<std::string> SimUsbDriver::enumerate(usb::DeviceClass device_class) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  for (const Attached& a : attached_) {
    if (a.device_class == device_class) paths.push_back(a.path);
  }
  return paths;
}

usb::DriverHandle SimUsbDriver::open(std::string_view path, DriverError& error) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(attached_.begin(), attached_.end(),
                         [&](const Attached& a) { return a.path == path; });
  if (it == attached_.end()) {
    error = DriverError::not_found;
    return usb::kInvalidHandle;
  }
  if (it->device->open_error() != DriverError::none) {
    error = it->device->open_error();
    return usb::kInvalidHandle;
  }
  const usb::DriverHandle handle = next_handle_++;
  open_[handle] = Opened{it->device, {}};
  error = DriverError::none;
  return handle;
}

bool SimUsbDriver::close(usb::DriverHandle handle, DriverError& error) {
  std::lock_guard lock(mutex_);
  auto it = open_.find(handle);
  if (it == open_.end()) {
    error = DriverError::invalid_handle;
    return false;
  }
  const bool fails = it->second.device->close_fails();
  open_.erase(it);
  error = fails ? DriverError::failed : DriverError::none;
  return !fails;
}

SimUsbDriver::Opened* SimUsbDriver::find(usb::DriverHandle handle) {
  auto it = open_.find(handle);
  return it != open_.end() ? &it->second : nullptr;
}

std::uint64_t SimUsbDriver::traffic() const {
  std::lock_guard lock(mutex_);
  return traffic_;
}

std::size_t SimUsbDriver::open_handles() const {
  std::lock_guard lock(mutex_);
  return open_.size();
}

Submission SimUsbDriver::transfer(Opened& opened, std::uint32_t code, std::span<std::uint8_t> input,
                                  std::span<std::uint8_t> output) {
  const auto header = usb::decode_header(input);
  if (!header) return completed(false, 0);
  UsbTransferOutcome outcome;
  std::uint32_t base = 0;
  std::uint8_t endpoint = 0;
  if (code == usb::kRequestControlTransfer) {
    if (input.size() < usb::kTransferHeaderSize + header->length) return completed(false, 0);
    const UsbControlSetup setup{header->request_type, header->request, header->value, header->index,
                                header->length};
    base = static_cast<std::uint32_t>(usb::kTransferHeaderSize);
    outcome =
        opened.device->control(setup, input.subspan(usb::kTransferHeaderSize, header->length));
  } else {
    std::span<std::uint8_t> data = output;
    if (code == usb::kRequestBufferedTransfer) {
      if (header->data_offset > input.size() ||
          header->data_length > input.size() - header->data_offset) {
        return completed(false, 0);
      }
      data = input.subspan(header->data_offset, header->data_length);
      base = header->data_offset;
    }
    endpoint = header->endpoint;
    outcome = opened.device->data_transfer(endpoint, data);
    // Packet records: the packet number and its share of the data, as a driver would report.
    if (header->records_length > 0 &&
        header->records_offset + std::size_t{header->records_length} <= input.size()) {
      for (std::uint32_t i = 0; i < header->records_length / usb::kPacketRecordSize; ++i) {
        std::uint8_t* record = input.data() + header->records_offset + i * usb::kPacketRecordSize;
        store_u32(record, i);
        store_u32(record + 4, 0);
      }
    }
  }
  if (outcome.hang) {
    auto hang = std::make_shared<Hang>();
    hang->endpoint = endpoint;
    hang->header = input.first(usb::kTransferHeaderSize);
    hang->reported_if_cancelled = base + outcome.moved;
    opened.hangs.push_back(hang);
    return Submission{DriverError::pending, std::make_unique<HangingRequest>(std::move(hang))};
  }
  usb::store_statuses(input, outcome.nt_status, outcome.usb_status);
  const bool ok = outcome.nt_status == usb::kNtSuccess && outcome.usb_status == usb::kUsbSuccess;
  return completed(ok, base + outcome.moved);
}

Submission SimUsbDriver::submit(usb::DriverHandle handle, std::uint32_t code,
                                std::span<std::uint8_t> input, std::span<std::uint8_t> output) {
  std::lock_guard lock(mutex_);
  Opened* opened = find(handle);
  if (opened == nullptr) return Submission{DriverError::invalid_handle, nullptr};
  ++traffic_;
  std::erase_if(opened->hangs, [](const auto& hang) { return hang->cancelled; });
  switch (code) {
    case usb::kRequestControlTransfer:
    case usb::kRequestBufferedTransfer:
    case usb::kRequestDirectTransfer:
      return transfer(*opened, code, input, output);
    case usb::kRequestAbortPipe:
      if (input.size() != 1) return completed(false, 0);
      for (auto& hang : opened->hangs) {
        if (hang->endpoint == input[0]) hang->cancel();
      }
      return completed(true, 0);
    default:
      return Submission{DriverError::invalid_request, nullptr};
  }
}

bool SimUsbDriver::request(usb::DriverHandle handle, std::uint32_t code,
                           std::span<std::uint8_t> buffer, std::uint32_t& bytes_returned,
                           DriverError& error) {
  bytes_returned = 0;
  std::shared_ptr<VirtualUsbDevice> device;
  {
    std::lock_guard lock(mutex_);
    Opened* opened = find(handle);
    if (opened == nullptr) {
      error = DriverError::invalid_handle;
      return false;
    }
    ++traffic_;
    device = opened->device;
  }
  error = DriverError::invalid_request;
  const std::uint16_t bcd_usb = device->descriptors().device.size() >= 4
                                    ? load_u16(device->descriptors().device.data() + 2)
                                    : 0;
  switch (code) {
    case usb::kRequestControlTransfer: {
      const auto header = usb::decode_header(buffer);
      if (!header || buffer.size() < usb::kTransferHeaderSize + header->length) return false;
      const UsbControlSetup setup{header->request_type, header->request, header->value,
                                  header->index, header->length};
      const UsbTransferOutcome outcome =
          device->control(setup, buffer.subspan(usb::kTransferHeaderSize, header->length));
      const bool ok = !outcome.hang && outcome.nt_status == usb::kNtSuccess &&
                      outcome.usb_status == usb::kUsbSuccess;
      usb::store_statuses(buffer, outcome.hang ? usb::kNtCancelled : outcome.nt_status,
                          outcome.hang ? usb::kUsbCancelled : outcome.usb_status);
      bytes_returned = static_cast<std::uint32_t>(usb::kTransferHeaderSize) + outcome.moved;
      error = ok ? DriverError::none : DriverError::failed;
      return ok;
    }
    case usb::kRequestResetPipe: {
      if (buffer.size() != 1) return false;
      const bool ok = device->reset_pipe(buffer[0]);
      error = ok ? DriverError::none : DriverError::failed;
      return ok;
    }
    case usb::kRequestAltSetting:
    case usb::kRequestDeviceAddress:
      if (buffer.size() != 1) return false;
      buffer[0] = code == usb::kRequestAltSetting ? device->alt_setting() : kSimAddress;
      break;
    case usb::kRequestDriverVersion:
    case usb::kRequestStackVersion:
    case usb::kRequestBusSpeed:
      if (buffer.size() != 4) return false;
      store_u32(buffer.data(), code == usb::kRequestBusSpeed
                                   ? (bcd_usb >= 0x0300 ? usb::kBusSpeedSuper : usb::kBusSpeedHigh)
                                   : kDriverVersion);
      break;
    case usb::kRequestDeviceName:
    case usb::kRequestFriendlyName: {
      if (buffer.size() != usb::kDriverNameSize) return false;
      std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
      constexpr char kName[] = "zr simulated USB device";
      std::memcpy(buffer.data(), kName, sizeof kName - 1);
      break;
    }
    default:
      return false;
  }
  bytes_returned = static_cast<std::uint32_t>(buffer.size());
  error = DriverError::none;
  return true;
}

}  // namespace zr::sim
