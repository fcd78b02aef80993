#include "bus/bus_usb.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/le_codec.hpp"

namespace zr {
namespace {

using usb::DeviceClass;
using usb::UsbDevice;

constexpr std::size_t kIdentityField = 30;
constexpr std::size_t kProductOffset = 0;
constexpr std::size_t kSerialOffset = 30;
constexpr std::size_t kManufacturerOffset = 60;
constexpr std::size_t kIdentityCompared = 90;     // identity_text bytes 0..89
constexpr std::size_t kIdentityRecordOffset = 6;  // against record bytes 6..95
constexpr std::uint32_t kMaxControlLength = 0xFFFF;
constexpr std::uint32_t kBusInfoSize = 16;
constexpr std::uint32_t kNoticeSize = 2;
constexpr std::size_t kSerialChars = 30;

bool accepted_controller(const UsbDevice& device) {
  return device.VendorId() == usb::kBusControllerVendor &&
         device.ProductId() == usb::kBusControllerProduct;
}

void put_identity(BusInfo& info, std::size_t offset, const std::u16string& text) {
  for (std::size_t k = 0; k < kIdentityField; ++k) {
    info.identity_text[offset + k] =
        k < text.size() ? static_cast<std::uint8_t>(text[k] & 0xFF) : std::uint8_t{0};
  }
}

bool is_hex(std::uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::uint64_t hex_value(const std::array<std::uint8_t, kSerialChars>& text, std::size_t first,
                        std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = first; i < first + count; ++i) {
    const std::uint8_t c = text[i];
    const unsigned digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value << 4 | digit;
  }
  return value;
}

void write_entry(std::uint8_t* entry, const SerialFields& fields) {
  std::memset(entry, 0, kDeviceListEntrySize);
  if (!fields.valid) return;
  store_u16(entry + offsetof(DeviceListEntry, model), fields.model);
  store_u32(entry + offsetof(DeviceListEntry, uid_low), static_cast<std::uint32_t>(fields.uid_low));
  store_u32(entry + offsetof(DeviceListEntry, uid_low) + 4,
            static_cast<std::uint32_t>(fields.uid_low >> 32));
  store_u32(entry + offsetof(DeviceListEntry, uid_high), fields.uid_high);
}

}  // namespace

SerialFields parse_serial(const std::u16string& serial) {
  std::array<std::uint8_t, kSerialChars> text{};
  for (std::size_t i = 0; i < kSerialChars && i < serial.size(); ++i) {
    text[i] = static_cast<std::uint8_t>(serial[i] & 0xFF);
  }
  SerialFields fields;
  for (std::size_t i = 0; i < kSerialChars; ++i) {
    if (i == 3 || i == 28 || i == 29) continue;
    if (!is_hex(text[i])) return fields;
  }
  fields.valid = true;
  // A model part with hexadecimal letters is no decimal number: it lists as model 0.
  const bool decimal = std::all_of(text.begin(), text.begin() + 3,
                                   [](std::uint8_t c) { return c >= '0' && c <= '9'; });
  if (decimal) {
    fields.model =
        static_cast<std::uint16_t>((text[0] - '0') * 100 + (text[1] - '0') * 10 + (text[2] - '0'));
  }
  fields.uid_high = static_cast<std::uint32_t>(hex_value(text, 4, 8));
  fields.uid_low = hex_value(text, 12, 16);
  return fields;
}

bus_usb::bus_usb(std::uint8_t device_index, usb::UsbDriver& driver)
    : abus(device_index), driver_(driver) {}

bool bus_usb::ready() const {
  return device_ && device_->is_open() && device_->ControlEndpoint() != nullptr;
}

bus_usb::ControlResult bus_usb::control(std::uint8_t request_type, std::uint8_t direction,
                                        std::uint8_t request, std::uint16_t value,
                                        std::uint16_t index, std::uint8_t* data,
                                        std::uint32_t length) {
  usb::UsbControlEndpoint* endpoint = device_->ControlEndpoint();
  endpoint->Recipient = usb::kRecipientDevice;
  endpoint->RequestType = request_type;
  endpoint->Request = request;
  endpoint->Value = value;
  endpoint->Index = index;
  std::uint32_t moved = length;
  const bool ok =
      direction == usb::kDirectionIn ? endpoint->Read(data, moved) : endpoint->Write(data, moved);
  return {ok && endpoint->UsbStatus() == usb::kUsbSuccess, moved};
}

std::int32_t bus_usb::list_devices(void* entries, std::uint32_t room_bytes, std::uint32_t* count) {
  if (count == nullptr) return ZR_OK;
  *count = 0;
  const std::uint32_t capacity =
      entries != nullptr ? room_bytes / static_cast<std::uint32_t>(kDeviceListEntrySize) : 0;
  auto* bytes = static_cast<std::uint8_t*>(entries);
  UsbDevice first(DeviceClass::instrument, driver_);
  UsbDevice second(DeviceClass::bus_controller, driver_);
  const unsigned a = first.CountDevices();
  const unsigned b = second.CountDevices();
  auto visit = [&](UsbDevice& device, unsigned index, bool controller) {
    device.Open(static_cast<std::uint8_t>(index));
    if (controller && !accepted_controller(device)) return;
    if (device.DeviceRelease() != 0 && *count < capacity) {
      write_entry(bytes + std::size_t{*count} * kDeviceListEntrySize,
                  parse_serial(device.SerialNumber()));
    }
    ++*count;
  };
  for (unsigned j = 0; j < a; ++j) visit(first, j, false);
  for (unsigned j = 0; j < b; ++j) visit(second, j, true);
  return ZR_OK;
}

std::int32_t bus_usb::open() {
  UsbDevice first(DeviceClass::instrument, driver_);
  UsbDevice second(DeviceClass::bus_controller, driver_);
  const unsigned a = first.CountDevices();
  const unsigned b = second.CountDevices();
  std::vector<unsigned> excluded;
  for (unsigned j = 0; j < b; ++j) {
    second.Open(static_cast<std::uint8_t>(j));
    if (!accepted_controller(second)) excluded.push_back(j);
  }
  second.Close();

  DeviceClass device_class = DeviceClass::instrument;
  unsigned index = device_index_;
  if (index >= a) {
    device_class = DeviceClass::bus_controller;
    index -= a;
    for (unsigned e : excluded) {
      if (e > index) break;
      ++index;
    }
  }
  device_ = std::make_shared<UsbDevice>(device_class, driver_);
  if (index >= usb::kMaxDevicesPerClass) return ZR_BUS_USB_NO_DEVICE;
  device_->Open(static_cast<std::uint8_t>(index));
  if (!device_->is_open() || device_->CountEndpoints() <= 1 || device_->BulkIn() == nullptr) {
    return ZR_BUS_USB_NO_DEVICE;
  }

  device_->ControlEndpoint()->set_timeout_ms(kUsbTransferTimeoutMs);
  for (std::size_t slot = 1; slot < usb::kEndpointSlots; ++slot) {
    if (usb::UsbEndpoint* endpoint = device_->CurrentInterface()->endpoint(slot)) {
      endpoint->set_timeout_ms(kUsbTransferTimeoutMs);
    }
  }
  info_.device_release = device_->DeviceRelease();
  put_identity(info_, kProductOffset, device_->Product());
  put_identity(info_, kSerialOffset, device_->SerialNumber());
  put_identity(info_, kManufacturerOffset, device_->Manufacturer());
  info_.transfer_timeout_ms = kUsbTransferTimeoutMs;
  info_.timeout2_ms = kUsbTransferTimeoutMs;
  info_.timeout3_ms = kUsbTransferTimeoutMs;

  if (const std::int32_t status = read_bus_info(); status != ZR_OK) return status;
  if (info_.firmware_version >= kOpenNoticeFirmware &&
      vendor_notice(usb_request::kOpenNotice) != ZR_OK) {
    return ZR_BUS_USB_TRANSFER_FAILED;
  }
  return ZR_OK;
}

std::int32_t bus_usb::close() {
  if (!device_) return ZR_BUS_USB_NO_DEVICE;
  return device_->Close() ? ZR_OK : ZR_BUS_USB_TRANSFER_FAILED;
}

std::int32_t bus_usb::set_timeout(std::uint32_t milliseconds) {
  if (!ready()) return ZR_BUS_USB_NO_DEVICE;
  info_.transfer_timeout_ms = milliseconds;
  device_->ControlEndpoint()->set_timeout_ms(milliseconds);
  return ZR_OK;
}

std::int32_t bus_usb::write(const std::uint8_t* data, std::uint32_t* length) {
  if (!ready()) return ZR_BUS_USB_NO_DEVICE;
  if (length == nullptr || *length > kUsbFrameSize || (*length > 0 && data == nullptr)) {
    return ZR_BUS_USB_TRANSFER_FAILED;
  }
  std::array<std::uint8_t, kUsbFrameSize> frame{};
  if (*length > 0) std::memcpy(frame.data(), data, *length);
  const ControlResult sent = control(usb::kRequestTypeClass, usb::kDirectionOut,
                                     usb_request::kWrite, 0, 0, frame.data(), kUsbFrameSize);
  *length = sent.moved;
  return sent.ok && sent.moved != 0 ? ZR_OK : ZR_BUS_USB_TRANSFER_FAILED;
}

std::int32_t bus_usb::read(std::uint8_t* data, std::uint32_t* length) {
  if (!ready()) return ZR_BUS_USB_NO_DEVICE;
  if (length == nullptr || *length > kMaxControlLength || (*length > 0 && data == nullptr)) {
    return ZR_BUS_USB_TRANSFER_FAILED;
  }
  const std::uint32_t room = *length;
  const ControlResult got = control(usb::kRequestTypeClass, usb::kDirectionIn, usb_request::kRead,
                                    static_cast<std::uint16_t>(room), 0, data, room);
  *length = got.moved;
  if (got.moved == 0) return ZR_BUS_USB_TRANSFER_FAILED;
  if (got.moved == 1 && data[0] == usb_request::kBusyReply) return ZR_BUS_USB_CANCELLED;
  return got.ok ? ZR_OK : ZR_BUS_USB_TRANSFER_FAILED;
}

std::int32_t bus_usb::query(const std::uint8_t* out, std::uint32_t* out_length, std::uint8_t* in,
                            std::uint32_t* in_length, std::uint32_t timeout_ms) {
  if (!ready()) return ZR_BUS_USB_NO_DEVICE;
  if (out_length == nullptr || in_length == nullptr || *out_length > kMaxControlLength ||
      *in_length > kMaxControlLength || (*out_length > 0 && out == nullptr) ||
      (*in_length > 0 && in == nullptr)) {
    return ZR_BUS_USB_TRANSFER_FAILED;
  }
  const std::uint32_t saved = info_.transfer_timeout_ms;
  set_timeout(timeout_ms);
  const std::uint32_t room = *in_length;
  std::vector<std::uint8_t> frame(out, out + *out_length);
  const ControlResult sent =
      control(usb::kRequestTypeClass, usb::kDirectionOut, usb_request::kQuerySend,
              static_cast<std::uint16_t>(timeout_ms), static_cast<std::uint16_t>(room),
              frame.data(), static_cast<std::uint32_t>(frame.size()));
  const ControlResult got =
      control(usb::kRequestTypeClass, usb::kDirectionIn, usb_request::kQueryReply,
              static_cast<std::uint16_t>(room), 1, in, room);
  *out_length = sent.moved;
  *in_length = got.moved;
  std::int32_t status = ZR_OK;
  if (sent.moved != 0 && got.moved == 1 && in[0] == usb_request::kBusyReply) {
    status = ZR_BUS_USB_CANCELLED;
  } else if (sent.moved == 0 || got.moved == 0 || !sent.ok || !got.ok) {
    status = ZR_BUS_USB_TRANSFER_FAILED;
  }
  set_timeout(saved);
  return status;
}

std::int32_t bus_usb::bulk(usb::UsbEndpoint* endpoint, std::uint8_t* data, std::uint32_t* length) {
  if (!ready()) return ZR_BUS_USB_NO_DEVICE;
  if (endpoint == nullptr || length == nullptr || (*length > 0 && data == nullptr)) {
    return ZR_BUS_USB_TRANSFER_FAILED;
  }
  const bool ok = endpoint->Transfer(data, *length);
  if (ok && endpoint->NtStatus() == usb::kNtSuccess) return ZR_OK;
  if (endpoint->NtStatus() == usb::kNtCancelled) return ZR_BUS_USB_CANCELLED;
  return ZR_BUS_USB_TRANSFER_FAILED;
}

std::int32_t bus_usb::stream_write(const std::uint8_t* data, std::uint32_t* length) {
  if (!ready()) return ZR_BUS_USB_NO_DEVICE;
  // An OUT transfer only reads the buffer; sample data stays in place rather than being copied.
  return bulk(device_->BulkOut(), const_cast<std::uint8_t*>(data), length);
}

std::int32_t bus_usb::stream_read(std::uint8_t* data, std::uint32_t* length) {
  if (!ready()) return ZR_BUS_USB_NO_DEVICE;
  return bulk(device_->BulkIn(), data, length);
}

std::int32_t bus_usb::vendor_notice(std::uint8_t request) {
  std::array<std::uint8_t, kNoticeSize> zeros{};
  const ControlResult sent = control(usb::kRequestTypeVendor, usb::kDirectionOut, request, 0, 0,
                                     zeros.data(), kNoticeSize);
  return sent.ok && sent.moved != 0 ? ZR_OK : ZR_BUS_USB_TRANSFER_FAILED;
}

std::int32_t bus_usb::notify_device() {
  if (!ready()) return ZR_BUS_USB_NO_DEVICE;
  return vendor_notice(usb_request::kNotify);
}

std::int32_t bus_usb::stream_stop() {
  if (!ready()) return ZR_BUS_USB_NO_DEVICE;
  if (vendor_notice(usb_request::kStreamStop) != ZR_OK) return ZR_BUS_USB_TRANSFER_FAILED;
  usb::UsbEndpoint* out = device_->BulkOut();
  return out != nullptr && out->ResetPipe() ? ZR_OK : ZR_BUS_USB_PIPE_RESET;
}

std::int32_t bus_usb::write_identity(const std::uint8_t* data, std::uint32_t length) {
  if (!ready()) return ZR_BUS_USB_NO_DEVICE;
  const std::uint32_t n = length % 256;
  if (info_.device_release == 0) return ZR_OK;
  // Only a record that reaches byte 95 can be compared; a shorter one is sent.
  if (data != nullptr && n >= kIdentityRecordOffset + kIdentityCompared &&
      std::equal(data + kIdentityRecordOffset, data + kIdentityRecordOffset + kIdentityCompared,
                 info_.identity_text.begin())) {
    return ZR_OK;
  }
  if (n == 0 || data == nullptr) return ZR_BUS_USB_TRANSFER_FAILED;
  std::vector<std::uint8_t> record(data, data + n);
  const ControlResult sent =
      control(usb::kRequestTypeVendor, usb::kDirectionOut, usb_request::kWriteData,
              usb_request::kIdentityValue, usb_request::kIdentityIndex, record.data(), n);
  return sent.ok && sent.moved != 0 ? ZR_OK : ZR_BUS_USB_TRANSFER_FAILED;
}

std::int32_t bus_usb::write_bus_firmware(const std::uint8_t* image, std::uint32_t length) {
  if (!ready()) return ZR_BUS_USB_NO_DEVICE;
  if (image == nullptr || length < 2 || image[0] != 'C' || image[1] != 'Y') {
    return ZR_BUS_USB_BAD_FIRMWARE;
  }
  constexpr std::uint32_t kChunksPerBank = kBusFirmwareBankSize / kBusFirmwareChunk;
  std::uint16_t bank = 0;
  std::uint16_t offset = 0;
  std::vector<std::uint8_t> chunk(kBusFirmwareChunk);
  // A request that comes back short fails the download: going on would leave a gap in the bank.
  auto send = [&](const std::uint8_t* from, std::uint32_t size) {
    chunk.assign(from, from + size);
    const ControlResult sent = control(usb::kRequestTypeVendor, usb::kDirectionOut,
                                       usb_request::kWriteData, bank, offset, chunk.data(), size);
    if (!sent.ok || sent.moved != size) return false;
    offset = static_cast<std::uint16_t>(offset + sent.moved);
    return true;
  };
  const std::uint32_t full = length / kBusFirmwareChunk;
  for (std::uint32_t c = 0; c < full; ++c) {
    if (!send(image + std::size_t{c} * kBusFirmwareChunk, kBusFirmwareChunk)) {
      return ZR_BUS_USB_TRANSFER_FAILED;
    }
    if ((c + 1) % kChunksPerBank == 0) {
      bank = static_cast<std::uint16_t>((bank + 1) % kBusFirmwareBanks);
      offset = 0;
    }
  }
  const std::uint32_t rest = length % kBusFirmwareChunk;
  if (rest != 0 && !send(image + std::size_t{full} * kBusFirmwareChunk, rest)) {
    return ZR_BUS_USB_TRANSFER_FAILED;
  }
  return ZR_OK;
}

std::int32_t bus_usb::read_bus_info() {
  if (!ready()) return ZR_BUS_USB_NO_DEVICE;
  std::array<std::uint8_t, kBusInfoSize> reply{};
  const ControlResult got =
      control(usb::kRequestTypeClass, usb::kDirectionIn, usb_request::kBusInfo, kBusInfoSize, 0,
              reply.data(), kBusInfoSize);
  // A short reply has no version word; it is refused rather than read past what arrived.
  if (!got.ok || got.moved < kBusInfoSize) return ZR_BUS_USB_TRANSFER_FAILED;
  info_.link_kind = reply[0];
  info_.firmware_version = load_u32(reply.data() + 12);
  info_.link_bandwidth = link_bandwidth_for(info_.link_kind);
  return ZR_OK;
}

}  // namespace zr
