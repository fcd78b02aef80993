#include "sim/instrument_model.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/le_codec.hpp"

namespace zr::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string field_text(const BusInfo& info, std::size_t offset) {
  std::string text;
  for (std::size_t i = offset; i < offset + 30 && info.identity_text[i] != 0; ++i) {
    text.push_back(static_cast<char>(info.identity_text[i]));
  }
  return text;
}

TEST(InstrumentModelDefaults, ReportASignalGeneratorOnAFastLink) {
  InstrumentModel model;
  BusInfo info;
  ASSERT_EQ(model.open(info), 0);
  EXPECT_EQ(field_text(info, 0), "Signal Generator");
  EXPECT_FALSE(field_text(info, 30).empty());
  EXPECT_FALSE(field_text(info, 60).empty());
  for (std::size_t i = 90; i < info.identity_text.size(); ++i) {
    ASSERT_EQ(info.identity_text[i], 0) << "identity byte " << i;
  }
  EXPECT_EQ(info.link_kind, 3u);
  EXPECT_EQ(info.link_bandwidth, 625u);
  EXPECT_EQ(info.transfer_timeout_ms, 2000u);
  EXPECT_EQ(info.timeout2_ms, 2000u);
  EXPECT_EQ(info.timeout3_ms, 2000u);
  EXPECT_NE(info.firmware_version, 0u);
  EXPECT_EQ(info.device_release, 0x0100);

  std::uint32_t kind = 0, bandwidth = 0, firmware = 0;
  EXPECT_EQ(model.read_bus_info(kind, bandwidth, firmware), 0);
  EXPECT_EQ(kind, info.link_kind);
  EXPECT_EQ(bandwidth, info.link_bandwidth);
  EXPECT_EQ(firmware, info.firmware_version);

  Bytes list;
  EXPECT_EQ(model.list_devices(list), 0);
  ASSERT_EQ(list.size(), 56u);
  // Bytes 2..7 and 20..55 of a list entry are zero.
  for (std::size_t i : {2, 3, 4, 5, 6, 7, 20, 40, 55}) EXPECT_EQ(list[i], 0) << "byte " << i;
}

TEST(InstrumentModelText, AnswersOnlyTheKernelInformationQuery) {
  InstrumentModel model;
  Bytes reply;
  ASSERT_EQ(model.text_command("tvx --device-kernel-info-all", reply), 0);
  std::string text(reply.begin(), reply.end());
  EXPECT_NE(text.find("PGA_PowerSourceType: 0\n"), std::string::npos) << text;

  for (std::string_view other : {"", "tvx --device-kernel-info", "tvx --device-kernel-info-all\n"}) {
    Bytes none;
    EXPECT_EQ(model.text_command(other, none), kUnknownTextCommand) << other;
    EXPECT_TRUE(none.empty());
  }
}

TEST(InstrumentModelQuery, AnswersQueuedRepliesCutToRoomThenZeros) {
  InstrumentModel model;
  model.queue_query_reply({1, 2, 3, 4, 5});
  model.queue_query_reply({9, 9});
  const Bytes frame(256, 0x16);

  struct Case {
    std::uint32_t room;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {3, {1, 2, 3}},        // the first queued reply, cut; its rest is dropped
      {100, {9, 9}},         // the second one whole
      {1000, Bytes(128, 0)}, // nothing queued: at most 128 zero bytes
      {16, Bytes(16, 0)},
      {0, {}},
  };
  for (const Case& c : cases) {
    Bytes reply{0xaa};  // outputs are appended
    EXPECT_EQ(model.query(frame, c.room, 1000, reply), 0);
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply.front(), 0xaa) << "room " << c.room;
    EXPECT_EQ(Bytes(reply.begin() + 1, reply.end()), c.expected) << "room " << c.room;
  }
  EXPECT_EQ(model.frames().size(), cases.size());
  EXPECT_EQ(model.frames().front(), frame);
}

