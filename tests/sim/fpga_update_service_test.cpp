// The remote-update service on packet sequences: its answers to the client's reads, the image it
// reassembles and the protocol errors it records.
#include "sim/fpga_update_service.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware/fpga_image.hpp"
#include "firmware/fpga_packet.hpp"

namespace zr::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Error = FpgaProtocolError;

Bytes bytes_of(const FpgaPacket& packet) { return Bytes(packet.begin(), packet.end()); }

Bytes payload(std::size_t n, std::uint8_t first) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(first + i);
  return out;
}

Bytes data_packet(const Bytes& bytes) { return bytes_of(fpga_data_packet(bytes)); }
Bytes commit(std::uint8_t n) { return bytes_of(fpga_commit_packet(n)); }
const Bytes kStart = bytes_of(fpga_start_packet());
const Bytes kFinish = bytes_of(fpga_finish_packet());

class FpgaServiceTest : public ::testing::Test {
 protected:
  void take(const Bytes& packet) { service.take(packet, now, config, faults); }
  std::optional<std::uint8_t> answer() { return service.answer(now, faults); }
  void started_and_erased() {
    take(kStart);
    ASSERT_EQ(answer(), kFpgaStartAck);
    ASSERT_EQ(answer(), kFpgaEraseDone);
  }

  FpgaUpdateService service;
  SteadyTime now{};
  FpgaServiceConfig config;
  FpgaFaults faults;
};

TEST_F(FpgaServiceTest, AnswersStartEraseAndEachCommitAndReassemblesTheImage) {
  config.erase_time = 200ms;
  EXPECT_EQ(answer(), std::nullopt) << "nothing to answer before a start";
  take(kStart);
  EXPECT_EQ(answer(), kFpgaStartAck);
  EXPECT_EQ(answer(), std::nullopt) << "still erasing";
  now += 199ms;
  EXPECT_EQ(answer(), std::nullopt);
  now += 1ms;
  EXPECT_EQ(answer(), kFpgaEraseDone);
  EXPECT_EQ(answer(), std::nullopt) << "0x55 comes once";

  const Bytes first = payload(kFpgaPayloadSize, 0x10);
  const Bytes last = payload(40, 0x80);
  take(data_packet(first));
  take(commit(kFpgaPayloadSize));
  EXPECT_EQ(answer(), kFpgaPayloadSize);
  EXPECT_EQ(answer(), std::nullopt) << "an echo comes once";
  take(data_packet(last));
  take(commit(40));
  EXPECT_EQ(answer(), 40);
  EXPECT_FALSE(service.record().finished);
  take(kFinish);

  const FpgaUpdateRecord& record = service.record();
  Bytes expected = first;
  expected.insert(expected.end(), last.begin(), last.end());
  EXPECT_EQ(record.image, expected);
  EXPECT_TRUE(record.finished);
  EXPECT_EQ(record.starts, 1u);
  EXPECT_EQ(record.data_packets, 2u);
  EXPECT_EQ(record.commits, 2u);
  EXPECT_EQ(record.echoes, 2u);
  EXPECT_TRUE(record.errors.empty());
}

TEST_F(FpgaServiceTest, ControlPacketAfterDataIsItsCommitEvenWhenItReadsAsStartOrFinish) {
  started_and_erased();
  for (std::uint8_t n : {kFpgaStartCode, kFpgaFinishCode}) {
    SCOPED_TRACE(int{n});
    take(data_packet(payload(n, n)));
    take(commit(n));
    EXPECT_EQ(answer(), n);
  }
  EXPECT_EQ(service.record().starts, 1u);
  EXPECT_FALSE(service.record().finished);
  EXPECT_EQ(service.record().commits, 2u);
  EXPECT_EQ(service.record().image.size(), 6u);
}

