#pragma once
// The simulator's UsbDriver: carries the access layer's requests to attached virtual devices, in
// process. Transfers complete at once unless a fault rule makes them hang; a hanging transfer
// waits on the time seam (so a FakeClock runs time-outs instantly) until an abort cancels it.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bus/usb/usb_driver.hpp"
#include "sim/usb/virtual_usb_device.hpp"

namespace zr::sim {

class SimUsbDriver final : public usb::UsbDriver {
 public:
  // Adds a device of a class behind the ones already attached; returns its path. A path may be
  // given to present odd ones (for example an over-long path).
  std::string attach(usb::DeviceClass device_class, std::shared_ptr<VirtualUsbDevice> device,
                     std::string path = {});

  std::vector<std::string> enumerate(usb::DeviceClass device_class) override;
  usb::DriverHandle open(std::string_view path, usb::DriverError& error) override;
  bool close(usb::DriverHandle handle, usb::DriverError& error) override;
  bool request(usb::DriverHandle handle, std::uint32_t code, std::span<std::uint8_t> buffer,
               std::uint32_t& bytes_returned, usb::DriverError& error) override;
  usb::Submission submit(usb::DriverHandle handle, std::uint32_t code,
                         std::span<std::uint8_t> input, std::span<std::uint8_t> output) override;

  // Requests that reached an open device (transfers, queries, aborts, resets), all devices.
  std::uint64_t traffic() const;
  std::size_t open_handles() const;

  struct Hang;

 private:
  struct Attached {
    usb::DeviceClass device_class;
    std::string path;
    std::shared_ptr<VirtualUsbDevice> device;
  };
  struct Opened {
    std::shared_ptr<VirtualUsbDevice> device;
    std::vector<std::shared_ptr<Hang>> hangs;
  };
  Opened* find(usb::DriverHandle handle);
  usb::Submission transfer(Opened& opened, std::uint32_t code, std::span<std::uint8_t> input,
                           std::span<std::uint8_t> output);

  mutable std::mutex mutex_;
  std::vector<Attached> attached_;
  std::map<usb::DriverHandle, Opened> open_;
  usb::DriverHandle next_handle_ = 1;
  std::uint64_t traffic_ = 0;
};

}  // namespace zr::sim
