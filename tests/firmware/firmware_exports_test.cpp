// The exported update calls: the connection each opens, what an unopenable connection returns,
// and the private context reaching the procedure (over the PCIe placeholder bus, which answers
// nothing).
#include <gtest/gtest.h>

#include <string>

#include "firmware/firmware_update.hpp"
#include "tests/firmware/firmware_test_support.hpp"

namespace zr {
namespace {

ConnectionParams connection(std::uint8_t interface, std::uint32_t timeout_ms = 10000) {
  ConnectionParams params{};
  params.interface = interface;
  params.address[0] = 127;
  params.address[3] = 1;
  params.port = 5025;
  params.reserved = 0xA5A5A5A5u;
  params.timeout_ms = timeout_ms;
  return params;
}

struct ConnectionCase {
  const char* name;
  std::uint8_t interface;
  std::uint32_t timeout_ms;
  bool raise;
  std::uint8_t device_number;
  std::uint32_t timeout_after;
};
void PrintTo(const ConnectionCase& c, std::ostream* os) { *os << c.name; }

class FirmwareConnectionTest : public ::testing::TestWithParam<ConnectionCase> {};

TEST_P(FirmwareConnectionTest, AdjustsDeviceNumberAndTimeOut) {
  const ConnectionCase& c = GetParam();
  const ConnectionParams given = connection(c.interface, c.timeout_ms);
  const FirmwareConnection opened = firmware_connection(given, 7, c.raise);
  EXPECT_EQ(opened.device_number, c.device_number);
  EXPECT_EQ(opened.params.timeout_ms, c.timeout_after);
  // Everything else is passed on unchanged.
  ConnectionParams rest = opened.params;
  rest.timeout_ms = given.timeout_ms;
  EXPECT_EQ(std::memcmp(&rest, &given, sizeof given), 0);
}

INSTANTIATE_TEST_SUITE_P(
    FwInterfaces, FirmwareConnectionTest,
    ::testing::Values(
        ConnectionCase{"UsbKeepsTheDeviceNumber", ZR_INTERFACE_USB, 10000, true, 7, 10000},
        ConnectionCase{"PcieKeepsTheDeviceNumber", ZR_INTERFACE_PCIE, 10000, true, 7, 10000},
        ConnectionCase{"EthUsesDevice0", ZR_INTERFACE_ETH, 10000, false, 0, 10000},
        ConnectionCase{"Type2UsesDevice0", 2, 10000, false, 0, 10000},
        ConnectionCase{"EthMcuRaisesTheDefault", ZR_INTERFACE_ETH, 10000, true, 0, 25000},
        ConnectionCase{"Type2McuRaises", 2, 0, true, 0, 25000},
        ConnectionCase{"EthMcuKeepsALongerOne", ZR_INTERFACE_ETH, 30000, true, 0, 30000},
        ConnectionCase{"EthMcuKeeps25000", ZR_INTERFACE_ETH, 25000, true, 0, 25000},
        ConnectionCase{"EthMcuComparesSigned", ZR_INTERFACE_ETH, 0x80000000u, true, 0, 25000},
        ConnectionCase{"UsbMcuNeverRaises", ZR_INTERFACE_USB, 100, true, 7, 100}),
    [](const auto& info) { return std::string(info.param.name); });

using Export = int32_t (*)(const char*, uint8_t, const ConnectionParams*);

struct ExportCase {
  const char* name;
  Export call;
};
void PrintTo(const ExportCase& c, std::ostream* os) { *os << c.name; }

class FirmwareExportTest : public ::testing::TestWithParam<ExportCase>,
                           public testing::FirmwareFixture {};

TEST_P(FirmwareExportTest, UnopenableConnectionReturnsMinus1WithoutOutput) {
  const std::string path = folder.write("image.rpd", testing::pattern_bytes(20000));
  for (std::uint8_t interface : {std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{5}}) {
    const ConnectionParams params = connection(interface);
    EXPECT_EQ(GetParam().call(path.c_str(), 0, &params), ZR_NO_BUS) << int{interface};
  }
  EXPECT_EQ(GetParam().call(path.c_str(), 0, nullptr), ZR_INVALID_HANDLE);
  EXPECT_EQ(transcript(), "");
}

INSTANTIATE_TEST_SUITE_P(
    FwExports, FirmwareExportTest,
    ::testing::Values(ExportCase{"Fpga", device_update_fpga_firmware},
                      ExportCase{"RootMcu", device_update_rootmcu_firmware},
                      ExportCase{"NodeMcu", device_update_nodemcu_firmware},
                      ExportCase{"Bus", device_update_bus_firmware}),
    [](const auto& info) { return std::string(info.param.name); });

// The PCIe placeholder accepts everything and answers nothing, so the updates that wait for an
// answer stop at their first acknowledgement and the bus download succeeds.
class FirmwareExportOverPcieTest : public ::testing::Test, public testing::FirmwareFixture {
 protected:
  const ConnectionParams params = connection(ZR_INTERFACE_PCIE);
};

TEST_F(FirmwareExportOverPcieTest, FpgaStopsAtTheUnansweredStart) {
  const std::string path = folder.write("image.rpd", testing::pattern_bytes(1000));
  EXPECT_EQ(device_update_fpga_firmware(path.c_str(), 0, &params), ZR_FW_NOT_STARTED);
  EXPECT_TRUE(transcript().ends_with(
      "Begin RemoteUpdating...\nremote update server is unresponsive. Please restart the "
      "hardware and try again!...\n"));
}

TEST_F(FirmwareExportOverPcieTest, McuUpdatesStopAtTheUnacknowledgedBegin) {
  const std::string path = folder.write("mcu.bin", testing::pattern_bytes(40000));
  for (Export call : {device_update_rootmcu_firmware, device_update_nodemcu_firmware}) {
    console_text.str("");
    EXPECT_EQ(call(path.c_str(), 3, &params), ZR_FW_NOT_STARTED);
    EXPECT_EQ(transcript(), "Ready to update MCU firmware, please wait...\n");
  }
}

TEST_F(FirmwareExportOverPcieTest, BusDownloadReturnsTheBusStatusAfterTheLine) {
  const std::string path = folder.write("bus.img", testing::pattern_bytes(1000));
  EXPECT_EQ(device_update_bus_firmware(path.c_str(), 0, &params), ZR_OK);
  EXPECT_TRUE(transcript().ends_with("\rUpdating BUS Firmware... 100%  \n"));
  EXPECT_EQ(device_update_bus_firmware(folder.path("missing").c_str(), 0, &params),
            ZR_FW_IMAGE_UNREADABLE);
}

}  // namespace
}  // namespace zr
