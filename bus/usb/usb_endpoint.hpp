#pragma once
// UsbEndpoint and its control, isochronous, bulk and interrupt kinds: every transfer between the
// library and a USB device. A transfer is one asynchronous driver request behind a TransferHeader,
// waited for with the endpoint's time-out and aborted when it runs over.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "bus/usb/usb_descriptors.hpp"
#include "bus/usb/usb_driver.hpp"

namespace zr::usb {

// The driver handle an opened device shares with its endpoints. Closing the device makes it
// invalid, so a transfer on a left-over endpoint fails without reaching the driver.
struct DriverLink {
  UsbDriver* driver = nullptr;
  DriverHandle handle = kInvalidHandle;
  bool valid() const { return driver != nullptr && handle != kInvalidHandle; }
};

inline constexpr std::uint32_t kDefaultEndpointTimeoutMs = 10000;
// After a time-out and the abort, the request gets this long to come back by itself.
inline constexpr std::uint32_t kAbortGraceMs = 50;

// One transfer in flight: its request block and the driver's pending request.
struct TransferContext {
  std::vector<std::uint8_t> block;  // header, packet records, buffered data
  std::unique_ptr<PendingRequest> pending;
  DriverError error = DriverError::failed;
  bool buffered = false;  // data travels in block behind the header
  bool direction_in = false;
  std::uint32_t length = 0;  // bytes requested
};

class UsbEndpoint {
 public:
  UsbEndpoint(std::shared_ptr<DriverLink> link, const EndpointDescriptor& descriptor,
              const CompanionDescriptor* companion = nullptr);
  virtual ~UsbEndpoint() = default;
  UsbEndpoint(const UsbEndpoint&) = delete;
  UsbEndpoint& operator=(const UsbEndpoint&) = delete;

  virtual std::unique_ptr<TransferContext> BeginDirect(std::uint8_t* buffer, std::uint32_t length);
  virtual std::unique_ptr<TransferContext> BeginBuffered(std::uint8_t* buffer,
                                                         std::uint32_t length);
  // Issues the request; null when the device is closed or the transfer cannot be described.
  virtual std::unique_ptr<TransferContext> BeginTransfer(std::uint8_t* buffer,
                                                         std::uint32_t length) = 0;
  // Collects the outcome into length, the statuses and the caller's buffer, and releases the
  // context. records, when not empty, receives the packet records of an isochronous transfer.
  virtual bool FinishTransfer(std::uint8_t* buffer, std::uint32_t& length,
                              std::unique_ptr<TransferContext> context,
                              std::span<std::uint8_t> records = {});
  // True when the request completed; aborts it after TimeoutMs.
  bool WaitTransfer(TransferContext& context);
  // Begin, wait, finish. length is in/out.
  bool Transfer(std::uint8_t* buffer, std::uint32_t& length, std::span<std::uint8_t> records = {});
  bool Abort();
  bool ResetPipe();

  TransferType transfer_type() const { return static_cast<TransferType>(attributes_ & 0x03); }
  bool direction_in() const { return direction_in_; }
  std::uint8_t Address() const { return address_; }
  std::uint8_t Attributes() const { return attributes_; }
  // Bytes per service interval: packet size times transactions, bursts and isochronous
  // multiplier; wider than the descriptor's 16 bits so that no product is cut.
  std::uint32_t MaxPacketSize() const { return max_packet_size_; }
  std::uint16_t packets_per_microframe() const { return packets_per_microframe_; }
  std::uint8_t interval() const { return interval_; }
  std::uint8_t companion_max_burst() const { return companion_.max_burst; }
  std::uint8_t companion_attributes() const { return companion_.attributes; }
  std::uint16_t companion_bytes_per_interval() const { return companion_.bytes_per_interval; }
  std::uint32_t TimeoutMs() const { return timeout_ms_; }
  void set_timeout_ms(std::uint32_t timeout_ms) { timeout_ms_ = timeout_ms; }
  std::uint32_t UsbStatus() const { return usb_status_; }
  std::uint32_t NtStatus() const { return nt_status_; }
  std::uint32_t BytesTransferred() const { return bytes_transferred_; }
  DriverError LastError() const { return last_error_; }
  bool DirectMode() const { return direct_mode_; }
  void set_direct_mode(bool direct) { direct_mode_ = direct; }

