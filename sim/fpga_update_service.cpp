#include "sim/fpga_update_service.hpp"

#include <algorithm>

#include "firmware/fpga_image.hpp"
#include "firmware/fpga_packet.hpp"
#include "sim/sim_text.hpp"

namespace zr::sim {
namespace {

constexpr std::size_t kLengthOffset = 1;
constexpr std::size_t kControlCodeOffset = 2;

bool padded(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == kFpgaPad; });
}

}  // namespace

std::string_view describe(FpgaProtocolError error) {
  switch (error) {
    case FpgaProtocolError::kPacketSize: return text::kFpgaPacketSize;
    case FpgaProtocolError::kZeroLength: return text::kFpgaZeroLength;
    case FpgaProtocolError::kLengthTooLong: return text::kFpgaLengthTooLong;
    case FpgaProtocolError::kMissingCommit: return text::kFpgaMissingCommit;
    case FpgaProtocolError::kCommitMismatch: return text::kFpgaCommitMismatch;
    case FpgaProtocolError::kUnknownControl: return text::kFpgaUnknownControl;
    case FpgaProtocolError::kNotStarted: return text::kFpgaNotStarted;
    case FpgaProtocolError::kImageOverflow: return text::kFpgaImageOverflow;
    case FpgaProtocolError::kPaddingNotFf: return text::kFpgaPaddingNotFf;
  }
  return {};
}

bool FpgaUpdateService::is_packet(std::span<const std::uint8_t> bytes) {
  return !bytes.empty() && (bytes[0] == kFpgaDataMarker || bytes[0] == kFpgaControlMarker);
}

void FpgaUpdateService::take(std::span<const std::uint8_t> packet, SteadyTime now,
                             const FpgaServiceConfig& config, const FpgaFaults& faults) {
  if (packet.size() != kFpgaPacketSize) {
    note(FpgaProtocolError::kPacketSize);
    return;
  }
  if (packet[0] == kFpgaDataMarker) {
    take_data(packet);
    return;
  }
  if (packet[kLengthOffset] != kFpgaControlTag) {
    note(FpgaProtocolError::kUnknownControl);
    return;
  }
  if (!padded(packet.subspan(kControlCodeOffset + 1))) note(FpgaProtocolError::kPaddingNotFf);
  take_control(packet[kControlCodeOffset], now, config, faults);
}

std::optional<std::uint8_t> FpgaUpdateService::answer(SteadyTime now, const FpgaFaults& faults) {
  if (start_ack_due_) {
    if (faults.no_start_ack) return std::nullopt;
    start_ack_due_ = false;
    erase_due_ = true;
    return kFpgaStartAck;
  }
  if (erase_due_) {
    if (faults.no_erase_done || now < erased_at_) return std::nullopt;
    erase_due_ = false;
    return kFpgaEraseDone;
  }
  if (echo_) {
    const std::uint8_t length = *echo_;
    echo_.reset();
    ++record_.echoes;
    return length;
  }
  return std::nullopt;
}

void FpgaUpdateService::note(FpgaProtocolError error) {
  ++record_.error_count;
  if (record_.errors.size() < kMaxFpgaErrors) record_.errors.push_back(error);
}

void FpgaUpdateService::take_data(std::span<const std::uint8_t> packet) {
  if (awaiting_commit_) {
    note(FpgaProtocolError::kMissingCommit);
    awaiting_commit_.reset();
  }
  // Whatever is wrong with it, the control packet that follows is its commit.
  const std::uint8_t length = packet[kLengthOffset];
  awaiting_commit_ = length;
  if (!under_way_) {
    note(FpgaProtocolError::kNotStarted);
    return;
  }
  if (length == 0) {
    note(FpgaProtocolError::kZeroLength);
    return;
  }
  if (length > kFpgaPayloadSize) {
    note(FpgaProtocolError::kLengthTooLong);
    return;
  }
  const auto payload = packet.subspan(kFpgaPayloadOffset, length);
  if (!padded(packet.subspan(kFpgaPayloadOffset + length))) note(FpgaProtocolError::kPaddingNotFf);
  ++record_.data_packets;
  std::vector<std::uint8_t>& image = record_.image;
  if (image.size() + length > kFlashImageSize) {
    note(FpgaProtocolError::kImageOverflow);
    return;
  }
  image.insert(image.end(), payload.begin(), payload.end());
}

void FpgaUpdateService::take_control(std::uint8_t code, SteadyTime now,
                                     const FpgaServiceConfig& config, const FpgaFaults& faults) {
  if (awaiting_commit_) {
    if (code != *awaiting_commit_) note(FpgaProtocolError::kCommitMismatch);
    awaiting_commit_.reset();
    ++record_.commits;
    // A newer commit replaces an echo the client never read.
    if (record_.commits > faults.unechoed_commits) {
      echo_ = code;
    } else {
      echo_.reset();
    }
    return;
  }
  switch (code) {
    case kFpgaStartCode:
      start(now, config);
      break;
    case kFpgaFinishCode:
      if (!under_way_) {
        note(FpgaProtocolError::kNotStarted);
        break;
      }
      under_way_ = false;
      record_.finished = true;
      echo_.reset();
      break;
    default:
      note(FpgaProtocolError::kUnknownControl);
      break;
  }
}

void FpgaUpdateService::start(SteadyTime now, const FpgaServiceConfig& config) {
  ++record_.starts;
  record_.finished = false;
  record_.data_packets = 0;
  record_.commits = 0;
  record_.echoes = 0;
  record_.image.clear();
  record_.image.reserve(kFlashImageSize);
  under_way_ = true;
  start_ack_due_ = true;
  erase_due_ = false;
  erased_at_ = now + config.erase_time;
  echo_.reset();
}

}  // namespace zr::sim
