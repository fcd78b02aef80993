#include "bus/usb/usb_device.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "bus/usb/usb_text.hpp"
#include "sim/usb/sim_usb_driver.hpp"

namespace zr::usb {
namespace {

using sim::companion_descriptor;
using sim::configuration;
using sim::endpoint_descriptor;
using sim::interface_descriptor;
using Bytes = std::vector<std::uint8_t>;

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A device presenting a hand-made descriptor set through the simulated driver.
class UsbDeviceTest : public ::testing::Test {
 protected:
  sim::UsbDescriptorSet basic(std::uint16_t usb_version = 0x0200, std::uint8_t packet0 = 64) {
    sim::UsbIdentity identity;
    identity.usb_version = usb_version;
    identity.serial = "SER";
    sim::UsbDescriptorSet set = sim::instrument_descriptors(identity);
    set.device =
        sim::device_descriptor(usb_version, packet0, 0x5A52, 0x0001, 0x0100, sim::kSerialIndex);
    return set;
  }
  std::shared_ptr<sim::VirtualUsbDevice> attach(sim::UsbDescriptorSet set, std::string path = {}) {
    auto device = std::make_shared<sim::VirtualUsbDevice>(model, std::move(set));
    driver.attach(DeviceClass::instrument, device, std::move(path));
    return device;
  }

