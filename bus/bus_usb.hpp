#pragma once
// The USB bus: finds the instrument among the devices of both device classes, opens it through
// UsbDevice and carries every abus operation as control, vendor and bulk requests.
#include <cstdint>
#include <memory>

#include "bus/abus.hpp"
#include "bus/usb/instrument_ids.hpp"
#include "bus/usb/usb_device.hpp"
#include "bus/usb/usb_driver.hpp"

namespace zr {

inline constexpr std::size_t kDeviceListEntrySize = 56;
inline constexpr std::uint32_t kUsbFrameSize = 256;
inline constexpr std::uint32_t kUsbTransferTimeoutMs = 2000;
inline constexpr std::uint32_t kBusFirmwareChunk = 2048;
inline constexpr std::uint32_t kBusFirmwareBankSize = 65536;
inline constexpr std::uint16_t kBusFirmwareBanks = 8;
// Bus controller firmware from which the controller expects vendor request 0x89 after open.
inline constexpr std::uint32_t kOpenNoticeFirmware = 0x3701;

// Class and vendor requests of the instrument's bus controller.
namespace usb_request {
inline constexpr std::uint8_t kWrite = 0x01;
inline constexpr std::uint8_t kQuerySend = 0x02;
inline constexpr std::uint8_t kRead = 0x81;
inline constexpr std::uint8_t kBusInfo = 0x82;
inline constexpr std::uint8_t kNotify = 0x85;
inline constexpr std::uint8_t kQueryReply = 0x86;
inline constexpr std::uint8_t kStreamStop = 0x88;
inline constexpr std::uint8_t kOpenNotice = 0x89;
inline constexpr std::uint8_t kWriteData = 0xF0;  // identity record and bus firmware
inline constexpr std::uint16_t kIdentityValue = 1;
inline constexpr std::uint16_t kIdentityIndex = 0xFF00;
inline constexpr std::uint8_t kBusyReply = 0xF0;  // a reply of this single byte: not ready
}  // namespace usb_request

class bus_usb final : public abus {
 public:
  // No USB activity; the driver is the active one at construction.
  explicit bus_usb(std::uint8_t device_index, usb::UsbDriver& driver = usb::active_usb_driver());

  // Counts every instrument of both classes into *count; entries go into the caller's array only
  // while room_bytes lasts, so *count may exceed the entries written.
  std::int32_t list_devices(void* entries, std::uint32_t room_bytes, std::uint32_t* count) override;
  std::int32_t open() override;
  std::int32_t close() override;
  std::int32_t set_timeout(std::uint32_t milliseconds) override;
  std::int32_t write(const std::uint8_t* data, std::uint32_t* length) override;
  std::int32_t query(const std::uint8_t* out, std::uint32_t* out_length, std::uint8_t* in,
                     std::uint32_t* in_length, std::uint32_t timeout_ms) override;
  std::int32_t read(std::uint8_t* data, std::uint32_t* length) override;
  std::int32_t stream_write(const std::uint8_t* data, std::uint32_t* length) override;
  std::int32_t stream_read(std::uint8_t* data, std::uint32_t* length) override;
  std::int32_t notify_device() override;
  std::int32_t stream_stop() override;
  std::int32_t write_identity(const std::uint8_t* data, std::uint32_t length) override;
  std::int32_t reserved_13() override { return ZR_OK; }
  std::int32_t reserved_14() override { return ZR_OK; }
  std::int32_t write_bus_firmware(const std::uint8_t* image, std::uint32_t length) override;
  std::int32_t read_block(std::uint8_t*, std::uint32_t) override { return ZR_OK; }
  std::int32_t reserved_17() override { return ZR_OK; }
  std::int32_t read_bus_info() override;

  const usb::UsbDevice* device() const { return device_.get(); }

 private:
  struct ControlResult {
    bool ok = false;
    std::uint32_t moved = 0;
  };
  // One request on the control endpoint; ok only when it succeeded with USB status 0.
  ControlResult control(std::uint8_t request_type, std::uint8_t direction, std::uint8_t request,
                        std::uint16_t value, std::uint16_t index, std::uint8_t* data,
                        std::uint32_t length);
  std::int32_t vendor_notice(std::uint8_t request);
  bool ready() const;
  std::int32_t bulk(usb::UsbEndpoint* endpoint, std::uint8_t* data, std::uint32_t* length);

  usb::UsbDriver& driver_;
  std::shared_ptr<usb::UsbDevice> device_;
};

// Instrument fields of a serial number "mmm_hhhhhhhhllllllllllllllll" (30 characters at most).
struct SerialFields {
  bool valid = false;
  std::uint16_t model = 0;
  std::uint32_t uid_high = 0;
  std::uint64_t uid_low = 0;
};
SerialFields parse_serial(const std::u16string& serial);

}  // namespace zr
