// The libusb driver against a USB device emulated with umockdev: the code path real instruments
// take, from enumeration by the ID table through control and bulk transfers to a cancelled
// time-out. Time-outs are short because libusb polls the emulated node while it waits.
#include "bus/usb/libusb_driver.hpp"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bus/bus_usb.hpp"
#include "bus/usb/usb_device.hpp"
#include "bus/usb/usb_text.hpp"
#include "device/device_context.hpp"
#include "emulated_usb_device.hpp"
#include "sim/usb/virtual_usb_device.hpp"
#include "zr_api.h"

namespace zr {
namespace {

using Bytes = std::vector<std::uint8_t>;

class LibusbDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::UsbIdentity identity = sim::identity_of(*model);
    identity.serial = "131_0000abcd0123456789abcdef";
    device = std::make_shared<sim::VirtualUsbDevice>(model, sim::instrument_descriptors(identity));
    emulated = std::make_unique<test::EmulatedUsbDevice>(device);
    ASSERT_TRUE(emulated->ready()) << emulated->error();
    driver = std::make_unique<usb::LibusbDriver>(usb::builtin_instrument_ids());
  }

  std::shared_ptr<sim::InstrumentModel> model = std::make_shared<sim::InstrumentModel>();
  std::shared_ptr<sim::VirtualUsbDevice> device;
  std::unique_ptr<test::EmulatedUsbDevice> emulated;
  std::unique_ptr<usb::LibusbDriver> driver;
};

TEST_F(LibusbDriverTest, FindsTheInstrumentByItsIdsAndReadsItsDescriptorsFromTheDevice) {
  EXPECT_EQ(driver->enumerate(usb::DeviceClass::instrument).size(), 1u);
  EXPECT_TRUE(driver->enumerate(usb::DeviceClass::bus_controller).empty());

  usb::LibusbDriver unknown({});
  EXPECT_TRUE(unknown.enumerate(usb::DeviceClass::instrument).empty());

  usb::UsbDevice usb_device(usb::DeviceClass::instrument, *driver);
  ASSERT_TRUE(usb_device.Open(0));
  EXPECT_EQ(usb_device.VendorId(), 0x5A52);
  EXPECT_EQ(usb_device.Product(), u"Signal Generator");
  EXPECT_EQ(usb_device.SerialNumber(), u"131_0000abcd0123456789abcdef");
  EXPECT_EQ(usb_device.LanguageId(), 0x0409);
  EXPECT_NE(usb_device.BulkIn(), nullptr);
  EXPECT_NE(usb_device.BulkOut(), nullptr);
  EXPECT_TRUE(usb_device.Close());
}

TEST_F(LibusbDriverTest, BusOperationsReachTheInstrumentThroughLibusb) {
  bus_usb bus(0, *driver);
  ASSERT_EQ(bus.open(), ZR_OK);
  EXPECT_EQ(bus.info().firmware_version, model->config().bus_info.firmware_version);

  Bytes frame(256, 0x4A);
  std::uint32_t length = 256;
  EXPECT_EQ(bus.write(frame.data(), &length), ZR_OK);
  ASSERT_EQ(model->frames().size(), 1u);
  EXPECT_EQ(model->frames()[0], frame);

  model->queue_read_data({0xF0});
  Bytes reply(256, 0);
  length = 256;
  EXPECT_EQ(bus.read(reply.data(), &length), ZR_BUS_USB_CANCELLED);
  EXPECT_EQ(length, 1u);

  model->queue_query_reply(Bytes(128, 0x21));
  std::uint32_t out = 256;
  std::uint32_t in = 128;
  EXPECT_EQ(bus.query(frame.data(), &out, reply.data(), &in, 1000), ZR_OK);
  EXPECT_EQ(in, 128u);
  EXPECT_EQ(reply[127], 0x21);

  Bytes samples(65536);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 7);
  length = 65536;
  EXPECT_EQ(bus.stream_write(samples.data(), &length), ZR_OK);
  EXPECT_EQ(length, 65536u);
  Bytes received;
  for (const auto& block : model->stream_blocks()) {
    received.insert(received.end(), block.begin(), block.end());
  }
  EXPECT_EQ(received, samples);

  Bytes image(5000, 0x11);
  image[0] = 'C';
  image[1] = 'Y';
  EXPECT_EQ(bus.write_bus_firmware(image.data(), 5000), ZR_OK);
  EXPECT_EQ(device->firmware_bank(0)[4999], 0x11);

  EXPECT_EQ(bus.stream_stop(), ZR_OK);
  EXPECT_EQ(emulated->clear_halts(), 1u);
  EXPECT_EQ(bus.close(), ZR_OK);
}

TEST_F(LibusbDriverTest, ListingAndBusSelectionThroughTheActiveDriverSeeTheEmulatedInstrument) {
  usb::ScopedUsbDriver scoped(*driver);
  DeviceContext context;
  ConnectionParams record{};
  record.interface = ZR_INTERFACE_USB;
  EXPECT_EQ(context.open_bus(record, 0), ZR_OK);
  EXPECT_EQ(context.bus->info().device_release, 0x0100);
  context.bus.reset();

  std::vector<DeviceListEntry> entries(2);
  std::uint32_t count = 2;
  EXPECT_EQ(device_list_usb(entries.data(), &count), ZR_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(entries[0].model, 131);
  EXPECT_EQ(entries[0].uid_low, 0x0123456789ABCDEFull);
}

TEST_F(LibusbDriverTest, BulkTransferPastItsTimeoutIsCancelled) {
  usb::UsbDevice usb_device(usb::DeviceClass::instrument, *driver);
  ASSERT_TRUE(usb_device.Open(0));
  device->add_fault({sim::kSimBulkOut, std::nullopt, sim::UsbFaultKind::hang, 0});
  usb::UsbEndpoint* out = usb_device.BulkOut();
  out->set_timeout_ms(100);
  Bytes data(512, 3);
  std::uint32_t length = 512;
  EXPECT_FALSE(out->Transfer(data.data(), length));
  EXPECT_EQ(out->NtStatus(), usb::kNtCancelled);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(emulated->discarded(), 1u);

  // The endpoint works again afterwards.
  length = 512;
  EXPECT_TRUE(out->Transfer(data.data(), length));
  EXPECT_EQ(length, 512u);
}

// Takes the file-permission overrides out of the calling thread's effective capabilities, so that
// a test run as root meets permissions as a normal user does; other threads keep theirs.
class WithoutPermissionOverride {
 public:
  WithoutPermissionOverride() {
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    active_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~WithoutPermissionOverride() {
    if (active_) syscall(SYS_capset, &header_, saved_);
  }
  WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
  WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
  bool active_ = false;
};

TEST_F(LibusbDriverTest, PresentButNotPermittedInstrumentIsReportedInOneLine) {
  ASSERT_EQ(chmod(emulated->node_file().c_str(), 0), 0);
  usb::UsbDevice usb_device(usb::DeviceClass::instrument, *driver);
  std::string err;
  {
    WithoutPermissionOverride as_user;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(usb_device.Open(0));
    err = ::testing::internal::GetCapturedStderr();
  }
  EXPECT_EQ(usb_device.last_error(), usb::DriverError::access_denied);
  EXPECT_EQ(err.find(usb::kNotPermittedText), 0u) << err;
  EXPECT_NE(err.find("5a52:0001"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

}  // namespace
}  // namespace zr
