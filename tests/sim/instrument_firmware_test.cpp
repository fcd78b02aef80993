// How the model routes firmware traffic: remote-update packets on the write path with their
// answers on the read path, bootloader frames on the query path (checksum verified), and the
// data request split into identity record and bus firmware.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <vector>

#include "device/frame_checksum.hpp"
#include "device/opcodes.hpp"
#include "firmware/fpga_packet.hpp"
#include "firmware/mcu_frame.hpp"
#include "platform/clock.hpp"
#include "sim/instrument_model.hpp"

namespace zr::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const FpgaPacket& packet) { return Bytes(packet.begin(), packet.end()); }
Bytes bytes_of(const CommandFrame& frame) { return Bytes(frame.bytes.begin(), frame.bytes.end()); }

Bytes read(InstrumentModel& model, std::uint32_t room) {
  Bytes out;
  EXPECT_EQ(model.read(room, out), kModelOk);
  return out;
}

class InstrumentFirmware : public ::testing::Test {
 protected:
  InstrumentFirmware() {
    model.set_clock(clock);
    model.set_log(log);
  }
  void set_faults(const FirmwareFaults& firmware) {
    InstrumentFaults faults;
    faults.firmware = firmware;
    model.set_faults(faults);
  }

  FakeClock clock;
  std::ostringstream log;
  InstrumentModel model;
};

TEST_F(InstrumentFirmware, RemoteUpdateAnswersComeOneByteAPieceAfterQueuedData) {
  ModelConfig config = model.config();
  config.fpga.erase_time = 50ms;
  model.set_config(config);

  EXPECT_EQ(model.write(bytes_of(fpga_start_packet())), kModelOk);
  model.queue_read_data({0xAA});
  EXPECT_EQ(read(model, 1), Bytes{0xAA}) << "queued bytes come first";
  EXPECT_EQ(read(model, 0), Bytes{}) << "no room, nothing taken";
  EXPECT_EQ(read(model, 128), Bytes{kFpgaStartAck}) << "one byte whatever the room";
  EXPECT_EQ(read(model, 1), Bytes{});
  clock.advance(50ms);
  EXPECT_EQ(read(model, 1), Bytes{kFpgaEraseDone});
  const Bytes piece(100, 0x3C);
  model.write(bytes_of(fpga_data_packet(piece)));
  model.write(bytes_of(fpga_commit_packet(100)));
  EXPECT_EQ(read(model, 1), Bytes{100});
  model.write(bytes_of(fpga_finish_packet()));

  const FpgaUpdateRecord record = model.fpga_update();
  EXPECT_TRUE(record.finished);
  EXPECT_EQ(record.image, piece);
  EXPECT_EQ(model.counters().bad_checksums, 0u) << "packets are not command frames";
}

TEST_F(InstrumentFirmware, BootloaderFramesAreAnsweredOnTheQueryPathWhenTheirChecksumHolds) {
  struct Case {
    const char* name;
    std::uint8_t target;
    bool corrupt;
    std::uint32_t room;
    Bytes reply_head;  // the reply is min(room, 128) bytes, zero after this
  };
  const std::vector<Case> cases = {
      {"root", kMcuRoot, false, 128, {kMcuAck}},
      {"node", kMcuNode, false, 128, {kMcuAck}},
      {"room cuts the reply", kMcuNode, false, 16, {kMcuAck}},
      {"no room", kMcuRoot, false, 0, {}},
      {"bad checksum: not acknowledged", kMcuRoot, true, 128, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InstrumentModel fresh;
    fresh.set_log(log);
    Bytes frame = bytes_of(mcu_frame(c.target, kMcuBegin));
    if (c.corrupt) frame[kChecksumOffset] ^= 1;
    Bytes reply;
    EXPECT_EQ(fresh.query(frame, c.room, 4000, reply), kModelOk);
    Bytes expected = c.reply_head;
    expected.resize(std::min<std::size_t>(c.room, kReplySize), 0);
    EXPECT_EQ(reply, expected);
    EXPECT_EQ(fresh.mcu_update(c.target).begins, c.corrupt ? 0u : 1u);
    EXPECT_EQ(fresh.counters().bad_checksums, c.corrupt ? 1u : 0u);
  }
}

TEST_F(InstrumentFirmware, WithheldEraseAcknowledgementArrivesAsAWholeReplyOnTheRead) {
  set_faults({.fpga = {}, .mcu = {.late_erase_ack_read = 2}});
  Bytes reply;
  model.query(bytes_of(mcu_frame(kMcuRoot, kMcuBegin)), 128, 4000, reply);
  reply.clear();
  model.query(bytes_of(mcu_frame(kMcuRoot, kMcuErase)), 128, 30000, reply);
  EXPECT_EQ(reply, Bytes(128, 0));
  EXPECT_EQ(read(model, 128), Bytes{});
  Bytes ack(128, 0);
  ack[0] = kMcuAck;
  EXPECT_EQ(read(model, 128), ack);
  EXPECT_EQ(read(model, 128), Bytes{});
}

TEST_F(InstrumentFirmware, DataRequestsSplitIntoIdentityAndFirmwareByLength) {
  ModelConfig config = model.config();
  config.bus_firmware = {.duration = 1500ms, .status = -305};
  const std::uint32_t reported = config.bus_info.firmware_version;
  model.set_config(config);

  const Bytes identity(100, 0x11);
  const Bytes longest_identity(kMaxIdentityRecord, 0x22);
  const Bytes image(kMaxIdentityRecord + 1, 0x33);
  EXPECT_EQ(model.write_data(identity), kModelOk);
  EXPECT_EQ(model.write_data(longest_identity), kModelOk);
  EXPECT_EQ(clock.total_slept(), 0ns) << "identity records are answered at once";
  EXPECT_EQ(model.write_data(image), -305);
  EXPECT_EQ(clock.total_slept(), 1500ms);

  const BusFirmwareRecord record = model.bus_firmware();
  EXPECT_EQ(record.identity_writes, 2u);
  EXPECT_EQ(record.identity, longest_identity);
  EXPECT_EQ(record.images, 1u);
  EXPECT_EQ(record.image, image);
  EXPECT_EQ(model.data_writes().size(), 3u) << "every data request is still recorded";
  std::uint32_t kind = 0, bandwidth = 0, version = 0;
  model.read_bus_info(kind, bandwidth, version);
  EXPECT_EQ(version, reported) << "the reported version is configuration, not the image";
}

}  // namespace
}  // namespace zr::sim
