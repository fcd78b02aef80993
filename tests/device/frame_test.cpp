// send_frame and query_frame against a recording bus: the exact bytes sent and the decoding.
#include <gtest/gtest.h>

#include <sstream>

#include "device/frame_checksum.hpp"
#include "device/opcodes.hpp"
#include "tests/calibration/cal_test_folder.hpp"
#include "tests/device/recording_bus.hpp"

namespace zr {
namespace {

using testing::BusReply;
using testing::RecordingBus;
using testing::RecordingContext;

std::vector<std::uint8_t> sealed_bytes(CommandFrame frame) {
  seal_frame(frame);
  return {frame.bytes.begin(), frame.bytes.end()};
}

class FrameTest : public ::testing::Test {
 protected:
  testing::CalTestFolder folder;
  RecordingContext rc;
  DeviceContext& context = rc.context;
  RecordingBus& bus = *rc.bus;
};

TEST_F(FrameTest, SendFrameWritesTheSealedFrame) {
  CommandFrame frame(kOpClose);
  EXPECT_EQ(context.send_frame(frame), ZR_OK);
  ASSERT_EQ(bus.calls.size(), 1u);
  EXPECT_EQ(bus.calls[0].kind, RecordingBus::Kind::Write);
  EXPECT_EQ(bus.calls[0].out_length, 256u);
  std::vector<std::uint8_t> expected(256, 0);
  expected[0] = 0x34;
  expected[252] = 0x20;
  expected[253] = 0x3A;
  expected[254] = 0x99;
  expected[255] = 0x97;
  EXPECT_EQ(bus.calls[0].out, expected);
}

TEST_F(FrameTest, SendFrameSendsTheClampedValueAndReports98) {
  folder.write_limits("[TX_FREQ_FIXED]\nmin=9000\nmax=6000000000\n");
  CommandFrame frame(kOpTxConfigFfm);
  set_frame_f64(frame, 16, 7e9);
  set_frame_f64(frame, 24, -10.0);
  EXPECT_EQ(context.send_frame(frame), ZR_CLAMPED);
  CommandFrame expected(kOpTxConfigFfm);
  set_frame_f64(expected, 16, 6e9);
  set_frame_f64(expected, 24, -10.0);
  ASSERT_EQ(bus.written().size(), 1u);
  EXPECT_EQ(bus.written()[0], sealed_bytes(expected));
  EXPECT_EQ(context.live_channel(0).ffm.frequency, 6e9);
}

TEST_F(FrameTest, FailedWriteIsATransportFailureButTheMirrorIsUpdated) {
  bus.default_write_status = ZR_BUS_USB_TRANSFER_FAILED;
  CommandFrame frame(kOpTxConfigFfm);
  set_frame_f64(frame, 16, 1e9);
  EXPECT_EQ(context.send_frame(frame), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(context.live_channel(0).ffm.frequency, 1e9);
}

TEST_F(FrameTest, NoBusIsATransportFailure) {
  context.bus.reset();
  CommandFrame frame(kOpClose);
  EXPECT_EQ(context.send_frame(frame), ZR_TRANSPORT_FAILED);
  DeviceStatus status;
  EXPECT_EQ(context.query_frame(kOpQueryTemperature, status), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(status.opcode, kOpQueryTemperature);
}

TEST_F(FrameTest, QuerySendsAnEmptySealedFrameWithTheFixedLengthsAndTimeout) {
  DeviceStatus status;
  EXPECT_EQ(context.query_frame(kOpQueryTemperature, status), ZR_OK);
  ASSERT_EQ(bus.calls.size(), 1u);
  const auto& call = bus.calls[0];
  EXPECT_EQ(call.kind, RecordingBus::Kind::Query);
  EXPECT_EQ(call.out, sealed_bytes(CommandFrame(kOpQueryTemperature)));
  EXPECT_EQ(call.out_length, 256u);
  EXPECT_EQ(call.in_room, 128u);
  EXPECT_EQ(call.timeout_ms, 1000u);
}

// Every field, so a test sees which one is wrong.
std::string describe(const DeviceStatus& s) {
  std::ostringstream out;
  out << "opcode=" << +s.opcode << " model=" << s.model << " uid_low=" << s.uid_low
      << " uid_high=" << s.uid_high << " info=" << s.info_word << " mcu=" << s.mcu_version
      << " fpga=" << s.fpga_version << " aux=" << s.aux1 << "," << s.aux2 << "," << s.aux3
      << " supply=";
  for (auto b : s.supply) out << +b << ".";
  out << " temp=" << s.temperature_raw << " fix=" << +s.gnss_fix << " b=" << +s.gnss_b1 << ","
      << +s.gnss_b2 << "," << +s.gnss_b3 << "," << +s.gnss_b4 << " v=" << s.gnss_value1 << ","
      << s.gnss_value2 << "," << s.gnss_value3 << " epoch=" << s.gnss_epoch_ns
      << " clock=" << +s.clock_source << "," << s.clock_frequency << "," << +s.clock_output
      << " monitor=" << s.monitor_edges << "," << s.monitor_count << " datetime=" << s.gnss_datetime
      << " counter=" << s.gnss_counter << " ready=" << +s.iq_cal_loaded << "," << +s.mcu_ready
      << "," << +s.rf_cal_loaded;
  return out.str();
}

struct DecodeCase {
  const char* name;
  std::uint8_t opcode;
  std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> reply;  // offset, bytes
  DeviceStatus expected;
};

std::vector<std::uint8_t> le(std::uint64_t value, int width) {
  std::vector<std::uint8_t> out;
  for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return out;
}

DeviceStatus expect(std::uint8_t opcode, const std::function<void(DeviceStatus&)>& fill) {
  DeviceStatus s;
  s.opcode = opcode;
  fill(s);
  return s;
}

std::vector<DecodeCase> decode_cases() {
  return {
      {"ready_flags",
       kOpQueryReady,
       {{0, {1, 1, 0, 9}}},
       expect(kOpQueryReady,
              [](DeviceStatus& s) {
                s.iq_cal_loaded = 1;
                s.mcu_ready = 1;
              })},
      {"identity",
       kOpQueryIdentity,
       {{0, le(0x1122334455667788u, 8)},
        {8, le(132, 2)},
        {10, le(0xBEEF, 2)},
        {12, le(0x00010203, 4)},
        {16, le(0x00020012, 4)},
        {50, le(11, 4)},
        {54, le(22, 4)},
        {58, le(33, 4)},
        {76, le(0xCAFEF00D, 4)}},
       expect(kOpQueryIdentity,
              [](DeviceStatus& s) {
                s.uid_low = 0x1122334455667788u;
                s.model = 132;
                s.info_word = 0xBEEF;
                s.mcu_version = 0x00010203;
                s.fpga_version = 0x00020012;
                s.aux1 = 11;
                s.aux2 = 22;
                s.aux3 = 33;
                s.uid_high = 0xCAFEF00D;
              })},
      {"temperature_negative",
       kOpQueryTemperature,
       {{0, le(static_cast<std::uint16_t>(-1234), 2)}},
       expect(kOpQueryTemperature, [](DeviceStatus& s) { s.temperature_raw = -1234; })},
      {"gnss",
       kOpQueryGnss,
       {{0, le(std::bit_cast<std::uint32_t>(1.5f), 4)},
        {4, le(std::bit_cast<std::uint32_t>(-2.25f), 4)},
        {34, {0x07}},
        {36, le(513, 2)},
        {42, {1, 3, 4, 2}},
        {64, le((std::uint64_t{10124} << 32) | 120000u, 8)},
        {72, le(5, 4)}},
       expect(kOpQueryGnss,
              [](DeviceStatus& s) {
                s.gnss_value1 = 1.5f;
                s.gnss_value2 = -2.25f;
                s.gnss_fix = 3;
                s.gnss_value3 = 513.0f;
                s.gnss_b1 = 1;
                s.gnss_b3 = 3;
                s.gnss_b4 = 4;
                s.gnss_b2 = 2;
                s.gnss_datetime = (std::uint64_t{10124} << 32) | 120000u;
                s.gnss_counter = 5;
                s.gnss_epoch_ns = 1'704'110'401'000'000'050u;
              })},
      {"clock_monitor",
       kOpQueryClockMonitor,
       {{0, le(0x0102030405060708u, 8)}, {8, le(777, 2)}},
       expect(kOpQueryClockMonitor,
              [](DeviceStatus& s) {
                s.monitor_count = 0x0102030405060708u;
                s.monitor_edges = 777;
              })},
      {"supply",
       kOpQuerySupply,
       {{0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}}, {16, {99}}},
       expect(kOpQuerySupply,
              [](DeviceStatus& s) {
                s.supply = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
              })},
      {"clock",
       kOpQueryClock,
       {{0, {2, 0xEE}}, {2, le(std::bit_cast<std::uint64_t>(1e7), 8)}, {10, {1}}},
       expect(kOpQueryClock,
              [](DeviceStatus& s) {
                s.clock_source = 2;
                s.clock_frequency = 1e7;
                s.clock_output = 1;
              })},
      {"other_opcode_ignores_the_reply",
       kOpClose,
       {{0, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}}},
       expect(kOpClose, [](DeviceStatus&) {})},
  };
}

TEST_F(FrameTest, QueryDecodesOnlyTheFieldsOfItsOpcode) {
  for (const DecodeCase& c : decode_cases()) {
    SCOPED_TRACE(c.name);
    BusReply reply;
    reply.bytes.assign(128, 0);
    for (const auto& [offset, bytes] : c.reply) {
      std::copy(bytes.begin(), bytes.end(),
                reply.bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    bus.query_replies.push_back(reply);
    DeviceStatus status;
    EXPECT_EQ(context.query_frame(c.opcode, status), ZR_OK);
    EXPECT_EQ(describe(status), describe(c.expected));
  }
}

TEST_F(FrameTest, IdentityQueryCopiesTheIdentityIntoTheContext) {
  BusReply reply;
  reply.bytes.assign(128, 0);
  reply.bytes[0] = 0x3c;
  reply.bytes[8] = 7;
  reply.bytes[12] = 0x05;
  reply.bytes[76] = 0x44;
  bus.query_replies.push_back(reply);
  DeviceStatus status;
  ASSERT_EQ(context.query_frame(kOpQueryIdentity, status), ZR_OK);
  EXPECT_EQ(context.identity.model, 7);
  EXPECT_EQ(context.identity.uid_low, 0x3cu);
  EXPECT_EQ(context.identity.mcu_version, 5u);
  EXPECT_EQ(context.identity.uid_high, 0x44u);
}

TEST_F(FrameTest, FailedQueryLeavesOnlyTheOpcodeSet) {
  for (std::uint8_t opcode : {kOpQueryReady, kOpQueryIdentity, kOpQueryGnss, kOpQueryClock}) {
    SCOPED_TRACE(+opcode);
    BusReply reply{ZR_BUS_ETH_NO_REPLY, std::vector<std::uint8_t>(128, 0xFF), -1};
    bus.query_replies.push_back(reply);
    DeviceStatus status;
    EXPECT_EQ(context.query_frame(opcode, status), ZR_TRANSPORT_FAILED);
    DeviceStatus expected;
    expected.opcode = opcode;
    EXPECT_EQ(describe(status), describe(expected));
  }
  EXPECT_EQ(context.identity.model, 0);
  EXPECT_EQ(context.identity.uid_low, 0u);
}

}  // namespace
}  // namespace zr