 protected:
  // A control endpoint made by the device without a descriptor.
  explicit UsbEndpoint(std::shared_ptr<DriverLink> link);
  // Allocates the context, submits and records the first statuses.
  std::unique_ptr<TransferContext> submit(std::uint32_t code, std::vector<std::uint8_t> block,
                                          std::span<std::uint8_t> output, bool buffered,
                                          std::uint32_t length);
  void take_statuses(std::span<const std::uint8_t> block);
  std::unique_ptr<TransferContext> begin_non_control(std::uint8_t* buffer, std::uint32_t length,
                                                     std::uint32_t record_count, bool buffered);

  std::shared_ptr<DriverLink> link_;
  std::uint8_t descriptor_length_ = 0;
  std::uint8_t descriptor_type_ = 0;
  std::uint8_t address_ = 0;
  std::uint8_t attributes_ = 0;
  std::uint32_t max_packet_size_ = 0;
  std::uint16_t packets_per_microframe_ = 1;
  std::uint8_t interval_ = 0;
  CompanionDescriptor companion_{};
  std::uint32_t timeout_ms_ = kDefaultEndpointTimeoutMs;
  std::uint32_t usb_status_ = 0;
  std::uint32_t nt_status_ = 0;
  std::uint32_t bytes_transferred_ = 0;
  DriverError last_error_ = DriverError::none;
  bool direction_in_ = false;
  bool direct_mode_ = true;
};

// bmRequestType fields of a control request.
inline constexpr std::uint8_t kRecipientDevice = 0;
inline constexpr std::uint8_t kRequestTypeStandard = 0;
inline constexpr std::uint8_t kRequestTypeClass = 1;
inline constexpr std::uint8_t kRequestTypeVendor = 2;
inline constexpr std::uint8_t kDirectionOut = 0;
inline constexpr std::uint8_t kDirectionIn = 1;

class UsbControlEndpoint final : public UsbEndpoint {
 public:
  explicit UsbControlEndpoint(std::shared_ptr<DriverLink> link);
  UsbControlEndpoint(std::shared_ptr<DriverLink> link, const EndpointDescriptor& descriptor);

  std::unique_ptr<TransferContext> BeginTransfer(std::uint8_t* buffer,
                                                 std::uint32_t length) override;
  bool Read(std::uint8_t* buffer, std::uint32_t& length);
  bool Write(std::uint8_t* buffer, std::uint32_t& length);

  // Fields of the device's built-in control endpoint, set by the device after Open.
  void set_descriptor(const EndpointDescriptor& descriptor);

  std::uint8_t Recipient = kRecipientDevice;
  std::uint8_t RequestType = kRequestTypeVendor;
  std::uint8_t Direction = kDirectionOut;
  std::uint8_t Request = 0;
  std::uint16_t Value = 0;
  std::uint16_t Index = 0;
};

class UsbIsocEndpoint final : public UsbEndpoint {
 public:
  using UsbEndpoint::UsbEndpoint;
  std::unique_ptr<TransferContext> BeginDirect(std::uint8_t* buffer, std::uint32_t length) override;
  std::unique_ptr<TransferContext> BeginBuffered(std::uint8_t* buffer,
                                                 std::uint32_t length) override;
  std::unique_ptr<TransferContext> BeginTransfer(std::uint8_t* buffer,
                                                 std::uint32_t length) override;
  // ceil(length / MaxPacketSize), 0 when the packet size is 0.
  std::uint32_t packet_count(std::uint32_t length) const;
};

class UsbBulkEndpoint final : public UsbEndpoint {
 public:
  using UsbEndpoint::UsbEndpoint;
  std::unique_ptr<TransferContext> BeginTransfer(std::uint8_t* buffer,
                                                 std::uint32_t length) override;
};

class UsbInterruptEndpoint final : public UsbEndpoint {
 public:
  using UsbEndpoint::UsbEndpoint;
  std::unique_ptr<TransferContext> BeginTransfer(std::uint8_t* buffer,
                                                 std::uint32_t length) override;
};

// The endpoint object for a descriptor, by its transfer type. A control endpoint ignores the
// companion.
std::unique_ptr<UsbEndpoint> make_endpoint(std::shared_ptr<DriverLink> link,
                                           const EndpointDescriptor& descriptor,
                                           const CompanionDescriptor* companion);

}  // namespace zr::usb
