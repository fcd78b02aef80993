// Sample rates chosen for each kind, the rational approximation behind the pulse and ramp rates,
// and the budget check that precedes every library call.
#include "modulation/sample_rate.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "modulation/mod_config.hpp"

namespace zr {
namespace {

TEST(RationalApproximation, FindsSmallFractionsAndReducesThem) {
  struct Case {
    double value;
    std::int64_t numerator;
    std::int64_t denominator;
  };
  const Case cases[] = {
      {0.002, 1, 500},       {0.001, 1, 1000},     {1.0 / 3.0, 1, 3},  {0.75, 3, 4},
      {3.0, 3, 1},           {3.0 + 1e-13, 3, 1},  {-0.25, -1, 4},     {1e-6, 1, 1000000},
      {2.5e-7, 1, 4000000},  {0.1, 1, 10},         {0.0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const Fraction f = rational_approximation(c.value);
    EXPECT_EQ(f.numerator, c.numerator);
    EXPECT_EQ(f.denominator, c.denominator);
  }
}

TEST(RationalApproximation, KeepsDenominatorsWithinABillion) {
  const double value = std::sqrt(2.0) - 1.0;
  const Fraction f = rational_approximation(value);
  EXPECT_LE(f.denominator, 1000000000);
  EXPECT_GT(f.denominator, 0);
  EXPECT_NEAR(static_cast<double>(f.numerator) / static_cast<double>(f.denominator), value,
              1e-15 * 1e3);
}

DigitalRecord digital(std::uint32_t code, double rate, double deviation, std::uint32_t os) {
  DigitalRecord r = library_record(default_digitalmod());
  r.modulation = code;
  r.symbol_rate = rate;
  r.deviation = deviation;
  r.oversampling = os;
  return r;
}

TEST(SampleRate, DigitalFollowsOversamplingOrDeviation) {
  EXPECT_EQ(sample_rate(digital(11, 1e6, 0, 4)), 4e6);
  EXPECT_EQ(sample_rate(digital(11, 1e3, 0, 4)), 195312.5);
  EXPECT_EQ(sample_rate(digital(11, 1e8, 0, 4)), 1.25e8);
  EXPECT_EQ(sample_rate(digital(15, 1e5, 5e4, 4)), 6e5);    // 4 (d + r) above 4 r
  EXPECT_EQ(sample_rate(digital(16, 1e5, 1e3, 32)), 3.2e6); // oversampling wins
  EXPECT_EQ(sample_rate(digital(17, 1e3, 1e3, 4)), 195312.5);
  EXPECT_EQ(sample_rate(digital(18, 2e7, 1e7, 4)), 1.2e8);
  EXPECT_EQ(sample_rate(digital(18, 1e7, 1e3, 32)), 1.25e8);
}

TEST(SampleRate, AmAndFmPlayWholeModulationPeriods) {
  struct Case {
    double frequency;
    double deviation;
    double am_rate;
    double fm_rate;
  };
  const Case cases[] = {
      {1000.0, 1000.0, 1.25e8, 1.25e8},  // the defaults
      {3e6, 1e6, 1.2e8, 1.2e8},          // FM: 41 lowered to the even 40
      {1e7, 1e7, 1.2e8, 1.2e8},
      {1e7, 1e8, 1.2e8, 1.25e8},         // FM: every multiple below Carson's bandwidth
      {0.0, 1e3, 1.25e8, 1.25e8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frequency);
    EXPECT_EQ(sample_rate(AmRecord{c.frequency, 50.0, 1}), c.am_rate);
    EXPECT_EQ(sample_rate(FmRecord{c.frequency, c.deviation, 1}), c.fm_rate);
  }
  // Rates stay whole multiples of four times the modulation frequency.
  const double rate = sample_rate(AmRecord{777.0, 50.0, 1});
  EXPECT_EQ(std::fmod(rate, 4.0 * 777.0), 0.0);
  EXPECT_LE(rate, 1.25e8);
}

TEST(SampleRate, PulseRampAndTheOtherKinds) {
  EXPECT_EQ(sample_rate(PulseRecord{0.001, 0.002}), 1.25e8);
  EXPECT_EQ(sample_rate(PulseRecord{1e-6, 3e-6}), 1.2e8);
  EXPECT_EQ(sample_rate(PulseRecord{0.1, 0.3}), 1e7);
  EXPECT_EQ(sample_rate(PulseRecord{0.0, 0.3}), 1.25e8);
  EXPECT_EQ(sample_rate(PulseRecord{1e-8, 1.6e-8}), 1.25e8);  // no multiple of 5e8 fits

  EXPECT_EQ(sample_rate(RampSweepRecord{2e7, 0.001, 0.001}), 1.25e8);
  EXPECT_EQ(sample_rate(RampSweepRecord{2e7, 0.001, 1.0 / 3.0}), 124999998.0);
  EXPECT_EQ(sample_rate(RampSweepRecord{1.1e8, 0.001, 0.001}), 1.25e8);
  EXPECT_EQ(sample_rate(RampSweepRecord{0.0, 0.001, 0.001}), 1.25e8);

  EXPECT_EQ(sample_rate(library_record(default_dsss())), 1.24e8);
  EXPECT_EQ(sample_rate(MultitoneRecord{0.0, 3, 1e6}), 1.6e7);
  EXPECT_EQ(sample_rate(MultitoneRecord{0.0, 1, 1e6}), 1e8);
  EXPECT_EQ(sample_rate(library_record(default_stepsweep())), 8e7);
  EXPECT_EQ(sample_rate(AwgnRecord{4e7, 0.01}), 5e7);
  EXPECT_EQ(sample_rate(AwgnRecord{1e8, 0.01}), 1.25e8);
  EXPECT_EQ(sample_rate(AwgnRecord{5e4, 0.01}), 195312.5);
}

TEST(SampleBudget, ComparesTruncatedEstimatesStrictlyOrNot) {
  const DigitalRecord bpsk = digital(1, 1e6, 0, 4);
  EXPECT_TRUE(within_budget(bpsk, 4e6, 2499999));
  EXPECT_FALSE(within_budget(bpsk, 4e6, 2500000));  // exactly 1e7 is already too many
  EXPECT_TRUE(within_budget(digital(11, 1e6, 0, 4), 4e6, 32768));
  EXPECT_FALSE(within_budget(digital(11, 1e6, 0, 4), 4e6, 500000));  // 6 bits a symbol

  EXPECT_FALSE(within_budget(AmRecord{1000.0, 50.0, 1}, 1.25e8));
  EXPECT_FALSE(within_budget(AmRecord{0.0, 50.0, 1}, 1.25e8));
  EXPECT_TRUE(within_budget(FmRecord{1000.0, 1000.0, 1}, 1.25e8));
  EXPECT_TRUE(within_budget(library_record(default_dsss()), 1.24e8, 5));

  EXPECT_TRUE(within_budget(PulseRecord{0.5, 1.0}, 1e7));  // exactly 1e7 is allowed
  EXPECT_FALSE(within_budget(PulseRecord{0.5, 1.0}, 1.0000001e7));
  EXPECT_TRUE(within_budget(MultitoneRecord{0.0, 2, 1e6}, 8e6));
  EXPECT_FALSE(within_budget(library_record(default_stepsweep()), 8e7));
  EXPECT_TRUE(within_budget(RampSweepRecord{2e7, 0.001, 0.001}, 1.25e8));
  EXPECT_TRUE(within_budget(OfdmRecord{0, 2048, 4882, 6, 5, 25, 50, 1, 3, 1}));
  EXPECT_FALSE(within_budget(OfdmRecord{0, 2048, 4883, 6, 5, 25, 50, 1, 3, 1}));
  EXPECT_TRUE(within_budget(AwgnRecord{4e7, 0.2}, 5e7));
  EXPECT_FALSE(within_budget(AwgnRecord{4e7, std::numeric_limits<double>::quiet_NaN()}, 5e7));
}

}  // namespace
}  // namespace zr