  std::shared_ptr<sim::InstrumentModel> model = std::make_shared<sim::InstrumentModel>();
  sim::SimUsbDriver driver;
  UsbDevice device{DeviceClass::instrument, driver};
};

TEST_F(UsbDeviceTest, ClassWithoutDevicesCountsZeroAndDoesNotOpen) {
  EXPECT_EQ(device.CountDevices(), 0);
  EXPECT_FALSE(device.Open(0));
  EXPECT_EQ(device.CountEndpoints(), 0);
}

TEST_F(UsbDeviceTest, OpensTheDefaultInstrumentWithItsStringsAndBulkEndpoints) {
  attach(sim::instrument_descriptors(sim::identity_of(*model)));
  ASSERT_TRUE(device.Open(0));
  EXPECT_EQ(device.VendorId(), 0x5A52);
  EXPECT_EQ(device.Product(), u"Signal Generator");
  EXPECT_EQ(device.SerialNumber(), u"ZRSIM-0000-0001");
  EXPECT_EQ(device.CountEndpoints(), 3);
  ASSERT_NE(device.BulkIn(), nullptr);
  ASSERT_NE(device.BulkOut(), nullptr);
  EXPECT_TRUE(device.BulkIn()->DirectMode());
  EXPECT_FALSE(device.ControlEndpoint()->DirectMode());
  EXPECT_EQ(device.CurrentInterface()->endpoint(0), device.ControlEndpoint());
  EXPECT_TRUE(device.high_speed());
}

TEST_F(UsbDeviceTest, LanguageIdPrefersUsEnglishWhenListed) {
  struct Case {
    Bytes table;
    std::uint16_t expected;
  };
  const Case cases[] = {{sim::language_table({0x0407, 0x0409}), 0x0409},
                        {sim::language_table({0x0407}), 0x0407},
                        {sim::language_table({}), 0}};
  for (const Case& c : cases) {
    sim::SimUsbDriver own;
    sim::UsbDescriptorSet set = basic();
    set.strings[0] = c.table;
    own.attach(DeviceClass::instrument, std::make_shared<sim::VirtualUsbDevice>(model, set));
    UsbDevice d(DeviceClass::instrument, own);
    ASSERT_TRUE(d.Open(0));
    EXPECT_EQ(d.LanguageId(), c.expected);
  }
}

TEST_F(UsbDeviceTest, MaxPacketSize0IsAPowerOfTwoOnUsb3Only) {
  struct Case {
    std::uint16_t usb_version;
    std::uint8_t packet0;
    std::uint32_t expected;
  };
  for (const Case c :
       {Case{0x0300, 9, 512}, Case{0x0320, 9, 512}, Case{0x0200, 64, 64}, Case{0x0110, 8, 8}}) {
    sim::SimUsbDriver own;
    own.attach(DeviceClass::instrument,
               std::make_shared<sim::VirtualUsbDevice>(model, basic(c.usb_version, c.packet0)));
    UsbDevice d(DeviceClass::instrument, own);
    ASSERT_TRUE(d.Open(0)) << std::hex << c.usb_version;
    EXPECT_EQ(d.MaxPacketSize0(), c.expected) << std::hex << c.usb_version;
    EXPECT_EQ(d.ControlEndpoint()->MaxPacketSize(), c.expected);
  }
}

TEST_F(UsbDeviceTest, ClassSpecificDescriptorsBetweenEndpointsDoNotHideEndpoints) {
  const Bytes class_specific_a{5, 0x24, 1, 2, 3};
  const Bytes class_specific_b{4, 0x25, 1, 0};
  for (std::uint16_t usb_version : {std::uint16_t{0x0200}, std::uint16_t{0x0300}}) {
    const bool usb3 = usb_version >= 0x0300;
    const Bytes companion = usb3 ? companion_descriptor(3, 0) : Bytes{};
    sim::UsbDescriptorSet set = basic(usb_version, usb3 ? 9 : 64);
    set.configurations = {
        configuration(1, join({interface_descriptor(0, 0, 2), class_specific_a,
                               endpoint_descriptor(0x01, 0x02, 0x0200), companion, class_specific_b,
                               endpoint_descriptor(0x81, 0x02, 0x0200), companion}))};
    set.bos.clear();
    sim::SimUsbDriver own;
    own.attach(DeviceClass::instrument, std::make_shared<sim::VirtualUsbDevice>(model, set));
    UsbDevice d(DeviceClass::instrument, own);
    ASSERT_TRUE(d.Open(0)) << std::hex << usb_version;
    EXPECT_EQ(d.CountEndpoints(), 3);
    ASSERT_NE(d.BulkOut(), nullptr);
    ASSERT_NE(d.BulkIn(), nullptr);
    EXPECT_EQ(d.BulkIn()->Address(), 0x81);
    EXPECT_EQ(d.BulkIn()->MaxPacketSize(), usb3 ? 2048u : 512u);
  }
}

TEST_F(UsbDeviceTest, IsochronousEndpointWithSynchronisationBitsTakesTheIsochronousRole) {
  sim::UsbDescriptorSet set = basic();
  set.configurations = {
      configuration(1, join({interface_descriptor(0, 0, 2), endpoint_descriptor(0x81, 0x02, 0x0200),
                             endpoint_descriptor(0x82, 0x05, 0x0400, 1)}))};
  attach(set);
  ASSERT_TRUE(device.Open(0));
  ASSERT_NE(device.IsocIn(), nullptr);
  EXPECT_EQ(device.IsocIn()->Address(), 0x82);
  EXPECT_EQ(typeid(*device.IsocIn()), typeid(UsbIsocEndpoint));
}

TEST_F(UsbDeviceTest, AlternateSettingReportedByTheDriverSelectsItsInterfaceObject) {
  sim::UsbDescriptorSet set = basic();
  set.configurations = {
      configuration(1, join({interface_descriptor(0, 0, 1), endpoint_descriptor(0x81, 0x02, 0x0200),
                             interface_descriptor(0, 1, 2), endpoint_descriptor(0x82, 0x02, 0x0200),
                             endpoint_descriptor(0x02, 0x02, 0x0200)}))};
  attach(set)->set_alt_setting(1);
  ASSERT_TRUE(device.Open(0));
  EXPECT_EQ(device.CurrentInterface()->header().alt_setting, 1);
  EXPECT_EQ(device.CurrentInterface()->alternate_count(), 2);
  EXPECT_EQ(device.BulkIn()->Address(), 0x82);
  EXPECT_EQ(device.BulkOut()->Address(), 0x02);
}

TEST_F(UsbDeviceTest, SerialIndexZeroReadsTheLanguageTableAsText) {
  sim::UsbDescriptorSet set = basic();
  set.device = sim::device_descriptor(0x0200, 64, 0x5A52, 0x0001, 0x0100, 0);
  attach(set);
  ASSERT_TRUE(device.Open(0));
  EXPECT_EQ(device.SerialNumber(), std::u16string(1, char16_t{0x0409}));
}

TEST_F(UsbDeviceTest, MalformedConfigurationIsRejectedWithTheMessage) {
  const Bytes ep_in = endpoint_descriptor(0x81, 0x02, 0x0200);
  struct Case {
    const char* name;
    Bytes configuration;
  };
  Bytes past_total = configuration(1, join({interface_descriptor(0, 0, 1), ep_in}));
  past_total[9 + 9] = 40;  // endpoint claims 40 bytes, 7 remain
  Bytes short_interface = configuration(1, join({interface_descriptor(0, 0, 1), ep_in}));
  short_interface[9] = 5;
  Bytes short_endpoint = configuration(1, join({interface_descriptor(0, 0, 1), ep_in}));
  short_endpoint[9 + 9] = 4;
  Bytes header_only = configuration(1, {});
  header_only[0] = 4;  // a configuration header shorter than its fields
  const Case cases[] = {
      {"zero length",
       configuration(1, join({interface_descriptor(0, 0, 1), Bytes{0, 0x24}, ep_in}))},
      {"length past the total", past_total},
      {"32 endpoints", configuration(1, join({interface_descriptor(0, 0, 32), ep_in}))},
      {"short interface descriptor", short_interface},
      {"short endpoint descriptor", short_endpoint},
      {"short configuration header", header_only},
  };
  for (const Case& c : cases) {
    sim::SimUsbDriver own;
    sim::UsbDescriptorSet set = basic();
    set.configurations = {c.configuration};
    own.attach(DeviceClass::instrument, std::make_shared<sim::VirtualUsbDevice>(model, set));
    UsbDevice d(DeviceClass::instrument, own);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(d.Open(0)) << c.name;
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(kBadConfigText), std::string::npos) << c.name;
    EXPECT_FALSE(d.is_open()) << c.name;
    EXPECT_EQ(own.open_handles(), 0u) << c.name;
  }
}

TEST_F(UsbDeviceTest, MalformedBosIsRejectedWithItsOwnMessage) {
  sim::UsbDescriptorSet set = basic(0x0300, 9);
  set.bos = {5, 0x0F, 10, 0, 1, 0, 0x10, 2, 0, 0};  // a capability of length 0
  attach(set);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(device.Open(0));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find(kBadBosText), std::string::npos);
}

