// The simulated instrument's waveform memory, driven through the model as the transports drive
// it: downloads announced by 0x39, streams into record 0, the payload as received, transfers cut
// short, frames out of place, and the record limit.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "device/frame_checksum.hpp"
#include "device/opcodes.hpp"
#include "sim/instrument_model.hpp"
#include "tests/sim/transfer_frames.hpp"

namespace zr::sim {
namespace {

using testing::Bytes;
using testing::payload_bytes;
using testing::later_frame;
using testing::transfer_frames;

Bytes sealed(std::uint8_t opcode) {
  CommandFrame frame(opcode);
  seal_frame(frame);
  return Bytes(frame.bytes.begin(), frame.bytes.end());
}

class WaveformMemoryModelTest : public ::testing::Test {
 protected:
  WaveformMemoryModelTest() { model.set_log(log); }

  // Sends frames as request 8; the statuses in order.
  std::vector<std::int32_t> send(const std::vector<Bytes>& frames) {
    std::vector<std::int32_t> statuses;
    for (const Bytes& frame : frames) statuses.push_back(model.stream_write(frame));
    return statuses;
  }
  std::vector<std::int32_t> download(std::uint32_t number, std::uint32_t start, const Bytes& payload) {
    model.write(sealed(kOpDownloadWaveform));
    return send(transfer_frames(TransferMode::Download, number, start, payload));
  }
  std::vector<FrameFault> faults() const {
    std::vector<FrameFault> out;
    for (const Rejection& r : model.rejections()) out.push_back(r.fault);
    return out;
  }

  std::ostringstream log;
  InstrumentModel model;
};

TEST_F(WaveformMemoryModelTest, DownloadsBecomeNumberedSegmentsHoldingTheBytesReceived) {
  const Bytes first = payload_bytes(16096, 1);  // one frame: 4096 words
  const Bytes second = payload_bytes(16104, 2);  // two frames: 8192 words
  model.write(sealed(kOpClearWaveform));
  EXPECT_EQ(download(0, 0, first), (std::vector<std::int32_t>{0}));
  EXPECT_EQ(download(1, 4096, second), (std::vector<std::int32_t>{0, 0}));

  const auto segments = model.waveform_segments();
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].number, 0u);
  EXPECT_EQ(segments[0].mode, TransferMode::Download);
  EXPECT_EQ(segments[0].start_address, 0u);
  EXPECT_EQ(segments[0].length_words, 4024u);
  EXPECT_EQ(segments[0].frames, 1u);
  EXPECT_EQ(segments[0].occupied_words(), 4096u);
  EXPECT_TRUE(segments[0].complete);
  EXPECT_EQ(segments[0].payload, first);
  EXPECT_EQ(segments[1].start_address, 4096u);
  EXPECT_EQ(segments[1].frames, 2u);
  EXPECT_TRUE(segments[1].complete);
  EXPECT_EQ(segments[1].payload, second);
  EXPECT_FALSE(model.transfer_under_way());
  EXPECT_FALSE(model.download_announced());
  EXPECT_TRUE(model.rejections().empty());

  model.write(sealed(kOpClearWaveform));
  EXPECT_TRUE(model.waveform_segments().empty());
}

TEST_F(WaveformMemoryModelTest, EachStreamOverwritesRecordZeroAndLeavesDownloadsAlone) {
  const Bytes segment = payload_bytes(16096, 3);
  ASSERT_EQ(download(0, 0, segment), (std::vector<std::int32_t>{0}));
  ASSERT_EQ(download(1, 4096, segment), (std::vector<std::int32_t>{0}));
  const Bytes long_stream = payload_bytes(65256, 4);  // two frames
  const Bytes short_stream = payload_bytes(800, 5);
  EXPECT_EQ(send(transfer_frames(TransferMode::Stream, 0, 8192, long_stream)),
            (std::vector<std::int32_t>{0, 0}));
  EXPECT_EQ(model.waveform_segment(0)->payload, long_stream);
  EXPECT_EQ(send(transfer_frames(TransferMode::Stream, 0, 40960, short_stream)),
            (std::vector<std::int32_t>{0}));

  const auto record = model.waveform_segment(0);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->mode, TransferMode::Stream);
  EXPECT_EQ(record->start_address, 40960u);
  EXPECT_EQ(record->length_words, 200u);
  EXPECT_TRUE(record->complete);
  EXPECT_EQ(record->payload, short_stream);
  EXPECT_EQ(model.waveform_segment(1)->payload, segment);
}

