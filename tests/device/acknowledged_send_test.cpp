// Acknowledged and chunked sends on a fake clock: attempts, windows, back-off and the chunk layout.
#include <gtest/gtest.h>

#include <sstream>

#include "device/device_text.hpp"
#include "device/frame_checksum.hpp"
#include "device/opcodes.hpp"
#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "tests/calibration/cal_test_folder.hpp"
#include "tests/device/recording_bus.hpp"

using namespace std::chrono_literals;

namespace zr {
namespace {

using testing::BusReply;
using testing::RecordingBus;

BusReply ready_reply(std::uint8_t mcu_ready) {
  BusReply reply;
  reply.bytes = {1, mcu_ready, 1};
  return reply;
}

const std::string kNotRespondingLine = std::string(kMcuNotResponding) + "\n";

class AcknowledgedSendTest : public ::testing::Test {
 protected:
  AcknowledgedSendTest() : installed_clock(clock), installed_console(console_text) {
    bus.default_query_reply = ready_reply(0);
  }

  // Answers mcu_ready 1 on the nth poll after each write (1 = the first poll).
  void ready_after_polls(int n) {
    bus.query_handler = [this, n](std::span<const std::uint8_t>) {
      int polls_since_write = 0;
      for (auto it = bus.calls.rbegin(); it != bus.calls.rend(); ++it) {
        if (it->kind == RecordingBus::Kind::Write) break;
        ++polls_since_write;
      }
      return ready_reply(polls_since_write >= n ? 1 : 0);
    };
  }

