#include "bus/usb/libusb_driver.hpp"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <optional>

#include "bus/usb/transfer_header.hpp"
#include "bus/usb/usb_text.hpp"
#include "platform/clock.hpp"
#include "platform/le_codec.hpp"

namespace zr::usb {
namespace {

constexpr std::chrono::milliseconds kEventSlice{50};
constexpr std::chrono::milliseconds kUnboundedWait{kLibusbUnboundedWaitMs};
constexpr std::uint8_t kEndpointTypeMask = 0x03;

struct Statuses {
  std::uint32_t nt = kNtSuccess;
  std::uint32_t usb = kUsbSuccess;
};

Statuses statuses_of(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
      return {};
    case LIBUSB_TRANSFER_TIMED_OUT:  // libusb times out by cancelling
    case LIBUSB_TRANSFER_CANCELLED:
      return {kNtCancelled, kUsbCancelled};
    case LIBUSB_TRANSFER_STALL:
      return {kNtUnsuccessful, kUsbStall};
    case LIBUSB_TRANSFER_NO_DEVICE:
      return {kNtDeviceGone, kUsbFailed};
    case LIBUSB_TRANSFER_ERROR:
    case LIBUSB_TRANSFER_OVERFLOW:
      break;
  }
  return {kNtUnsuccessful, kUsbFailed};
}

Statuses statuses_of_error(int error) {
  if (error == LIBUSB_ERROR_NO_DEVICE) return {kNtDeviceGone, kUsbFailed};
  if (error == LIBUSB_ERROR_PIPE) return {kNtUnsuccessful, kUsbStall};
  if (error == LIBUSB_ERROR_TIMEOUT) return {kNtCancelled, kUsbCancelled};
  return {kNtUnsuccessful, kUsbFailed};
}

std::string path_of(std::uint8_t bus, std::uint8_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "usb:%03u:%03u", unsigned{bus}, unsigned{address});
  return text;
}

bool parse_path(std::string_view path, std::uint8_t& bus, std::uint8_t& address) {
  unsigned b = 0;
  unsigned a = 0;
  char tail = 0;
  const std::string text(path);
  if (std::sscanf(text.c_str(), "usb:%u:%u%c", &b, &a, &tail) != 2 || b > 255 || a > 255) {
    return false;
  }
  bus = static_cast<std::uint8_t>(b);
  address = static_cast<std::uint8_t>(a);
  return true;
}

// A request that finished before it was handed back.
class FinishedRequest final : public PendingRequest {
 public:
  FinishedRequest(bool ok, std::uint32_t bytes) : ok_(ok), bytes_(bytes) {}
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

Submission finished(bool ok, std::uint32_t bytes, DriverError error) {
  return Submission{error, std::make_unique<FinishedRequest>(ok, bytes)};
}

}  // namespace

struct LibusbDriver::OpenDevice {
  libusb_device_handle* handle = nullptr;
  std::string path;
  int claimed_interface = -1;
  std::uint8_t alt_setting = 0;
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::map<std::uint8_t, std::uint8_t> endpoint_types;  // address -> transfer type
  std::vector<std::weak_ptr<InFlight>> in_flight;
};

// One libusb transfer. The completion callback only fills in these fields; the statuses and data
// reach the caller's block when the waiting side collects them, so a callback can never write
// into memory the caller has released.
struct LibusbDriver::InFlight {
  ~InFlight() {
    if (transfer != nullptr) libusb_free_transfer(transfer);
  }
  libusb_context* context = nullptr;
  libusb_transfer* transfer = nullptr;
  std::vector<std::uint8_t> control_buffer;  // setup packet and data stage
  std::span<std::uint8_t> header_block;      // statuses go here
  std::span<std::uint8_t> control_data;      // data stage of a control IN goes here
  std::uint32_t reported_base = 0;           // bytes before the data in the reported count
  std::uint8_t endpoint = 0;
  bool control_in = false;
  int completed = 0;
  libusb_transfer_status status = LIBUSB_TRANSFER_ERROR;
  std::uint32_t actual = 0;
  bool collected = false;

