#include "bus/bus_usb.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/le_codec.hpp"
#include "sim/usb/sim_usb_driver.hpp"

namespace zr {
namespace {

using usb::DeviceClass;
using Bytes = std::vector<std::uint8_t>;

struct Instrument {
  std::shared_ptr<sim::InstrumentModel> model;
  std::shared_ptr<sim::VirtualUsbDevice> device;
};

// Virtual instruments of both classes behind one simulated driver.
class BusUsbTest : public ::testing::Test {
 protected:
  Instrument attach(DeviceClass device_class, std::string serial = "131_0000abcd0123456789abcdef",
                    std::uint16_t vendor = 0x5A52, std::uint16_t product = 0x0001,
                    std::uint16_t release = 0x0100, std::uint32_t firmware = 0x00010203) {
    sim::ModelConfig config = sim::default_model_config();
    config.bus_info.firmware_version = firmware;
    auto model = std::make_shared<sim::InstrumentModel>(config);
    sim::UsbIdentity identity = sim::identity_of(*model);
    identity.vendor = vendor;
    identity.product = product;
    identity.release = release;
    identity.serial = std::move(serial);
    auto device =
        std::make_shared<sim::VirtualUsbDevice>(model, sim::instrument_descriptors(identity));
    driver.attach(device_class, device);
    return {model, device};
  }
  Instrument attach_controller(std::uint16_t product, std::string serial = "abc") {
    return attach(DeviceClass::bus_controller, std::move(serial), 0x04B4, product);
  }
  // An opened bus on the one instrument attached here.
  bus_usb& opened() {
    if (!instrument.device) instrument = attach(DeviceClass::instrument);
    bus = std::make_unique<bus_usb>(0, driver);
    EXPECT_EQ(bus->open(), ZR_OK);
    return *bus;
  }
  std::vector<sim::UsbControlRecord> requests_of(std::uint8_t request) const {
    std::vector<sim::UsbControlRecord> found;
    for (const auto& r : instrument.device->requests()) {
      if (r.setup.request == request) found.push_back(r);
    }
    return found;
  }

  sim::SimUsbDriver driver;
  Instrument instrument;
  std::unique_ptr<bus_usb> bus;
};

TEST_F(BusUsbTest, NumberingRunsOverBothClassesAndSkipsForeignControllers) {
  Instrument first0 = attach(DeviceClass::instrument);
  Instrument first1 = attach(DeviceClass::instrument);
  Instrument foreign0 = attach_controller(0x0001);
  Instrument accepted = attach_controller(0x00F0);
  Instrument foreign2 = attach_controller(0x0002);

  bus_usb third(2, driver);
  EXPECT_EQ(third.open(), ZR_OK);
  ASSERT_TRUE(third.device()->is_open());
  EXPECT_EQ(third.device()->device_class(), DeviceClass::bus_controller);
  EXPECT_EQ(third.device()->DeviceNumber(), 1);
  EXPECT_FALSE(accepted.device->requests().empty());  // read_bus_info went to it
  EXPECT_TRUE(foreign0.device->requests().empty());
  EXPECT_TRUE(first1.device->requests().empty());

  bus_usb second(1, driver);
  EXPECT_EQ(second.open(), ZR_OK);
  EXPECT_FALSE(first1.device->requests().empty());

  bus_usb past_the_end(3, driver);
  EXPECT_EQ(past_the_end.open(), ZR_BUS_USB_NO_DEVICE);

  std::uint32_t count = 0;
  std::array<std::uint8_t, 5 * kDeviceListEntrySize> entries{};
  EXPECT_EQ(bus_usb(0, driver).list_devices(entries.data(), entries.size(), &count), ZR_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(driver.open_handles(), 2u);  // only the two opened buses hold a device
}

TEST_F(BusUsbTest, OpenFillsTheBusInformationAndSendsNoOpenNoticeBelow0x3701) {
  instrument =
      attach(DeviceClass::instrument, "131_0000abcd0123456789abcdef", 0x5A52, 1, 0x0207, 0x3700);
  bus_usb& b = opened();
  const BusInfo& info = b.info();
  EXPECT_EQ(info.device_release, 0x0207);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.identity_text.data())),
            "Signal Generator");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.identity_text.data() + 30)),
            "131_0000abcd0123456789abcdef");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.identity_text.data() + 60)),
            "Simulated Instrument Works");
  EXPECT_EQ(info.firmware_version, 0x3700u);
  EXPECT_EQ(info.link_kind, 3u);
  EXPECT_EQ(info.link_bandwidth, 625u);
  EXPECT_EQ(info.transfer_timeout_ms, 2000u);
  EXPECT_EQ(info.timeout2_ms, 2000u);
  EXPECT_EQ(b.device()->BulkIn()->TimeoutMs(), 2000u);
  EXPECT_TRUE(requests_of(usb_request::kOpenNotice).empty());
}

