#include "sim/command_interpreter.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "device/command_frame.hpp"
#include "device/frame_checksum.hpp"
#include "device/opcodes.hpp"
#include "sim/query_replies.hpp"
#include "sim/stored_table.hpp"

namespace zr::sim {
namespace {

// Remote-update packets of the FPGA service share the write path but carry no checksum.
constexpr std::uint8_t kRemoteUpdateData = 0xfe;
constexpr std::uint8_t kRemoteUpdateControl = 0xff;

// Fields of the table read request.
constexpr std::size_t kTableKindOffset = 8;
constexpr std::size_t kTableIndexOffset = 10;
constexpr std::size_t kTablePageOffset = 12;

}  // namespace

CommandInterpreter::CommandInterpreter(InstrumentConfig config)
    : config_(std::move(config)), clock_(&real_clock()), channels_(config_.channel_count) {}

void CommandInterpreter::set_config(InstrumentConfig config) {
  config_ = std::move(config);
  channels_.set_channel_count(config_.channel_count);
  readiness_queries_ = 0;
}

FrameVerdict CommandInterpreter::check(std::span<const std::uint8_t> frame) {
  FrameVerdict verdict;
  if (frame.empty()) return verdict;
  verdict.opcode = frame[0];
  if (frame.size() != kFrameSize || verdict.opcode == kRemoteUpdateData ||
      verdict.opcode == kRemoteUpdateControl) {
    return verdict;
  }
  CommandFrame copy;
  std::copy(frame.begin(), frame.end(), copy.bytes.begin());
  const bool sound = frame_checksum(copy) == load_u32(copy.data() + kChecksumOffset);
  verdict.check = sound ? FrameCheck::kValid : FrameCheck::kBadChecksum;
  return verdict;
}

std::optional<FrameFault> CommandInterpreter::take_write(std::span<const std::uint8_t> frame,
                                                         std::deque<std::uint8_t>& read_out) {
  const std::uint8_t opcode = frame[0];
  if (is_acknowledged_calibration_frame(opcode)) {
    readiness_.frame_taken(clock_->now(), config_.ready_delay, faults_.never_ready);
    return std::nullopt;
  }
  switch (opcode) {
    case kOpReadTable:
      serve_table_page(frame, read_out);
      break;
    case kOpClearWaveform:
      waveform_.clear();
      break;
    case kOpDownloadWaveform:
      waveform_.announce_download();
      break;
    case kOpConfigPlayback: {
      const std::int16_t channel = load_i16(frame.data() + kChannelOffset);
      if (!channels_.valid_channel(channel)) return FrameFault::kChannelIndex;
      return playback_.take_page(frame, channel);
    }
    default:
      if (ChannelModel::handles(opcode)) return channels_.take(frame);
      // Commands without a modelled effect yet are taken silently, as the instrument would.
      break;
  }
  return std::nullopt;
}

bool CommandInterpreter::answer_query(std::span<const std::uint8_t> frame, std::uint32_t room,
                                      std::vector<std::uint8_t>& reply) {
  const std::uint8_t opcode = frame[0];
  if (!faults_.answers(opcode)) return false;
  bool loaded = true;
  if (opcode == kOpQueryReady) {
    if (readiness_queries_ < UINT32_MAX) ++readiness_queries_;
    loaded = readiness_queries_ >= config_.ready_after_queries;
  }
  const ReadyFlags flags{.iq_cal_loaded = loaded && config_.iq_cal_loaded,
                         .mcu_ready = readiness_.ready(clock_->now()),
                         .rf_cal_loaded = loaded && config_.rf_cal_loaded};
  std::array<std::uint8_t, kReplySize> block{};
  // Opcodes without a modelled reply (the MCU bootloaders, for now) get zeros.
  encode_query_reply(opcode, config_, flags, block);
  const std::size_t count = std::min<std::size_t>(room, block.size());
  reply.insert(reply.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(count));
  return true;
}

void CommandInterpreter::serve_table_page(std::span<const std::uint8_t> frame,
                                          std::deque<std::uint8_t>& read_out) {
  const std::uint8_t kind = frame[kTableKindOffset];
  const std::uint16_t index = load_u16(frame.data() + kTableIndexOffset);
  const std::uint16_t page = load_u16(frame.data() + kTablePageOffset);
  const std::vector<std::uint8_t> bytes =
      encode_table_page(find_table(config_.tables, kind, index), page);
  if (read_out.size() + bytes.size() > kMaxPendingReadBytes) return;
  read_out.insert(read_out.end(), bytes.begin(), bytes.end());
}

}  // namespace zr::sim
