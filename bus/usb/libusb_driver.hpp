#pragma once
// The UsbDriver for real devices, over libusb-1.0. Instruments are the devices whose IDs are in
// the instrument ID table; bus controllers are every device of the controller's vendor. Control
// and bulk requests become libusb transfers with the header's time-out, an abort cancels the
// endpoint's transfers and a pipe reset clears its halt. Events are handled on the caller's thread
// while it waits; there is no thread of the driver's own.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bus/usb/instrument_ids.hpp"
#include "bus/usb/usb_driver.hpp"

struct libusb_context;

namespace zr::usb {

// A wait "without limit" still ends after this long: a cancelled transfer comes back far sooner.
inline constexpr std::uint32_t kLibusbUnboundedWaitMs = 10000;

class LibusbDriver final : public UsbDriver {
 public:
  // libusb is initialised on first use, so a test can set up its emulated devices first.
  explicit LibusbDriver(std::vector<UsbId> instrument_ids);
  ~LibusbDriver() override;
  LibusbDriver(const LibusbDriver&) = delete;
  LibusbDriver& operator=(const LibusbDriver&) = delete;

  std::vector<std::string> enumerate(DeviceClass device_class) override;
  DriverHandle open(std::string_view path, DriverError& error) override;
  bool close(DriverHandle handle, DriverError& error) override;
  bool request(DriverHandle handle, std::uint32_t code, std::span<std::uint8_t> buffer,
               std::uint32_t& bytes_returned, DriverError& error) override;
  Submission submit(DriverHandle handle, std::uint32_t code, std::span<std::uint8_t> input,
                    std::span<std::uint8_t> output) override;

  struct OpenDevice;
  struct InFlight;

 private:
  libusb_context* context();
  OpenDevice* find(DriverHandle handle);
  Submission submit_control(OpenDevice& device, std::span<std::uint8_t> block);
  Submission submit_data(OpenDevice& device, std::span<std::uint8_t> input,
                         std::span<std::uint8_t> output, bool buffered);
  Submission abort_endpoint(OpenDevice& device, std::span<std::uint8_t> input);
  Submission start(OpenDevice& device, std::shared_ptr<InFlight> transfer);

  std::vector<UsbId> ids_;
  std::mutex mutex_;
  libusb_context* context_ = nullptr;
  bool init_failed_ = false;
  std::map<DriverHandle, std::unique_ptr<OpenDevice>> open_;
  DriverHandle next_handle_ = 1;
};

}  // namespace zr::usb