TEST(InstrumentModelRead, DeliversQueuedBytesUpToRoomAndNothingWhenEmpty) {
  InstrumentModel model;
  model.queue_read_data({1, 2, 3, 4, 5});
  model.queue_read_data({6, 7});
  const std::vector<std::pair<std::uint32_t, Bytes>> steps = {
      {3, {1, 2, 3}}, {0, {}}, {10, {4, 5, 6, 7}}, {10, {}}};
  for (const auto& [room, expected] : steps) {
    Bytes data;
    EXPECT_EQ(model.read(room, data), 0);
    EXPECT_EQ(data, expected) << "room " << room;
  }
}

TEST(InstrumentModelReadBlock, DeliversThePatternUpToTheBound) {
  InstrumentModel model;
  Bytes block;
  ASSERT_EQ(model.read_block(300, block), 0);
  ASSERT_EQ(block.size(), 300u);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(block[255], 255);
  EXPECT_EQ(block[299], 43);

  Bytes whole;
  EXPECT_EQ(model.read_block(static_cast<std::uint32_t>(kMaxReadBlock), whole), 0);
  EXPECT_EQ(whole.size(), kMaxReadBlock);
  Bytes refused;
  EXPECT_EQ(model.read_block(static_cast<std::uint32_t>(kMaxReadBlock + 1), refused),
            kReadBlockTooLong);
  EXPECT_TRUE(refused.empty());
}

TEST(InstrumentModelConfig, SetTimeoutIsAppliedAndReportedByOpen) {
  InstrumentModel model;
  std::uint32_t applied = 0;
  EXPECT_EQ(model.set_timeout(1234, applied), 0);
  EXPECT_EQ(applied, 1234u);
  BusInfo info;
  model.open(info);
  EXPECT_EQ(info.transfer_timeout_ms, 1234u);

  ModelConfig config = default_model_config();
  config.bus_info.firmware_version = 0x00020304;
  config.device_list = {7, 7};
  config.kernel_info = "PGA_PowerSourceType: 1\n";
  model.set_config(config);
  model.open(info);
  EXPECT_EQ(info.firmware_version, 0x00020304u);
  Bytes list, text;
  model.list_devices(list);
  model.text_command(kKernelInfoCommand, text);
  EXPECT_EQ(list, (Bytes{7, 7}));
  EXPECT_EQ(std::string(text.begin(), text.end()), "PGA_PowerSourceType: 1\n");
}

TEST(InstrumentModelRecords, KeepWholePayloadsUpToTheLimitAndCountEverything) {
  InstrumentModel model;
  model.set_record_limit(1000);
  const Bytes frame(256, 0x4a);
  const Bytes block(400, 0x55);
  for (int i = 0; i < 3; ++i) model.write(frame);   // 768 bytes kept
  model.stream_write(block);                         // would pass the limit: counted only
  model.write_data(Bytes(100, 1));                   // still fits
  model.stream_stop();

  EXPECT_EQ(model.frames().size(), 3u);
  EXPECT_TRUE(model.stream_blocks().empty());
  ASSERT_EQ(model.data_writes().size(), 1u);
  ModelCounters counters = model.counters();
  EXPECT_EQ(counters.frames, 3u);
  EXPECT_EQ(counters.frame_bytes, 768u);
  EXPECT_EQ(counters.stream_blocks, 1u);
  EXPECT_EQ(counters.stream_bytes, 400u);
  EXPECT_EQ(counters.data_writes, 1u);
  EXPECT_EQ(counters.data_bytes, 100u);
  EXPECT_EQ(counters.stream_stops, 1u);

  model.clear_records();
  EXPECT_TRUE(model.frames().empty());
  EXPECT_EQ(model.counters().frames, 0u);
  model.stream_write(block);
  EXPECT_EQ(model.stream_blocks().size(), 1u);
}

TEST(InstrumentModelThreads, ConcurrentWritersLoseNothing) {
  InstrumentModel model;
  constexpr int kThreads = 4;
  constexpr int kFramesEach = 500;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&model, t] {
      Bytes frame(256, static_cast<std::uint8_t>(t));
      for (int i = 0; i < kFramesEach; ++i) {
        model.write(frame);
        Bytes reply;
        model.query(frame, 8, 100, reply);
      }
    });
  }
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(model.counters().frames, 2u * kThreads * kFramesEach);
  EXPECT_EQ(model.frames().size(), 2u * kThreads * kFramesEach);
}

}  // namespace
}  // namespace zr::sim
