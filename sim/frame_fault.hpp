#pragma once
// Why the simulated instrument refused a command frame or a sample transfer frame. A refused frame
// changes nothing of the instrument's state (a refused transfer frame ends the transfer under way).
#include <cstdint>
#include <iosfwd>
#include <string_view>

namespace zr::sim {

enum class FrameFault : std::uint8_t {
  // Command frames.
  kListCount,     // channel-list count negative, above 16 or above the channel count
  kChannelIndex,  // a listed or single channel index outside the instrument's channels
  kTriggerConfig,  // trigger select above 2, a flag above 1 or a count below -1
  kPlaybackPage,   // page index not below the page count, or an entry count outside 1..10
  kPlaybackOrder,  // a page that does not continue the list under assembly
  kPlaybackEntry,  // nonzero bytes in an entry's padding or in an unused slot
  // Transfer frames.
  kFrameSize,          // not a multiple of 8, too short, or neither frame size of a transfer
  kSyncWord,
  kEndWord,
  kUnitHighHalf,
  kUnitsDisagree,      // header, payload and padding units do not make up the frame
  kHeaderTooShort,
  kHeaderNotZero,
  kPaddingNotZero,
  kDescriptor,         // a fixed descriptor word wrong, a zero length or a span not in 64-word blocks
  kOutsideMemory,      // start + length beyond the 2^25-word memory
  kNoTransfer,         // a frame without descriptor while no transfer is under way
  kFrameSizeChanged,   // a later frame of a transfer with another size than its first
  kNotAnnounced,       // a download-sized first frame without a preceding 0x39
  kPayloadOverrun,     // payload beyond the segment length the descriptor announced
};

std::string_view describe(FrameFault fault);
std::ostream& operator<<(std::ostream& out, FrameFault fault);  // the description

}  // namespace zr::sim
