// The transfer frames of downloads and streams as the bus receives them: layout, payload spread,
// descriptor placement, and samples reassembled bit for bit.
#include <gtest/gtest.h>

#include <random>

#include "tests/signal/signal_test_context.hpp"
#include "tests/signal/transfer_frame_reader.hpp"

namespace zr {
namespace {

using testing::read_transfer_frame;
using testing::sample_bytes;
using testing::SignalTestContext;

// int16 values of count samples (two values per sample), all different from their neighbours.
std::vector<std::int16_t> make_samples(std::size_t count, unsigned seed) {
  std::vector<std::int16_t> values(2 * count);
  std::mt19937 random(seed);
  for (auto& value : values) value = static_cast<std::int16_t>(random());
  return values;
}

enum class Via { Download, Stream };

std::int32_t transfer(SignalTestContext& t, Via via, const std::vector<std::int16_t>& values,
                      std::size_t count) {
  if (via == Via::Stream) return ::tx_send_stream(&t.channel, values.data(), count);
  std::uint16_t segment = 0xFFFF;
  return ::tx_download_waveform(&t.device, values.data(), count, &segment);
}

struct FrameShape {
  std::size_t payload;
  std::size_t header;
  std::size_t padding;
};

TEST(TransferLayout, FramesSpreadThePayloadAndCarryTheDescriptorOnlyFirst) {
  struct Case {
    const char* name;
    Via via;
    std::size_t samples;
    std::size_t frame_size;
    std::size_t bytes;  // sample bytes carried
    std::vector<FrameShape> frames;
  };
  const Case cases[] = {
      {"download_4024_one_full_frame", Via::Download, 4024, 16384, 16096, {{16096, 256, 32}}},
      {"download_4026_two_frames",
       Via::Download,
       4026,
       16384,
       16104,
       {{8056, 4168, 4160}, {8048, 4168, 4168}}},
      {"stream_16312_one_full_frame", Via::Stream, 16312, 65536, 65248, {{65248, 256, 32}}},
      {"stream_16314_two_frames",
       Via::Stream,
       16314,
       65536,
       65256,
       {{32632, 16456, 16448}, {32624, 16456, 16456}}},
      {"stream_5_drops_the_fifth_sample", Via::Stream, 5, 65536, 16, {{16, 32760, 32760}}},
      {"download_5_drops_the_fifth_sample", Via::Download, 5, 16384, 16, {{16, 8184, 8184}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SignalTestContext t;
    const auto values = make_samples(c.samples, 11);
    ASSERT_EQ(transfer(t, c.via, values, c.samples), ZR_OK);
    const auto frames = t.bus.streamed();
    ASSERT_EQ(frames.size(), c.frames.size());
    std::vector<std::uint8_t> received;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(frames[i].size(), c.frame_size);
      const auto frame = read_transfer_frame(frames[i], i == 0);
      ASSERT_EQ(frame.error, "");
      EXPECT_EQ(frame.payload.size(), c.frames[i].payload);
      EXPECT_EQ(frame.header_size, c.frames[i].header);
      EXPECT_EQ(frame.padding_size, c.frames[i].padding);
      received.insert(received.end(), frame.payload.begin(), frame.payload.end());
    }
    auto expected = sample_bytes(values);
    expected.resize(c.bytes);
    EXPECT_EQ(received, expected);
  }
}

TEST(TransferLayout, UnitFieldsOfAFullDownloadFrame) {
  SignalTestContext t;
  const auto values = make_samples(4024, 3);
  std::uint16_t segment = 0;
  ASSERT_EQ(::tx_download_waveform(&t.device, values.data(), 4024, &segment), ZR_OK);
  const auto frames = t.bus.streamed();
  ASSERT_EQ(frames.size(), 1u);
  const std::vector<std::uint8_t> leading(frames[0].begin(), frames[0].begin() + 32);
  const std::vector<std::uint8_t> expected = {
      0x90, 0xEB, 0x90, 0xEB, 0, 0, 0, 0,  // sync word
      28,   0,    0,    0,    0, 0, 0, 0,  // header units
      0xDC, 0x07, 0,    0,    0, 0, 0, 0,  // 2012 payload units
      3,    0,    0,    0,    0, 0, 0, 0,  // padding units
  };
  EXPECT_EQ(leading, expected);
  const std::vector<std::uint8_t> end(frames[0].end() - 8, frames[0].end());
  EXPECT_EQ(end, (std::vector<std::uint8_t>{0x37, 0x81, 0x37, 0x81, 0, 0, 0, 0}));
}

TEST(TransferLayout, AStreamOfManyFramesArrivesBitExact) {
  SignalTestContext t;
  const std::size_t count = 100001;  // an odd count: the last sample is not a whole unit
  const auto values = make_samples(count, 29);
  ASSERT_EQ(::tx_send_stream(&t.channel, values.data(), count), ZR_OK);
  const auto frames = t.bus.streamed();
  ASSERT_EQ(frames.size(), 7u);  // 400000 bytes at most 65248 per frame
  std::vector<std::uint8_t> received;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const auto frame = read_transfer_frame(frames[i], i == 0);
    ASSERT_EQ(frame.error, "") << "frame " << i;
    received.insert(received.end(), frame.payload.begin(), frame.payload.end());
  }
  auto expected = sample_bytes(values);
  expected.resize(400000);
  EXPECT_EQ(received, expected);
}

}  // namespace
}  // namespace zr