  static void LIBUSB_CALL on_complete(libusb_transfer* done) {
    auto* self = static_cast<InFlight*>(done->user_data);
    self->status = done->status;
    self->actual = done->actual_length > 0 ? static_cast<std::uint32_t>(done->actual_length) : 0;
    self->completed = 1;
  }

  void collect() {
    if (collected || !completed) return;
    collected = true;
    const Statuses s = statuses_of(status);
    store_statuses(header_block, s.nt, s.usb);
    if (control_in) {
      actual = std::min<std::uint32_t>(actual, static_cast<std::uint32_t>(control_data.size()));
      if (actual > 0) {
        std::memcpy(control_data.data(), control_buffer.data() + LIBUSB_CONTROL_SETUP_SIZE, actual);
      }
    }
  }

  // Handles events until this transfer completed or the deadline passed.
  bool run_until(SteadyTime deadline) {
    do {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
          std::clamp<std::chrono::nanoseconds>(deadline - steady_now(), std::chrono::nanoseconds(0),
                                               kEventSlice));
      timeval slice{};
      slice.tv_sec = static_cast<time_t>(left.count() / 1000000);
      slice.tv_usec = static_cast<suseconds_t>(left.count() % 1000000);
      const int rc = libusb_handle_events_timeout_completed(context, &slice, &completed);
      if (rc < 0 && rc != LIBUSB_ERROR_INTERRUPTED && rc != LIBUSB_ERROR_TIMEOUT) break;
    } while (!completed && steady_now() < deadline);
    return completed != 0;
  }
};

namespace {

class LibusbRequest final : public PendingRequest {
 public:
  explicit LibusbRequest(std::shared_ptr<LibusbDriver::InFlight> transfer)
      : transfer_(std::move(transfer)) {}

  ~LibusbRequest() override {
    if (transfer_->completed) return;
    libusb_cancel_transfer(transfer_->transfer);
    if (!transfer_->run_until(steady_now() + kUnboundedWait)) {
      // libusb still owns the transfer; keep its state alive rather than free it under libusb.
      new (std::nothrow) std::shared_ptr<LibusbDriver::InFlight>(transfer_);
    }
  }

  WaitResult wait(std::optional<std::chrono::milliseconds> timeout) override {
    const bool done = transfer_->run_until(steady_now() + timeout.value_or(kUnboundedWait));
    if (!done) return timeout ? WaitResult::timed_out : WaitResult::failed;
    transfer_->collect();
    return WaitResult::signalled;
  }

  bool result(std::uint32_t& bytes_returned) override {
    if (!transfer_->completed) {
      bytes_returned = 0;
      return false;
    }
    transfer_->collect();
    bytes_returned = transfer_->reported_base + transfer_->actual;
    return transfer_->status == LIBUSB_TRANSFER_COMPLETED;
  }

 private:
  std::shared_ptr<LibusbDriver::InFlight> transfer_;
};

}  // namespace

LibusbDriver::LibusbDriver(std::vector<UsbId> instrument_ids) : ids_(std::move(instrument_ids)) {}

LibusbDriver::~LibusbDriver() {
  for (auto& [handle, device] : open_) {
    if (device->claimed_interface >= 0) {
      libusb_release_interface(device->handle, device->claimed_interface);
    }
    libusb_close(device->handle);
  }
  open_.clear();
  if (context_ != nullptr) libusb_exit(context_);
}

libusb_context* LibusbDriver::context() {
  if (context_ == nullptr && !init_failed_) {
    if (libusb_init(&context_) != LIBUSB_SUCCESS) {
      context_ = nullptr;
      init_failed_ = true;
    }
  }
  return context_;
}

LibusbDriver::OpenDevice* LibusbDriver::find(DriverHandle handle) {
  auto it = open_.find(handle);
  return it != open_.end() ? it->second.get() : nullptr;
}

std::vector<std::string> LibusbDriver::enumerate(DeviceClass device_class) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  libusb_context* ctx = context();
  if (ctx == nullptr) return paths;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(ctx, &list);
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS) continue;
    const UsbId id{descriptor.idVendor, descriptor.idProduct};
    const bool match = device_class == DeviceClass::instrument
                           ? std::find(ids_.begin(), ids_.end(), id) != ids_.end()
                           : id.vendor == kBusControllerVendor;
    if (match) {
      paths.push_back(path_of(libusb_get_bus_number(list[i]), libusb_get_device_address(list[i])));
    }
  }
  if (list != nullptr) libusb_free_device_list(list, 1);
  return paths;
}

