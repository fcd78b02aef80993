// The exported USB listing and the USB branch of bus selection, through the simulated driver.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "bus/bus_usb.hpp"
#include "device/device_context.hpp"
#include "sim/usb/sim_usb_driver.hpp"
#include "zr_api.h"

namespace zr {
namespace {

using usb::DeviceClass;

class UsbExportTest : public ::testing::Test {
 protected:
  void attach(DeviceClass device_class, const char* serial, std::uint16_t vendor = 0x5A52,
              std::uint16_t product = 0x0001) {
    auto model = std::make_shared<sim::InstrumentModel>();
    sim::UsbIdentity identity = sim::identity_of(*model);
    identity.serial = serial;
    identity.vendor = vendor;
    identity.product = product;
    driver.attach(device_class, std::make_shared<sim::VirtualUsbDevice>(
                                    model, sim::instrument_descriptors(identity)));
  }

  sim::SimUsbDriver driver;
  usb::ScopedUsbDriver scoped{driver};
};

TEST_F(UsbExportTest, DeviceListUsbFillsEntriesUpToTheCountGiven) {
  attach(DeviceClass::instrument, "131_0000abcd0123456789abcdef");
  attach(DeviceClass::bus_controller, "132_000000010000000000000002", 0x04B4, 0x00F0);

  std::uint32_t count = 0;
  EXPECT_EQ(device_list_usb(nullptr, &count), ZR_OK);
  EXPECT_EQ(count, 2u);

  std::vector<DeviceListEntry> entries(3);
  entries[2].model = 0x7777;
  count = 3;
  EXPECT_EQ(device_list_usb(entries.data(), &count), ZR_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(entries[0].model, 131);
  EXPECT_EQ(entries[0].uid_high, 0xABCDu);
  EXPECT_EQ(entries[0].uid_low, 0x0123456789ABCDEFull);
  EXPECT_EQ(entries[1].model, 132);
  EXPECT_EQ(entries[1].uid_low, 2u);
  EXPECT_EQ(entries[2].model, 0x7777);  // beyond the instruments: untouched

  std::vector<DeviceListEntry> one(1);
  count = 1;
  EXPECT_EQ(device_list_usb(one.data(), &count), ZR_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(one[0].model, 131);
  EXPECT_EQ(device_list_usb(one.data(), nullptr), ZR_OK);
}

TEST_F(UsbExportTest, OpenBusOnUsbOpensTheInstrumentOfTheIndex) {
  attach(DeviceClass::instrument, "131_0000abcd0123456789abcdef");
  DeviceContext context;
  ConnectionParams record{};
  record.interface = ZR_INTERFACE_USB;
  EXPECT_EQ(context.open_bus(record, 0), ZR_OK);
  auto* usb_bus = dynamic_cast<bus_usb*>(context.bus.get());
  ASSERT_NE(usb_bus, nullptr);
  EXPECT_TRUE(usb_bus->device()->is_open());
  EXPECT_EQ(context.bus->info().firmware_version, 0x00010203u);

  EXPECT_EQ(context.open_bus(record, 1), ZR_BUS_USB_NO_DEVICE);
  EXPECT_NE(dynamic_cast<bus_usb*>(context.bus.get()), usb_bus);  // replaced, and left installed
  EXPECT_EQ(driver.open_handles(), 0u);  // the first bus was destroyed with its device
}

}  // namespace
}  // namespace zr
