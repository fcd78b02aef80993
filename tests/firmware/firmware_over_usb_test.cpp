// The firmware update exports over USB, through the simulated USB driver to the same instrument
// model the Ethernet runs use: the images the instrument reassembled against the files.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bus/usb/usb_driver.hpp"
#include "device/opcodes.hpp"
#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "sim/instrument_model.hpp"
#include "sim/usb/sim_usb_driver.hpp"
#include "tests/firmware/firmware_test_support.hpp"
#include "zr_api.h"

using namespace std::chrono_literals;

namespace zr {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFlash = 3932160;
constexpr std::size_t kPiece = 192;
constexpr std::size_t kBank = 65536;

class FirmwareOverUsb : public ::testing::Test {
 protected:
  FirmwareOverUsb() : installed_driver_(driver_), installed_clock_(clock_), console_(text_) {
    model_ = std::make_shared<sim::InstrumentModel>();
    device_ = std::make_shared<sim::VirtualUsbDevice>(model_);
    driver_.attach(usb::DeviceClass::instrument, device_);
  }

  std::int32_t run(std::int32_t (*update)(const char*, std::uint8_t, const ConnectionParams*),
                   const std::string& path) {
    ConnectionParams usb{};
    usb.interface = ZR_INTERFACE_USB;
    return update(path.c_str(), 0, &usb);
  }

  sim::SimUsbDriver driver_;
  usb::ScopedUsbDriver installed_driver_;
  FakeClock clock_{1ms};  // the updates' pauses and polls pass at once
  ScopedClock installed_clock_;
  std::ostringstream text_;
  ScopedConsole console_;
  std::shared_ptr<sim::InstrumentModel> model_;
  std::shared_ptr<sim::VirtualUsbDevice> device_;
  testing::ImageFolder folder_;
};

TEST_F(FirmwareOverUsb, FpgaRawImageIsInstalledWithTheRestOfTheFlashErased) {
  const Bytes file = testing::pattern_bytes(5000, 3);
  ASSERT_EQ(run(device_update_fpga_firmware, folder_.write("fpga/app.rpd", file)), ZR_OK);
  const sim::FpgaUpdateRecord record = model_->fpga_update();
  EXPECT_TRUE(record.finished);
  EXPECT_TRUE(record.errors.empty());
  Bytes expected(kFlash, 0xFF);
  std::copy(file.begin(), file.end(), expected.begin());
  EXPECT_TRUE(record.image == expected) << "image differs";
  EXPECT_NE(text_.str().find("Erase completed!"), std::string::npos);
}

TEST_F(FirmwareOverUsb, RootMcuImageIsInstalledAfterItsSkip) {
  const Bytes file = testing::pattern_bytes(16384 + 1000, 5);
  ASSERT_EQ(run(device_update_rootmcu_firmware, folder_.write("root.bin", file)), ZR_OK);
  const sim::McuUpdateRecord record = model_->mcu_update(kMcuRoot);
  EXPECT_TRUE(record.finished);
  EXPECT_TRUE(record.errors.empty());
  Bytes expected(file.begin() + 16384, file.end());
  expected.resize((expected.size() + kPiece - 1) / kPiece * kPiece, 0);
  EXPECT_EQ(record.image, expected);
}

TEST_F(FirmwareOverUsb, BusFirmwareFillsTheControllersBanksInOrder) {
  Bytes image = testing::pattern_bytes(135000, 7);
  image[0] = 'C';
  image[1] = 'Y';
  ASSERT_EQ(run(device_update_bus_firmware, folder_.write("bus.img", image)), ZR_OK);
  for (std::size_t bank = 0; bank * kBank < image.size(); ++bank) {
    SCOPED_TRACE(bank);
    const Bytes stored = device_->firmware_bank(bank);
    const std::size_t from = bank * kBank;
    const std::size_t length = std::min(kBank, image.size() - from);
    ASSERT_GE(stored.size(), length);
    EXPECT_TRUE(std::equal(image.begin() + static_cast<std::ptrdiff_t>(from),
                           image.begin() + static_cast<std::ptrdiff_t>(from + length),
                           stored.begin()))
        << "bank differs";
  }
}

TEST_F(FirmwareOverUsb, BusFirmwareWithoutItsSignatureIsRefused) {
  const Bytes image = testing::pattern_bytes(4096, 9);  // does not begin with "CY"
  ASSERT_NE(image[0], 'C');
  EXPECT_EQ(run(device_update_bus_firmware, folder_.write("bad.img", image)),
            ZR_BUS_USB_BAD_FIRMWARE);
}

}  // namespace
}  // namespace zr