DriverHandle LibusbDriver::open(std::string_view path, DriverError& error) {
  std::lock_guard lock(mutex_);
  error = DriverError::not_found;
  std::uint8_t bus = 0;
  std::uint8_t address = 0;
  libusb_context* ctx = context();
  if (ctx == nullptr || !parse_path(path, bus, address)) return kInvalidHandle;

  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(ctx, &list);
  libusb_device* found = nullptr;
  for (ssize_t i = 0; i < count && found == nullptr; ++i) {
    if (libusb_get_bus_number(list[i]) == bus && libusb_get_device_address(list[i]) == address) {
      found = libusb_ref_device(list[i]);
    }
  }
  if (list != nullptr) libusb_free_device_list(list, 1);
  if (found == nullptr) return kInvalidHandle;

  auto device = std::make_unique<OpenDevice>();
  device->path = std::string(path);
  libusb_device_descriptor descriptor{};
  libusb_get_device_descriptor(found, &descriptor);
  device->vendor = descriptor.idVendor;
  device->product = descriptor.idProduct;
  const int opened = libusb_open(found, &device->handle);
  if (opened != LIBUSB_SUCCESS) {
    if (opened == LIBUSB_ERROR_ACCESS) {
      char ids[16];
      std::snprintf(ids, sizeof ids, "%04x:%04x", unsigned{device->vendor},
                    unsigned{device->product});
      std::cerr << kNotPermittedText << path << " (" << ids << ")\n";
      error = DriverError::access_denied;
    } else {
      error = opened == LIBUSB_ERROR_NO_DEVICE ? DriverError::not_found : DriverError::failed;
    }
    libusb_unref_device(found);
    return kInvalidHandle;
  }

  int interface_number = 0;
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(found, &config) == LIBUSB_SUCCESS ||
      libusb_get_config_descriptor(found, 0, &config) == LIBUSB_SUCCESS) {
    for (int i = 0; i < config->bNumInterfaces; ++i) {
      const libusb_interface& interface = config->interface[i];
      for (int a = 0; a < interface.num_altsetting; ++a) {
        const libusb_interface_descriptor& alt = interface.altsetting[a];
        if (i == 0 && a == 0) interface_number = alt.bInterfaceNumber;
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
          device->endpoint_types.emplace(alt.endpoint[e].bEndpointAddress,
                                         alt.endpoint[e].bmAttributes & kEndpointTypeMask);
        }
      }
    }
    libusb_free_config_descriptor(config);
  }
  libusb_unref_device(found);

  libusb_set_auto_detach_kernel_driver(device->handle, 1);
  const int claimed = libusb_claim_interface(device->handle, interface_number);
  if (claimed != LIBUSB_SUCCESS) {
    error = claimed == LIBUSB_ERROR_BUSY ? DriverError::busy : DriverError::failed;
    libusb_close(device->handle);
    return kInvalidHandle;
  }
  device->claimed_interface = interface_number;
  const DriverHandle handle = next_handle_++;
  open_.emplace(handle, std::move(device));
  error = DriverError::none;
  return handle;
}

bool LibusbDriver::close(DriverHandle handle, DriverError& error) {
  std::unique_ptr<OpenDevice> device;
  {
    std::lock_guard lock(mutex_);
    auto it = open_.find(handle);
    if (it == open_.end()) {
      error = DriverError::invalid_handle;
      return false;
    }
    device = std::move(it->second);
    open_.erase(it);
  }
  for (auto& weak : device->in_flight) {
    if (auto transfer = weak.lock(); transfer && !transfer->completed) {
      libusb_cancel_transfer(transfer->transfer);
      transfer->run_until(steady_now() + kUnboundedWait);
    }
  }
  if (device->claimed_interface >= 0) {
    libusb_release_interface(device->handle, device->claimed_interface);
  }
  libusb_close(device->handle);
  error = DriverError::none;
  return true;
}

