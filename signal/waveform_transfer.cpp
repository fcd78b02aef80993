#include "signal/waveform_transfer.hpp"

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "signal/transfer_frame.hpp"
#include "zr_api.h"

namespace zr {
namespace {

constexpr std::uint32_t kRateFactor = 4;

struct Reservation {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
};

// Where the frames of plan go in memory, or nothing when they do not fit. A stream that would
// run past the end starts again at address 0.
std::optional<Reservation> reserve(const WaveformMemory& memory, TransferMode mode,
                                   const TransferPlan& plan) {
  const std::uint64_t words = std::uint64_t{plan.frames} * plan.frame_size / 4;
  const std::uint64_t size = memory.memory_size;
  std::uint64_t start = memory.next_free_address;
  if (words > size) return std::nullopt;
  if (start + words > size) {
    if (mode == TransferMode::Download) return std::nullopt;
    start = 0;
  }
  return Reservation{static_cast<std::uint32_t>(start),
                     static_cast<std::uint32_t>(start + words - 1)};
}

// Records the segment; a stream always owns record 0.
std::uint32_t record_segment(WaveformMemory& memory, TransferMode mode,
                             const WaveformSegment& segment) {
  if (mode == TransferMode::Download) {
    memory.segments.push_back(segment);
    return static_cast<std::uint32_t>(memory.segments.size() - 1);
  }
  if (memory.segments.empty()) {
    memory.segments.push_back(segment);
  } else {
    memory.segments[0] = segment;
  }
  return 0;
}

std::int32_t frame_failure(std::int32_t bus_status) {
  return bus_status == ZR_BUS_USB_CANCELLED ? std::int32_t{ZR_TRANSFER_CANCELLED}
                                            : std::int32_t{ZR_TRANSPORT_FAILED};
}

}  // namespace

std::int32_t run_transfer(DeviceContext& context, TransferMode mode, const std::int16_t* samples,
                          std::size_t count, std::uint16_t* segment) {
  if (!context.stream) context.stream = std::make_unique<WaveformMemory>();
  WaveformMemory& memory = *context.stream;
  // No sample count beyond one word per sample of the whole memory can fit; bounding it first
  // keeps the byte arithmetic far from overflow.
  if (count > memory.memory_size) return ZR_WAVEFORM_MEMORY_FULL;

  const std::size_t frame_size = transfer_frame_size(mode);
  const TransferPlan plan = plan_transfer(frame_size, transfer_bytes(count));
  const std::optional<Reservation> place = reserve(memory, mode, plan);
  if (!place) return ZR_WAVEFORM_MEMORY_FULL;
  // Allocated before the bookkeeping changes, so running out of memory leaves it as it was.
  std::vector<std::uint8_t> buffer(frame_size);

  const WaveformSegment record{static_cast<std::uint32_t>(plan.bytes / 4), place->start, place->end,
                               kRateFactor};
  memory.mode = mode;
  memory.next_free_address = place->end + 1;
  const std::uint32_t number = record_segment(memory, mode, record);
  if (segment != nullptr) *segment = static_cast<std::uint16_t>(number);
  const SegmentDescriptor descriptor = segment_descriptor(mode, number, record);
  memory.descriptor.assign(descriptor.begin(), descriptor.end());
  memory.bytes_remaining = static_cast<std::uint32_t>(plan.bytes);
  memory.base_payload = plan.base_payload;
  memory.frames_with_extra = plan.frames_with_extra;
  memory.sample_position = 0;

  // The samples are read as the bytes they occupy; only whole units of them are sent.
  const std::span<const std::uint8_t> source(reinterpret_cast<const std::uint8_t*>(samples),
                                             static_cast<std::size_t>(plan.bytes));
  std::size_t offset = 0;
  for (std::uint32_t i = 0; i < plan.frames; ++i) {
    const std::size_t payload = plan.payload_of(i);
    build_transfer_frame(buffer, source.subspan(offset, payload), i == 0 ? &descriptor : nullptr);
    offset += payload;
    memory.bytes_remaining -= static_cast<std::uint32_t>(payload);
    memory.sample_position = static_cast<std::uint32_t>(offset / kSampleBytes);

    std::uint32_t length = static_cast<std::uint32_t>(frame_size);
    const std::int32_t status = context.bus ? context.bus->stream_write(buffer.data(), &length)
                                            : std::int32_t{ZR_TRANSPORT_FAILED};
    if (status != ZR_OK) return frame_failure(status);
    // A bus that moved less than the frame lost samples; that is no success.
    if (length != frame_size) return ZR_TRANSPORT_FAILED;
  }
  return ZR_OK;
}

}  // namespace zr
