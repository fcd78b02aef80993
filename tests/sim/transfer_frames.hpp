#pragma once
// Sample transfer frames for the simulator's tests, built by the library's own frame builder, so
// the simulator is tested against exactly what the library sends; malformed frames are made by
// changing bytes of these.
#include <cstdint>
#include <span>
#include <vector>

#include "device/waveform_memory.hpp"
#include "signal/transfer_frame.hpp"

namespace zr::sim::testing {

using Bytes = std::vector<std::uint8_t>;

// Bytes that differ from frame to frame and from their neighbours.
inline Bytes payload_bytes(std::size_t count, std::uint8_t seed) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + seed);
  return bytes;
}

// Every frame of a transfer of payload (a multiple of 8 bytes) as segment number starting at word
// start.
inline std::vector<Bytes> transfer_frames(TransferMode mode, std::uint32_t number,
                                          std::uint32_t start, std::span<const std::uint8_t> payload) {
  const std::size_t frame_size = transfer_frame_size(mode);
  const TransferPlan plan = plan_transfer(frame_size, payload.size());
  const WaveformSegment segment{static_cast<std::uint32_t>(payload.size() / 4), start,
                                static_cast<std::uint32_t>(start - 1 + plan.frames * frame_size / 4),
                                4};
  const SegmentDescriptor descriptor = segment_descriptor(mode, number, segment);
  std::vector<Bytes> frames;
  std::size_t offset = 0;
  for (std::uint32_t i = 0; i < plan.frames; ++i) {
    Bytes frame(frame_size);
    const std::size_t size = plan.payload_of(i);
    build_transfer_frame(frame, payload.subspan(offset, size), i == 0 ? &descriptor : nullptr);
    offset += size;
    frames.push_back(std::move(frame));
  }
  return frames;
}

// One frame without descriptor, as a transfer's later frames are.
inline Bytes later_frame(TransferMode mode, std::span<const std::uint8_t> payload) {
  Bytes frame(transfer_frame_size(mode));
  build_transfer_frame(frame, payload, nullptr);
  return frame;
}

}  // namespace zr::sim::testing