Submission LibusbDriver::start(OpenDevice& device, std::shared_ptr<InFlight> transfer) {
  std::erase_if(device.in_flight, [](const auto& weak) { return weak.expired(); });
  const int rc = libusb_submit_transfer(transfer->transfer);
  if (rc != LIBUSB_SUCCESS) {
    const Statuses s = statuses_of_error(rc);
    store_statuses(transfer->header_block, s.nt, s.usb);
    return finished(false, 0, DriverError::failed);
  }
  device.in_flight.push_back(transfer);
  return Submission{DriverError::pending, std::make_unique<LibusbRequest>(std::move(transfer))};
}

Submission LibusbDriver::submit_control(OpenDevice& device, std::span<std::uint8_t> block) {
  const auto header = decode_header(block);
  if (!header || block.size() < kTransferHeaderSize + header->length) {
    return finished(false, 0, DriverError::invalid_request);
  }
  auto transfer = std::make_shared<InFlight>();
  transfer->context = context_;
  transfer->header_block = block.first(kTransferHeaderSize);
  transfer->control_data = block.subspan(kTransferHeaderSize, header->length);
  transfer->reported_base = static_cast<std::uint32_t>(kTransferHeaderSize);
  transfer->control_in = (header->request_type & LIBUSB_ENDPOINT_IN) != 0;
  transfer->control_buffer.resize(LIBUSB_CONTROL_SETUP_SIZE + header->length);
  libusb_fill_control_setup(transfer->control_buffer.data(), header->request_type, header->request,
                            header->value, header->index, header->length);
  if (!transfer->control_in && header->length > 0) {
    std::memcpy(transfer->control_buffer.data() + LIBUSB_CONTROL_SETUP_SIZE,
                block.data() + kTransferHeaderSize, header->length);
  }
  transfer->transfer = libusb_alloc_transfer(0);
  if (transfer->transfer == nullptr) return finished(false, 0, DriverError::failed);
  libusb_fill_control_transfer(transfer->transfer, device.handle, transfer->control_buffer.data(),
                               &InFlight::on_complete, transfer.get(), header->timeout_s * 1000u);
  return start(device, std::move(transfer));
}

Submission LibusbDriver::submit_data(OpenDevice& device, std::span<std::uint8_t> input,
                                     std::span<std::uint8_t> output, bool buffered) {
  const auto header = decode_header(input);
  if (!header) return finished(false, 0, DriverError::invalid_request);
  const auto type = device.endpoint_types.find(header->endpoint);
  if (type == device.endpoint_types.end()) return finished(false, 0, DriverError::invalid_request);
  std::span<std::uint8_t> data = output;
  if (buffered) {
    if (header->data_offset > input.size() ||
        header->data_length > input.size() - header->data_offset) {
      return finished(false, 0, DriverError::invalid_request);
    }
    data = input.subspan(header->data_offset, header->data_length);
  }
  if (data.size() > static_cast<std::size_t>(INT32_MAX)) {
    return finished(false, 0, DriverError::invalid_request);
  }
  auto transfer = std::make_shared<InFlight>();
  transfer->context = context_;
  transfer->header_block = input.first(kTransferHeaderSize);
  transfer->reported_base = buffered ? header->data_offset : 0;
  transfer->endpoint = header->endpoint;
  transfer->transfer = libusb_alloc_transfer(0);
  if (transfer->transfer == nullptr) return finished(false, 0, DriverError::failed);
  const unsigned timeout = header->timeout_s * 1000u;
  const int length = static_cast<int>(data.size());
  switch (static_cast<libusb_endpoint_transfer_type>(type->second)) {
    case LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK:
      libusb_fill_bulk_transfer(transfer->transfer, device.handle, header->endpoint, data.data(),
                                length, &InFlight::on_complete, transfer.get(), timeout);
      break;
    case LIBUSB_ENDPOINT_TRANSFER_TYPE_INTERRUPT:
      libusb_fill_interrupt_transfer(transfer->transfer, device.handle, header->endpoint,
                                     data.data(), length, &InFlight::on_complete, transfer.get(),
                                     timeout);
      break;
    default:
      // Isochronous transfers are not carried by this driver: no instrument uses them.
      return finished(false, 0, DriverError::invalid_request);
  }
  return start(device, std::move(transfer));
}

