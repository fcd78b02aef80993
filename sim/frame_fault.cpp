#include "sim/frame_fault.hpp"

#include <ostream>

#include "sim/sim_text.hpp"

namespace zr::sim {

std::string_view describe(FrameFault fault) {
  switch (fault) {
    case FrameFault::kListCount: return text::kFaultListCount;
    case FrameFault::kChannelIndex: return text::kFaultChannelIndex;
    case FrameFault::kTriggerConfig: return text::kFaultTriggerConfig;
    case FrameFault::kPlaybackPage: return text::kFaultPlaybackPage;
    case FrameFault::kPlaybackOrder: return text::kFaultPlaybackOrder;
    case FrameFault::kPlaybackEntry: return text::kFaultPlaybackEntry;
    case FrameFault::kFrameSize: return text::kFaultFrameSize;
    case FrameFault::kSyncWord: return text::kFaultSyncWord;
    case FrameFault::kEndWord: return text::kFaultEndWord;
    case FrameFault::kUnitHighHalf: return text::kFaultUnitHighHalf;
    case FrameFault::kUnitsDisagree: return text::kFaultUnitsDisagree;
    case FrameFault::kHeaderTooShort: return text::kFaultHeaderTooShort;
    case FrameFault::kHeaderNotZero: return text::kFaultHeaderNotZero;
    case FrameFault::kPaddingNotZero: return text::kFaultPaddingNotZero;
    case FrameFault::kDescriptor: return text::kFaultDescriptor;
    case FrameFault::kOutsideMemory: return text::kFaultOutsideMemory;
    case FrameFault::kNoTransfer: return text::kFaultNoTransfer;
    case FrameFault::kFrameSizeChanged: return text::kFaultFrameSizeChanged;
    case FrameFault::kNotAnnounced: return text::kFaultNotAnnounced;
    case FrameFault::kPayloadOverrun: return text::kFaultPayloadOverrun;
  }
  return {};
}

std::ostream& operator<<(std::ostream& out, FrameFault fault) { return out << describe(fault); }

}  // namespace zr::sim
