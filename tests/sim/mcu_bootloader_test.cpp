// The MCU bootloaders on frame sequences: acknowledgements, the reassembled image, the withheld
// erase acknowledgement and the protocol errors.
#include "sim/mcu_bootloader.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

#include "device/opcodes.hpp"
#include "firmware/mcu_frame.hpp"

namespace zr::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Error = McuProtocolError;

Bytes frame(std::uint8_t command, std::span<const std::uint8_t> payload = {},
            std::uint8_t target = kMcuRoot) {
  const CommandFrame f = mcu_frame(target, command, payload);
  return Bytes(f.bytes.begin(), f.bytes.end());
}

Bytes payload(std::size_t n, std::uint8_t first) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(first + 3 * i);
  return out;
}

TEST(McuBootloader, AcknowledgesEveryCommandAndKeepsWholePieces) {
  McuBootloader mcu(kMcuNode);
  const McuFaults none;
  const Bytes first = payload(kMcuPieceSize, 1);
  const Bytes last = payload(40, 7);
  EXPECT_TRUE(mcu.take(frame(kMcuBegin, {}, kMcuNode), none));
  EXPECT_TRUE(mcu.take(frame(kMcuErase, {}, kMcuNode), none));
  EXPECT_TRUE(mcu.take(frame(kMcuData, first, kMcuNode), none));
  EXPECT_TRUE(mcu.take(frame(kMcuData, last, kMcuNode), none));
  EXPECT_TRUE(mcu.take(frame(kMcuFinish, {}, kMcuNode), none));
  EXPECT_FALSE(mcu.take_read(none)) << "nothing withheld";

  const McuUpdateRecord& record = mcu.record();
  Bytes expected = first;
  expected.insert(expected.end(), last.begin(), last.end());
  expected.resize(2 * kMcuPieceSize, 0);  // the short piece arrives zero-padded
  EXPECT_EQ(record.image, expected);
  EXPECT_EQ(record.commands, (Bytes{kMcuBegin, kMcuErase, kMcuData, kMcuData, kMcuFinish}));
  EXPECT_EQ(record.data_frames, 2u);
  EXPECT_TRUE(record.erased);
  EXPECT_TRUE(record.finished);
  EXPECT_TRUE(record.errors.empty());

  // A new begin starts a new image.
  EXPECT_TRUE(mcu.take(frame(kMcuBegin, {}, kMcuNode), none));
  EXPECT_TRUE(mcu.record().image.empty());
  EXPECT_EQ(mcu.record().begins, 2u);
  EXPECT_FALSE(mcu.record().finished);
}

TEST(McuBootloader, FaultsLeaveOutAcknowledgements) {
  struct Case {
    const char* name;
    McuFaults faults;
    std::vector<bool> acks;  // begin, erase, data, finish
    std::vector<bool> reads;  // take_read between the erase and the data
  };
  const std::vector<Case> cases = {
      {"begin", {.no_begin_ack = true}, {false, true, true, true}, {}},
      {"erase, never late", {.no_erase_ack = true}, {true, false, true, true}, {false, false}},
      {"data", {.no_data_ack = true}, {true, true, false, true}, {}},
      {"finish", {.no_finish_ack = true}, {true, true, true, false}, {}},
      {"erase acknowledged by the third read",
       {.late_erase_ack_read = 3},
       {true, false, true, true},
       {false, false, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    McuBootloader mcu(kMcuRoot);
    std::vector<bool> acks;
    acks.push_back(mcu.take(frame(kMcuBegin), c.faults));
    acks.push_back(mcu.take(frame(kMcuErase), c.faults));
    std::vector<bool> reads;
    for (std::size_t i = 0; i < c.reads.size(); ++i) reads.push_back(mcu.take_read(c.faults));
    acks.push_back(mcu.take(frame(kMcuData, payload(5, 0)), c.faults));
    acks.push_back(mcu.take(frame(kMcuFinish), c.faults));
    EXPECT_EQ(acks, c.acks);
    EXPECT_EQ(reads, c.reads);
    EXPECT_EQ(mcu.record().image.size(), kMcuPieceSize) << "an unacknowledged piece still counts";
  }
}

TEST(McuBootloader, RecordsProtocolErrors) {
  Bytes reserved = frame(kMcuBegin);
  reserved[2] = 1;
  Bytes tail = frame(kMcuData, payload(4, 0));
  tail[kMcuPayloadOffset + kMcuPieceSize] = 1;
  struct Case {
    const char* name;
    std::vector<Bytes> frames;
    std::vector<Error> errors;
    std::vector<bool> acks;
  };
  const std::vector<Case> cases = {
      {"data before begin", {frame(kMcuData, payload(3, 0))}, {Error::kNotBegun}, {true}},
      {"erase before begin", {frame(kMcuErase)}, {Error::kNotBegun}, {true}},
      {"data before erase",
       {frame(kMcuBegin), frame(kMcuData, payload(3, 0))},
       {Error::kNotErased},
       {true, true}},
      {"data after finish",
       {frame(kMcuBegin), frame(kMcuErase), frame(kMcuFinish), frame(kMcuData, payload(3, 0))},
       {Error::kNotBegun},
       {true, true, true, true}},
      {"unknown command", {frame(0x32)}, {Error::kUnknownCommand}, {false}},
      {"bytes 2 and 3 not zero", {reserved}, {Error::kReservedNotZero}, {true}},
      {"bytes after the payload area not zero",
       {frame(kMcuBegin), frame(kMcuErase), tail},
       {Error::kReservedNotZero},
       {true, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    McuBootloader mcu(kMcuRoot);
    std::vector<bool> acks;
    for (const Bytes& f : c.frames) acks.push_back(mcu.take(f, McuFaults{}));
    EXPECT_EQ(mcu.record().errors, c.errors);
    EXPECT_EQ(acks, c.acks);
  }
}

}  // namespace
}  // namespace zr::sim
