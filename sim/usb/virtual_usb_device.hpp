#pragma once
// A virtual USB device in front of an InstrumentModel: it answers the standard descriptor
// requests from its descriptor set, turns the bus controller's class and vendor requests and the
// bulk transfers into model calls, and keeps what the model has no place for yet (identity
// record, bus firmware banks, the frame of a query awaiting its reply). Fault rules make chosen
// transfers stall, come back short or never complete. Safe to call from several threads.
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "bus/usb/usb_driver.hpp"
#include "sim/instrument_model.hpp"
#include "sim/usb/usb_descriptor_set.hpp"

namespace zr::sim {

struct UsbControlSetup {
  std::uint8_t request_type = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
};

// A class or vendor request as the device received it (descriptor requests are not recorded).
struct UsbControlRecord {
  UsbControlSetup setup;
  std::vector<std::uint8_t> data;  // the data stage of an OUT request
};

struct UsbTransferOutcome {
  bool hang = false;  // never completes until aborted
  std::uint32_t nt_status = usb::kNtSuccess;
  std::uint32_t usb_status = usb::kUsbSuccess;
  std::uint32_t moved = 0;  // for a hang: what an abort reports as moved
};

enum class UsbFaultKind { hang, stall, short_reply };

// Applies to the next transfer on endpoint (0: control) whose request matches, once.
struct UsbFaultRule {
  std::uint8_t endpoint = 0;
  std::optional<std::uint8_t> request;  // control requests only; empty: any
  UsbFaultKind kind = UsbFaultKind::hang;
  std::uint32_t moved = 0;  // bytes reported moved (short reply, or a hang that is aborted)
};

inline constexpr std::size_t kSimFirmwareBanks = 8;
inline constexpr std::size_t kSimFirmwareBankSize = 65536;

class VirtualUsbDevice {
 public:
  VirtualUsbDevice(std::shared_ptr<InstrumentModel> model, UsbDescriptorSet descriptors);
  // The model presented with its own identity and the default descriptors.
  explicit VirtualUsbDevice(std::shared_ptr<InstrumentModel> model);

  // Carries out a control request; data is the data stage (wLength bytes, filled for IN).
  UsbTransferOutcome control(const UsbControlSetup& setup, std::span<std::uint8_t> data);
  UsbTransferOutcome data_transfer(std::uint8_t endpoint, std::span<std::uint8_t> data);
  bool reset_pipe(std::uint8_t endpoint);

  void add_fault(UsbFaultRule rule);
  void set_alt_setting(std::uint8_t alt) { alt_setting_ = alt; }
  std::uint8_t alt_setting() const { return alt_setting_; }
  void set_reset_fails(bool fails) { reset_fails_ = fails; }
  // Open refuses with this error (for example access_denied) while set.
  void set_open_error(usb::DriverError error) { open_error_ = error; }
  usb::DriverError open_error() const { return open_error_; }
  void set_close_fails(bool fails) { close_fails_ = fails; }
  bool close_fails() const { return close_fails_; }

  InstrumentModel& model() { return *model_; }
  const UsbDescriptorSet& descriptors() const { return descriptors_; }
  std::vector<UsbControlRecord> requests() const;
  std::vector<std::uint8_t> identity_record() const;
  std::vector<std::uint8_t> firmware_bank(std::size_t bank) const;
  std::uint32_t pipe_resets() const;

 private:
  UsbTransferOutcome descriptor(const UsbControlSetup& setup, std::span<std::uint8_t> data);
  UsbTransferOutcome class_request(const UsbControlSetup& setup, std::span<std::uint8_t> data);
  UsbTransferOutcome vendor_request(const UsbControlSetup& setup, std::span<std::uint8_t> data);
  std::optional<UsbFaultRule> take_fault(std::uint8_t endpoint,
                                         std::optional<std::uint8_t> request);

  std::shared_ptr<InstrumentModel> model_;
  UsbDescriptorSet descriptors_;
  mutable std::mutex mutex_;
  std::deque<UsbFaultRule> faults_;
  std::vector<UsbControlRecord> requests_;
  std::optional<std::vector<std::uint8_t>> query_frame_;
  std::uint16_t query_timeout_ms_ = 0;
  std::vector<std::uint8_t> identity_record_;
  std::vector<std::array<std::uint8_t, kSimFirmwareBankSize>> banks_;
  std::uint32_t pipe_resets_ = 0;
  std::uint8_t alt_setting_ = 0;
  bool reset_fails_ = false;
  bool close_fails_ = false;
  usb::DriverError open_error_ = usb::DriverError::none;
};

}  // namespace zr::sim
