// mod_generate_stream against the recording double: the record and rate the library receives,
// the budget fallback to the last generated set, the digital failure codes and the missing kind.
#include "modulation/stream_generation.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <sstream>

#include "platform/console.hpp"
#include "platform/le_codec.hpp"
#include "tests/modulation/modulation_fixture.hpp"

namespace zr {
namespace {

using testing::BoundFixture;

double f64_at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  const std::uint64_t low = load_u32(bytes.data() + offset);
  const std::uint64_t high = load_u32(bytes.data() + offset + 4);
  return std::bit_cast<double>(low | (high << 32));
}
std::uint32_t u32_at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return load_u32(bytes.data() + offset);
}

class StreamGeneration : public BoundFixture {
 protected:
  std::int32_t generate(std::int32_t count = 0) {
    rate_ = -1.0;
    return mod_generate_stream(device(), count, &output_, &output_size_, &rate_);
  }
  const testing::DoubleCall& last_call() { return lib().calls.back(); }

  double rate_ = -1.0;
  int output_ = 0;
  int output_size_ = 0;
};

TEST_F(StreamGeneration, NoCurrentKindPrintsInvalidModAndKeepsTheStatus) {
  std::ostringstream captured;
  ScopedConsole console(captured);
  EXPECT_EQ(generate(), ZR_OK);
  EXPECT_EQ(captured.str(), "InvalidMod\n");
  EXPECT_EQ(rate_, 4e6);
  EXPECT_TRUE(lib().calls.empty());
}