TEST_F(UsbDeviceTest, TablesHoldTwoConfigurationsAnd255DevicesAndRefuseOverLongPaths) {
  sim::UsbDescriptorSet three = basic();
  three.device = sim::device_descriptor(0x0200, 64, 0x5A52, 0x0001, 0x0100, sim::kSerialIndex, 3);
  three.configurations = {three.configurations[0], three.configurations[0],
                          three.configurations[0]};
  attach(three);
  ASSERT_TRUE(device.Open(0));
  EXPECT_NE(device.config(1), nullptr);
  EXPECT_EQ(device.config(2), nullptr);
  device.Close();

  sim::SimUsbDriver crowded;
  for (int i = 0; i < 256; ++i) {
    crowded.attach(DeviceClass::instrument, std::make_shared<sim::VirtualUsbDevice>(model, basic()),
                   i == 1 ? std::string(300, 'p') : std::string());
  }
  UsbDevice many(DeviceClass::instrument, crowded);
  EXPECT_EQ(many.CountDevices(), 255);
  EXPECT_FALSE(many.Open(1));
  EXPECT_TRUE(many.Open(254));
}

TEST_F(UsbDeviceTest, FailedCloseIsReportedAndLeavesTheDeviceClosed) {
  attach(basic())->set_close_fails(true);
  ASSERT_TRUE(device.Open(0));
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(device.Close());
  EXPECT_NE(::testing::internal::GetCapturedStderr().find(kCloseFailedText), std::string::npos);
  EXPECT_FALSE(device.is_open());
  EXPECT_EQ(device.BulkIn(), nullptr);
  EXPECT_EQ(device.last_error(), DriverError::failed);
}

}  // namespace
}  // namespace zr::usb