Submission LibusbDriver::abort_endpoint(OpenDevice& device, std::span<std::uint8_t> input) {
  if (input.size() != 1) return finished(false, 0, DriverError::invalid_request);
  for (auto& weak : device.in_flight) {
    if (auto transfer = weak.lock();
        transfer && !transfer->completed && transfer->endpoint == input[0]) {
      libusb_cancel_transfer(transfer->transfer);
    }
  }
  return finished(true, 0, DriverError::none);
}

Submission LibusbDriver::submit(DriverHandle handle, std::uint32_t code,
                                std::span<std::uint8_t> input, std::span<std::uint8_t> output) {
  OpenDevice* device = nullptr;
  {
    std::lock_guard lock(mutex_);
    device = find(handle);
  }
  if (device == nullptr) return finished(false, 0, DriverError::invalid_handle);
  switch (code) {
    case kRequestControlTransfer:
      return submit_control(*device, input);
    case kRequestBufferedTransfer:
      return submit_data(*device, input, output, true);
    case kRequestDirectTransfer:
      return submit_data(*device, input, output, false);
    case kRequestAbortPipe:
      return abort_endpoint(*device, input);
    default:
      return finished(false, 0, DriverError::invalid_request);
  }
}

bool LibusbDriver::request(DriverHandle handle, std::uint32_t code, std::span<std::uint8_t> buffer,
                           std::uint32_t& bytes_returned, DriverError& error) {
  bytes_returned = 0;
  OpenDevice* device = nullptr;
  {
    std::lock_guard lock(mutex_);
    device = find(handle);
  }
  error = DriverError::invalid_handle;
  if (device == nullptr) return false;
  error = DriverError::invalid_request;
  auto fixed = [&](std::size_t size) { return buffer.size() == size; };
  switch (code) {
    case kRequestControlTransfer: {
      Submission submission = submit_control(*device, buffer);
      if (!submission.pending) return false;
      submission.pending->wait(std::nullopt);
      const bool ok = submission.pending->result(bytes_returned);
      error = ok ? DriverError::none : DriverError::failed;
      return ok;
    }
    case kRequestResetPipe: {
      if (!fixed(1)) return false;
      const int rc = libusb_clear_halt(device->handle, buffer[0]);
      error = rc == LIBUSB_SUCCESS ? DriverError::none : DriverError::failed;
      return rc == LIBUSB_SUCCESS;
    }
    case kRequestAltSetting:
      if (!fixed(1)) return false;
      buffer[0] = device->alt_setting;
      break;
    case kRequestDeviceAddress:
      if (!fixed(1)) return false;
      buffer[0] = libusb_get_device_address(libusb_get_device(device->handle));
      break;
    case kRequestDriverVersion:
    case kRequestStackVersion: {
      if (!fixed(4)) return false;
      const libusb_version* version = libusb_get_version();
      store_u32(buffer.data(), code == kRequestDriverVersion
                                   ? (std::uint32_t{version->major} << 24) |
                                         (std::uint32_t{version->minor} << 16) | version->micro
                                   : 0);
      break;
    }
    case kRequestBusSpeed: {
      if (!fixed(4)) return false;
      const int speed = libusb_get_device_speed(libusb_get_device(device->handle));
      std::uint32_t value = 0;
      if (speed == LIBUSB_SPEED_HIGH) value = kBusSpeedHigh;
      if (speed >= LIBUSB_SPEED_SUPER) value = kBusSpeedSuper;
      store_u32(buffer.data(), value);
      break;
    }
    case kRequestDeviceName:
    case kRequestFriendlyName: {
      if (!fixed(kDriverNameSize)) return false;
      std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
      char text[64];
      if (code == kRequestDeviceName) {
        std::snprintf(text, sizeof text, "%s", device->path.c_str());
      } else {
        std::snprintf(text, sizeof text, "USB %04x:%04x", unsigned{device->vendor},
                      unsigned{device->product});
      }
      std::memcpy(buffer.data(), text, std::strlen(text));
      break;
    }
    default:
      return false;
  }
  bytes_returned = static_cast<std::uint32_t>(buffer.size());
  error = DriverError::none;
  return true;
}

}  // namespace zr::usb