TEST_F(FpgaServiceTest, RecordsProtocolErrors) {
  Bytes zero_length = data_packet(payload(1, 0));
  zero_length[1] = 0;
  Bytes too_long = data_packet(payload(kFpgaPayloadSize, 0));
  too_long[1] = kFpgaPayloadSize + 1;
  Bytes dirty_data = data_packet(payload(10, 0));
  dirty_data[200] = 0x00;
  Bytes dirty_control = kFinish;
  dirty_control[255] = 0x12;
  Bytes wrong_tag = kStart;
  wrong_tag[1] = 0x02;
  const Bytes short_packet(kFpgaPacketSize - 1, kFpgaPad);
  struct Case {
    const char* name;
    bool start_first;
    std::vector<Bytes> packets;
    std::vector<Error> errors;
    std::size_t image_bytes;
  };
  const std::vector<Case> cases = {
      {"length 0", true, {zero_length, commit(0)}, {Error::kZeroLength}, 0},
      {"length 198", true, {too_long, commit(198)}, {Error::kLengthTooLong}, 0},
      {"data after data",
       true,
       {data_packet(payload(3, 0)), data_packet(payload(4, 0)), commit(4)},
       {Error::kMissingCommit},
       7},
      {"commit of another length",
       true,
       {data_packet(payload(5, 0)), commit(6)},
       {Error::kCommitMismatch},
       5},
      {"control code outside start and finish", true, {commit(7)}, {Error::kUnknownControl}, 0},
      {"control tag not 1", true, {wrong_tag}, {Error::kUnknownControl}, 0},
      {"data before any start", false, {data_packet(payload(3, 0)), commit(3)},
       {Error::kNotStarted}, 0},
      {"finish before any start", false, {kFinish}, {Error::kNotStarted}, 0},
      {"short packet", true, {short_packet}, {Error::kPacketSize}, 0},
      {"data padding not 0xFF", true, {dirty_data, commit(10)}, {Error::kPaddingNotFf}, 10},
      {"control padding not 0xFF", true, {dirty_control}, {Error::kPaddingNotFf}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FpgaUpdateService fresh;
    if (c.start_first) fresh.take(kStart, now, config, faults);
    for (const Bytes& packet : c.packets) fresh.take(packet, now, config, faults);
    EXPECT_EQ(fresh.record().errors, c.errors);
    EXPECT_EQ(fresh.record().error_count, c.errors.size());
    EXPECT_EQ(fresh.record().image.size(), c.image_bytes);
  }
}

TEST_F(FpgaServiceTest, KeepsAtMostOneFlashImage) {
  started_and_erased();
  const Bytes piece = payload(kFpgaPayloadSize, 0);
  const std::size_t fitting = kFlashImageSize / kFpgaPayloadSize;
  for (std::size_t i = 0; i <= fitting; ++i) {
    take(data_packet(piece));
    take(commit(kFpgaPayloadSize));
  }
  EXPECT_EQ(service.record().image.size(), fitting * kFpgaPayloadSize);
  EXPECT_EQ(service.record().errors, std::vector<Error>{Error::kImageOverflow});

  // A new start drops the old image and the counts of the old update.
  take(kStart);
  EXPECT_TRUE(service.record().image.empty());
  EXPECT_EQ(service.record().data_packets, 0u);
  EXPECT_EQ(service.record().starts, 2u);
  EXPECT_EQ(answer(), kFpgaStartAck);
}

TEST_F(FpgaServiceTest, FaultsLeaveOutTheirAnswers) {
  struct Case {
    const char* name;
    FpgaFaults faults;
    std::vector<std::optional<std::uint8_t>> answers;  // after the start, three commits of n 9
  };
  const std::vector<Case> cases = {
      {"no start acknowledgement", {.no_start_ack = true}, {std::nullopt, std::nullopt}},
      {"no erase completion", {.no_erase_done = true}, {kFpgaStartAck, std::nullopt}},
      {"first two commits unechoed",
       {.unechoed_commits = 2},
       {kFpgaStartAck, kFpgaEraseDone, std::nullopt, std::nullopt, 9}},
      {"no commit echoes",
       {.unechoed_commits = kAllCommits},
       {kFpgaStartAck, kFpgaEraseDone, std::nullopt, std::nullopt, std::nullopt}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FpgaUpdateService fresh;
    fresh.take(kStart, now, config, c.faults);
    std::vector<std::optional<std::uint8_t>> got;
    got.push_back(fresh.answer(now + 1h, c.faults));
    got.push_back(fresh.answer(now + 1h, c.faults));
    for (std::size_t i = 2; i < c.answers.size(); ++i) {
      fresh.take(data_packet(payload(9, 0)), now, config, c.faults);
      fresh.take(commit(9), now, config, c.faults);
      got.push_back(fresh.answer(now + 1h, c.faults));
    }
    EXPECT_EQ(got, c.answers);
  }
}

}  // namespace
}  // namespace zr::sim
