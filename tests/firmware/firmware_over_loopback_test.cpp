// The firmware update exports over Ethernet against the in-process simulator on loopback: the
// image the simulator reassembled against the bytes the procedure should have sent, the console
// transcript, and each failure status through the simulator's faults. The library's own waits run
// on a fake clock except in one real-time run per procedure; the network is real, so the
// simulator's timings are kept short.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bus/eth_protocol.hpp"
#include "device/opcodes.hpp"
#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "platform/le_codec.hpp"
#include "sim/instrument_model.hpp"
#include "sim/network_service.hpp"
#include "tests/firmware/firmware_test_support.hpp"
#include "zr_api.h"

using namespace std::chrono_literals;

namespace zr {
namespace {

using Bytes = std::vector<std::uint8_t>;
using eth::Opcode;

constexpr std::size_t kFlash = 3932160;
constexpr std::size_t kContainerOffset = 4194464;
constexpr std::size_t kPackets = 19961;
constexpr std::size_t kPiece = 192;
// Short, as the network is real; the MCU updates raise it to 25000 ms themselves.
constexpr std::uint32_t kTimeoutMs = 2000;
// Offsets in the 36-byte greeting.
constexpr std::size_t kGreetingTimeoutAt = 24;
constexpr std::size_t kGreetingDeviceAt = 28;

const std::string kBackspaces = "\b\b\b\b\b\b\b";

std::string percent(std::size_t done, std::size_t total) {
  char text[16];
  const float value = static_cast<float>(done * 100) / static_cast<float>(total);
  std::snprintf(text, sizeof text, "%6.2f%%", static_cast<double>(value));
  return text;
}

std::string fields(std::size_t total) {
  std::string text = "  0.00%";
  for (std::size_t i = 1; i <= total; ++i) text += kBackspaces + percent(i, total);
  return text;
}

std::string fpga_transcript(std::size_t image_length) {
  return "Ready to update FPGA firmware, please wait...\nImage Size to Update is: " +
         std::to_string(image_length) +
         " Bytes...\nImage Packets Count is: 19961 Packets...\nBegin RemoteUpdating...\n"
         "Application 1 Hardware upgrade in progress...\nErase Flash, please wait...\n"
         "Erase completed!\nFirmware Downloading..." +
         fields(kPackets);
}

std::string mcu_transcript(std::size_t pieces) {
  return "Ready to update MCU firmware, please wait...\nErase flash, please wait...\n"
         "Flash erase complete...\nUpdating MCU Firmware..." +
         fields(pieces) + "\n";
}

std::string bus_transcript() {
  std::string text;
  for (int k = 1; k <= 1000; ++k) {
    std::ostringstream value;
    value << static_cast<double>(k) / 1000 * 100;
    text += "\rUpdating BUS Firmware... " + value.str() + "%  ";
  }
  return text + "\n";
}

// The simulator and the console, with the library's clock faked unless a test runs in real time.
class FirmwareOverLoopback : public ::testing::Test {
 protected:
  FirmwareOverLoopback() : installed_console(console_text) {
    model.set_log(model_log);
    // Each reading moves the simulator's clock 1 ms, so an erase time is a number of polls.
    model.set_clock(sim_clock);
  }

  void SetUp() override { start(""); }

  void start(const std::string& plan_text) {
    std::string error;
    auto plan = sim::FaultPlan::parse(plan_text, error);
    ASSERT_TRUE(plan) << error;
    if (service) service->stop();
    service = std::make_unique<sim::NetworkService>(model, *plan);
    service->set_log(service_log);
    ASSERT_TRUE(service->start("127.0.0.1", 0, error)) << error;
  }

  void configure(const std::function<void(sim::ModelConfig&)>& change) {
    sim::ModelConfig config = model.config();
    change(config);
    model.set_config(config);
  }

