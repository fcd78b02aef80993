// Correction rules of the parameter records, as tables of input and expected output.
#include "modulation/mod_config.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace zr {
namespace {

template <typename Params>
struct RuleCase {
  std::string name;
  std::function<void(Params&)> input;   // applied to the defaults
  std::function<void(const Params&)> check;
};

template <typename Params>
void run_cases(const Params& defaults, const std::vector<RuleCase<Params>>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Params p = defaults;
    c.input(p);
    correct(p);
    c.check(p);
  }
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(ModConfig, DigitalOversamplingSpanFactorAndOptions) {
  using P = DigitalModParams;
  run_cases<P>(default_digitalmod(), {
      {"odd oversampling is lowered", [](P& p) { p.oversampling = 7; },
       [](const P& p) { EXPECT_EQ(p.oversampling, 6); }},
      {"oversampling below 2", [](P& p) { p.oversampling = 1; },
       [](const P& p) { EXPECT_EQ(p.oversampling, 2); }},
      {"oversampling above 32", [](P& p) { p.oversampling = 40; },
       [](const P& p) { EXPECT_EQ(p.oversampling, 32); }},
      {"odd span is made even", [](P& p) { p.filter_span = 17; },
       [](const P& p) { EXPECT_EQ(p.filter_span, 16); }},
      {"span above 400 / oversampling", [](P& p) { p.filter_span = 500; p.oversampling = 32; },
       [](const P& p) { EXPECT_EQ(p.filter_span, 12); }},
      {"span below 2", [](P& p) { p.filter_span = -3; },
       [](const P& p) { EXPECT_EQ(p.filter_span, 2); }},
      {"span limit uses the corrected oversampling", [](P& p) { p.oversampling = 33; p.filter_span = 100; },
       [](const P& p) { EXPECT_EQ(p.filter_span, 12); }},
      {"root raised cosine factor", [](P& p) { p.filter_type = 3; p.filter_factor = 0.01; },
       [](const P& p) { EXPECT_EQ(p.filter_factor, 0.025); }},
      {"raised cosine factor", [](P& p) { p.filter_type = 2; p.filter_factor = 3.0; },
       [](const P& p) { EXPECT_EQ(p.filter_factor, 1.0); }},
      {"gaussian factor", [](P& p) { p.filter_type = 4; p.filter_factor = 3.0; },
       [](const P& p) { EXPECT_EQ(p.filter_factor, 2.5); }},
      {"other filters keep the factor", [](P& p) { p.filter_type = 0; p.filter_factor = 9.0; },
       [](const P& p) { EXPECT_EQ(p.filter_factor, 9.0); }},
      {"option limits", [](P& p) { p.option_a = 30; p.option_b = 0; },
       [](const P& p) { EXPECT_EQ(p.option_a, 24); EXPECT_EQ(p.option_b, 1); }},
      {"option_a low", [](P& p) { p.option_a = 1; },
       [](const P& p) { EXPECT_EQ(p.option_a, 4); }},
  });
}

TEST(ModConfig, DigitalSymbolRateOfLinearCodes) {
  using P = DigitalModParams;
  run_cases<P>(default_digitalmod(), {
      {"too fast for the oversampling", [](P& p) { p.symbol_rate = 5e7; p.deviation = 5.0; },
       [](const P& p) { EXPECT_EQ(p.symbol_rate, 3.125e7); EXPECT_EQ(p.deviation, 0.0); }},
      {"too slow", [](P& p) { p.symbol_rate = 100.0; },
       [](const P& p) { EXPECT_EQ(p.symbol_rate, 195312.5 / 4); }},
      {"not a number", [](P& p) { p.symbol_rate = kNaN; },
       [](const P& p) { EXPECT_EQ(p.symbol_rate, 195312.5 / 4); }},
      {"in range", [](P& p) { p.symbol_rate = 2e6; },
       [](const P& p) { EXPECT_EQ(p.symbol_rate, 2e6); }},
  });
}

TEST(ModConfig, DigitalDeviationOfFrequencyShiftCodes) {
  using P = DigitalModParams;
  const auto fsk = [](double rate, double deviation) {
    return [=](P& p) { p.modulation = 15; p.symbol_rate = rate; p.deviation = deviation; };
  };
  run_cases<P>(default_digitalmod(), {
      {"kept", fsk(1e5, 5e4),
       [](const P& p) { EXPECT_EQ(p.symbol_rate, 1e5); EXPECT_EQ(p.deviation, 5e4); }},
      {"raised to 1", fsk(0.0, -4.0),
       [](const P& p) { EXPECT_EQ(p.symbol_rate, 1.0); EXPECT_EQ(p.deviation, 1.0); }},
      {"deviation at most 15 symbol rates", fsk(1e3, 1e6),
       [](const P& p) { EXPECT_EQ(p.deviation, 1.5e4); }},
      {"sum scaled to 3.125e7", fsk(3e7, 1e7),
       [](const P& p) {
         EXPECT_DOUBLE_EQ(p.symbol_rate, 3e7 * 3.125e7 / 4e7);
         EXPECT_DOUBLE_EQ(p.deviation, 1e7 * 3.125e7 / 4e7);
       }},
      {"huge rate with minimal deviation", fsk(1e12, 1.0),
       [](const P& p) { EXPECT_EQ(p.symbol_rate, 31249999.0); EXPECT_EQ(p.deviation, 1.0); }},
  });
}

TEST(ModConfig, AmFmAndNoiseLimits) {
  run_cases<AmParams>(default_am(), {
      {"low", [](AmParams& p) { p.mod_frequency = 0.5; p.depth = 0.0; },
       [](const AmParams& p) { EXPECT_EQ(p.mod_frequency, 1.0); EXPECT_EQ(p.depth, 1.0); }},
      {"high", [](AmParams& p) { p.mod_frequency = 2e7; p.depth = 150.0; p.am_option = 9; },
       [](const AmParams& p) {
         EXPECT_EQ(p.mod_frequency, 1e7);
         EXPECT_EQ(p.depth, 100.0);
         EXPECT_EQ(p.am_option, 9);
       }},
  });
  run_cases<FmParams>(default_fm(), {
      {"limits", [](FmParams& p) { p.mod_frequency = kNaN; p.deviation = 2e7; },
       [](const FmParams& p) { EXPECT_EQ(p.mod_frequency, 1.0); EXPECT_EQ(p.deviation, 1e7); }},
  });
  run_cases<AwgnParams>(default_awgn(), {
      {"low", [](AwgnParams& p) { p.bandwidth = 10.0; p.duration = 0.0; },
       [](const AwgnParams& p) { EXPECT_EQ(p.bandwidth, 50000.0); EXPECT_EQ(p.duration, 1e-4); }},
      {"high", [](AwgnParams& p) { p.bandwidth = 1e9; p.duration = 5.0; },
       [](const AwgnParams& p) { EXPECT_EQ(p.bandwidth, 1e8); EXPECT_EQ(p.duration, 5.0); }},
  });
}

TEST(ModConfig, DsssChipsSpanAndRate) {
  using P = DsssParams;
  run_cases<P>(default_dsss(), {
      {"odd samples per chip raised", [](P& p) { p.samples_per_chip = 5; },
       [](const P& p) { EXPECT_EQ(p.samples_per_chip, 6); }},
      {"samples per chip limits", [](P& p) { p.samples_per_chip = 2; },
       [](const P& p) { EXPECT_EQ(p.samples_per_chip, 4); }},
      {"samples per chip 33 becomes 32, not 34", [](P& p) { p.samples_per_chip = 33; },
       [](const P& p) { EXPECT_EQ(p.samples_per_chip, 32); }},
      {"spread order", [](P& p) { p.spread_order = 20; p.option_b = 5000; },
       [](const P& p) {
         EXPECT_EQ(p.spread_order, 16);
         EXPECT_EQ(p.option_b, 1000);
       }},
      {"span limited by samples per chip", [](P& p) { p.samples_per_chip = 32; p.filter_span = 40; },
       [](const P& p) { EXPECT_EQ(p.filter_span, 12); }},
      {"too fast", [](P& p) { p.symbol_rate = 1e7; },
       [](const P& p) { EXPECT_DOUBLE_EQ(p.symbol_rate, 1.25e8 / 4 / 31); }},
      {"too slow", [](P& p) { p.symbol_rate = 10.0; },
       [](const P& p) { EXPECT_DOUBLE_EQ(p.symbol_rate, 195312.5 / 4 / 31); }},
  });
}

TEST(ModConfig, PulseMultitoneAndSweeps) {
  run_cases<PulseParams>(default_pulse(), {
      {"period above 1", [](PulseParams& p) { p.width = 0.5; p.period = 2.0; },
       [](const PulseParams& p) { EXPECT_EQ(p.period, 1.0); EXPECT_EQ(p.width, 0.5); }},
      {"zero width", [](PulseParams& p) { p.width = 0.0; },
       [](const PulseParams& p) { EXPECT_EQ(p.width, 8e-9); }},
      {"width above period", [](PulseParams& p) { p.width = 0.01; p.period = 0.0; },
       [](const PulseParams& p) { EXPECT_EQ(p.period, 1.6e-8); EXPECT_EQ(p.width, 1.6e-8); }},
  });
  run_cases<MultitoneParams>(default_multitone(), {
      {"spacing for 3 tones", [](MultitoneParams& p) { p.spacing = 1e7; },
       [](const MultitoneParams& p) { EXPECT_EQ(p.spacing, 7812500.0); }},
      {"one tone has no upper spacing", [](MultitoneParams& p) { p.tones = -5; p.spacing = 1e9; },
       [](const MultitoneParams& p) { EXPECT_EQ(p.tones, 1); EXPECT_EQ(p.spacing, 1e9); }},
      {"tones and phase", [](MultitoneParams& p) { p.tones = 2000; p.phase = 7.0; p.spacing = 1.0; },
       [](const MultitoneParams& p) {
         EXPECT_EQ(p.tones, 1000);
         EXPECT_EQ(p.phase, 6.283185308);
         EXPECT_EQ(p.spacing, 1000.0);
       }},
  });
  run_cases<StepSweepParams>(default_stepsweep(), {
      {"points follow the span", [](StepSweepParams& p) { p.span = 5000.0; p.points = 100; },
       [](const StepSweepParams& p) { EXPECT_EQ(p.points, 6); }},
      {"limits", [](StepSweepParams& p) { p.span = 1.0; p.points = 0; p.dwell = 1.0; p.center = -3.0; },
       [](const StepSweepParams& p) {
         EXPECT_EQ(p.span, 1000.0);
         EXPECT_EQ(p.points, 2);
         EXPECT_EQ(p.dwell, 0.01);
         EXPECT_EQ(p.center, -3.0);
       }},
  });
  run_cases<RampSweepParams>(default_rampsweep(), {
      {"sub time within sweep time", [](RampSweepParams& p) { p.sweep_time = 2.0; p.sub_time = 3.0; },
       [](const RampSweepParams& p) { EXPECT_EQ(p.sweep_time, 1.0); EXPECT_EQ(p.sub_time, 1.0); }},
      {"short", [](RampSweepParams& p) { p.sweep_time = 0.0; p.sub_time = 0.0; p.span = 1e9; },
       [](const RampSweepParams& p) {
         EXPECT_EQ(p.sweep_time, 1e-6);
         EXPECT_EQ(p.sub_time, 1e-6);
         EXPECT_EQ(p.span, 1e8);
       }},
  });
}

TEST(ModConfig, OfdmSizeEdgesAndRate) {
  using P = OfdmParams;
  run_cases<P>(default_ofdm(0.0), {
      {"size to a power of two", [](P& p) { p.size = 100; },
       [](const P& p) { EXPECT_EQ(p.size, 64); EXPECT_EQ(p.edge_low, 6); }},
      {"edges beyond the caller's size", [](P& p) { p.size = 100; p.edge_low = 40; p.edge_high = 70; },
       [](const P& p) { EXPECT_EQ(p.edge_low, 50); EXPECT_EQ(p.edge_high, 50); }},
      {"small size", [](P& p) { p.size = 3; },
       [](const P& p) { EXPECT_EQ(p.size, 16); }},
      {"large size", [](P& p) { p.size = 5000; },
       [](const P& p) { EXPECT_EQ(p.size, 2048); }},
      {"exact power", [](P& p) { p.size = 1024; },
       [](const P& p) { EXPECT_EQ(p.size, 1024); }},
      {"edge sum does not wrap", [](P& p) { p.edge_low = 0x7fffffff; p.edge_high = 0x7fffffff; },
       [](const P& p) { EXPECT_EQ(p.edge_low, 32); EXPECT_EQ(p.edge_high, 32); }},
      {"other limits", [](P& p) { p.symbols = 1; p.percent_a = -1; p.percent_b = 101; p.sample_rate = 1e9; },
       [](const P& p) {
         EXPECT_EQ(p.symbols, 2);
         EXPECT_EQ(p.percent_a, 0);
         EXPECT_EQ(p.percent_b, 100);
         EXPECT_EQ(p.sample_rate, 1.25e8);
       }},
  });
}

}  // namespace
}  // namespace zr