TEST_F(BusUsbTest, OpenSendsTheOpenNoticeFromControllerFirmware0x3701) {
  instrument = attach(DeviceClass::instrument, "x", 0x5A52, 1, 0x0100, 0x3701);
  opened();
  ASSERT_EQ(requests_of(usb_request::kOpenNotice).size(), 1u);
  EXPECT_EQ(requests_of(usb_request::kOpenNotice)[0].data, Bytes(2, 0));
}

TEST_F(BusUsbTest, OperationsOnABusThatNeverOpenedFailWithoutTraffic) {
  attach(DeviceClass::instrument);
  bus_usb never(0, driver);
  Bytes buffer(256, 0);
  std::uint32_t length = 256;
  std::uint32_t in_length = 128;
  const std::int32_t results[] = {
      never.close(),
      never.set_timeout(100),
      never.write(buffer.data(), &length),
      never.read(buffer.data(), &length),
      never.query(buffer.data(), &length, buffer.data(), &in_length, 1000),
      never.stream_write(buffer.data(), &length),
      never.stream_read(buffer.data(), &length),
      never.notify_device(),
      never.stream_stop(),
      never.write_identity(buffer.data(), 100),
      never.write_bus_firmware(buffer.data(), 256),
      never.read_bus_info(),
  };
  for (std::int32_t status : results) EXPECT_EQ(status, ZR_BUS_USB_NO_DEVICE);
  EXPECT_EQ(driver.traffic(), 0u);
  EXPECT_EQ(never.reserved_13(), ZR_OK);
  EXPECT_EQ(never.read_block(buffer.data(), 16), ZR_OK);
}

TEST_F(BusUsbTest, WriteSendsOneZeroPaddedFrameAndRefusesMoreThan256Bytes) {
  bus_usb& b = opened();
  Bytes frame(100, 0x4A);
  std::uint32_t length = 100;
  EXPECT_EQ(b.write(frame.data(), &length), ZR_OK);
  EXPECT_EQ(length, 256u);
  auto frames = instrument.model->frames();
  ASSERT_EQ(frames.size(), 1u);
  Bytes expected(256, 0);
  std::fill_n(expected.begin(), 100, 0x4A);
  EXPECT_EQ(frames[0], expected);

  const auto before = driver.traffic();
  Bytes big(300, 1);
  length = 300;
  EXPECT_EQ(b.write(big.data(), &length), ZR_BUS_USB_TRANSFER_FAILED);
  EXPECT_EQ(driver.traffic(), before);
}

TEST_F(BusUsbTest, ReadMapsTheInstrumentsRepliesToStatuses) {
  struct Case {
    Bytes queued;
    std::int32_t status;
    std::uint32_t length;
  };
  const Case cases[] = {{{0xF0}, ZR_BUS_USB_CANCELLED, 1},
                        {{0x42}, ZR_OK, 1},
                        {{}, ZR_BUS_USB_TRANSFER_FAILED, 0},
                        {Bytes(256, 7), ZR_OK, 256}};
  bus_usb& b = opened();
  for (const Case& c : cases) {
    instrument.model->queue_read_data(c.queued);
    Bytes buffer(256, 0);
    std::uint32_t length = 256;
    EXPECT_EQ(b.read(buffer.data(), &length), c.status) << c.queued.size();
    EXPECT_EQ(length, c.length);
  }
  const auto reads = requests_of(usb_request::kRead);
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads[0].setup.request_type, 0xA0);
  EXPECT_EQ(reads[0].setup.value, 256);
}

