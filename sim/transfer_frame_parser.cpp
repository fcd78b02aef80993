#include "sim/transfer_frame_parser.hpp"

#include <algorithm>

#include "device/waveform_memory.hpp"
#include "platform/le_codec.hpp"
#include "signal/transfer_frame.hpp"

namespace zr::sim {
namespace {

// Fixed words of the descriptor as the instrument expects them.
constexpr std::uint32_t kDescriptorKind = 2;       // words 0 and 14
constexpr std::uint32_t kDescriptorOne = 1;        // word 10
constexpr std::uint32_t kDescriptorRate = 1u << 28;  // word 20: 2^30 over the rate factor 4
constexpr std::uint32_t kSpanBlock = 64;
constexpr std::size_t kWordNumber = 6;
constexpr std::size_t kWordLength = 7;
constexpr std::size_t kWordHalfStart = 8;
constexpr std::size_t kWordSpan = 9;
constexpr std::size_t kWordOne = 10;
constexpr std::size_t kWordKindAgain = 14;
constexpr std::size_t kWordRate = 20;
constexpr std::size_t kDescriptorEnd = kTransferHeaderOffset + 4 * kDescriptorWords;
// The leading units, the smallest header area and the end word.
constexpr std::size_t kSmallestFrame = kMinTransferHeader + kTransferUnit;

bool all_zero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// The u32 in the low half of the unit at offset at; false when its high half is not zero.
bool read_unit(std::span<const std::uint8_t> frame, std::size_t at, std::uint32_t& value) {
  value = load_u32(frame.data() + at);
  return load_u32(frame.data() + at + 4) == 0;
}

std::optional<FrameFault> read_descriptor(std::span<const std::uint8_t> frame,
                                          SegmentFields& out) {
  std::uint32_t words[kDescriptorWords];
  for (std::size_t i = 0; i < kDescriptorWords; ++i) {
    words[i] = load_u32(frame.data() + kTransferHeaderOffset + 4 * i);
  }
  for (std::size_t i = 0; i < kDescriptorWords; ++i) {
    std::uint32_t expected = 0;
    if (i == 0 || i == kWordKindAgain) {
      expected = kDescriptorKind;
    } else if (i == kWordOne) {
      expected = kDescriptorOne;
    } else if (i == kWordRate) {
      expected = kDescriptorRate;
    } else if (i >= kWordNumber && i <= kWordSpan) {
      continue;
    }
    if (words[i] != expected) return FrameFault::kDescriptor;
  }
  if (words[kWordLength] == 0 || words[kWordSpan] % kSpanBlock != 0) return FrameFault::kDescriptor;
  const std::uint64_t start = std::uint64_t{words[kWordHalfStart]} * 2;
  if (start + words[kWordLength] > kWaveformMemoryWords) return FrameFault::kOutsideMemory;
  out.number = words[kWordNumber];
  out.length_words = words[kWordLength];
  out.start_address = static_cast<std::uint32_t>(start);
  out.span = words[kWordSpan];
  return std::nullopt;
}

}  // namespace

std::optional<FrameFault> parse_transfer_frame(std::span<const std::uint8_t> frame,
                                               TransferFrameView& out) {
  const std::size_t size = frame.size();
  if (size % kTransferUnit != 0 || size < kSmallestFrame) return FrameFault::kFrameSize;
  std::uint32_t sync = 0;
  std::uint32_t end = 0;
  std::uint32_t h = 0;
  std::uint32_t d = 0;
  std::uint32_t p = 0;
  // The framing words first: a frame that is not one at all is named for them.
  const bool sync_whole = read_unit(frame, 0, sync);
  const bool end_whole = read_unit(frame, size - kTransferUnit, end);
  if (sync != kTransferSyncWord) return FrameFault::kSyncWord;
  if (end != kTransferEndWord) return FrameFault::kEndWord;
  if (!sync_whole || !end_whole || !read_unit(frame, kTransferUnit, h) ||
      !read_unit(frame, 2 * kTransferUnit, d) || !read_unit(frame, 3 * kTransferUnit, p)) {
    return FrameFault::kUnitHighHalf;
  }
  // 64-bit: the counts come from outside and may be anything.
  const std::uint64_t header = (std::uint64_t{h} + kLeadingUnits) * kTransferUnit;
  const std::uint64_t payload = std::uint64_t{d} * kTransferUnit;
  const std::uint64_t padding = (std::uint64_t{p} + 1) * kTransferUnit;
  if (header + payload + padding != size) return FrameFault::kUnitsDisagree;
  if (header < kMinTransferHeader) return FrameFault::kHeaderTooShort;

  const std::size_t header_size = static_cast<std::size_t>(header);
  const std::size_t payload_end = header_size + static_cast<std::size_t>(payload);
  std::size_t zero_from = kTransferHeaderOffset;
  std::optional<SegmentFields> segment;
  if (!all_zero(frame.subspan(kTransferHeaderOffset, kDescriptorEnd - kTransferHeaderOffset))) {
    SegmentFields fields;
    if (const auto fault = read_descriptor(frame, fields)) return fault;
    segment = fields;
    zero_from = kDescriptorEnd;
  }
  if (!all_zero(frame.subspan(zero_from, header_size - zero_from))) {
    return FrameFault::kHeaderNotZero;
  }
  if (!all_zero(frame.subspan(payload_end, size - kTransferUnit - payload_end))) {
    return FrameFault::kPaddingNotZero;
  }
  out.header_size = header_size;
  out.payload = frame.subspan(header_size, payload_end - header_size);
  out.segment = segment;
  return std::nullopt;
}

}  // namespace zr::sim
