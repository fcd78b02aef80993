// From parameters to the instrument's waveform memory: open the simulated instrument, configure
// each kind, have the real waveform library synthesise it, download the samples and compare what
// the instrument stored with what was generated, byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modulation/waveform_binding.hpp"
#include "platform/clock.hpp"
#include "sim/instrument_model.hpp"
#include "sim/network_service.hpp"
#include "zr_api.h"

using namespace std::chrono_literals;

namespace zr {
namespace {

// Small enough that every kind stays far below the sample budget and downloads quickly.
struct KindCase {
  const char* name;
  std::int32_t symbol_count;  // the digital and spread-spectrum kinds only
  std::function<std::int32_t(DeviceContext**)> configure;
};

std::vector<KindCase> kinds() {
  return {
      {"Digital", 1000,
       [](DeviceContext** d) {
         DigitalModParams p{};
         mod_init_digitalmod(d, &p);
         return mod_config_digitalmod(d, &p, &p);
       }},
      {"Am", 0,
       [](DeviceContext** d) {
         AmParams p{};
         mod_init_am(d, &p);
         p.mod_frequency = 1e5;
         p.depth = 50;
         return mod_config_am(d, &p, &p);
       }},
      {"Fm", 0,
       [](DeviceContext** d) {
         FmParams p{};
         mod_init_fm(d, &p);
         p.mod_frequency = 1e5;
         p.deviation = 1e6;
         return mod_config_fm(d, &p, &p);
       }},
      {"Dsss", 10,
       [](DeviceContext** d) {
         DsssParams p{};
         mod_init_dsss(d, &p);
         return mod_config_dsss(d, &p, &p);
       }},
      {"Pulse", 0,
       [](DeviceContext** d) {
         PulseParams p{};
         mod_init_pulse(d, &p);
         p.width = 1e-6;
         p.period = 1e-5;
         return mod_config_pulse(d, &p, &p);
       }},
      {"Multitone", 0,
       [](DeviceContext** d) {
         MultitoneParams p{};
         mod_init_multitone(d, &p);
         return mod_config_multitone(d, &p, &p);
       }},
      {"StepSweep", 0,
       [](DeviceContext** d) {
         StepSweepParams p{};
         mod_init_stepsweep(d, &p);
         p.span = 1e6;
         p.points = 11;
         p.dwell = 1e-5;
         return mod_config_stepsweep(d, &p, &p);
       }},
      {"RampSweep", 0,
       [](DeviceContext** d) {
         RampSweepParams p{};
         mod_init_rampsweep(d, &p);
         p.span = 1e6;
         p.sub_time = 1e-4;
         p.sweep_time = 1e-4;
         return mod_config_rampsweep(d, &p, &p);
       }},
      {"Ofdm", 0,
       [](DeviceContext** d) {
         OfdmParams p{};
         mod_init_ofdm(d, &p);
         p.symbols = 16;
         return mod_config_ofdm(d, &p, &p);
       }},
      {"Noise", 0,
       [](DeviceContext** d) {
         AwgnParams p{};
         mod_init_awgn(d, &p);
         p.duration = 1e-3;
         return mod_config_awgn(d, &p, &p);
       }},
  };
}

class ModulationToInstrument : public ::testing::Test {
 protected:
  void SetUp() override {
    service_.set_log(log_);
    std::string error;
    ASSERT_TRUE(service_.start("127.0.0.1", 0, error)) << error;
    EthParams params{};
    params.protocol = ZR_ETH_PROTOCOL_TCP;
    params.address[0] = 127;
    params.address[3] = 1;
    params.port = service_.port();
    params.timeout_ms = 2000;
    ChannelHandle channels[1] = {};
    std::int16_t channel_count = 0;
    DeviceInfo info{};
    ASSERT_EQ(device_open_eth(&context_, params, channels, &channel_count, &info), ZR_OK);
    ASSERT_EQ(mod_open(&context_, nullptr), ZR_OK);
  }
  void TearDown() override {
    if (context_ != nullptr) {
      EXPECT_EQ(mod_close(&context_), ZR_OK);
      EXPECT_EQ(device_close(&context_), ZR_OK);
    }
  }

  FakeClock clock_{0ns};  // the download's pauses pass at once
  ScopedClock installed_clock_{clock_};
  ScopedWaveformLibraryFolder library_{ZR_WAVEFORM_LIBRARY_DIR};
  sim::InstrumentModel model_;
  sim::NetworkService service_{model_};
  std::ostringstream log_;
  DeviceContext* context_ = nullptr;
};

TEST_F(ModulationToInstrument, EveryKindArrivesInTheWaveformMemoryBitExactly) {
  for (const KindCase& kind : kinds()) {
    SCOPED_TRACE(kind.name);
    ASSERT_EQ(kind.configure(&context_), ZR_OK);

    // The library reports the length first, then fills a buffer of exactly that size.
    std::uint64_t pairs = 0;
    double rate = 0;
    ASSERT_EQ(mod_generate_stream(&context_, kind.symbol_count, nullptr, &pairs, &rate), ZR_OK);
    ASSERT_GE(pairs, 2u);
    ASSERT_LE(pairs, 2'000'000u);
    EXPECT_GT(rate, 0.0);
    std::vector<std::int16_t> samples(2 * pairs);
    std::uint64_t capacity = pairs;
    ASSERT_EQ(mod_generate_stream(&context_, kind.symbol_count, samples.data(), &capacity, &rate),
              ZR_OK);
    ASSERT_EQ(capacity, pairs);
    bool any_nonzero = false;
    for (std::int16_t s : samples) any_nonzero |= s != 0;
    EXPECT_TRUE(any_nonzero);

    ASSERT_EQ(tx_clear_waveform(&context_), ZR_OK);
    std::uint16_t segment = 0xFFFF;
    ASSERT_EQ(tx_download_waveform(&context_, samples.data(), pairs, &segment), ZR_OK);
    EXPECT_EQ(segment, 0);

    const auto segments = model_.waveform_segments();
    ASSERT_EQ(segments.size(), 1u);
    const sim::SegmentRecord& stored = segments[0];
    EXPECT_TRUE(stored.complete);
    ASSERT_TRUE(stored.payload_kept);
    // Transfers carry whole 8-byte units: an odd last pair is not sent.
    const std::size_t sent_bytes = pairs * 4 / 8 * 8;
    ASSERT_EQ(stored.payload.size(), sent_bytes);
    std::vector<std::uint8_t> expected(sent_bytes);
    for (std::size_t i = 0; i < sent_bytes / 2; ++i) {
      const auto value = static_cast<std::uint16_t>(samples[i]);
      expected[2 * i] = static_cast<std::uint8_t>(value);
      expected[2 * i + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    EXPECT_TRUE(stored.payload == expected) << "the stored samples differ from those generated";
  }
}

}  // namespace
}  // namespace zr