  ConnectionParams params(std::uint32_t timeout_ms = kTimeoutMs) const {
    ConnectionParams p{};
    p.interface = ZR_INTERFACE_ETH;
    p.address[0] = 127;
    p.address[3] = 1;
    p.port = service->port();
    p.timeout_ms = timeout_ms;
    return p;
  }

  // Runs an export with device number 7, which Ethernet must replace by 0.
  std::int32_t run(std::int32_t (*update)(const char*, uint8_t, const ConnectionParams*),
                   const std::string& path, std::uint32_t timeout_ms = kTimeoutMs) {
    console_text.str("");
    service->clear_records();
    const ConnectionParams p = params(timeout_ms);
    return update(path.c_str(), 7, &p);
  }

  std::size_t count(Opcode opcode) const {
    const auto requests = service->requests();
    return static_cast<std::size_t>(
        std::count_if(requests.begin(), requests.end(), [&](const sim::RecordedRequest& r) {
          return r.opcode == static_cast<std::uint32_t>(opcode);
        }));
  }

  std::uint32_t greeting_word(std::size_t at) const {
    const auto greetings = service->greetings();
    if (greetings.size() != 1) {
      ADD_FAILURE() << greetings.size() << " greetings";
      return 0;
    }
    return load_u32(greetings[0].data() + at);
  }

  std::string transcript() const { return console_text.str(); }

