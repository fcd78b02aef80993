#include "signal/transfer_frame.hpp"

#include <bit>
#include <cassert>
#include <cstring>

#include "platform/le_codec.hpp"

namespace zr {
namespace {

// Samples go out as the caller's bytes; they are little-endian on the wire, so the host must be.
static_assert(std::endian::native == std::endian::little,
              "sample payloads are copied unchanged and must already be little-endian");

constexpr std::uint32_t kDescriptorKind = 2;
constexpr std::uint32_t kDescriptorOne = 1;
constexpr std::uint32_t kRateFactor = 4;
constexpr std::uint32_t kRateBase = 1u << 30;
constexpr std::uint64_t kPlaybackUnit = 64;

// A u32 in the low half of an 8-byte unit, zero in the high half.
void store_unit(std::uint8_t* at, std::uint32_t value) {
  store_u32(at, value);
  store_u32(at + 4, 0);
}

std::uint32_t as_u32(std::size_t value) { return static_cast<std::uint32_t>(value); }

}  // namespace

FrameLayout frame_layout(std::size_t frame_size, std::size_t payload) {
  assert(payload % kTransferUnit == 0 && payload + kTransferOverhead <= frame_size);
  // The header takes half of what the payload leaves, rounded up to whole units.
  const std::size_t spare = frame_size - payload;
  const std::size_t half = (spare + 2 * kTransferUnit - 1) / (2 * kTransferUnit) * kTransferUnit;
  const std::size_t header = half > kMinTransferHeader ? half : kMinTransferHeader;
  return {header, payload, frame_size - header - payload};
}

TransferPlan plan_transfer(std::size_t frame_size, std::uint64_t bytes) {
  assert(bytes > 0 && bytes % kTransferUnit == 0);
  const std::uint64_t room = frame_size - kTransferOverhead;
  const std::uint64_t frames = (bytes + room - 1) / room;
  const std::uint64_t units = bytes / kTransferUnit;
  TransferPlan plan;
  plan.frame_size = frame_size;
  plan.bytes = bytes;
  plan.frames = static_cast<std::uint32_t>(frames);
  plan.base_payload = static_cast<std::uint32_t>(units / frames * kTransferUnit);
  plan.frames_with_extra = static_cast<std::uint32_t>(units % frames);
  return plan;
}

SegmentDescriptor segment_descriptor(TransferMode mode, std::uint32_t segment_number,
                                     const WaveformSegment& segment) {
  // The playback span in 64-word blocks, less one block. A download counts from address 0, as the
  // instrument expects; a stream only its own span.
  const std::uint64_t end = segment.end_address;
  const std::uint64_t units =
      mode == TransferMode::Stream ? (end - segment.start_address + 1) / 2 : (end + 1) / 2;
  const std::uint64_t blocks = (units + kPlaybackUnit - 1) / kPlaybackUnit;
  const std::uint64_t span = blocks > 0 ? (blocks - 1) * kPlaybackUnit : 0;

  SegmentDescriptor words{};
  words[0] = kDescriptorKind;
  words[6] = segment_number;
  words[7] = segment.length;
  words[8] = segment.start_address / 2;
  words[9] = static_cast<std::uint32_t>(span);
  words[10] = kDescriptorOne;
  words[14] = kDescriptorKind;
  words[20] = kRateBase / kRateFactor;
  return words;
}

void build_transfer_frame(std::span<std::uint8_t> out, std::span<const std::uint8_t> payload,
                          const SegmentDescriptor* descriptor) {
  const FrameLayout layout = frame_layout(out.size(), payload.size());
  std::uint8_t* frame = out.data();
  store_unit(frame, kTransferSyncWord);
  store_unit(frame + kTransferUnit, as_u32(layout.header / kTransferUnit - kLeadingUnits));
  store_unit(frame + 2 * kTransferUnit, as_u32(layout.payload / kTransferUnit));
  store_unit(frame + 3 * kTransferUnit, as_u32(layout.padding / kTransferUnit - 1));

  std::size_t at = kTransferHeaderOffset;
  if (descriptor != nullptr) {
    for (const std::uint32_t word : *descriptor) {
      store_u32(frame + at, word);
      at += 4;
    }
  }
  std::memset(frame + at, 0, layout.header - at);
  if (!payload.empty()) std::memcpy(frame + layout.header, payload.data(), payload.size());
  const std::size_t end_unit = out.size() - kTransferUnit;
  const std::size_t padding_start = layout.header + layout.payload;
  std::memset(frame + padding_start, 0, end_unit - padding_start);
  store_unit(frame + end_unit, kTransferEndWord);
}

}  // namespace zr