TEST_F(WaveformMemoryModelTest, FramesOutOfPlaceAreRefusedAndEndTheTransfer) {
  // A download of 16104 bytes: 8056 in the first frame, 8048 in the second.
  const auto download_frames = transfer_frames(TransferMode::Download, 0, 0, payload_bytes(16104, 6));
  const auto stream_frames = transfer_frames(TransferMode::Stream, 0, 0, payload_bytes(65256, 7));
  const Bytes too_long = later_frame(TransferMode::Download, payload_bytes(8056, 8));
  // Well formed but 32768 bytes long.
  Bytes odd_size(32768);
  const SegmentDescriptor descriptor =
      segment_descriptor(TransferMode::Stream, 0, WaveformSegment{16, 0, 8191, 4});
  build_transfer_frame(odd_size, payload_bytes(64, 1), &descriptor);
  const std::int32_t bad = kTransferFrameRejected;
  struct Case {
    const char* name;
    bool announce;
    std::vector<Bytes> frames;
    std::vector<std::int32_t> statuses;
    FrameFault fault;
  };
  const std::vector<Case> cases = {
      {"download frame without 0x39", false, {download_frames[0]}, {bad}, FrameFault::kNotAnnounced},
      {"later frame with no transfer under way", true, {download_frames[1]}, {bad},
       FrameFault::kNoTransfer},
      {"stream frame inside a download", true, {download_frames[0], stream_frames[1]}, {0, bad},
       FrameFault::kFrameSizeChanged},
      {"stream with a segment number",
       false,
       transfer_frames(TransferMode::Stream, 2, 0, payload_bytes(64, 7)),
       {bad},
       FrameFault::kDescriptor},
      {"more payload than the segment length", true, {download_frames[0], too_long}, {0, bad},
       FrameFault::kPayloadOverrun},
      {"frame of neither transfer size", false, {odd_size}, {bad}, FrameFault::kFrameSize},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InstrumentModel fresh;
    fresh.set_log(log);
    if (c.announce) fresh.write(sealed(kOpDownloadWaveform));
    std::vector<std::int32_t> statuses;
    for (const Bytes& frame : c.frames) statuses.push_back(fresh.stream_write(frame));
    EXPECT_EQ(statuses, c.statuses);
    const auto rejections = fresh.rejections();
    ASSERT_EQ(rejections.size(), 1u);
    EXPECT_EQ(rejections[0].fault, c.fault);
    EXPECT_EQ(rejections[0].kind, EventKind::kTransferFrame);
    EXPECT_EQ(rejections[0].index, c.frames.size() - 1);
    EXPECT_FALSE(fresh.transfer_under_way());
    // The second frame of the download cannot continue a refused one.
    if (c.frames.size() == 2) {
      EXPECT_EQ(fresh.stream_write(download_frames[1]), bad);
      const auto record = fresh.waveform_segment(0);
      ASSERT_TRUE(record);
      EXPECT_FALSE(record->complete);
      EXPECT_EQ(record->bytes_received, 8056u);
    }
  }
}

TEST_F(WaveformMemoryModelTest, ATransferCutShortStaysIncompleteAndTheNextOneStartsCleanly) {
  const Bytes payload = payload_bytes(65256, 9);
  const auto frames = transfer_frames(TransferMode::Stream, 0, 0, payload);
  struct Case {
    const char* name;
    std::function<void()> cut;
  };
  const Case cases[] = {
      {"stream path reset", [&] { model.stream_stop(); }},
      {"a new descriptor", [] {}},
      {"a download announcement", [&] { model.write(sealed(kOpDownloadWaveform)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(model.stream_write(frames[0]), kModelOk);
    EXPECT_TRUE(model.transfer_under_way());
    c.cut();
    const auto cut = model.waveform_segment(0);
    ASSERT_TRUE(cut);
    EXPECT_FALSE(cut->complete);
    EXPECT_EQ(cut->frames, 1u);
    EXPECT_EQ(send(frames), (std::vector<std::int32_t>{0, 0}));
    EXPECT_TRUE(model.waveform_segment(0)->complete);
    EXPECT_EQ(model.waveform_segment(0)->payload, payload);
  }
  EXPECT_TRUE(model.rejections().empty());
}

TEST_F(WaveformMemoryModelTest, PayloadsBeyondTheRecordLimitAreCountedNotKept) {
  model.set_record_limit(20000);
  const Bytes first = payload_bytes(16096, 1);
  const Bytes second = payload_bytes(16096, 2);
  ASSERT_EQ(download(0, 0, first), (std::vector<std::int32_t>{0}));
  ASSERT_EQ(download(1, 4096, second), (std::vector<std::int32_t>{0}));
  const auto kept = model.waveform_segment(0);
  const auto dropped = model.waveform_segment(1);
  ASSERT_TRUE(kept && dropped);
  EXPECT_TRUE(kept->payload_kept);
  EXPECT_EQ(kept->payload, first);
  EXPECT_FALSE(dropped->payload_kept);
  EXPECT_TRUE(dropped->payload.empty());
  EXPECT_TRUE(dropped->complete);
  EXPECT_EQ(dropped->bytes_received, 16096u);
  // Clearing gives the room back.
  model.write(sealed(kOpClearWaveform));
  ASSERT_EQ(download(0, 0, second), (std::vector<std::int32_t>{0}));
  EXPECT_EQ(model.waveform_segment(0)->payload, second);
}

TEST_F(WaveformMemoryModelTest, ARefusedFrameIsLoggedWithItsIndexAndReason) {
  const auto frames = transfer_frames(TransferMode::Stream, 0, 0, payload_bytes(64, 1));
  ASSERT_EQ(model.stream_write(frames[0]), kModelOk);
  Bytes broken = frames[0];
  broken[0] ^= 1;
  EXPECT_EQ(model.stream_write(broken), kTransferFrameRejected);
  EXPECT_EQ(log.str(),
            "zr-sim: transfer frame 1 rejected: sync word missing (rejected so far: 1)\n");
  EXPECT_EQ(model.counters().rejected_transfer_frames, 1u);
  EXPECT_EQ(model.counters().stream_blocks, 2u);
}

}  // namespace
}  // namespace zr::sim
