// The simulator's transfer frame parser: the frames the library builds are read back with their
// payload and descriptor, and every kind of damage is named.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/le_codec.hpp"
#include "sim/transfer_frame_parser.hpp"
#include "tests/sim/transfer_frames.hpp"

namespace zr::sim {
namespace {

using testing::Bytes;
using testing::payload_bytes;
using testing::transfer_frames;

TEST(TransferFrameParser, ReadsTheLibrarysFramesBackWithPayloadAndDescriptor) {
  struct Case {
    const char* name;
    TransferMode mode;
    std::size_t bytes;
    std::uint32_t number;
    std::uint32_t start;
    std::size_t frames;
    std::size_t first_header;
  };
  const Case cases[] = {
      {"one full download frame", TransferMode::Download, 16096, 3, 4096, 1, 256},
      {"download over two frames", TransferMode::Download, 16104, 0, 0, 2, 4168},
      {"one full stream frame", TransferMode::Stream, 65248, 0, 1u << 20, 1, 256},
      {"stream over two frames", TransferMode::Stream, 65256, 0, 0, 2, 16456},
      {"smallest transfer", TransferMode::Download, 8, 1, 2, 1, 8192},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes payload = payload_bytes(c.bytes, 7);
    const auto frames = transfer_frames(c.mode, c.number, c.start, payload);
    ASSERT_EQ(frames.size(), c.frames);
    Bytes received;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      TransferFrameView view;
      ASSERT_EQ(parse_transfer_frame(frames[i], view), std::nullopt) << "frame " << i;
      EXPECT_EQ(view.segment.has_value(), i == 0);
      if (i == 0) {
        EXPECT_EQ(view.header_size, c.first_header);
        EXPECT_EQ(view.segment->number, c.number);
        EXPECT_EQ(view.segment->length_words, c.bytes / 4);
        EXPECT_EQ(view.segment->start_address, c.start);
        EXPECT_EQ(view.segment->span % 64, 0u);
      }
      // The view points into the frame: nothing was copied.
      EXPECT_GE(view.payload.data(), frames[i].data());
      EXPECT_LE(view.payload.data() + view.payload.size(), frames[i].data() + frames[i].size());
      received.insert(received.end(), view.payload.begin(), view.payload.end());
    }
    EXPECT_EQ(received, payload);
  }
}

TEST(TransferFrameParser, NamesEveryKindOfDamage) {
  // One full download frame: H = 256, payload 16096 bytes, padding 32 bytes with the end word.
  const Bytes good = transfer_frames(TransferMode::Download, 0, 0, payload_bytes(16096, 1))[0];
  const Bytes later = transfer_frames(TransferMode::Download, 0, 0, payload_bytes(16104, 1))[1];
  using Change = std::function<void(Bytes&)>;
  auto word = [](std::size_t at, std::uint32_t value) {
    return Change([=](Bytes& f) { store_u32(f.data() + at, value); });
  };
  auto descriptor_word = [&](std::size_t i, std::uint32_t value) { return word(32 + 4 * i, value); };
  struct Case {
    const char* name;
    Bytes base;
    Change change;
    FrameFault fault;
  };
  const std::vector<Case> cases = {
      {"size not a multiple of 8", good, [](Bytes& f) { f.pop_back(); }, FrameFault::kFrameSize},
      {"shorter than the smallest frame", Bytes(256, 0), [](Bytes&) {}, FrameFault::kFrameSize},
      {"all garbage", Bytes(16384, 0x5a), [](Bytes&) {}, FrameFault::kSyncWord},
      {"sync word", good, word(0, 0xEB90EB91u), FrameFault::kSyncWord},
      {"end word", good, word(16376, 0x81378136u), FrameFault::kEndWord},
      {"high half of the sync unit", good, word(4, 1), FrameFault::kUnitHighHalf},
      {"high half of the header unit", good, word(12, 1), FrameFault::kUnitHighHalf},
      {"high half of the payload unit", good, word(20, 1), FrameFault::kUnitHighHalf},
      {"high half of the padding unit", good, word(28, 1), FrameFault::kUnitHighHalf},
      {"high half of the end unit", good, word(16380, 1), FrameFault::kUnitHighHalf},
      {"one payload unit too many", good, word(16, 2013), FrameFault::kUnitsDisagree},
      {"units overflowing 32 bits", good, word(16, 0xFFFFFFFFu), FrameFault::kUnitsDisagree},
      {"header of 248 bytes", good,
       [](Bytes& f) {
         store_u32(f.data() + 8, 27);
         store_u32(f.data() + 24, 4);
       },
       FrameFault::kHeaderTooShort},
      {"descriptor kind", good, descriptor_word(0, 1), FrameFault::kDescriptor},
      {"descriptor word 3", good, descriptor_word(3, 1), FrameFault::kDescriptor},
      {"descriptor word 10", good, descriptor_word(10, 0), FrameFault::kDescriptor},
      {"descriptor word 14", good, descriptor_word(14, 1), FrameFault::kDescriptor},
      {"descriptor rate", good, descriptor_word(20, 1u << 27), FrameFault::kDescriptor},
      {"descriptor word 21", good, descriptor_word(21, 1), FrameFault::kDescriptor},
      {"zero length", good, descriptor_word(7, 0), FrameFault::kDescriptor},
      {"span not in 64-word blocks", good, descriptor_word(9, 65), FrameFault::kDescriptor},
      {"segment past the memory end", good, descriptor_word(8, (1u << 24) - 2000),
       FrameFault::kOutsideMemory},
      {"start address overflowing 32 bits", good, descriptor_word(8, 0x80000000u),
       FrameFault::kOutsideMemory},
      {"header byte after the descriptor", good, [](Bytes& f) { f[200] = 1; },
       FrameFault::kHeaderNotZero},
      {"last header byte", good, [](Bytes& f) { f[255] = 1; }, FrameFault::kHeaderNotZero},
      {"header byte of a later frame", later, [](Bytes& f) { f[4000] = 1; },
       FrameFault::kHeaderNotZero},
      {"padding byte", good, [](Bytes& f) { f[16352] = 1; }, FrameFault::kPaddingNotZero},
      {"last padding byte", good, [](Bytes& f) { f[16375] = 1; }, FrameFault::kPaddingNotZero},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes frame = c.base;
    c.change(frame);
    TransferFrameView view;
    EXPECT_EQ(parse_transfer_frame(frame, view), c.fault);
  }
  // The untouched frames pass, so each case above fails for its own change.
  TransferFrameView view;
  EXPECT_EQ(parse_transfer_frame(good, view), std::nullopt);
  EXPECT_EQ(parse_transfer_frame(later, view), std::nullopt);
}

}  // namespace
}  // namespace zr::sim
