#include "bus/usb/usb_endpoint.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "bus/usb/transfer_header.hpp"
#include "bus/usb/usb_device.hpp"
#include "platform/clock.hpp"
#include "platform/le_codec.hpp"
#include "sim/usb/sim_usb_driver.hpp"

namespace zr::usb {
namespace {

// Completes every request at once and keeps what it was handed, so the tests can read the
// header and see which buffer the driver was given.
class RecordingDriver final : public UsbDriver {
 public:
  struct Call {
    std::uint32_t code;
    std::vector<std::uint8_t> input;
    const std::uint8_t* output;
    std::size_t output_size;
  };
  std::vector<std::string> enumerate(DeviceClass) override { return {}; }
  DriverHandle open(std::string_view, DriverError&) override { return 1; }
  bool close(DriverHandle, DriverError&) override { return true; }
  bool request(DriverHandle, std::uint32_t code, std::span<std::uint8_t> buffer,
               std::uint32_t& returned, DriverError&) override {
    calls.push_back({code, {buffer.begin(), buffer.end()}, buffer.data(), buffer.size()});
    returned = static_cast<std::uint32_t>(buffer.size());
    return true;
  }
  Submission submit(DriverHandle, std::uint32_t code, std::span<std::uint8_t> input,
                    std::span<std::uint8_t> output) override {
    calls.push_back({code, {input.begin(), input.end()}, output.data(), output.size()});
    std::uint32_t bytes = static_cast<std::uint32_t>(output.size());
    if (code == kRequestControlTransfer || code == kRequestBufferedTransfer) {
      const auto header = decode_header(input);
      for (std::size_t i = header->data_offset; i < input.size(); ++i) {
        input[i] = static_cast<std::uint8_t>(0xA0 + i - header->data_offset);
      }
      bytes = static_cast<std::uint32_t>(input.size());
    }
    return Submission{DriverError::none, std::make_unique<Done>(bytes)};
  }
  std::vector<Call> calls;

 private:
  struct Done final : PendingRequest {
    explicit Done(std::uint32_t b) : bytes(b) {}
    WaitResult wait(std::optional<std::chrono::milliseconds>) override {
      return WaitResult::signalled;
    }
    bool result(std::uint32_t& returned) override {
      returned = bytes;
      return true;
    }
    std::uint32_t bytes;
  };
};

class EndpointTest : public ::testing::Test {
 protected:
  std::shared_ptr<DriverLink> link = std::make_shared<DriverLink>(DriverLink{&driver, 1});
  RecordingDriver driver;

