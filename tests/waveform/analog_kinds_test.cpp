// AM, FM, pulse, multitone and the sweeps, measured from the samples: spectra, envelopes,
// instantaneous frequency and duty cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "tests/waveform/waveform_probe.hpp"

namespace zr::testing {
namespace {

double power(Complex c) { return std::norm(c); }

TEST(MultitoneSynthesis, TonesSitOnTheirBinsAndNothingElse) {
  Generator gen;
  struct Case {
    std::uint32_t tones;
    double spacing;
    double rate;
    std::vector<std::int64_t> bins;  // signed bins of the one-period transform
  } cases[] = {
      {3, 1e6, 1.6e7, {-1, 0, 1}},                        // 16 samples
      {4, 1e5, 2.4e6, {-3, -1, 1, 3}},                    // even: odd multiples of spacing / 2
      {7, 25e3, 1.2e6, {-3, -2, -1, 0, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tones);
    Record r;
    r.f64(0.7).u32(c.tones).f64(c.spacing);
    const Generated g = gen.run(GenerateMultitoneWaveform, r, c.rate);
    ASSERT_EQ(g.status, GSW_OK);
    const double bin_width = c.tones % 2 == 0 ? c.spacing / 2 : c.spacing;
    ASSERT_EQ(g.size(), static_cast<std::size_t>(std::llround(c.rate / bin_width)));
    const std::vector<Complex> x = spectrum(g.iq);
    double tone_power = 0;
    for (std::int64_t b : c.bins) tone_power = std::max(tone_power, power(x[bin(b, x.size())]));
    for (std::size_t k = 0; k < x.size(); ++k) {
      const bool is_tone = std::any_of(c.bins.begin(), c.bins.end(),
                                       [&](std::int64_t b) { return bin(b, x.size()) == k; });
      if (is_tone) {
        EXPECT_NEAR(power(x[k]) / tone_power, 1.0, 0.01) << "bin " << k;  // equal tones
      } else {
        EXPECT_LT(power(x[k]) / tone_power, 1e-7) << "bin " << k;
      }
    }
  }
}

TEST(AmSynthesis, EnvelopeDepthAndSidebands) {
  Generator gen;
  for (double depth : {30.0, 50.0, 100.0}) {
    SCOPED_TRACE(depth);
    Record r;
    r.f64(1e4).f64(depth).u32(1);
    const Generated g = gen.run(GenerateAmWaveform, r, 4e6);
    ASSERT_EQ(g.status, GSW_OK);
    ASSERT_EQ(g.size(), 400u);  // one modulation period
    double high = 0, low = 1e9;
    for (const Complex& s : g.iq) {
      high = std::max(high, std::abs(s));
      low = std::min(low, std::abs(s));
      ASSERT_EQ(s.imag(), 0.0);
    }
    EXPECT_NEAR((high - low) / (high + low), depth / 100.0, 2e-4);
    // Carrier at bin 0 and sidebands of depth / 2 at bins +-1, nothing else.
    const std::vector<Complex> x = spectrum(g.iq);
    EXPECT_NEAR(std::abs(x[1]) / std::abs(x[0]), depth / 200.0, 1e-4);
    EXPECT_NEAR(std::abs(x[399]) / std::abs(x[0]), depth / 200.0, 1e-4);
    for (std::size_t k = 2; k < 399; ++k) ASSERT_LT(std::abs(x[k]) / std::abs(x[0]), 1e-4);
  }
}

TEST(FmSynthesis, InstantaneousFrequencySwingsByTheDeviation) {
  Generator gen;
  const double rate = 2e6, f = 1e4, deviation = 2.5e5;
  Record r;
  r.f64(f).f64(deviation).u32(1);
  const Generated g = gen.run(GenerateFmWaveform, r, rate);
  ASSERT_EQ(g.status, GSW_OK);
  ASSERT_EQ(g.size(), 200u);
  const std::vector<double> inst = instantaneous_frequency(g.iq, rate);
  const auto [low, high] = std::minmax_element(inst.begin(), inst.end());
  EXPECT_NEAR(*high, deviation, deviation * 0.002);
  EXPECT_NEAR(*low, -deviation, deviation * 0.002);
  // A sine at the modulation frequency: compare with deviation * sin(2 pi f n / rate).
  for (std::size_t n = 0; n < inst.size(); ++n) {
    const double expected = deviation * std::sin(2 * std::numbers::pi * f * n / rate);
    ASSERT_NEAR(inst[n], expected, deviation * 0.002) << n;
  }
  for (const Complex& s : g.iq) ASSERT_NEAR(std::abs(s), 1.0, 1e-3);  // constant envelope
}

TEST(PulseSynthesis, DutyCycleAndLevels) {
  Generator gen;
  struct Case {
    double width, period, rate;
    std::size_t on, length;
  } cases[] = {{1e-6, 4e-6, 1e8, 100, 400}, {0.001, 0.002, 1.25e6, 1250, 2500}, {2e-6, 2e-6, 1e7, 20, 20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    Record r;
    r.f64(c.width).f64(c.period);
    const Generated g = gen.run(GeneratePulseWaveform, r, c.rate);
    ASSERT_EQ(g.status, GSW_OK);
    ASSERT_EQ(g.size(), c.length);
    for (std::size_t n = 0; n < g.size(); ++n) {
      ASSERT_EQ(g.raw[2 * n], n < c.on ? 32767 : 0) << n;
      ASSERT_EQ(g.raw[2 * n + 1], 0);
    }
  }
}

TEST(StepSweepSynthesis, StepsAreEvenlySpacedAroundTheCarrier) {
  Generator gen;
  const double rate = 3.2e6, dwell = 1e-4;
  const std::uint32_t points = 5;
  Record r;
  r.f64(2e9 - 2e5).f64(2e9 + 2e5).u32(points).f64(dwell);
  const Generated g = gen.run(GenerateStepSweepWaveform, r, rate);
  ASSERT_EQ(g.status, GSW_OK);
  ASSERT_EQ(g.size(), 1600u);
  const std::vector<double> inst = instantaneous_frequency(g.iq, rate);
  for (std::uint32_t k = 0; k < points; ++k) {
    SCOPED_TRACE(k);
    const double expected = -2e5 + k * 1e5;
    // Every sample pair inside the step is at the step's frequency.
    for (std::size_t n = k * 320; n + 1 < (k + 1) * 320; ++n) ASSERT_NEAR(inst[n], expected, 50.0) << n;
  }
  for (const Complex& s : g.iq) ASSERT_NEAR(std::abs(s), 1.0, 1e-3);  // continuous phase: no dips
}

TEST(RampSweepSynthesis, FrequencyRampsLinearlyEverySubTime) {
  Generator gen;
  const double rate = 4e6, span = 1e6, sub_time = 1e-4;
  Record r;
  r.f64(span).f64(sub_time).f64(3e-4);
  const Generated g = gen.run(GenerateRampSweepWaveform, r, rate);
  ASSERT_EQ(g.status, GSW_OK);
  ASSERT_EQ(g.size(), 1200u);
  const std::vector<double> inst = instantaneous_frequency(g.iq, rate);
  const double ramp = sub_time * rate;  // 400 samples
  for (std::size_t n = 0; n < inst.size(); ++n) {
    const double within = std::fmod(static_cast<double>(n), ramp);
    const double expected = -span / 2 + span * within / ramp;
    ASSERT_NEAR(inst[n], expected, 200.0) << n;
  }
}

}  // namespace
}  // namespace zr::testing
