#include "modulation/mod_config.hpp"

#include <algorithm>
#include <cstdint>

namespace zr {
namespace {

constexpr double kMaxDeviationSum = 3.125e7;  // symbol rate plus deviation
constexpr double kMaxDeviationRatio = 15.0;   // deviation per symbol rate
constexpr int kMaxFilterSpanProduct = 400;    // filter span times samples per symbol or chip

// NaN compares false everywhere; treating it as below the range keeps it out of the library.
double at_least(double value, double low) { return value >= low ? value : low; }
double at_most(double value, double high) { return value > high ? high : value; }
double limited(double value, double low, double high) { return at_most(at_least(value, low), high); }
std::int32_t limited(std::int32_t value, std::int32_t low, std::int32_t high) {
  return std::clamp(value, low, high);
}

double limited_filter_factor(std::uint8_t filter_type, double factor) {
  if (filter_type == 2 || filter_type == 3) return limited(factor, 0.025, 1.0);
  if (filter_type == 4) return limited(factor, 0.15, 2.5);
  return factor;
}

std::int32_t limited_filter_span(std::int32_t span, std::int32_t samples_per_unit) {
  const std::int32_t max_span = 2 * ((kMaxFilterSpanProduct / samples_per_unit) / 2);
  span = (span / 2) * 2;
  span = std::max(span, 2);
  return std::min(span, max_span);
}

}  // namespace

bool carries_deviation(std::uint32_t modulation) { return modulation >= 15 && modulation <= 18; }

void adjust_deviation_rate(double& r, double& d) {
  r = at_least(r, 1.0);
  d = at_least(d, 1.0);
  d = std::min(d, kMaxDeviationRatio * r);
  if (r + d > kMaxDeviationSum) {
    const double scale = kMaxDeviationSum / (r + d);
    r *= scale;
    d *= scale;
  }
  r = at_least(r, 1.0);
  d = at_least(d, 1.0);
  if (r + d > kMaxDeviationSum) {
    if (d <= 1.000000001) {
      r = 31249999.0;
    } else {
      d = kMaxDeviationSum - r;
    }
  }
  d = std::min(d, kMaxDeviationRatio * r);
}

DigitalModParams default_digitalmod() {
  DigitalModParams p{};
  p.modulation = 11;
  p.symbol_rate = 1e6;
  p.deviation = 0.0;
  p.option_a = 15;
  p.option_b = 23;
  p.filter_type = 3;
  p.filter_span = 16;
  p.oversampling = 4;
  p.filter_factor = 0.35;
  return p;
}

AmParams default_am() { return AmParams{1000.0, 50.0, 1}; }
FmParams default_fm() { return FmParams{1000.0, 1000.0, 1}; }

DsssParams default_dsss() {
  DsssParams p{};
  p.symbol_rate = 1e6;
  p.modulation = 1;
  p.spread_order = 5;
  p.filter_span = 8;
  p.samples_per_chip = 4;
  p.filter_factor = 0.35;
  p.option_b = 23;
  p.filter_type = 3;
  return p;
}

PulseParams default_pulse() { return PulseParams{0.001, 0.002}; }
MultitoneParams default_multitone() { return MultitoneParams{0.0, 3, 1e6}; }
StepSweepParams default_stepsweep() { return StepSweepParams{1e9, 1e7, 201, 0.001}; }
RampSweepParams default_rampsweep() { return RampSweepParams{2e7, 0.001, 0.001}; }

OfdmParams default_ofdm(double ofdm_value) {
  OfdmParams p{};
  p.ofdm_value = ofdm_value;
  p.size = 64;
  p.symbols = 16;
  p.edge_low = 6;
  p.edge_high = 5;
  p.percent_a = 25;
  p.percent_b = 50;
  p.flag_a = 1;
  p.option = 3;
  p.flag_b = 1;
  p.sample_rate = 2e7;
  return p;
}

AwgnParams default_awgn() { return AwgnParams{4e7, 0.01}; }

void correct(DigitalModParams& p) {
  p.oversampling = limited(p.oversampling, 2, 32);
  if (p.oversampling % 2 != 0) --p.oversampling;
  if (carries_deviation(p.modulation)) {
    adjust_deviation_rate(p.symbol_rate, p.deviation);
  } else {
    const double os = p.oversampling;
    if (os * p.symbol_rate > kMaxSampleRate) p.symbol_rate = kMaxSampleRate / os;
    if (!(os * p.symbol_rate >= kMinSampleRate)) p.symbol_rate = kMinSampleRate / os;
    p.deviation = 0.0;
  }
  p.option_a = limited(p.option_a, 4, 24);
  p.option_b = std::max(p.option_b, 1);
  p.filter_span = limited_filter_span(p.filter_span, p.oversampling);
  p.filter_factor = limited_filter_factor(p.filter_type, p.filter_factor);
}

void correct(AmParams& p) {
  p.mod_frequency = limited(p.mod_frequency, 1.0, 1e7);
  p.depth = limited(p.depth, 1.0, 100.0);
}

void correct(FmParams& p) {
  p.mod_frequency = limited(p.mod_frequency, 1.0, 1e7);
  p.deviation = limited(p.deviation, 1.0, 1e7);
}

void correct(DsssParams& p) {
  if (p.samples_per_chip < 4) p.samples_per_chip = 4;
  if (p.samples_per_chip > 32) p.samples_per_chip = 32;
  if (p.samples_per_chip % 2 != 0) ++p.samples_per_chip;
  p.spread_order = limited(p.spread_order, 4, 16);
  p.filter_span = limited_filter_span(p.filter_span, p.samples_per_chip);
  p.filter_factor = limited_filter_factor(p.filter_type, p.filter_factor);
  p.option_b = limited(p.option_b, 1, 1000);
  const double chips = static_cast<double>((std::int64_t{1} << p.spread_order) - 1);
  const double spc = p.samples_per_chip;
  const double rate = spc * p.symbol_rate * chips;
  if (rate > kMaxSampleRate) p.symbol_rate = kMaxSampleRate / spc / chips;
  if (!(rate >= kMinSampleRate)) p.symbol_rate = kMinSampleRate / spc / chips;
}

void correct(PulseParams& p) {
  if (!(p.period > 1.6e-8)) p.period = 1.6e-8;
  p.period = at_most(p.period, 1.0);
  p.width = at_most(at_least(p.width, 8e-9), p.period);
}

void correct(MultitoneParams& p) {
  p.phase = limited(p.phase, 0.0, 6.283185308);
  if (p.tones < 2) p.tones = 1;
  p.tones = std::min(p.tones, 1000);
  p.spacing = at_least(p.spacing, 1000.0);
  if (p.tones > 1) p.spacing = at_most(p.spacing, 15625000.0 / (p.tones - 1));
}

void correct(StepSweepParams& p) {
  p.span = limited(p.span, 1000.0, 15625000.0);
  // span is at most 15625000 here, so the count fits easily.
  const auto most = static_cast<std::int32_t>(p.span / 1000.0 + 1.0);
  p.points = limited(p.points, 2, std::max(2, most));
  p.dwell = limited(p.dwell, 1e-6, 0.01);
}

void correct(RampSweepParams& p) {
  p.span = limited(p.span, 1.0, 1e8);
  p.sweep_time = limited(p.sweep_time, 1e-6, 1.0);
  p.sub_time = limited(p.sub_time, 1e-6, p.sweep_time);
}

void correct(OfdmParams& p) {
  const std::int32_t caller_size = p.size;
  if (p.size <= 16) {
    p.size = 16;
  } else if (p.size >= 2048) {
    p.size = 2048;
  } else {
    std::int32_t power = 16;
    while (power * 2 <= p.size) power *= 2;
    p.size = power;
  }
  p.symbols = limited(p.symbols, 2, 16384);
  if (std::int64_t{p.edge_low} + p.edge_high > caller_size) {
    p.edge_low = caller_size / 2;
    p.edge_high = caller_size / 2;
  }
  p.percent_a = limited(p.percent_a, 0, 100);
  p.percent_b = limited(p.percent_b, 0, 100);
  p.sample_rate = limited(p.sample_rate, kMinSampleRate, kMaxSampleRate);
}

void correct(AwgnParams& p) {
  p.bandwidth = limited(p.bandwidth, 50000.0, 1e8);
  p.duration = at_least(p.duration, 1e-4);
}

}  // namespace zr
