// The MCU update against a recording bus that plays the bootloader: the frames and their
// time-outs, the image reassembled from the data frames, the waits, the transcript and every
// failure with its status.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "device/frame_checksum.hpp"
#include "firmware/firmware_update.hpp"
#include "tests/firmware/firmware_test_support.hpp"

using namespace std::chrono_literals;

namespace zr {
namespace {

using testing::BusReply;
using testing::RecordingBus;
using Kind = RecordingBus::Kind;

constexpr std::uint8_t kRoot = 0xFC;
constexpr std::uint8_t kNode = 0xFD;
constexpr std::uint8_t kBegin = 0x31;
constexpr std::uint8_t kErase = 0x34;
constexpr std::uint8_t kData = 0x35;
constexpr std::uint8_t kFinish = 0x33;
constexpr std::int32_t kFail = ZR_BUS_ETH_NO_REPLY;

const std::string kReadyLine = "Ready to update MCU firmware, please wait...\n";
const std::string kEraseLine = "Erase flash, please wait...\n";
const std::string kErasedLine = "Flash erase complete...\n";

std::string field(std::size_t sent, std::size_t pieces) {
  char text[16];
  std::snprintf(text, sizeof text, "%6.2f%%",
                static_cast<double>(static_cast<float>(sent * 100) / static_cast<float>(pieces)));
  return text;
}

// From the erase line to the end of the progress line, after `shown` of `pieces` pieces.
std::string progress_text(std::size_t shown, std::size_t pieces) {
  std::string text = kEraseLine + kErasedLine + "Updating MCU Firmware...  0.00%";
  for (std::size_t i = 1; i <= shown; ++i) text += "\b\b\b\b\b\b\b" + field(i, pieces);
  return text;
}

struct BootloaderPlan {
  std::uint32_t mcu_version = 0x00010004;
  std::int32_t identity_status = ZR_OK;
  bool ack_begin = true;
  std::int32_t begin_status = ZR_OK;
  bool ack_erase = true;
  bool ack_data = true;
  std::int32_t data_status = ZR_OK;
  bool ack_finish = true;
  bool finish_silent = false;  // the finish exchange fails and moves nothing
  std::int32_t finish_status = ZR_OK;
};

class McuUpdateTest : public ::testing::Test, public testing::FirmwareFixture {
 protected:
  void serve(const BootloaderPlan& plan) {
    bus().query_handler = [plan](std::span<const std::uint8_t> frame) -> BusReply {
      if (frame[0] == 0x89) {
        std::vector<std::uint8_t> reply(128, 0);
        store_u32(reply.data() + 12, plan.mcu_version);
        return testing::reply_bytes(reply, plan.identity_status);
      }
      const auto answer = [](bool ack, std::int32_t status) {
        return testing::reply_bytes(ack ? std::vector<std::uint8_t>{0x06, 0, 0}
                                        : std::vector<std::uint8_t>{0x15, 0, 0},
                                    status);
      };
      switch (frame[1]) {
        case kBegin: return answer(plan.ack_begin, plan.begin_status);
        case kErase: return answer(plan.ack_erase, ZR_OK);
        case kData: return answer(plan.ack_data, plan.data_status);
        case kFinish:
          if (plan.finish_silent) return testing::silent_reply();
          return answer(plan.ack_finish, plan.finish_status);
        default: return testing::silent_reply();
      }
    };
    bus().default_read_reply = testing::silent_reply();
  }

  std::int32_t run(std::uint8_t target, const std::string& path) {
    return update_mcu_image(context(), target, path.c_str());
  }

  // Bootloader frames (not the identity query), in order.
  std::vector<RecordingBus::Call> frames(std::uint8_t command) const {
    std::vector<RecordingBus::Call> found;
    for (const auto& call : recording.bus->calls) {
      if (call.kind == Kind::Query && call.out[0] != 0x89 && call.out[1] == command) {
        found.push_back(call);
      }
    }
    return found;
  }