TEST_F(BusUsbTest, QuerySendsFrameAndReadsReplyUnderItsOwnTimeoutAndRestoresTheOld) {
  bus_usb& b = opened();
  ASSERT_EQ(b.set_timeout(1500), ZR_OK);
  Bytes frame(256, 0x95);
  Bytes reply(128, 0);
  std::uint32_t out = 256;
  std::uint32_t in = 128;
  instrument.model->queue_query_reply(Bytes(128, 0x33));
  EXPECT_EQ(b.query(frame.data(), &out, reply.data(), &in, 30000), ZR_OK);
  EXPECT_EQ(out, 256u);
  EXPECT_EQ(in, 128u);
  EXPECT_EQ(reply, Bytes(128, 0x33));
  EXPECT_EQ(b.info().transfer_timeout_ms, 1500u);
  EXPECT_EQ(b.device()->ControlEndpoint()->TimeoutMs(), 1500u);
  const auto sends = requests_of(usb_request::kQuerySend);
  const auto replies = requests_of(usb_request::kQueryReply);
  ASSERT_EQ(sends.size(), 1u);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(sends[0].setup.request_type, 0x20);
  EXPECT_EQ(sends[0].setup.value, 30000);
  EXPECT_EQ(sends[0].setup.index, 128);
  EXPECT_EQ(sends[0].data, frame);
  EXPECT_EQ(replies[0].setup.request_type, 0xA0);
  EXPECT_EQ(replies[0].setup.value, 128);
  EXPECT_EQ(replies[0].setup.index, 1);

  // A reply that never comes: aborted after the query's own time-out, old time-out restored.
  FakeClock clock;
  ScopedClock scoped(clock);
  instrument.device->add_fault({0, usb_request::kQueryReply, sim::UsbFaultKind::hang, 0});
  out = 256;
  in = 128;
  EXPECT_EQ(b.query(frame.data(), &out, reply.data(), &in, 30000), ZR_BUS_USB_TRANSFER_FAILED);
  EXPECT_EQ(in, 0u);
  EXPECT_GE(clock.elapsed(), std::chrono::milliseconds(30000));
  EXPECT_EQ(b.info().transfer_timeout_ms, 1500u);
  EXPECT_EQ(b.device()->ControlEndpoint()->TimeoutMs(), 1500u);

  instrument.model->queue_query_reply({0xF0});
  out = 256;
  in = 128;
  EXPECT_EQ(b.query(frame.data(), &out, reply.data(), &in, 1000), ZR_BUS_USB_CANCELLED);
  EXPECT_EQ(in, 1u);
}

TEST_F(BusUsbTest, WriteIdentitySendsOnlyARecordThatDiffers) {
  bus_usb& b = opened();
  Bytes record(100, 0);
  std::copy_n(b.info().identity_text.begin(), 90, record.begin() + 6);
  const auto before = driver.traffic();
  EXPECT_EQ(b.write_identity(record.data(), 100), ZR_OK);
  EXPECT_EQ(driver.traffic(), before);

  record[6] = 'X';
  EXPECT_EQ(b.write_identity(record.data(), 100 + 256), ZR_OK);  // length taken modulo 256
  const auto writes = requests_of(usb_request::kWriteData);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].setup.request_type, 0x40);
  EXPECT_EQ(writes[0].setup.value, 1);
  EXPECT_EQ(writes[0].setup.index, 0xFF00);
  EXPECT_EQ(instrument.device->identity_record(), record);
}

TEST_F(BusUsbTest, WriteIdentityWithoutDeviceReleaseSendsNothing) {
  instrument = attach(DeviceClass::instrument, "s", 0x5A52, 1, 0);
  bus_usb& b = opened();
  Bytes record(100, 0x77);
  const auto before = driver.traffic();
  EXPECT_EQ(b.write_identity(record.data(), 100), ZR_OK);
  EXPECT_EQ(driver.traffic(), before);
}

