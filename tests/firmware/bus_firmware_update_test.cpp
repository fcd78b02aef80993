// The bus firmware update: the transfer on a worker thread, the time-based progress line on the
// calling thread (on the fake clock), the wait for a transfer that outlasts it, and the refusal
// of an unreadable image before anything starts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <locale>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "firmware/firmware_update.hpp"
#include "tests/firmware/firmware_test_support.hpp"

using namespace std::chrono_literals;

namespace zr {
namespace {

using testing::RecordingBus;
using Kind = RecordingBus::Kind;

std::string progress_line() {
  std::string text;
  for (int k = 1; k <= 1000; ++k) {
    std::ostringstream value;
    value.imbue(std::locale::classic());
    value << static_cast<double>(k) / 1000 * 100;
    text += "\rUpdating BUS Firmware... " + value.str() + "%  ";
  }
  return text + "\n";
}

class BusFirmwareTest : public ::testing::Test, public testing::FirmwareFixture {
 protected:
  std::int32_t run(const std::string& path) {
    return update_bus_firmware(context(), path.c_str());
  }
};

TEST_F(BusFirmwareTest, ProgressLineRunsItsFortySecondsWhileTheWorkerTransfers) {
  const std::vector<std::uint8_t> image = testing::pattern_bytes(70000);
  std::thread::id worker;
  bus().on_bus_firmware = [&worker](std::span<const std::uint8_t>) {
    worker = std::this_thread::get_id();
  };
  ASSERT_EQ(run(folder.write("bus_1.2.3.img", image)), ZR_OK);

  ASSERT_EQ(bus().calls.size(), 1u);
  EXPECT_EQ(bus().calls[0].kind, Kind::BusFirmware);
  EXPECT_EQ(bus().calls[0].out, image);
  EXPECT_NE(worker, std::this_thread::get_id());

  const std::string text = transcript();
  EXPECT_EQ(text, progress_line());
  EXPECT_TRUE(text.starts_with("\rUpdating BUS Firmware... 0.1%  \rUpdating BUS Firmware... 0.2%  "));
  EXPECT_NE(text.find("\rUpdating BUS Firmware... 12.5%  "), std::string::npos);
  EXPECT_TRUE(text.ends_with("\rUpdating BUS Firmware... 100%  \n"));
  // 1000 steps of 40 ms, each measured from the clock's reading at its start.
  EXPECT_EQ(clock.sleep_count(), 1000u);
  EXPECT_GT(clock.total_slept(), 39900ms);
  EXPECT_LE(clock.total_slept(), 40000ms);
}

TEST_F(BusFirmwareTest, WaitsForATransferThatOutlastsTheLineAndReturnsItsStatus) {
  std::atomic<bool> saw_whole_line{false};
  bus().bus_firmware_status = ZR_BUS_USB_TRANSFER_FAILED;
  // The transfer ends only after the progress line has taken all its steps (bounded in real
  // time so that a broken update cannot hang the suite).
  bus().on_bus_firmware = [this, &saw_whole_line](std::span<const std::uint8_t>) {
    const auto give_up = std::chrono::steady_clock::now() + 20s;
    while (clock.sleep_count() < 1000 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(1ms);
    }
    saw_whole_line = clock.sleep_count() == 1000;
  };
  EXPECT_EQ(run(folder.write("bus.img", testing::pattern_bytes(100))),
            ZR_BUS_USB_TRANSFER_FAILED);
  EXPECT_TRUE(saw_whole_line);
  EXPECT_EQ(transcript(), progress_line());
}

TEST_F(BusFirmwareTest, UnreadableImageIsRefusedBeforeTheWorkerAndTheLineStart) {
  folder.write("folder/inside", {});
  for (const std::string& path : {folder.path("missing.img"), folder.path("folder")}) {
    EXPECT_EQ(run(path), ZR_FW_IMAGE_UNREADABLE) << path;
  }
  EXPECT_EQ(update_bus_firmware(context(), nullptr), ZR_FW_IMAGE_UNREADABLE);
  EXPECT_TRUE(bus().calls.empty());
  EXPECT_EQ(transcript(), "");
  EXPECT_EQ(clock.sleep_count(), 0u);
}

}  // namespace
}  // namespace zr