  TransferHeader last_header() const { return *decode_header(driver.calls.back().input); }
};

TEST_F(EndpointTest, ControlTimeoutIsRoundedIntoWholeSecondsOfTheHeader) {
  struct Case {
    std::uint32_t ms;
    std::uint32_t seconds;
  };
  for (const Case c : {Case{500, 1}, Case{0, 0}, Case{2500, 2}, Case{999, 1}, Case{1000, 1}}) {
    UsbControlEndpoint control(link);
    control.set_timeout_ms(c.ms);
    std::vector<std::uint8_t> data(4, 0x11);
    std::uint32_t length = 4;
    ASSERT_TRUE(control.Write(data.data(), length));
    EXPECT_EQ(last_header().timeout_s, c.seconds) << c.ms << " ms";
  }
}

TEST_F(EndpointTest, ControlInIsBufferedBehindTheHeaderAndDeliveredToTheCaller) {
  UsbControlEndpoint control(link);
  control.RequestType = kRequestTypeClass;
  control.Request = 0x81;
  control.Value = 4;
  std::vector<std::uint8_t> data(4, 0);
  std::uint32_t length = 4;
  ASSERT_TRUE(control.Read(data.data(), length));
  const TransferHeader header = last_header();
  EXPECT_EQ(driver.calls.back().code, kRequestControlTransfer);
  EXPECT_EQ(header.request_type, 0xA0);
  EXPECT_EQ(header.request, 0x81);
  EXPECT_EQ(header.value, 4);
  EXPECT_EQ(header.length, 4);
  EXPECT_EQ(header.data_offset, kTransferHeaderSize);
  EXPECT_EQ(header.data_length, 4u);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(data, (std::vector<std::uint8_t>{0xA0, 0xA1, 0xA2, 0xA3}));
}

TEST_F(EndpointTest, BulkInDirectModeHandsTheCallersBufferToTheDriver) {
  UsbBulkEndpoint bulk(link, EndpointDescriptor{7, 5, 0x81, 0x02, 0x0200, 0});
  std::vector<std::uint8_t> data(1000, 0);
  std::uint32_t length = 1000;
  ASSERT_TRUE(bulk.Transfer(data.data(), length));
  const auto& call = driver.calls.back();
  EXPECT_EQ(call.code, kRequestDirectTransfer);
  EXPECT_EQ(call.input.size(), kTransferHeaderSize);
  EXPECT_EQ(call.output, data.data());
  EXPECT_EQ(last_header().endpoint, 0x81);
  EXPECT_EQ(last_header().data_offset, 0u);
  EXPECT_EQ(length, 1000u);
}

TEST_F(EndpointTest, MaxPacketSizeCountsTransactionsBurstsAndIsochronousMultiplier) {
  struct Case {
    const char* name;
    EndpointDescriptor descriptor;
    std::optional<CompanionDescriptor> companion;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"bulk 512", {7, 5, 0x81, 0x02, 0x0200, 0}, std::nullopt, 512},
      {"bulk 512 burst 15",
       {7, 5, 0x81, 0x02, 0x0200, 0},
       CompanionDescriptor{6, 0x30, 15, 0, 0},
       8192},
      {"high-bandwidth isochronous", {7, 5, 0x82, 0x01, 0x1400, 1}, std::nullopt, 3072},
      {"SuperSpeed isochronous, burst 2, mult 3",
       {7, 5, 0x82, 0x05, 0x0400, 1},
       CompanionDescriptor{6, 0x30, 1, 2, 0},
       1024 * 2 * 3},
      {"interrupt 64", {7, 5, 0x83, 0x03, 0x0040, 4}, std::nullopt, 64},
  };
  for (const Case& c : cases) {
    auto endpoint = make_endpoint(link, c.descriptor, c.companion ? &*c.companion : nullptr);
    EXPECT_EQ(endpoint->MaxPacketSize(), c.expected) << c.name;
    EXPECT_EQ(endpoint->TimeoutMs(), kDefaultEndpointTimeoutMs) << c.name;
  }
}

TEST_F(EndpointTest, IsochronousTransferCarriesOnePacketRecordPerPacket) {
  UsbIsocEndpoint isoc(link, EndpointDescriptor{7, 5, 0x82, 0x05, 0x0400, 1});
  std::vector<std::uint8_t> data(3000, 0);
  std::vector<std::uint8_t> records(24, 0xEE);
  std::uint32_t length = 3000;
  ASSERT_TRUE(isoc.Transfer(data.data(), length, records));
  TransferHeader header = last_header();
  EXPECT_EQ(header.records_offset, kTransferHeaderSize);
  EXPECT_EQ(header.records_length, 24u);
  EXPECT_EQ(driver.calls.back().input.size(), kTransferHeaderSize + 24);
  EXPECT_EQ(driver.calls.back().output, data.data());

  isoc.set_direct_mode(false);
  length = 3000;
  ASSERT_TRUE(isoc.Transfer(data.data(), length));
  header = last_header();
  EXPECT_EQ(driver.calls.back().code, kRequestBufferedTransfer);
  EXPECT_EQ(header.data_offset, kTransferHeaderSize + 24);
  EXPECT_EQ(header.data_length, 3000u);
  EXPECT_EQ(length, 3000u);
  EXPECT_EQ(data[0], 0xA0);  // buffered IN data reaches the caller
}

TEST_F(EndpointTest, TransferOnAClosedDeviceNeverReachesTheDriver) {
  UsbControlEndpoint control(link);
  UsbBulkEndpoint bulk(link, EndpointDescriptor{7, 5, 0x01, 0x02, 0x0200, 0});
  link->handle = kInvalidHandle;
  std::vector<std::uint8_t> data(16, 0);
  std::uint32_t length = 16;
  EXPECT_FALSE(control.Write(data.data(), length));
  EXPECT_EQ(length, 0u);
  length = 16;
  EXPECT_FALSE(bulk.Transfer(data.data(), length));
  EXPECT_TRUE(bulk.Abort());
  EXPECT_FALSE(bulk.ResetPipe());
  EXPECT_TRUE(driver.calls.empty());
}

TEST(EndpointTimeout, TransferPastItsTimeoutIsAbortedAndReportsCancelledWithWhatMoved) {
  FakeClock clock;
  ScopedClock scoped(clock);
  sim::SimUsbDriver driver;
  auto device = std::make_shared<sim::VirtualUsbDevice>(std::make_shared<sim::InstrumentModel>());
  driver.attach(DeviceClass::instrument, device);
  UsbDevice usb(DeviceClass::instrument, driver);
  ASSERT_TRUE(usb.Open(0));
  device->add_fault({sim::kSimBulkOut, std::nullopt, sim::UsbFaultKind::hang, 100});
  UsbEndpoint* out = usb.BulkOut();
  out->set_timeout_ms(2000);
  std::vector<std::uint8_t> data(512, 1);
  std::uint32_t length = 512;
  EXPECT_FALSE(out->Transfer(data.data(), length));
  EXPECT_EQ(out->NtStatus(), kNtCancelled);
  EXPECT_EQ(length, 100u);
  EXPECT_EQ(out->BytesTransferred(), 100u);
  EXPECT_GE(clock.elapsed(), std::chrono::milliseconds(2000));
  EXPECT_LT(clock.elapsed(), std::chrono::milliseconds(2100));
  EXPECT_TRUE(device->model().stream_blocks().empty());
}

}  // namespace
}  // namespace zr::usb
