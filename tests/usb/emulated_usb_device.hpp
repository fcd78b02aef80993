#pragma once
// A USB device emulated at the usbdevfs level with umockdev, so that the libusb driver runs its
// real code path. The device's behaviour is a VirtualUsbDevice of the simulator: control URBs go to
// its control(), bulk URBs to its data_transfer(); a hanging transfer stays queued until libusb
// discards it, which is how libusb cancels.
#include <memory>
#include <string>

#include "sim/usb/virtual_usb_device.hpp"

namespace zr::test {

class EmulatedUsbDevice {
 public:
  // Creates the testbed and the device node /dev/bus/usb/001/<address>. Create it before the
  // LibusbDriver's first use: libusb scans the devices when it starts.
  EmulatedUsbDevice(std::shared_ptr<sim::VirtualUsbDevice> device, int address = 2);
  ~EmulatedUsbDevice();
  EmulatedUsbDevice(const EmulatedUsbDevice&) = delete;
  EmulatedUsbDevice& operator=(const EmulatedUsbDevice&) = delete;

  bool ready() const;
  // The device node in the testbed, as the file system sees it.
  std::string node_file() const;
  const std::string& error() const;
  unsigned discarded() const;
  unsigned clear_halts() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace zr::test