  FakeClock clock{10ms};  // every reading moves on, so the polling loop meets its window
  ScopedClock installed_clock;
  std::ostringstream console_text;
  ScopedConsole installed_console;
  testing::CalTestFolder folder;
  testing::RecordingContext rc;
  DeviceContext& context = rc.context;
  RecordingBus& bus = *rc.bus;
};

TEST_F(AcknowledgedSendTest, WritesTheSealedFrameThenPollsUntilReady) {
  ready_after_polls(3);
  CommandFrame frame(kOpCalRfHeader);
  set_frame_u32(frame, 8, 0x01020304);
  EXPECT_EQ(context.send_acknowledged(frame), ZR_OK);

  CommandFrame expected(kOpCalRfHeader);
  set_frame_u32(expected, 8, 0x01020304);
  seal_frame(expected);
  CommandFrame ready_query(kOpQueryReady);
  seal_frame(ready_query);
  ASSERT_EQ(bus.calls.size(), 4u);
  EXPECT_EQ(bus.calls[0].kind, RecordingBus::Kind::Write);
  EXPECT_EQ(bus.calls[0].out,
            std::vector<std::uint8_t>(expected.bytes.begin(), expected.bytes.end()));
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(bus.calls[i].kind, RecordingBus::Kind::Query);
    EXPECT_EQ(bus.calls[i].out,
              std::vector<std::uint8_t>(ready_query.bytes.begin(), ready_query.bytes.end()));
  }
  EXPECT_EQ(clock.sleep_count(), 0u);  // polling does not pause
  EXPECT_EQ(console_text.str(), "");
}

TEST_F(AcknowledgedSendTest, NoAcknowledgementGivesUpAfterElevenOneSecondWindows) {
  CommandFrame frame(kOpCalIqHeader);
  EXPECT_EQ(context.send_acknowledged(frame), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(bus.count(RecordingBus::Kind::Write), 11u);
  // Each window lasts 1 s of clock time, read in 10 ms steps.
  EXPECT_GE(clock.elapsed(), 11s);
  EXPECT_LT(clock.elapsed(), 11s + 11 * 50ms);
  EXPECT_EQ(clock.sleep_count(), 0u);
  EXPECT_EQ(console_text.str(), "");
}

TEST_F(AcknowledgedSendTest, FailedPollBacksOffPrintsAndWritesAgain) {
  bus.query_replies.push_back({ZR_BUS_ETH_NO_REPLY, {}, -1});
  bus.query_replies.push_back(ready_reply(1));
  CommandFrame frame(kOpCalIqHeader);
  EXPECT_EQ(context.send_acknowledged(frame), ZR_OK);
  EXPECT_EQ(bus.count(RecordingBus::Kind::Write), 2u);
  EXPECT_EQ(clock.sleep_count(), 1u);
  EXPECT_EQ(clock.total_slept(), 5ms);
  EXPECT_EQ(console_text.str(), kNotRespondingLine);
  // UTF-8 on the console.
  EXPECT_EQ(
      kNotRespondingLine,
      "MCU\xe6\x9c\xaa\xe5\x93\x8d\xe5\xba\x94\xef\xbc\x8c\xe7\xad\x89\xe5\xbe\x85\xe4\xb8\xad\n");
}

TEST_F(AcknowledgedSendTest, EveryPollFailingEndsAfterElevenAttempts) {
  bus.default_query_reply = {ZR_BUS_ETH_NO_REPLY, {}, -1};
  CommandFrame frame(kOpCalIqHeader);
  EXPECT_EQ(context.send_acknowledged(frame), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(bus.count(RecordingBus::Kind::Write), 11u);
  EXPECT_EQ(bus.count(RecordingBus::Kind::Query), 11u);
  EXPECT_EQ(clock.total_slept(), 11 * 5ms);
  std::string expected;
  for (int i = 0; i < 11; ++i) expected += kNotRespondingLine;
  EXPECT_EQ(console_text.str(), expected);
}

TEST_F(AcknowledgedSendTest, FailedWriteEndsAtOnce) {
  bus.default_write_status = ZR_BUS_USB_TRANSFER_FAILED;
  CommandFrame frame(kOpCalIqHeader);
  EXPECT_EQ(context.send_acknowledged(frame), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(bus.calls.size(), 1u);
}

TEST_F(AcknowledgedSendTest, ClampInsideACalibrationTransferFailsBeforeAnythingIsSent) {
  folder.write_limits("[TX_FREQ_FIXED]\nmin=9000\nmax=6000000000\n");
  CommandFrame frame(kOpTxConfigFfm);
  set_frame_f64(frame, 16, 7e9);
  EXPECT_EQ(context.send_acknowledged(frame), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(bus.count(RecordingBus::Kind::Query), 0u);
  EXPECT_EQ(bus.count(RecordingBus::Kind::Write), 0u);
}

std::vector<std::uint8_t> pattern(std::size_t length) {
  std::vector<std::uint8_t> data(length);
  for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return data;
}

TEST_F(AcknowledgedSendTest, ChunksCarrySequenceAndZeroPaddedPayload) {
  ready_after_polls(1);
  for (std::size_t length : {0u, 1u, 237u, 238u, 239u, 476u, 477u, 3128u}) {
    SCOPED_TRACE(length);
    bus.calls.clear();
    const std::vector<std::uint8_t> data = pattern(length);
    CommandFrame frame(kOpCalStrategyTable);
    set_frame_u8(frame, 1, 0x77);  // header bytes outside the chunk fields stay
    set_frame_u32(frame, 248, 0x11223344);
    set_frame_u16(frame, 10, 0xFFFF);  // stale payload is cleared
    ASSERT_EQ(context.send_chunked(frame, data), ZR_OK);

    const std::size_t chunks = (length + 237) / 238;
    const auto written = bus.written();
    ASSERT_EQ(written.size(), chunks);
    for (std::size_t k = 0; k < chunks; ++k) {
      CommandFrame expected(kOpCalStrategyTable);
      set_frame_u8(expected, 1, 0x77);
      set_frame_u32(expected, 248, 0x11223344);
      set_frame_u16(expected, 8, static_cast<std::uint16_t>(k));
      for (std::size_t i = 0; i < 238 && k * 238 + i < length; ++i) {
        expected.bytes[10 + i] = data[k * 238 + i];
      }
      seal_frame(expected);
      EXPECT_EQ(written[k], std::vector<std::uint8_t>(expected.bytes.begin(), expected.bytes.end()))
          << "chunk " << k;
    }
  }
}

TEST_F(AcknowledgedSendTest, ChunkNotAcknowledgedStopsTheTransfer) {
  // The first chunk is confirmed at once, the second never.
  bus.query_handler = [this](std::span<const std::uint8_t>) {
    return ready_reply(bus.count(RecordingBus::Kind::Write) == 1 ? 1 : 0);
  };
  CommandFrame frame(kOpCalRfData);
  EXPECT_EQ(context.send_chunked(frame, pattern(238 * 3)), ZR_TRANSPORT_FAILED);
  const auto written = bus.written();
  ASSERT_EQ(written.size(), 1u + 11u);
  for (std::size_t i = 1; i < written.size(); ++i) EXPECT_EQ(written[i][8], 1) << i;
}

TEST_F(AcknowledgedSendTest, MoreChunksThanTheSequenceFieldCountsAreRefused) {
  const std::vector<std::uint8_t> data(65536u * 238u + 1u, 0);
  CommandFrame frame(kOpCalRfData);
  EXPECT_EQ(context.send_chunked(frame, data), ZR_TRANSPORT_FAILED);
  EXPECT_TRUE(bus.calls.empty());
}

}  // namespace
}  // namespace zr
