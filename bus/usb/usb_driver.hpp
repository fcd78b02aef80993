#pragma once
// The seam between the USB access layer and whatever reaches the devices. The access layer speaks
// the instrument driver's request codes and 38-byte transfer headers; a driver (libusb for real
// devices, the simulator's for tests) carries them out. Everything above this file is written once.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zr::usb {

// The two kinds of device the instrument can present: its own USB IDs, or the IDs of the bus
// controller chip it is built around.
enum class DeviceClass : std::uint8_t { instrument, bus_controller };

using DriverHandle = std::uint64_t;
inline constexpr DriverHandle kInvalidHandle = 0;

// Request codes of the driver contract.
inline constexpr std::uint32_t kRequestDriverVersion = 0x220000;
inline constexpr std::uint32_t kRequestStackVersion = 0x220004;
inline constexpr std::uint32_t kRequestAltSetting = 0x220008;
inline constexpr std::uint32_t kRequestDeviceAddress = 0x220010;
inline constexpr std::uint32_t kRequestControlTransfer = 0x220020;  // also descriptor requests
inline constexpr std::uint32_t kRequestBufferedTransfer = 0x220024;
inline constexpr std::uint32_t kRequestResetPipe = 0x22002C;
inline constexpr std::uint32_t kRequestDeviceName = 0x22003C;
inline constexpr std::uint32_t kRequestFriendlyName = 0x220040;
inline constexpr std::uint32_t kRequestAbortPipe = 0x220044;
inline constexpr std::uint32_t kRequestDirectTransfer = 0x22004B;
inline constexpr std::uint32_t kRequestBusSpeed = 0x22004C;

inline constexpr std::uint32_t kBusSpeedHigh = 2;
inline constexpr std::uint32_t kBusSpeedSuper = 4;
inline constexpr std::size_t kDriverNameSize = 256;

// NT statuses a driver writes into the header.
inline constexpr std::uint32_t kNtSuccess = 0;
inline constexpr std::uint32_t kNtUnsuccessful = 0xC0000001;
inline constexpr std::uint32_t kNtInvalidRequest = 0xC0000010;
inline constexpr std::uint32_t kNtDeviceGone = 0xC000009D;
inline constexpr std::uint32_t kNtCancelled = 0xC0000120;

// USB statuses a driver writes into the header.
inline constexpr std::uint32_t kUsbSuccess = 0;
inline constexpr std::uint32_t kUsbStall = 0xC0000004;
inline constexpr std::uint32_t kUsbFailed = 0xC0000011;
inline constexpr std::uint32_t kUsbCancelled = 0xC0010000;

// What went wrong with a driver request itself (the transfer's own outcome is in the header).
enum class DriverError : std::uint32_t {
  none = 0,
  pending,          // asynchronous request accepted, not finished yet
  not_found,        // no device behind the path
  access_denied,    // present but not permitted
  busy,             // claimed by another program
  invalid_handle,   // closed or unknown handle
  invalid_request,  // code or buffer sizes the driver does not take
  failed,           // the driver or the device refused the request
};

enum class WaitResult { signalled, timed_out, failed };

// One asynchronous request in flight. The buffers given to submit() must outlive it.
class PendingRequest {
 public:
  virtual ~PendingRequest() = default;
  // Waits up to timeout for completion; nullopt waits until it completes (a driver still bounds
  // that wait by a guard of its own so that no caller can hang for ever).
  virtual WaitResult wait(std::optional<std::chrono::milliseconds> timeout) = 0;
  // Without waiting: true when the request completed successfully. bytes_returned is the count
  // the driver reports, also for a failed or cancelled request.
  virtual bool result(std::uint32_t& bytes_returned) = 0;
};

struct Submission {
  DriverError error = DriverError::failed;  // none: completed at once; pending: in flight
  std::unique_ptr<PendingRequest> pending;  // may be null only when error is neither
};

class UsbDriver {
 public:
  virtual ~UsbDriver() = default;

  // Paths of the present devices of a class, in the driver's enumeration order.
  virtual std::vector<std::string> enumerate(DeviceClass device_class) = 0;
  virtual DriverHandle open(std::string_view path, DriverError& error) = 0;
  virtual bool close(DriverHandle handle, DriverError& error) = 0;
  // Synchronous request: buffer is input and output at once. True when the driver accepted the
  // request and the transfer it describes succeeded.
  virtual bool request(DriverHandle handle, std::uint32_t code, std::span<std::uint8_t> buffer,
                       std::uint32_t& bytes_returned, DriverError& error) = 0;
  // Asynchronous request. input holds the header (and packet records and buffered data); the driver
  // writes the statuses and records back into it. output receives the data; for the buffered and
  // control codes it is the same block as input.
  virtual Submission submit(DriverHandle handle, std::uint32_t code, std::span<std::uint8_t> input,
                            std::span<std::uint8_t> output) = 0;
};

// The driver in use: the libusb driver unless a test installed another.
UsbDriver& active_usb_driver();

// Installs a driver for its lifetime and puts the previous one back afterwards.
class ScopedUsbDriver {
 public:
  explicit ScopedUsbDriver(UsbDriver& driver);
  ~ScopedUsbDriver();
  ScopedUsbDriver(const ScopedUsbDriver&) = delete;
  ScopedUsbDriver& operator=(const ScopedUsbDriver&) = delete;

 private:
  UsbDriver* previous_;
};

}  // namespace zr::usb