TEST_F(BusUsbTest, BusFirmwareGoesOutIn2048ByteChunksBankByBank) {
  bus_usb& b = opened();
  Bytes image(135000);
  std::iota(image.begin(), image.end(), std::uint8_t{0});
  image[0] = 'C';
  image[1] = 'Y';
  EXPECT_EQ(b.write_bus_firmware(image.data(), static_cast<std::uint32_t>(image.size())), ZR_OK);
  const auto chunks = requests_of(usb_request::kWriteData);
  ASSERT_EQ(chunks.size(), 66u);
  for (std::size_t i = 0; i < 65; ++i) {
    EXPECT_EQ(chunks[i].setup.value, i / 32) << i;
    EXPECT_EQ(chunks[i].setup.index, (i % 32) * 2048) << i;
    EXPECT_EQ(chunks[i].data.size(), 2048u) << i;
  }
  EXPECT_EQ(chunks[64].setup.value, 2);
  EXPECT_EQ(chunks[64].setup.index, 0);
  EXPECT_EQ(chunks[65].setup.value, 2);
  EXPECT_EQ(chunks[65].setup.index, 2048);
  EXPECT_EQ(chunks[65].data.size(), 1880u);
  const Bytes bank1 = instrument.device->firmware_bank(1);
  const Bytes bank2 = instrument.device->firmware_bank(2);
  EXPECT_TRUE(std::equal(bank1.begin(), bank1.end(), image.begin() + 65536));
  EXPECT_TRUE(std::equal(image.begin() + 131072, image.end(), bank2.begin()));
}

TEST_F(BusUsbTest, BusFirmwareFailuresStopTheDownload) {
  bus_usb& b = opened();
  Bytes image(5000, 0);
  const auto before = driver.traffic();
  EXPECT_EQ(b.write_bus_firmware(image.data(), 5000), ZR_BUS_USB_BAD_FIRMWARE);
  EXPECT_EQ(driver.traffic(), before);

  image[0] = 'C';
  image[1] = 'Y';
  instrument.device->add_fault({0, usb_request::kWriteData, sim::UsbFaultKind::short_reply, 1000});
  EXPECT_EQ(b.write_bus_firmware(image.data(), 5000), ZR_BUS_USB_TRANSFER_FAILED);
  EXPECT_TRUE(requests_of(usb_request::kWriteData).empty());  // the short one was not recorded
  instrument.device->add_fault({0, usb_request::kWriteData, sim::UsbFaultKind::stall, 0});
  EXPECT_EQ(b.write_bus_firmware(image.data(), 5000), ZR_BUS_USB_TRANSFER_FAILED);
}

TEST_F(BusUsbTest, StreamingMapsTimeoutToCancelledAndResetFailureToItsOwnStatus) {
  bus_usb& b = opened();
  Bytes samples(65536, 0x5C);
  std::uint32_t length = 65536;
  EXPECT_EQ(b.stream_write(samples.data(), &length), ZR_OK);
  EXPECT_EQ(length, 65536u);
  ASSERT_EQ(instrument.model->stream_blocks().size(), 1u);
  EXPECT_EQ(instrument.model->stream_blocks()[0], samples);

  {
    FakeClock clock;
    ScopedClock scoped(clock);
    instrument.device->add_fault({sim::kSimBulkOut, std::nullopt, sim::UsbFaultKind::hang, 4096});
    length = 65536;
    EXPECT_EQ(b.stream_write(samples.data(), &length), ZR_BUS_USB_CANCELLED);
    EXPECT_EQ(length, 4096u);
  }
  instrument.device->add_fault({sim::kSimBulkOut, std::nullopt, sim::UsbFaultKind::stall, 0});
  length = 16;
  EXPECT_EQ(b.stream_write(samples.data(), &length), ZR_BUS_USB_TRANSFER_FAILED);

  EXPECT_EQ(b.stream_stop(), ZR_OK);
  EXPECT_EQ(instrument.device->pipe_resets(), 1u);
  EXPECT_EQ(instrument.model->counters().stream_stops, 1u);
  instrument.device->set_reset_fails(true);
  EXPECT_EQ(b.stream_stop(), ZR_BUS_USB_PIPE_RESET);
  instrument.device->add_fault({0, usb_request::kStreamStop, sim::UsbFaultKind::stall, 0});
  EXPECT_EQ(b.stream_stop(), ZR_BUS_USB_TRANSFER_FAILED);
}