  FakeClock sim_clock{1ms};
  std::ostringstream console_text;
  ScopedConsole installed_console;
  testing::ImageFolder folder;
  std::ostringstream model_log;
  std::ostringstream service_log;
  sim::InstrumentModel model;
  std::unique_ptr<sim::NetworkService> service;
};

// The library's waits on a fake clock; the real-time runs leave it out.
class FakeTimeOverLoopback : public FirmwareOverLoopback {
 protected:
  FakeTimeOverLoopback() : installed_clock(library_clock) {}
  FakeClock library_clock{1us};
  ScopedClock installed_clock;
};

// ---- FPGA remote update.

Bytes container_flash(const Bytes& file) {
  Bytes flash(kFlash, 0x00);  // a container too short leaves zeros, not 0xFF
  for (std::size_t i = 0; i < kFlash && kContainerOffset + i < file.size(); ++i) {
    flash[i] = file[kContainerOffset + i];
  }
  return flash;
}

TEST_F(FirmwareOverLoopback, FpgaContainerInstallsBitExactlyInRealTime) {
  configure([](sim::ModelConfig& c) { c.fpga.erase_time = 20ms; });  // 20 polls
  const Bytes file = testing::pattern_bytes(kContainerOffset + kFlash + 1000, 3);
  const std::string path = folder.write("images/fpga_v1.2.3.jic", file);

  ASSERT_EQ(run(device_update_fpga_firmware, path), ZR_OK) << transcript();

  const sim::FpgaUpdateRecord record = model.fpga_update();
  EXPECT_TRUE(record.finished);
  EXPECT_EQ(record.starts, 1u);
  EXPECT_TRUE(record.image == container_flash(file)) << "image differs";
  EXPECT_EQ(record.data_packets, kPackets);
  EXPECT_EQ(record.commits, kPackets);
  EXPECT_EQ(record.echoes, kPackets);
  EXPECT_TRUE(record.errors.empty()) << sim::describe(record.errors.front());
  EXPECT_EQ(transcript(), fpga_transcript(kFlash) + "\n");
  // Start ack, the polls of the 20 ms erase, and one echo read per packet.
  const std::size_t reads = count(Opcode::kRead);
  EXPECT_GT(reads, kPackets + 10);
  EXPECT_LT(reads, kPackets + 30);
  EXPECT_EQ(count(Opcode::kWrite), 2 * kPackets + 2);
  EXPECT_EQ(greeting_word(kGreetingDeviceAt), 0u);
  EXPECT_EQ(greeting_word(kGreetingTimeoutAt), kTimeoutMs) << "the FPGA update keeps it";
}

TEST_F(FakeTimeOverLoopback, FpgaImagesFillTheFlashByTheirKind) {
  struct Case {
    const char* name;
    std::string file_name;
    std::size_t file_size;
    std::size_t reported_length;
    bool raw;
  };
  const std::vector<Case> cases = {
      // ".rpd" anywhere in the path makes the file raw, even with a container's name.
      {"raw image of 1000000 bytes, the rest 0xFF", "fw.rpd/image.jic", 1000000, 1000000, true},
      {"container too short for the whole image", "short.jic", kContainerOffset + 5000, kFlash,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = testing::pattern_bytes(c.file_size, 5);
    ASSERT_EQ(run(device_update_fpga_firmware, folder.write(c.file_name, file)), ZR_OK);
    Bytes expected;
    if (c.raw) {
      expected.assign(kFlash, 0xFF);
      std::copy(file.begin(), file.end(), expected.begin());
    } else {
      expected = container_flash(file);
    }
    const sim::FpgaUpdateRecord record = model.fpga_update();
    EXPECT_TRUE(record.finished);
    EXPECT_TRUE(record.image == expected) << "image differs";
    EXPECT_TRUE(record.errors.empty());
    EXPECT_EQ(transcript(), fpga_transcript(c.reported_length) + "\n");
  }
}

TEST_F(FakeTimeOverLoopback, FpgaMissingEchoesCostTenReadsEachAndTheUpdateStillFinishes) {
  start("fpga-no-commit-echo 50\n");
  const Bytes file = testing::pattern_bytes(3000, 9);
  ASSERT_EQ(run(device_update_fpga_firmware, folder.write("echo.rpd", file)), ZR_OK);
  const sim::FpgaUpdateRecord record = model.fpga_update();
  EXPECT_TRUE(record.finished);
  EXPECT_EQ(record.echoes, kPackets - 50);
  // Start ack, the erase polls (none: erase time 0) and 10 reads for each of the 50.
  EXPECT_EQ(count(Opcode::kRead), 2 + 50 * 10 + (kPackets - 50));
}

TEST_F(FakeTimeOverLoopback, FpgaFailuresStopWithTheirStatusAndMessage) {
  const std::string unresponsive =
      "remote update server is unresponsive. Please restart the hardware and try again!...\n";
  const std::string erase_failed =
      "failed to erase the flash. Please restart the hardware and try again!...\n";
  const std::string bus_error = "Bus Error!. Please restart the hardware and try again!...\n";
  const std::string head =
      "Ready to update FPGA firmware, please wait...\nImage Size to Update is: 3932160 Bytes...\n"
      "Image Packets Count is: 19961 Packets...\nBegin RemoteUpdating...\n";
  const std::string erasing =
      "Application 1 Hardware upgrade in progress...\nErase Flash, please wait...\n";
  // Requests of the connection: 1 open, 2 start, 3 the 0x01, 4 the 0x55 (erase time 0), then
  // data, commit and echo read per packet.
  constexpr std::size_t kDropAfter = 100;  // packets that got through whole
  struct Case {
    const char* name;
    std::string plan;
    std::int32_t status;
    std::string text;       // after the head
    std::size_t reads;      // read requests
    std::size_t packets;    // data packets the simulator took
    bool finished;
  };
  const std::vector<Case> cases = {
      {"no start acknowledgement", "fpga-no-start-ack", ZR_FW_NOT_STARTED, unresponsive, 20, 0,
       false},
      {"no erase completion", "fpga-no-erase-done", ZR_FW_ERASE_FAILED, erasing + erase_failed,
       301, 0, false},
      {"connection drops mid-image", "close-after " + std::to_string(4 + 3 * kDropAfter),
       ZR_TRANSPORT_FAILED,
       erasing + "Erase completed!\nFirmware Downloading..." +
           fields(kPackets).substr(0, 7 + 14 * kDropAfter) + bus_error,
       2 + kDropAfter, kDropAfter, false},
      {"connection drops before the finish",
       "close-after " + std::to_string(4 + 3 * kPackets), ZR_FW_FINISH_FAILED,
       erasing + "Erase completed!\nFirmware Downloading..." + fields(kPackets), 2 + kPackets,
       kPackets, false},
  };
  const Bytes file = testing::pattern_bytes(kContainerOffset + kFlash, 11);
  const std::string path = folder.write("fail.jic", file);
  const Bytes flash = container_flash(file);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    start(c.plan);
    EXPECT_EQ(run(device_update_fpga_firmware, path), c.status);
    EXPECT_EQ(transcript(), head + c.text);
    EXPECT_EQ(count(Opcode::kRead), c.reads);
    const sim::FpgaUpdateRecord record = model.fpga_update();
    EXPECT_EQ(record.data_packets, c.packets);
    EXPECT_EQ(record.finished, c.finished);
    // What did arrive is the start of the right image.
    const std::size_t got = std::min(record.image.size(), flash.size());
    EXPECT_TRUE(std::equal(record.image.begin(), record.image.begin() + got, flash.begin()));
    EXPECT_EQ(record.image.size(), std::min(kFlash, c.packets * 197));
  }
}

// ---- Root and node MCU bootloaders.

// The image as the bootloader keeps it: whole 192-byte pieces, the short last one zero-padded.
Bytes mcu_flash(const Bytes& file, std::size_t skip) {
  Bytes image(file.begin() + static_cast<std::ptrdiff_t>(skip), file.end());
  image.resize((image.size() + kPiece - 1) / kPiece * kPiece, 0);
  return image;
}

Bytes mcu_commands(std::size_t pieces) {
  Bytes commands = {kMcuBegin, kMcuErase};
  commands.insert(commands.end(), pieces, kMcuData);
  commands.push_back(kMcuFinish);
  return commands;
}

TEST_F(FirmwareOverLoopback, RootMcuInstallsBitExactlyInRealTime) {
  const Bytes file = testing::pattern_bytes(16384 + 1000, 21);
  ASSERT_EQ(run(device_update_rootmcu_firmware, folder.write("root.bin", file)), ZR_OK);
  const sim::McuUpdateRecord record = model.mcu_update(kMcuRoot);
  EXPECT_TRUE(record.finished);
  // Five pieces of 192 and one of 40.
  EXPECT_EQ(record.commands, mcu_commands(6));
  EXPECT_EQ(record.image, mcu_flash(file, 16384));
  EXPECT_TRUE(record.errors.empty());
  EXPECT_EQ(model.mcu_update(kMcuNode).begins, 0u);
  EXPECT_EQ(model.counters().bad_checksums, 0u);
  EXPECT_EQ(transcript(), mcu_transcript(6));
  EXPECT_EQ(greeting_word(kGreetingTimeoutAt), 25000u) << "raised for the erase";
  EXPECT_EQ(greeting_word(kGreetingDeviceAt), 0u);
}

TEST_F(FakeTimeOverLoopback, NodeMcuSkipFollowsItsReportedVersion) {
  struct Case {
    const char* name;
    std::uint32_t mcu_version;
    std::size_t file_size;
    std::size_t skip;
    std::size_t pieces;
  };
  const std::vector<Case> cases = {
      {"1.0.4 skips 16384, short last piece", 0x00010004, 16384 + 5 * 192 + 40, 16384, 6},
      {"1.0.5 skips 32768, whole pieces only", 0x00010005, 32768 + 4 * 192, 32768, 4},
      {"a later version skips 32768", 0x00020000, 32768 + 100, 32768, 1},
      {"nothing after the skip: no data frames", 0x00010005, 32768, 32768, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    configure([&](sim::ModelConfig& m) { m.instrument.identity.mcu_version = c.mcu_version; });
    const Bytes file = testing::pattern_bytes(c.file_size, 23);
    ASSERT_EQ(run(device_update_nodemcu_firmware, folder.write("node.bin", file)), ZR_OK);
    const sim::McuUpdateRecord record = model.mcu_update(kMcuNode);
    EXPECT_TRUE(record.finished);
    EXPECT_EQ(record.commands, mcu_commands(c.pieces));
    EXPECT_EQ(record.image, mcu_flash(file, c.skip));
    EXPECT_EQ(transcript(), mcu_transcript(c.pieces));
  }
}

TEST_F(FakeTimeOverLoopback, McuFailuresAndToleratedFaults) {
  // Requests of a root update: 1 open, 2 begin, 3 erase, 4 set_timeout, then per piece its
  // query and a set_timeout.
  constexpr std::size_t kPieces = 10;
  constexpr std::size_t kDropAfter = 4;  // pieces that got through before the drop
  const std::string erase_lines = "Ready to update MCU firmware, please wait...\n"
                                  "Erase flash, please wait...\n";
  struct Case {
    const char* name;
    std::string plan;
    std::int32_t status;
    Bytes commands;
    std::size_t reads;  // read requests after the erase
    std::string text;
  };
  Bytes dropped = mcu_commands(kDropAfter + 1);
  dropped.pop_back();  // the piece after the drop never arrives, nor the finish
  dropped.pop_back();
  const std::vector<Case> cases = {
      {"begin unacknowledged", "mcu-no-ack begin", ZR_FW_NOT_STARTED, {kMcuBegin}, 0,
       "Ready to update MCU firmware, please wait...\n"},
      {"finish unacknowledged", "mcu-no-ack finish", ZR_FW_FINISH_FAILED, mcu_commands(kPieces),
       0, mcu_transcript(kPieces)},
      {"erase never acknowledged: ten reads, then the pieces anyway", "mcu-no-ack erase", ZR_OK,
       mcu_commands(kPieces), 10, mcu_transcript(kPieces)},
      {"erase acknowledged by the third read", "mcu-late-erase-ack 3", ZR_OK,
       mcu_commands(kPieces), 3, mcu_transcript(kPieces)},
      {"data unacknowledged is no failure", "mcu-no-ack data", ZR_OK, mcu_commands(kPieces), 0,
       mcu_transcript(kPieces)},
      {"time-out after the erase refused", "rule opcode=4 first=4 count=1 status=-1",
       ZR_FW_NOT_STARTED, {kMcuBegin, kMcuErase}, 0, erase_lines},
      {"time-out after the first piece refused", "rule opcode=4 first=6 count=1 status=-1",
       ZR_TRANSPORT_FAILED, {kMcuBegin, kMcuErase, kMcuData}, 0,
       erase_lines + "Flash erase complete...\nUpdating MCU Firmware...  0.00%"},
      {"connection drops mid-image", "close-after " + std::to_string(4 + 2 * kDropAfter),
       ZR_TRANSPORT_FAILED, dropped, 0,
       erase_lines + "Flash erase complete...\nUpdating MCU Firmware..." +
           fields(kPieces).substr(0, 7 + 14 * kDropAfter)},
  };
  const Bytes file = testing::pattern_bytes(16384 + kPieces * kPiece, 29);
  const std::string path = folder.write("root.bin", file);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    start(c.plan);
    EXPECT_EQ(run(device_update_rootmcu_firmware, path), c.status);
    const sim::McuUpdateRecord record = model.mcu_update(kMcuRoot);
    EXPECT_EQ(record.commands, c.commands);
    const std::size_t pieces = static_cast<std::size_t>(
        std::count(c.commands.begin(), c.commands.end(), kMcuData));
    const auto first = file.begin() + 16384;
    EXPECT_EQ(record.image, Bytes(first, first + static_cast<std::ptrdiff_t>(pieces * kPiece)));
    EXPECT_EQ(count(Opcode::kRead), c.reads);
    EXPECT_EQ(transcript(), c.text);
  }
}

// ---- Bus controller firmware.

TEST_F(FirmwareOverLoopback, BusFirmwareInstallsWhileTheLineRunsItsFortySecondsInRealTime) {
  const Bytes file = testing::pattern_bytes(300000, 31);
  ASSERT_EQ(run(device_update_bus_firmware, folder.write("bus.bin", file)), ZR_OK);
  const sim::BusFirmwareRecord record = model.bus_firmware();
  EXPECT_EQ(record.images, 1u);
  EXPECT_EQ(record.image, file);
  EXPECT_EQ(record.identity_writes, 0u) << "the update's own open writes no identity record";
  EXPECT_EQ(transcript(), bus_transcript());
}

TEST_F(FakeTimeOverLoopback, BusFirmwareReturnsTheControllersAnswer) {
  struct Case {
    const char* name;
    std::string plan;
    std::int32_t answer;  // the simulator's configured status
    bool expect_ok;
  };
  const std::vector<Case> cases = {
      {"taken after a while", "", ZR_OK, true},
      {"refused by the controller", "", ZR_BUS_USB_TRANSFER_FAILED, false},
      // The whole payload arrives, then the connection goes without a reply.
      {"connection drops before the reply", "rule opcode=12 no-reply\nclose-after 2", ZR_OK,
       false},
  };
  const Bytes file = testing::pattern_bytes(70000, 37);
  const std::string path = folder.write("bus.bin", file);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    configure([&](sim::ModelConfig& m) {
      m.bus_firmware.status = c.answer;
      m.bus_firmware.duration = 30ms;  // on the simulator's clock
    });
    start(c.plan);
    const std::int32_t status = run(device_update_bus_firmware, path);
    if (c.expect_ok) {
      EXPECT_EQ(status, ZR_OK);
    } else if (c.answer != ZR_OK) {
      EXPECT_EQ(status, c.answer);
    } else {
      EXPECT_NE(status, ZR_OK);
    }
    EXPECT_EQ(model.bus_firmware().image, file);
    EXPECT_EQ(transcript(), bus_transcript());
  }
}

// The connection goes while the image is still arriving: the update fails and the instrument
// has no image of it.
TEST_F(FakeTimeOverLoopback, BusFirmwareCutOffInsideItsRequestFails) {
  const Bytes file = testing::pattern_bytes(200000, 41);
  const std::string path = folder.write("cut.bin", file);
  const std::uint32_t images_before = model.bus_firmware().images;
  start("drop-in-payload 2 65536\n");  // request 1 is the open
  EXPECT_EQ(run(device_update_bus_firmware, path), ZR_BUS_ETH_NO_REPLY);
  EXPECT_EQ(model.bus_firmware().images, images_before);
  EXPECT_EQ(transcript(), bus_transcript());
}

TEST_F(FakeTimeOverLoopback, UnreadableImagesAreRefusedBeforeAnythingIsSent) {
  using Update = std::int32_t (*)(const char*, uint8_t, const ConnectionParams*);
  const std::string missing = folder.path("missing.bin");
  const std::string short_node = folder.write("short.bin", testing::pattern_bytes(16383, 41));
  struct Case {
    const char* name;
    Update update;
    std::string path;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"FPGA", device_update_fpga_firmware, missing,
       "Ready to update FPGA firmware, please wait...\n"},
      {"root MCU shorter than its skip", device_update_rootmcu_firmware, short_node,
       "Ready to update MCU firmware, please wait...\n"},
      {"bus firmware", device_update_bus_firmware, missing, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run(c.update, c.path), ZR_FW_IMAGE_UNREADABLE);
    EXPECT_EQ(transcript(), c.text);
    EXPECT_EQ(count(Opcode::kWrite) + count(Opcode::kQuery) + count(Opcode::kWriteData), 0u);
  }
}

}  // namespace
}  // namespace zr
