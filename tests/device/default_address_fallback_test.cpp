// device_open_merge without parameters and without a USB instrument falls back to the built-in
// instrument address 192.168.1.100:5000. That address must never be reached on the host network,
// so the test re-runs itself inside a private network namespace where the address exists only
// on the namespace's own loopback device, and the simulator listens there.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bus/usb/usb_driver.hpp"
#include "platform/clock.hpp"
#include "platform/le_codec.hpp"
#include "sim/instrument_model.hpp"
#include "sim/network_service.hpp"
#include "sim/usb/sim_usb_driver.hpp"
#include "zr_api.h"

using namespace std::chrono_literals;

namespace zr {
namespace {

constexpr const char* kInsideMark = "ZR_IN_PRIVATE_NETNS";

// True only in a namespace whose one network device is loopback (/proc/net/dev shows the
// calling process's namespace; /sys/class/net may still show the host's).
bool only_loopback_present() {
  std::ifstream devices("/proc/net/dev");
  std::string line;
  int count = 0;
  while (std::getline(devices, line)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;  // the two heading lines
    std::string name = line.substr(0, colon);
    name.erase(0, name.find_first_not_of(' '));
    if (name != "lo") return false;
    ++count;
  }
  return count == 1;
}

// Runs only inside the namespace made by the test below.
TEST(DefaultAddressFallback, DISABLED_InsidePrivateNamespace) {
  ASSERT_NE(std::getenv(kInsideMark), nullptr) << "run only through the namespace test";
  ASSERT_TRUE(only_loopback_present()) << "refusing to use the default address here";

  sim::InstrumentModel model;
  sim::NetworkService service(model);
  std::string error;
  ASSERT_TRUE(service.start("192.168.1.100", 5000, error)) << error;

  sim::SimUsbDriver no_instruments;
  usb::ScopedUsbDriver installed(no_instruments);
  FakeClock clock{0ns};
  ScopedClock installed_clock(clock);

  ConnectionParams given{};  // USB, not used: the flag says to try on its own
  given.reserved = 0x01020304;
  DeviceContext* context = nullptr;
  ChannelHandle channels[2] = {};
  std::int16_t channel_count = 0;
  DeviceInfo info{};
  std::uint32_t api_version = 0;
  std::uint8_t used = 0xee;
  ASSERT_EQ(device_open_merge(&context, 0, 0, &given, channels, &channel_count, &info, &api_version,
                              &used),
            ZR_OK);
  EXPECT_EQ(used, ZR_INTERFACE_ETH);
  EXPECT_EQ(info.model, 132);
  EXPECT_EQ(device_close(&context), ZR_OK);

  // The greeting carries the record the fallback built: Ethernet, IPv4 192.168.1.100, port
  // 5000, 10 s, the other fields kept from the caller's record.
  ASSERT_EQ(service.greetings().size(), 1u);
  const std::vector<std::uint8_t> greeting = service.greetings()[0];
  ASSERT_GE(greeting.size(), 28u);
  EXPECT_EQ(greeting[0], ZR_INTERFACE_ETH);
  EXPECT_EQ(greeting[1], 0);
  EXPECT_EQ(greeting[2], 192);
  EXPECT_EQ(greeting[3], 168);
  EXPECT_EQ(greeting[4], 1);
  EXPECT_EQ(greeting[5], 100);
  EXPECT_EQ(load_u16(greeting.data() + 18), 5000);
  EXPECT_EQ(load_u32(greeting.data() + 20), 0x01020304u);
  EXPECT_EQ(load_u32(greeting.data() + 24), 10000u);
}

TEST(DefaultAddressFallback, OpensTheBuiltInAddressInAPrivateNamespace) {
  if (std::system("unshare --net true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "cannot create a private network namespace here (unshare --net)";
  }
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string command =
      "unshare --net sh -c 'ip link set lo up && ip addr add 192.168.1.100/32 dev lo && " +
      std::string(kInsideMark) + "=1 exec \"$0\" --gtest_also_run_disabled_tests " +
      "--gtest_filter=DefaultAddressFallback.DISABLED_InsidePrivateNamespace' '" + self + "'";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the run inside the namespace failed; see its output";
}

}  // namespace
}  // namespace zr
