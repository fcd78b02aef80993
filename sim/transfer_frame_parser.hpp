#pragma once
// Reads a sample transfer frame in place, as the instrument's data path checks it: sync word, the
// three unit counts, end word, the segment descriptor of a transfer's first frame and zeros
// everywhere outside payload and descriptor. Nothing is copied: the payload view points into the
// frame.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "sim/frame_fault.hpp"

namespace zr::sim {

// The variable words of a segment descriptor.
struct SegmentFields {
  std::uint32_t number = 0;
  std::uint32_t length_words = 0;
  std::uint32_t start_address = 0;  // in words (the descriptor carries half of it)
  std::uint32_t span = 0;
};

struct TransferFrameView {
  std::size_t header_size = 0;  // H: from offset 0 up to the payload
  std::span<const std::uint8_t> payload;
  std::optional<SegmentFields> segment;  // set when the header area carries a descriptor
};

// Checks one frame of any size. Returns the fault, or nothing and fills out.
std::optional<FrameFault> parse_transfer_frame(std::span<const std::uint8_t> frame,
                                               TransferFrameView& out);

}  // namespace zr::sim
