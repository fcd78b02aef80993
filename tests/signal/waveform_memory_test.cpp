// Waveform memory bookkeeping, the transfer failures, the argument decisions and the playback
// list, through the exported calls against a recording bus.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "device/opcodes.hpp"
#include "tests/signal/signal_test_context.hpp"
#include "tests/signal/transfer_frame_reader.hpp"

namespace zr {
namespace {

using namespace std::chrono_literals;
using testing::kStreamWriteCall;
using testing::read_transfer_frame;
using testing::RecordingBus;
using testing::sealed;
using testing::SignalTestContext;

constexpr std::uint32_t kMemoryWords = 1u << 25;

std::vector<std::int16_t> zero_samples(std::size_t count) {
  return std::vector<std::int16_t>(2 * count, 0x1234);
}

// The descriptor of the first frame of the n-th stream write recorded.
std::vector<std::uint32_t> descriptor_of(const RecordingBus& bus, std::size_t nth) {
  const auto frame = read_transfer_frame(bus.streamed().at(nth), true);
  EXPECT_EQ(frame.error, "");
  return frame.descriptor;
}

std::vector<std::uint32_t> descriptor(std::uint32_t segment, std::uint32_t length,
                                      std::uint32_t start, std::uint32_t span) {
  std::vector<std::uint32_t> words(22, 0);
  words[0] = 2;
  words[6] = segment;
  words[7] = length;
  words[8] = start / 2;
  words[9] = span;
  words[10] = 1;
  words[14] = 2;
  words[20] = 268435456;
  return words;
}

WaveformMemory& memory_with_next_free(SignalTestContext& t, std::uint32_t next_free) {
  t.context.stream = std::make_unique<WaveformMemory>();
  t.context.stream->next_free_address = next_free;
  return *t.context.stream;
}

TEST(WaveformDownload, TwoDownloadsAfterAClearGetSegmentsZeroAndOneAtConsecutiveAddresses) {
  SignalTestContext t;
  const auto first = zero_samples(4024);   // one frame: 4096 words
  const auto second = zero_samples(4026);  // two frames: 8192 words
  ASSERT_EQ(::tx_clear_waveform(&t.device), ZR_OK);
  std::uint16_t a = 0xFFFF;
  std::uint16_t b = 0xFFFF;
  ASSERT_EQ(::tx_download_waveform(&t.device, first.data(), 4024, &a), ZR_OK);
  ASSERT_EQ(::tx_download_waveform(&t.device, second.data(), 4026, &b), ZR_OK);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(t.sequence(),
            (std::vector<int>{kOpClearWaveform, kOpDownloadWaveform, kStreamWriteCall,
                              kOpDownloadWaveform, kStreamWriteCall, kStreamWriteCall}));
  EXPECT_EQ(t.bus.written()[0], sealed(kOpClearWaveform, [](CommandFrame&) {}));
  EXPECT_EQ(t.bus.written()[1], sealed(kOpDownloadWaveform, [](CommandFrame&) {}));

  const WaveformMemory& memory = *t.context.stream;
  ASSERT_EQ(memory.segments.size(), 2u);
  EXPECT_EQ(memory.segments[0].start_address, 0u);
  EXPECT_EQ(memory.segments[0].end_address, 4095u);
  EXPECT_EQ(memory.segments[1].start_address, 4096u);
  EXPECT_EQ(memory.segments[1].end_address, 12287u);
  EXPECT_EQ(memory.segments[1].length, 4026u);
  EXPECT_EQ(memory.segments[1].rate_factor, 4u);
  EXPECT_EQ(memory.next_free_address, 12288u);
  // A download's span counts from address 0: (12287 + 1) / 2 = 6144 words, 96 blocks of 64.
  EXPECT_EQ(descriptor_of(t.bus, 0), descriptor(0, 4024, 0, 1984));
  EXPECT_EQ(descriptor_of(t.bus, 1), descriptor(1, 4026, 4096, 6080));
}

TEST(WaveformStream, TakesMemoryAfterTheSegmentsAndReusesRecordZero) {
  SignalTestContext t;
  const auto samples = zero_samples(16314);  // two frames: 32768 words
  std::uint16_t segment = 0;
  ASSERT_EQ(::tx_download_waveform(&t.device, samples.data(), 4024, &segment), ZR_OK);
  ASSERT_EQ(::tx_send_stream(&t.channel, samples.data(), 16314), ZR_OK);
  const WaveformMemory& memory = *t.context.stream;
  ASSERT_EQ(memory.segments.size(), 1u);  // the download's record 0 was taken over
  EXPECT_EQ(memory.segments[0].start_address, 4096u);
  EXPECT_EQ(memory.segments[0].end_address, 36863u);
  EXPECT_EQ(memory.next_free_address, 36864u);
  // A stream's span is its own: 32768 / 2 = 16384 words, 256 blocks of 64.
  EXPECT_EQ(descriptor_of(t.bus, 1), descriptor(0, 16314, 4096, 16320));
}

TEST(WaveformMemoryEnd, ADownloadMustEndBelowTheMemorySizeAStreamStartsAgainAtZero) {
  struct Case {
    const char* name;
    bool stream;
    std::uint32_t next_free;
    std::int32_t status;
    std::uint32_t start;  // of the new record when accepted
  };
  // One frame of either kind: 4096 words (download) or 16384 words (stream).
  const Case cases[] = {
      {"download_ending_on_the_last_word", false, kMemoryWords - 4096, ZR_OK, kMemoryWords - 4096},
      {"download_reaching_the_end", false, kMemoryWords - 4095, ZR_WAVEFORM_MEMORY_FULL, 0},
      {"download_on_a_full_memory", false, kMemoryWords, ZR_WAVEFORM_MEMORY_FULL, 0},
      {"stream_ending_on_the_last_word", true, kMemoryWords - 16384, ZR_OK, kMemoryWords - 16384},
      {"stream_reaching_the_end_starts_at_zero", true, kMemoryWords - 100, ZR_OK, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SignalTestContext t;
    WaveformMemory& memory = memory_with_next_free(t, c.next_free);
    const auto samples = zero_samples(c.stream ? 16312 : 4024);
    std::uint16_t segment = 0xBEEF;
    const std::int32_t status =
        c.stream ? ::tx_send_stream(&t.channel, samples.data(), 16312)
                 : ::tx_download_waveform(&t.device, samples.data(), 4024, &segment);
    EXPECT_EQ(status, c.status);
    if (c.status != ZR_OK) {
      // The announcement went out; no sample, no record, no memory taken, no number reported.
      EXPECT_EQ(t.sequence(), std::vector<int>{kOpDownloadWaveform});
      EXPECT_TRUE(memory.segments.empty());
      EXPECT_EQ(memory.next_free_address, c.next_free);
      EXPECT_EQ(segment, 0xBEEF);
      continue;
    }
    ASSERT_EQ(memory.segments.size(), 1u);
    EXPECT_EQ(memory.segments[0].start_address, c.start);
    EXPECT_EQ(descriptor_of(t.bus, 0)[8], c.start / 2);
    EXPECT_EQ(memory.next_free_address, c.start + (c.stream ? 16384u : 4096u));
  }
}

TEST(WaveformMemoryEnd, AStreamLargerThanTheWholeMemoryIsRefusedUntouched) {
  SignalTestContext t;
  WaveformMemory& memory = memory_with_next_free(t, 0);
  // Never read: the count alone shows that the frames cannot fit.
  const auto samples = zero_samples(2);
  for (const std::size_t count :
       {std::size_t{kMemoryWords}, std::size_t{kMemoryWords} + 1, std::size_t{1} << 62}) {
    SCOPED_TRACE(count);
    EXPECT_EQ(::tx_send_stream(&t.channel, samples.data(), count), ZR_WAVEFORM_MEMORY_FULL);
  }
  EXPECT_TRUE(t.bus.calls.empty());
  EXPECT_TRUE(memory.segments.empty());
  EXPECT_EQ(memory.next_free_address, 0u);
}

TEST(WaveformTransfer, TooFewSamplesOrNoBufferSendNothingAndStopNothing) {
  const auto samples = zero_samples(4);
  struct Case {
    const char* name;
    bool stream;
    const std::int16_t* data;
    std::size_t count;
  };
  const Case cases[] = {
      {"download_of_1", false, samples.data(), 1}, {"download_of_0", false, samples.data(), 0},
      {"download_of_null", false, nullptr, 4},     {"stream_of_1", true, samples.data(), 1},
      {"stream_of_0", true, samples.data(), 0},    {"stream_of_null", true, nullptr, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SignalTestContext t;
    t.mark_running();
    std::uint16_t segment = 0;
    const std::int32_t status = c.stream
                                    ? ::tx_send_stream(&t.channel, c.data, c.count)
                                    : ::tx_download_waveform(&t.device, c.data, c.count, &segment);
    EXPECT_EQ(status, ZR_TRANSFER_TOO_SHORT);
    EXPECT_TRUE(t.bus.calls.empty());
    EXPECT_EQ(t.context.live_channel(0).running, 1);
  }
}

TEST(WaveformTransfer, AFailedFrameEndsTheTransferAndTheReservationStands) {
  struct Case {
    const char* name;
    std::int32_t bus_status;
    std::int64_t moved;  // -1: the whole frame
    std::int32_t status;
  };
  const Case cases[] = {
      {"cancelled_frame", ZR_BUS_USB_CANCELLED, -1, ZR_TRANSFER_CANCELLED},
      {"failed_frame", ZR_BUS_USB_TRANSFER_FAILED, -1, ZR_TRANSPORT_FAILED},
      {"missing_ethernet_reply", ZR_BUS_ETH_NO_REPLY, -1, ZR_TRANSPORT_FAILED},
      {"short_frame_reported_as_success", ZR_OK, 100, ZR_TRANSPORT_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SignalTestContext t;
    constexpr std::size_t kCount = 3 * std::size_t{16312};  // three full stream frames
    const auto samples = zero_samples(kCount);
    t.bus.stream_write_statuses = {ZR_OK, c.bus_status};
    if (c.moved >= 0) t.bus.stream_write_moved = c.moved;
    EXPECT_EQ(::tx_send_stream(&t.channel, samples.data(), kCount), c.status);
    EXPECT_EQ(t.bus.streamed().size(), c.moved >= 0 ? 1u : 2u);
    ASSERT_EQ(t.context.stream->segments.size(), 1u);
    EXPECT_EQ(t.context.stream->next_free_address, 3u * 16384u);
  }
}

TEST(WaveformDownload, AFailedAnnouncementSendsNoSamplesAndRecordsNothing) {
  SignalTestContext t;
  t.bus.default_write_status = ZR_TRANSPORT_FAILED;
  const auto samples = zero_samples(8);
  std::uint16_t segment = 0;
  EXPECT_EQ(::tx_download_waveform(&t.device, samples.data(), 8, &segment), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(t.sequence(), std::vector<int>{kOpDownloadWaveform});
  EXPECT_TRUE(t.context.stream == nullptr || t.context.stream->segments.empty());
  EXPECT_EQ(t.clock.total_slept(), 0ns);
}

TEST(WaveformDownload, WaitsTenMillisecondsBetweenAnnouncementAndFrames) {
  SignalTestContext t;
  const auto samples = zero_samples(8);
  std::uint16_t segment = 0;
  t.bus.default_write_status = ZR_OK;
  ASSERT_EQ(::tx_download_waveform(&t.device, samples.data(), 8, &segment), ZR_OK);
  EXPECT_EQ(t.clock.total_slept(), 10ms);
  EXPECT_EQ(::tx_download_waveform(&t.device, samples.data(), 8, nullptr), ZR_MISSING_BUFFER);
}

TEST(WaveformClear, EmptiesTheMemoryAndWaitsFiftyMillisecondsEvenWhenItsFrameFails) {
  for (const std::int32_t write : {std::int32_t{ZR_OK}, std::int32_t{ZR_TRANSPORT_FAILED}}) {
    SCOPED_TRACE(write);
    SignalTestContext t;
    const auto samples = zero_samples(8);
    std::uint16_t segment = 0;
    ASSERT_EQ(::tx_download_waveform(&t.device, samples.data(), 8, &segment), ZR_OK);
    ASSERT_EQ(::tx_download_waveform(&t.device, samples.data(), 8, &segment), ZR_OK);
    t.bus.default_write_status = write;
    const auto slept = t.clock.total_slept();
    EXPECT_EQ(::tx_clear_waveform(&t.device), write);
    EXPECT_EQ(t.clock.total_slept() - slept, 50ms);
    EXPECT_TRUE(t.context.stream->segments.empty());
    EXPECT_EQ(t.context.stream->next_free_address, 0u);
  }
}

// Page p of a playback list whose entry i is (segment 100 + i, repeats 1000 + i, value i / 4).
std::vector<std::uint8_t> playback_page(int pages, int page, int entries) {
  return sealed(kOpConfigPlayback, [&](CommandFrame& f) {
    set_frame_u8(f, 10, static_cast<std::uint8_t>(pages));
    set_frame_u8(f, 11, static_cast<std::uint8_t>(page));
    set_frame_u8(f, 12, static_cast<std::uint8_t>(entries));
    for (int k = 0; k < entries; ++k) {
      const int i = page * 10 + k;
      const std::size_t at = 16 + 16 * static_cast<std::size_t>(k);
      set_frame_u16(f, at, static_cast<std::uint16_t>(100 + i));
      set_frame_u32(f, at + 4, static_cast<std::uint32_t>(1000 + i));
      set_frame_f64(f, at + 8, i / 4.0);
    }
  });
}

struct PlaybackList {
  explicit PlaybackList(int count) {
    for (int i = 0; i < count; ++i) {
      segments.push_back(static_cast<std::uint16_t>(100 + i));
      repeats.push_back(static_cast<std::uint32_t>(1000 + i));
      values.push_back(i / 4.0);
    }
  }
  std::int32_t send(SignalTestContext& t, std::int16_t count) {
    return ::tx_config_playback(&t.channel, segments.data(), repeats.data(), values.data(), count);
  }
  std::vector<std::uint16_t> segments;
  std::vector<std::uint32_t> repeats;
  std::vector<double> values;
};

TEST(PlaybackList, GoesOutInPagesOfTen) {
  struct Case {
    int count;
    std::vector<int> page_entries;
  };
  const Case cases[] = {{1, {1}}, {10, {10}}, {11, {10, 1}}, {25, {10, 10, 5}}, {0, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    SignalTestContext t;
    PlaybackList list(c.count);
    EXPECT_EQ(list.send(t, static_cast<std::int16_t>(c.count)), ZR_OK);
    const auto written = t.bus.written();
    ASSERT_EQ(written.size(), c.page_entries.size());
    const int pages = static_cast<int>(c.page_entries.size());
    for (int p = 0; p < pages; ++p) {
      EXPECT_EQ(written[static_cast<std::size_t>(p)],
                playback_page(pages, p, c.page_entries[static_cast<std::size_t>(p)]));
    }
  }
}

TEST(PlaybackList, TheLongestListFillsTheSingleBytePageFieldsAndOneMoreIsRefused) {
  PlaybackList list(2551);
  SignalTestContext longest;
  EXPECT_EQ(list.send(longest, 2550), ZR_OK);
  const auto written = longest.bus.written();
  ASSERT_EQ(written.size(), 255u);
  EXPECT_EQ(written.back(), playback_page(255, 254, 10));

  SignalTestContext refused;
  refused.mark_running();
  EXPECT_EQ(list.send(refused, 2551), ZR_PLAYBACK_TOO_LONG);
  EXPECT_EQ(::tx_config_playback(&refused.channel, nullptr, nullptr, nullptr, 1),
            ZR_MISSING_BUFFER);
  EXPECT_TRUE(refused.bus.calls.empty());
  EXPECT_EQ(refused.context.live_channel(0).running, 1);
}

TEST(PlaybackList, AFailedPageEndsTheList) {
  SignalTestContext t;
  PlaybackList list(25);
  t.bus.write_statuses = {ZR_OK, ZR_TRANSPORT_FAILED};
  EXPECT_EQ(list.send(t, 25), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(t.bus.written().size(), 2u);
}

}  // namespace
}  // namespace zr