TEST_F(BusUsbTest, ControlRequestRunningIntoItsTimeoutFails) {
  bus_usb& b = opened();
  FakeClock clock;
  ScopedClock scoped(clock);
  instrument.device->add_fault({0, usb_request::kWrite, sim::UsbFaultKind::hang, 0});
  Bytes frame(256, 1);
  std::uint32_t length = 256;
  EXPECT_EQ(b.write(frame.data(), &length), ZR_BUS_USB_TRANSFER_FAILED);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(b.device()->ControlEndpoint()->NtStatus(), usb::kNtCancelled);
  EXPECT_GE(clock.elapsed(), std::chrono::milliseconds(2000));
}

TEST_F(BusUsbTest, ListParsesSerialsIntoEntries) {
  struct Case {
    const char* serial;
    std::uint16_t model;
    std::uint32_t uid_high;
    std::uint64_t uid_low;
  };
  const Case cases[] = {
      {"131_0000abcd0123456789abcdef", 131, 0xABCD, 0x0123456789ABCDEFull},
      {"131-0000ABCD0123456789ABCDEFzz", 131, 0xABCD, 0x0123456789ABCDEFull},
      {"131_0G00abcd0123456789abcdef", 0, 0, 0},
      {"131", 0, 0, 0},
      {"a3f_00000001000000000000000f", 0, 1, 0xF},  // valid, but the model part is not decimal
  };
  for (const Case& c : cases) attach(DeviceClass::instrument, c.serial);
  std::vector<std::uint8_t> entries(std::size(cases) * kDeviceListEntrySize, 0x5A);
  std::uint32_t count = 0;
  EXPECT_EQ(bus_usb(0, driver).list_devices(entries.data(),
                                            static_cast<std::uint32_t>(entries.size()), &count),
            ZR_OK);
  ASSERT_EQ(count, std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::uint8_t* e = entries.data() + i * kDeviceListEntrySize;
    EXPECT_EQ(load_u16(e), cases[i].model) << cases[i].serial;
    EXPECT_EQ(load_u32(e + 16), cases[i].uid_high) << cases[i].serial;
    EXPECT_EQ(load_u32(e + 8) | std::uint64_t{load_u32(e + 12)} << 32, cases[i].uid_low)
        << cases[i].serial;
    EXPECT_TRUE(std::all_of(e + 2, e + 8, [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(e + 20, e + 56, [](std::uint8_t b) { return b == 0; }));
  }
}

TEST_F(BusUsbTest, ListCountsEveryInstrumentButWritesOnlyWithinTheRoom) {
  attach(DeviceClass::instrument);
  attach(DeviceClass::instrument, "131_0000abcd0123456789abcdef", 0x5A52, 1, 0);  // release 0
  attach_controller(0x00F0, "131_0000000100000000000000ff");
  std::vector<std::uint8_t> entries(3 * kDeviceListEntrySize, 0xEE);
  std::uint32_t count = 0;
  EXPECT_EQ(bus_usb(0, driver).list_devices(entries.data(), 3 * kDeviceListEntrySize, &count),
            ZR_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(load_u16(entries.data()), 131);
  EXPECT_TRUE(std::all_of(entries.begin() + 56, entries.begin() + 112,
                          [](std::uint8_t b) { return b == 0xEE; }));  // release 0: untouched
  EXPECT_EQ(entries[112 + 8], 0xFF);

  std::fill(entries.begin(), entries.end(), 0xEE);
  EXPECT_EQ(bus_usb(0, driver).list_devices(entries.data(), kDeviceListEntrySize + 55, &count),
            ZR_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_TRUE(
      std::all_of(entries.begin() + 56, entries.end(), [](std::uint8_t b) { return b == 0xEE; }));
}

}  // namespace
}  // namespace zr
