#include "sim/mcu_bootloader.hpp"

#include <algorithm>

#include "device/command_frame.hpp"
#include "device/opcodes.hpp"
#include "firmware/mcu_frame.hpp"
#include "sim/sim_text.hpp"

namespace zr::sim {
namespace {

bool zero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

std::string_view describe(McuProtocolError error) {
  switch (error) {
    case McuProtocolError::kUnknownCommand: return text::kMcuUnknownCommand;
    case McuProtocolError::kNotBegun: return text::kMcuNotBegun;
    case McuProtocolError::kNotErased: return text::kMcuNotErased;
    case McuProtocolError::kReservedNotZero: return text::kMcuReservedNotZero;
    case McuProtocolError::kImageOverflow: return text::kMcuImageOverflow;
  }
  return {};
}

bool McuBootloader::take(std::span<const std::uint8_t> frame, const McuFaults& faults) {
  if (frame.size() != kFrameSize) return false;  // the model passes sealed frames only
  const std::uint8_t command = frame[kMcuCommandOffset];
  if (command == kMcuBegin) begin();
  if (record_.commands.size() < kMaxMcuCommands) record_.commands.push_back(command);
  const auto payload_end = kMcuPayloadOffset + kMcuPieceSize;
  if (!zero(frame.subspan(kMcuCommandOffset + 1, kMcuPayloadOffset - kMcuCommandOffset - 1)) ||
      !zero(frame.subspan(payload_end, kChecksumOffset - payload_end))) {
    note(McuProtocolError::kReservedNotZero);
  }
  switch (command) {
    case kMcuBegin:
      return !faults.no_begin_ack;
    case kMcuErase:
      if (!begun_) note(McuProtocolError::kNotBegun);
      record_.erased = true;
      if (faults.no_erase_ack) return false;
      if (faults.late_erase_ack_read != 0) {
        erase_ack_withheld_ = true;
        reads_since_erase_ = 0;
        return false;
      }
      return true;
    case kMcuData: {
      if (!begun_) {
        note(McuProtocolError::kNotBegun);
      } else if (!record_.erased) {
        note(McuProtocolError::kNotErased);
      }
      ++record_.data_frames;
      std::vector<std::uint8_t>& image = record_.image;
      if (image.size() + kMcuPieceSize > kMaxMcuImage) {
        note(McuProtocolError::kImageOverflow);
      } else {
        const auto piece = frame.subspan(kMcuPayloadOffset, kMcuPieceSize);
        image.insert(image.end(), piece.begin(), piece.end());
      }
      return !faults.no_data_ack;
    }
    case kMcuFinish:
      if (!begun_) note(McuProtocolError::kNotBegun);
      record_.finished = true;
      begun_ = false;
      erase_ack_withheld_ = false;
      return !faults.no_finish_ack;
    default:
      note(McuProtocolError::kUnknownCommand);
      return false;
  }
}

bool McuBootloader::take_read(const McuFaults& faults) {
  if (!erase_ack_withheld_) return false;
  if (++reads_since_erase_ < faults.late_erase_ack_read) return false;
  erase_ack_withheld_ = false;
  return true;
}

void McuBootloader::note(McuProtocolError error) {
  ++record_.error_count;
  if (record_.errors.size() < kMaxMcuErrors) record_.errors.push_back(error);
}

void McuBootloader::begin() {
  ++record_.begins;
  begun_ = true;
  record_.erased = false;
  record_.finished = false;
  record_.data_frames = 0;
  record_.commands.clear();
  record_.image.clear();
  erase_ack_withheld_ = false;
}

}  // namespace zr::sim