TEST_F(StreamGeneration, DefaultRecordsAtTheirRatesAndWithinOrOverBudget) {
  // Each kind with init's defaults configured unchanged: the rate asked for, and whether the
  // pending set was generated (0) or the accepted one (-609). Init stored the same defaults as
  // the accepted set, so the library receives the same record either way.
  struct Case {
    const char* entry;
    std::function<std::int32_t(DeviceContext**)> configure;
    double rate;
    std::int32_t status;
  } cases[] = {
      {"GenerateAmWaveform",
       [](DeviceContext** d) { AmParams p; mod_init_am(d, &p); return mod_config_am(d, &p, &p); },
       1.25e8, ZR_MOD_OVER_BUDGET},
      {"GenerateFmWaveform",
       [](DeviceContext** d) { FmParams p; mod_init_fm(d, &p); return mod_config_fm(d, &p, &p); },
       1.25e8, ZR_OK},
      {"GenerateAWGNWaveform",
       [](DeviceContext** d) { AwgnParams p; mod_init_awgn(d, &p); return mod_config_awgn(d, &p, &p); },
       5e7, ZR_OK},
      {"GenerateStepSweepWaveform",
       [](DeviceContext** d) {
         StepSweepParams p;
         mod_init_stepsweep(d, &p);
         return mod_config_stepsweep(d, &p, &p);
       },
       8e7, ZR_MOD_OVER_BUDGET},
      {"GenerateMultitoneWaveform",
       [](DeviceContext** d) {
         MultitoneParams p;
         mod_init_multitone(d, &p);
         return mod_config_multitone(d, &p, &p);
       },
       1.6e7, ZR_OK},
      {"GeneratePulseWaveform",
       [](DeviceContext** d) { PulseParams p; mod_init_pulse(d, &p); return mod_config_pulse(d, &p, &p); },
       1.25e8, ZR_OK},
      {"GenerateRampSweepWaveform",
       [](DeviceContext** d) {
         RampSweepParams p;
         mod_init_rampsweep(d, &p);
         return mod_config_rampsweep(d, &p, &p);
       },
       1.25e8, ZR_OK},
      {"GenerateOFDMWaveform",
       [](DeviceContext** d) { OfdmParams p{}; mod_init_ofdm(d, &p); return mod_config_ofdm(d, &p, &p); },
       2e7, ZR_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    ASSERT_EQ(c.configure(device()), ZR_OK);
    EXPECT_EQ(generate(), c.status);
    ASSERT_FALSE(lib().calls.empty());
    EXPECT_EQ(last_call().entry, c.entry);
    EXPECT_EQ(last_call().rate, c.rate);
    EXPECT_EQ(rate_, c.rate);
    EXPECT_EQ(last_call().generator, 7);
    EXPECT_EQ(last_call().output, &output_);
    EXPECT_EQ(last_call().output_size, &output_size_);
  }
}

TEST_F(StreamGeneration, SingleToneMultitonePlaysAt1e8) {
  MultitoneParams p{0.0, 1, 1e6};
  ASSERT_EQ(mod_config_multitone(device(), &p, &p), ZR_OK);
  EXPECT_EQ(generate(), ZR_OK);
  EXPECT_EQ(rate_, 1e8);
}

TEST_F(StreamGeneration, OverBudgetGeneratesTheLastAcceptedSetAndKeepsIt) {
  AmParams small{2e6, 30.0, 2};  // 1.2e8 * 1000 / 2e6 = 60000 samples
  ASSERT_EQ(mod_config_am(device(), &small, &small), ZR_OK);
  ASSERT_EQ(generate(), ZR_OK);

  AmParams large{1000.0, 80.0, 1};
  ASSERT_EQ(mod_config_am(device(), &large, &large), ZR_OK);
  EXPECT_EQ(generate(), ZR_MOD_OVER_BUDGET);
  EXPECT_EQ(f64_at(last_call().record, 0), 2e6);
  EXPECT_EQ(f64_at(last_call().record, 8), 30.0);
  EXPECT_EQ(u32_at(last_call().record, 16), 2u);
  EXPECT_EQ(rate_, 1.2e8);  // the accepted set's rate

  EXPECT_EQ(generate(), ZR_MOD_OVER_BUDGET);  // not blocking, and nothing changed
  EXPECT_EQ(f64_at(last_call().record, 0), 2e6);
}

TEST_F(StreamGeneration, LibraryResultIsTheStatusOfANormalGeneration) {
  FmParams fm{};
  mod_init_fm(device(), &fm);
  ASSERT_EQ(mod_config_fm(device(), &fm, &fm), ZR_OK);
  lib().generate_result = 5;
  EXPECT_EQ(generate(), 5);
  lib().generate_result = -2;
  EXPECT_EQ(generate(), -2);  // a raw result of a non-digital kind is returned as it is
  lib().generate_result = 0;
  EXPECT_EQ(generate(), ZR_OK);
}

TEST_F(StreamGeneration, FailedFallbackIsNotReportedAsGenerated) {
  AmParams large{1000.0, 80.0, 1};  // over budget; nothing accepted yet
  ASSERT_EQ(mod_config_am(device(), &large, &large), ZR_OK);
  lib().generate_result = -1;
  EXPECT_EQ(generate(), -1);
}

TEST_F(StreamGeneration, DigitalRecordCountAndFailureCodes) {
  DigitalModParams p{};
  mod_init_digitalmod(device(), &p);
  p.modulation = 3;
  p.symbol_rate = 2e6;
  ASSERT_EQ(mod_config_digitalmod(device(), &p, &p), ZR_OK);
  ASSERT_EQ(generate(1000), ZR_OK);
  const auto& r = last_call().record;
  ASSERT_EQ(r.size(), 48u);
  EXPECT_EQ(u32_at(r, 0), 3u);
  EXPECT_EQ(f64_at(r, 4), 2e6);
  EXPECT_EQ(f64_at(r, 12), 0.0);
  EXPECT_EQ(u32_at(r, 20), 15u);
  EXPECT_EQ(u32_at(r, 24), 23u);
  EXPECT_EQ(u32_at(r, 28), 3u);
  EXPECT_EQ(u32_at(r, 32), 16u);
  EXPECT_EQ(u32_at(r, 36), 4u);
  EXPECT_EQ(f64_at(r, 40), 0.35);
  EXPECT_EQ(last_call().count, 1000);
  EXPECT_EQ(rate_, 8e6);

  // Failures leave the accepted set (2e6 symbols a second, 1000 symbols) as it was.
  p.symbol_rate = 1e6;
  ASSERT_EQ(mod_config_digitalmod(device(), &p, &p), ZR_OK);
  lib().generate_result = -1;
  EXPECT_EQ(generate(10), ZR_MOD_DIGITAL_FAILED);
  lib().generate_result = -2;
  EXPECT_EQ(generate(10), ZR_MOD_DIGITAL_REFUSED);
  lib().generate_result = 0;
  EXPECT_EQ(generate(10000000), ZR_MOD_OVER_BUDGET);
  EXPECT_EQ(f64_at(last_call().record, 4), 2e6);
  EXPECT_EQ(last_call().count, 1000);
  EXPECT_EQ(rate_, 8e6);
}

TEST_F(StreamGeneration, LibraryRecordsOfTheOtherKinds) {
  DsssParams dsss{};
  mod_init_dsss(device(), &dsss);
  ASSERT_EQ(mod_config_dsss(device(), &dsss, &dsss), ZR_OK);
  ASSERT_EQ(generate(5), ZR_OK);
  EXPECT_EQ(last_call().entry, "GenerateDssWaveform");
  EXPECT_EQ(last_call().count, 5);
  EXPECT_EQ(rate_, 1.24e8);
  {
    const auto& r = last_call().record;
    ASSERT_EQ(r.size(), 40u);
    EXPECT_EQ(f64_at(r, 0), 1e6);
    EXPECT_EQ(u32_at(r, 8), 1u);
    EXPECT_EQ(u32_at(r, 12), 5u);
    EXPECT_EQ(u32_at(r, 16), 8u);
    EXPECT_EQ(u32_at(r, 20), 4u);
    EXPECT_EQ(f64_at(r, 24), 0.35);
    EXPECT_EQ(u32_at(r, 32), 23u);
    EXPECT_EQ(u32_at(r, 36), 3u);
  }

  StepSweepParams sweep{2e9, 4000.0, 3, 1e-4};
  ASSERT_EQ(mod_config_stepsweep(device(), &sweep, &sweep), ZR_OK);
  ASSERT_EQ(generate(), ZR_OK);
  {
    const auto& r = last_call().record;
    ASSERT_EQ(r.size(), 28u);
    EXPECT_EQ(f64_at(r, 0), 2e9 - 2000.0);
    EXPECT_EQ(f64_at(r, 8), 2e9 + 2000.0);
    EXPECT_EQ(u32_at(r, 16), 3u);
    EXPECT_EQ(f64_at(r, 20), 1e-4);
  }

  OfdmParams ofdm{};
  ofdm.ofdm_value = 2.5;
  mod_init_ofdm(device(), &ofdm);
  EXPECT_EQ(ofdm.ofdm_value, 2.5);  // init leaves it
  ofdm.flag_a = 7;
  ofdm.flag_b = 0;
  ofdm.sample_rate = 1e6;
  ASSERT_EQ(mod_config_ofdm(device(), &ofdm, &ofdm), ZR_OK);
  ASSERT_EQ(generate(), ZR_OK);
  EXPECT_EQ(rate_, 1e6);
  {
    const auto& r = last_call().record;
    ASSERT_EQ(r.size(), 38u);
    EXPECT_EQ(f64_at(r, 0), 2.5);
    EXPECT_EQ(u32_at(r, 8), 64u);
    EXPECT_EQ(u32_at(r, 12), 16u);
    EXPECT_EQ(u32_at(r, 16), 6u);
    EXPECT_EQ(u32_at(r, 20), 5u);
    EXPECT_EQ(u32_at(r, 24), 25u);
    EXPECT_EQ(u32_at(r, 28), 50u);
    EXPECT_EQ(r[32], 1);  // flag as 0 or 1
    EXPECT_EQ(u32_at(r, 33), 3u);
    EXPECT_EQ(r[37], 0);
  }
}

TEST_F(StreamGeneration, ConfigResetsTheStatusAndAnInitReplacesTheAcceptedSet) {
  AmParams small{2e6, 30.0, 2};
  ASSERT_EQ(mod_config_am(device(), &small, &small), ZR_OK);
  lib().generate_result = -5;
  ASSERT_EQ(generate(), -5);
  lib().generate_result = 0;
  AmParams large{1000.0, 80.0, 1};
  ASSERT_EQ(mod_config_am(device(), &large, &large), ZR_OK);
  // After a config the status is 0 again; an InvalidMod call would now return it.
  AmParams defaults{};
  mod_init_am(device(), &defaults);  // accepted: 1000 Hz, 50 %
  EXPECT_EQ(generate(), ZR_MOD_OVER_BUDGET);
  EXPECT_EQ(f64_at(last_call().record, 0), 1000.0);
  EXPECT_EQ(f64_at(last_call().record, 8), 50.0);
  EXPECT_EQ(rate_, 1.25e8);
}

}  // namespace
}  // namespace zr
