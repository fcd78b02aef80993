// The MCU update through its bootloader: begin, erase, the image in 192-byte pieces, finish.
#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <ostream>
#include <span>
#include <vector>

#include "device/device_status.hpp"
#include "device/opcodes.hpp"
#include "firmware/firmware_text.hpp"
#include "firmware/firmware_update.hpp"
#include "firmware/image_file.hpp"
#include "firmware/mcu_frame.hpp"
#include "firmware/progress_text.hpp"
#include "platform/clock.hpp"
#include "platform/console.hpp"

namespace zr {
namespace {

using std::chrono::milliseconds;

constexpr std::uint64_t kShortSkip = 0x4000;
constexpr std::uint64_t kLongSkip = 0x8000;
constexpr std::uint32_t kLongSkipFromVersion = 0x10005;  // node MCU 1.0.5
// Far above any MCU's flash; keeps a wrong file from becoming a huge buffer.
constexpr std::size_t kMaxMcuImageSize = 16u * 1024u * 1024u;

constexpr std::uint32_t kBeginTimeoutMs = 4000;
constexpr std::uint32_t kEraseTimeoutMs = 30000;
constexpr std::uint32_t kDataTimeoutMs = 5000;
constexpr std::uint32_t kFinishTimeoutMs = 2000;
constexpr std::uint32_t kTransferTimeoutMs = 2000;
constexpr int kEraseAckReads = 10;

constexpr milliseconds kAfterBegin{300};
constexpr milliseconds kAfterErase{100};
constexpr milliseconds kAfterPiece{1};
constexpr milliseconds kAfterFinish{3000};

using Reply = std::array<std::uint8_t, kReplySize>;

// One bootloader exchange; the reply is zero where the bus wrote nothing.
std::int32_t exchange(abus& bus, const CommandFrame& frame, std::uint32_t timeout_ms,
                      Reply& reply) {
  reply.fill(0);
  std::uint32_t out_length = kFrameSize;
  std::uint32_t in_length = kReplySize;
  return bus.query(frame.data(), &out_length, reply.data(), &in_length, timeout_ms);
}

bool acknowledged(const Reply& reply) { return reply[0] == kMcuAck; }

// The skip by target, or nullopt when the node MCU's version cannot be read: guessing could
// flash the wrong part of the file.
std::optional<std::uint64_t> leading_skip(DeviceContext& context, std::uint8_t target) {
  if (target != kMcuNode) return kShortSkip;
  DeviceStatus status;
  if (context.query_frame(kOpQueryIdentity, status) != ZR_OK) return std::nullopt;
  return status.mcu_version < kLongSkipFromVersion ? kShortSkip : kLongSkip;
}

float piece_progress(std::size_t sent, std::size_t pieces) {
  return static_cast<float>(sent * 100) / static_cast<float>(pieces);
}

}  // namespace

std::int32_t update_mcu_image(DeviceContext& context, std::uint8_t target, const char* path) {
  if (!context.bus) return ZR_NO_BUS;
  abus& bus = *context.bus;

  const std::optional<std::uint64_t> skip = leading_skip(context, target);
  if (!skip) return ZR_TRANSPORT_FAILED;

  std::ostream& out = console();
  out << kMcuReadyText << std::flush;
  // A file shorter than its skip holds no application image at all.
  const std::optional<std::vector<std::uint8_t>> image =
      read_image_tail(path, *skip, kMaxMcuImageSize);
  if (!image) return ZR_FW_IMAGE_UNREADABLE;

  Reply reply{};
  const std::int32_t begun = exchange(bus, mcu_frame(target, kMcuBegin), kBeginTimeoutMs, reply);
  if (!acknowledged(reply)) return ZR_FW_NOT_STARTED;
  if (begun != ZR_OK) return ZR_TRANSPORT_FAILED;
  sleep_for(kAfterBegin);

  out << kMcuEraseText << std::flush;
  // The erase goes on whether or not it is acknowledged; a late acknowledgement is read here.
  (void)exchange(bus, mcu_frame(target, kMcuErase), kEraseTimeoutMs, reply);
  for (int i = 0; i < kEraseAckReads && !acknowledged(reply); ++i) {
    reply.fill(0);
    std::uint32_t length = kReplySize;
    (void)bus.read(reply.data(), &length);
  }
  if (bus.set_timeout(kTransferTimeoutMs) != ZR_OK) return ZR_FW_NOT_STARTED;

  out << kMcuEraseDoneText << std::flush;
  sleep_for(kAfterErase);
  out << kMcuUpdatingText << percent_field(0.0f) << std::flush;

  const std::span<const std::uint8_t> bytes(*image);
  const std::size_t pieces = (bytes.size() + kMcuPieceSize - 1) / kMcuPieceSize;
  for (std::size_t i = 0; i < pieces; ++i) {
    const std::size_t at = i * kMcuPieceSize;
    const std::size_t n = std::min(kMcuPieceSize, bytes.size() - at);
    // Neither the status nor the reply of a piece counts: a piece is never repeated.
    (void)exchange(bus, mcu_frame(target, kMcuData, bytes.subspan(at, n)), kDataTimeoutMs, reply);
    const std::int32_t timeout_set = bus.set_timeout(kTransferTimeoutMs);
    sleep_for(kAfterPiece);
    if (timeout_set != ZR_OK) return ZR_TRANSPORT_FAILED;
    out << kProgressErase << percent_field(piece_progress(i + 1, pieces)) << std::flush;
  }
  out << kLineEnd << std::flush;

  const std::int32_t finished =
      exchange(bus, mcu_frame(target, kMcuFinish), kFinishTimeoutMs, reply);
  if (!acknowledged(reply)) return ZR_FW_FINISH_FAILED;
  if (finished != ZR_OK) return ZR_TRANSPORT_FAILED;
  sleep_for(kAfterFinish);
  return ZR_OK;
}

}  // namespace zr