  std::vector<std::uint8_t> reassembled() const {
    std::vector<std::uint8_t> image;
    for (const auto& call : frames(kData)) {
      // The payload length is not on the wire; the test images hold no zero byte, so a
      // payload ends at the last non-zero byte.
      std::size_t end = 252;
      while (end > 4 && call.out[end - 1] == 0) --end;
      image.insert(image.end(), call.out.begin() + 4, call.out.begin() + end);
    }
    return image;
  }
};

// Pattern bytes without zeros, so that reassembled() finds each payload's end.
std::vector<std::uint8_t> nonzero_image(std::size_t count) {
  std::vector<std::uint8_t> bytes = testing::pattern_bytes(count, 7);
  for (auto& b : bytes) b = b == 0 ? 0x5A : b;
  return bytes;
}

void expect_sealed_frame(const RecordingBus::Call& call, std::uint8_t target,
                         std::uint8_t command, std::size_t payload) {
  ASSERT_EQ(call.out.size(), 256u);
  ASSERT_EQ(call.in_room, 128u);
  EXPECT_EQ(call.out[0], target);
  EXPECT_EQ(call.out[1], command);
  EXPECT_EQ(call.out[2], 0);
  EXPECT_EQ(call.out[3], 0);
  for (std::size_t b = 4 + payload; b < 252; ++b) ASSERT_EQ(call.out[b], 0) << "byte " << b;
  CommandFrame frame;
  std::copy(call.out.begin(), call.out.end(), frame.bytes.begin());
  EXPECT_EQ(load_u32(call.out.data() + 252), frame_checksum(frame));
}

// ---- Skips, pieces, time-outs and waits.

struct LayoutCase {
  const char* name;
  std::uint8_t target;
  std::uint32_t mcu_version;
  std::size_t file_size;
  std::size_t skip;
  std::vector<std::size_t> pieces;  // payload lengths expected; empty: computed full pieces
};
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class McuLayoutTest : public McuUpdateTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(McuLayoutTest, SendsTheFileAfterItsSkipInPiecesOf192) {
  const LayoutCase& c = GetParam();
  BootloaderPlan plan;
  plan.mcu_version = c.mcu_version;
  serve(plan);
  const std::vector<std::uint8_t> file = nonzero_image(c.file_size);
  ASSERT_EQ(run(c.target, folder.write("mcu.bin", file)), ZR_OK);

  // The whole conversation, in order: each exchange with its time-out, the 2000 ms transfer
  // time-out after the erase and after every piece.
  std::vector<std::pair<Kind, std::uint32_t>> expected;
  if (c.target == kNode) expected.push_back({Kind::Query, 1000});
  expected.push_back({Kind::Query, 4000});
  expected.push_back({Kind::Query, 30000});
  expected.push_back({Kind::SetTimeout, 2000});
  for (std::size_t i = 0; i < c.pieces.size(); ++i) {
    expected.push_back({Kind::Query, 5000});
    expected.push_back({Kind::SetTimeout, 2000});
  }
  expected.push_back({Kind::Query, 2000});
  std::vector<std::pair<Kind, std::uint32_t>> seen;
  for (const auto& call : bus().calls) seen.push_back({call.kind, call.timeout_ms});
  EXPECT_EQ(seen, expected);

  expect_sealed_frame(frames(kBegin).at(0), c.target, kBegin, 0);
  expect_sealed_frame(frames(kErase).at(0), c.target, kErase, 0);
  expect_sealed_frame(frames(kFinish).at(0), c.target, kFinish, 0);
  const auto data = frames(kData);
  ASSERT_EQ(data.size(), c.pieces.size());
  for (std::size_t i = 0; i < data.size(); ++i) {
    expect_sealed_frame(data[i], c.target, kData, c.pieces[i]);
  }
  EXPECT_EQ(reassembled(), std::vector<std::uint8_t>(file.begin() + static_cast<long>(c.skip),
                                                     file.end()));

  // 300 ms after the begin, 100 ms after the erase, 1 ms per piece, 3000 ms after the finish.
  EXPECT_EQ(clock.total_slept(), 3400ms + std::chrono::milliseconds(c.pieces.size()));
  EXPECT_EQ(clock.sleep_count(), 3 + c.pieces.size());
  EXPECT_EQ(transcript(), kReadyLine + progress_text(c.pieces.size(), c.pieces.size()) + "\n");
}

std::vector<std::size_t> full_pieces(std::size_t count, std::size_t last) {
  std::vector<std::size_t> pieces(count, 192);
  if (last != 0) pieces.push_back(last);
  return pieces;
}

INSTANTIATE_TEST_SUITE_P(
    McuImages, McuLayoutTest,
    ::testing::Values(
        LayoutCase{"RootShortLastPiece", kRoot, 0, 16384 + 1000, 16384, full_pieces(5, 40)},
        LayoutCase{"RootExactMultiple", kRoot, 0, 16384 + 3 * 192, 16384, full_pieces(3, 0)},
        // Begin, erase and finish still go out; the progress shows only its start.
        LayoutCase{"RootOnlyTheSkip", kRoot, 0, 16384, 16384, {}},
        LayoutCase{"RootIgnoresTheVersion", kRoot, 0x00020000, 16384 + 1000, 16384,
                   full_pieces(5, 40)},
        LayoutCase{"Node104", kNode, 0x00010004, 32768 + 1000, 16384, full_pieces(90, 104)},
        LayoutCase{"Node105", kNode, 0x00010005, 32768 + 1000, 32768, full_pieces(5, 40)},
        LayoutCase{"Node200", kNode, 0x00020000, 32768 + 192, 32768, full_pieces(1, 0)},
        // Compared unsigned: a version with the top bit set is above 1.0.5.
        LayoutCase{"NodeTopBitVersion", kNode, 0x80000000, 32768 + 40, 32768,
                   full_pieces(0, 40)}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The erase acknowledgement.

TEST_F(McuUpdateTest, UnacknowledgedEraseIsReadTenMoreTimesThenThePiecesGoOutAnyway) {
  BootloaderPlan plan;
  plan.ack_erase = false;
  serve(plan);
  ASSERT_EQ(run(kRoot, folder.write("root.bin", nonzero_image(16384 + 400))), ZR_OK);
  EXPECT_EQ(bus().count(Kind::Read), 10u);
  EXPECT_EQ(frames(kData).size(), 3u);
  for (const auto& call : bus().calls) {
    if (call.kind == Kind::Read) {
      EXPECT_EQ(call.in_room, 128u);
    }
  }
}

TEST_F(McuUpdateTest, LateEraseAcknowledgementEndsTheExtraReads) {
  BootloaderPlan plan;
  plan.ack_erase = false;
  serve(plan);
  bus().read_replies = {testing::silent_reply(), testing::silent_reply(),
                        testing::reply_bytes({0x06})};
  ASSERT_EQ(run(kRoot, folder.write("root.bin", nonzero_image(16384 + 400))), ZR_OK);
  EXPECT_EQ(bus().count(Kind::Read), 3u);
}

// ---- Refused before any bootloader frame is sent.

TEST_F(McuUpdateTest, UnreadableOrTooShortFilesAreRefusedBeforeTheBegin) {
  serve({});
  folder.write("folder/inside", {});
  for (const std::string& path : {folder.path("missing.bin"), folder.path("folder"),
                                  folder.write("short.bin", nonzero_image(16383))}) {
    console_text.str("");
    EXPECT_EQ(run(kRoot, path), ZR_FW_IMAGE_UNREADABLE) << path;
    EXPECT_EQ(transcript(), kReadyLine) << path;
  }
  EXPECT_EQ(update_mcu_image(context(), kRoot, nullptr), ZR_FW_IMAGE_UNREADABLE);
  EXPECT_TRUE(bus().calls.empty());
}

TEST_F(McuUpdateTest, NodeFileShorterThanTheLongSkipIsRefusedAfterOnlyTheQuery) {
  BootloaderPlan plan;
  plan.mcu_version = 0x00010005;
  serve(plan);
  EXPECT_EQ(run(kNode, folder.write("node.bin", nonzero_image(20000))), ZR_FW_IMAGE_UNREADABLE);
  ASSERT_EQ(bus().calls.size(), 1u);
  EXPECT_EQ(bus().calls[0].out[0], 0x89);
}

TEST_F(McuUpdateTest, NodeVersionQueryFailureEndsWithTransportFailureBeforeAnything) {
  BootloaderPlan plan;
  plan.identity_status = kFail;
  serve(plan);
  EXPECT_EQ(run(kNode, folder.write("node.bin", nonzero_image(40000))), ZR_TRANSPORT_FAILED);
  ASSERT_EQ(bus().calls.size(), 1u);
  EXPECT_EQ(bus().calls[0].out[0], 0x89);
  EXPECT_EQ(transcript(), "");
}

// ---- Failures after the begin.

struct FailureCase {
  const char* name;
  BootloaderPlan plan;
  std::vector<std::int32_t> set_timeout_statuses;
  std::int32_t status;
  std::string transcript;
  std::size_t data_frames;
  bool finish_sent;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class McuFailureTest : public McuUpdateTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(McuFailureTest, EndsWithItsStatus) {
  const FailureCase& c = GetParam();
  serve(c.plan);
  bus().set_timeout_statuses.assign(c.set_timeout_statuses.begin(), c.set_timeout_statuses.end());
  EXPECT_EQ(run(kRoot, folder.write("root.bin", nonzero_image(16384 + 400))), c.status);
  EXPECT_EQ(transcript(), c.transcript);
  EXPECT_EQ(frames(kData).size(), c.data_frames);
  EXPECT_EQ(frames(kFinish).size(), c.finish_sent ? 1u : 0u);
}

BootloaderPlan with(void (*change)(BootloaderPlan&)) {
  BootloaderPlan plan;
  change(plan);
  return plan;
}

const std::string kAllPieces = kReadyLine + progress_text(3, 3) + "\n";

INSTANTIATE_TEST_SUITE_P(
    McuPhases, McuFailureTest,
    ::testing::Values(
        FailureCase{"BeginNotAcknowledged", with([](BootloaderPlan& p) { p.ack_begin = false; }),
                    {}, ZR_FW_NOT_STARTED, kReadyLine, 0, false},
        // Unacknowledged but with a failed exchange: still "not started".
        FailureCase{"BeginNotAcknowledgedAndFailed", with([](BootloaderPlan& p) {
                      p.ack_begin = false;
                      p.begin_status = kFail;
                    }),
                    {}, ZR_FW_NOT_STARTED, kReadyLine, 0, false},
        FailureCase{"BeginAcknowledgedButFailed",
                    with([](BootloaderPlan& p) { p.begin_status = kFail; }), {},
                    ZR_TRANSPORT_FAILED, kReadyLine, 0, false},
        FailureCase{"TimeoutAfterEraseNotSet", {}, {kFail}, ZR_FW_NOT_STARTED,
                    kReadyLine + kEraseLine, 0, false},
        FailureCase{"TimeoutAfterSecondPieceNotSet", {}, {ZR_OK, ZR_OK, kFail},
                    ZR_TRANSPORT_FAILED, kReadyLine + progress_text(1, 3), 2, false},
        // Data pieces are never checked: neither a refusal nor a failed exchange stops them.
        FailureCase{"DataPiecesRefused", with([](BootloaderPlan& p) {
                      p.ack_data = false;
                      p.data_status = kFail;
                    }),
                    {}, ZR_OK, kAllPieces, 3, true},
        FailureCase{"FinishNotAcknowledged",
                    with([](BootloaderPlan& p) { p.ack_finish = false; }), {},
                    ZR_FW_FINISH_FAILED, kAllPieces, 3, true},
        // An earlier piece's acknowledgement must not count for the finish.
        FailureCase{"FinishUnanswered", with([](BootloaderPlan& p) { p.finish_silent = true; }),
                    {}, ZR_FW_FINISH_FAILED, kAllPieces, 3, true},
        FailureCase{"FinishAcknowledgedButFailed",
                    with([](BootloaderPlan& p) { p.finish_status = kFail; }), {},
                    ZR_TRANSPORT_FAILED, kAllPieces, 3, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(McuUpdateTest, FailedFinishSkipsTheFinalWait) {
  BootloaderPlan plan;
  plan.ack_finish = false;
  serve(plan);
  EXPECT_EQ(run(kRoot, folder.write("root.bin", nonzero_image(16384 + 400))),
            ZR_FW_FINISH_FAILED);
  EXPECT_EQ(clock.total_slept(), 403ms);
}

}  // namespace
}  // namespace zr
