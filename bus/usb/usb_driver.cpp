#include "bus/usb/usb_driver.hpp"

#include <atomic>

#include "bus/usb/instrument_ids.hpp"
#include "bus/usb/libusb_driver.hpp"

namespace zr::usb {
namespace {

std::atomic<UsbDriver*> installed{nullptr};

UsbDriver& default_driver() {
  static LibusbDriver driver(load_instrument_ids());
  return driver;
}

}  // namespace

UsbDriver& active_usb_driver() {
  UsbDriver* driver = installed.load();
  return driver != nullptr ? *driver : default_driver();
}

ScopedUsbDriver::ScopedUsbDriver(UsbDriver& driver) : previous_(installed.exchange(&driver)) {}

ScopedUsbDriver::~ScopedUsbDriver() { installed.store(previous_); }

}  // namespace zr::usb
