#pragma once
// A one-channel device on a recording bus, reached through the exported calls exactly as a caller
// would (device handle variable, channel handle), on a fake clock.
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "device/command_frame.hpp"
#include "device/frame_checksum.hpp"
#include "platform/clock.hpp"
#include "tests/device/recording_bus.hpp"
#include "zr_api.h"

namespace zr::testing {

// One recorded bus call: the opcode of a command frame, or a marker for the stream calls.
inline constexpr int kStreamStopCall = 0x100;
inline constexpr int kStreamWriteCall = 0x101;

class SignalTestContext {
 public:
  SignalTestContext() : scoped_clock(clock) {}

  // The opcodes of the command frames and the stream calls, in order.
  std::vector<int> sequence() const {
    std::vector<int> ops;
    for (const auto& call : bus.calls) {
      if (call.kind == RecordingBus::Kind::StreamStop) {
        ops.push_back(kStreamStopCall);
      } else if (call.kind == RecordingBus::Kind::StreamWrite) {
        ops.push_back(kStreamWriteCall);
      } else {
        ops.push_back(call.out.empty() ? -1 : call.out[0]);
      }
    }
    return ops;
  }

  // Marks the channel running, as an accepted channel_start would, without bus traffic.
  void mark_running() { rc.context.live_channel(0).running = 1; }

  FakeClock clock;
  ScopedClock scoped_clock;
  RecordingContext rc;
  RecordingBus& bus = *rc.bus;
  DeviceContext& context = rc.context;
  DeviceContext* device = &rc.context;  // the caller's handle variable
  ChannelHandle channel{&device, 0};
};

// A sealed command frame with the given opcode and fields written by the caller.
template <typename Fill>
std::vector<std::uint8_t> sealed(std::uint8_t opcode, Fill fill) {
  CommandFrame frame(opcode);
  fill(frame);
  seal_frame(frame);
  return {frame.bytes.begin(), frame.bytes.end()};
}

// A channel-list frame naming channel 0 only, with per-channel bytes from offset 42.
inline std::vector<std::uint8_t> list_frame(std::uint8_t opcode,
                                            std::initializer_list<std::uint8_t> values = {}) {
  return sealed(opcode, [&](CommandFrame& frame) {
    set_frame_i16(frame, kListCountOffset, 1);
    set_frame_i16(frame, kListIndexOffset, 0);
    std::size_t at = kListValueOffset;
    for (const std::uint8_t value : values) set_frame_u8(frame, at++, value);
  });
}

}  // namespace zr::testing
