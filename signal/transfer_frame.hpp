#pragma once
// The sample transfer frame and how a transfer's payload is spread over frames.
//
// A frame is F bytes of 8-byte units: sync word, header units, payload units, padding units (each
// a u32 in the low half of its unit), the header area (the segment descriptor in the first frame
// of a transfer), the payload, zero padding and the end word in the last unit.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "device/waveform_memory.hpp"

namespace zr {

inline constexpr std::uint32_t kTransferSyncWord = 0xEB90EB90u;
inline constexpr std::uint32_t kTransferEndWord = 0x81378137u;
inline constexpr std::size_t kTransferUnit = 8;
inline constexpr std::size_t kLeadingUnits = 4;  // sync, header, payload and padding units
inline constexpr std::size_t kTransferHeaderOffset = kLeadingUnits * kTransferUnit;
inline constexpr std::size_t kMinTransferHeader = 256;
// Smallest header plus the smallest padding (end word included) of a full frame.
inline constexpr std::size_t kTransferOverhead = 288;
inline constexpr std::size_t kDownloadFrameSize = 16384;
inline constexpr std::size_t kStreamFrameSize = 65536;
inline constexpr std::size_t kSampleBytes = 4;  // two int16 values
inline constexpr std::size_t kDescriptorWords = 22;

using SegmentDescriptor = std::array<std::uint32_t, kDescriptorWords>;

constexpr std::size_t transfer_frame_size(TransferMode mode) {
  return mode == TransferMode::Stream ? kStreamFrameSize : kDownloadFrameSize;
}

// Bytes a transfer of count samples carries: whole 8-byte units only.
constexpr std::uint64_t transfer_bytes(std::uint64_t sample_count) {
  return sample_count * kSampleBytes / kTransferUnit * kTransferUnit;
}

// Sizes of the three variable regions of one frame; header + payload + padding = frame size.
struct FrameLayout {
  std::size_t header = 0;  // from offset 0 up to the payload
  std::size_t payload = 0;
  std::size_t padding = 0;  // after the payload, the end word included
};

// payload must be a multiple of 8 and at most frame_size - kTransferOverhead.
FrameLayout frame_layout(std::size_t frame_size, std::size_t payload);

// How bytes (a multiple of 8) are spread over frames of frame_size: the first frames_with_extra
// frames carry base_payload + 8 bytes, the others base_payload.
struct TransferPlan {
  std::size_t frame_size = 0;
  std::uint64_t bytes = 0;
  std::uint32_t frames = 0;
  std::uint32_t base_payload = 0;
  std::uint32_t frames_with_extra = 0;

  std::size_t payload_of(std::uint32_t frame) const {
    return base_payload + (frame < frames_with_extra ? kTransferUnit : 0);
  }
};

// bytes must be a positive multiple of 8.
TransferPlan plan_transfer(std::size_t frame_size, std::uint64_t bytes);

// The descriptor the first frame of a transfer carries for its segment.
SegmentDescriptor segment_descriptor(TransferMode mode, std::uint32_t segment_number,
                                     const WaveformSegment& segment);

// Writes one whole frame into out (its size is the frame size): every byte outside the payload is
// written too, so a buffer reused from the previous frame needs no clearing. descriptor is null for
// every frame but the first. payload.size() must satisfy frame_layout's bound.
void build_transfer_frame(std::span<std::uint8_t> out, std::span<const std::uint8_t> payload,
                          const SegmentDescriptor* descriptor);

}  // namespace zr
