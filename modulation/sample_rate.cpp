#include "modulation/sample_rate.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

#include "modulation/mod_config.hpp"

namespace zr {
namespace {

constexpr double kFitSlack = 1e-9;
constexpr double kRationalTolerance = 1e-12;
constexpr double kMaxDenominator = 1e9;
constexpr double kLongPeriod = 0.25;   // pulse periods above this play at kLongPeriodRate
constexpr double kLongPeriodRate = 1e7;
constexpr double kSingleToneRate = 1e8;
// The searches below accept at their first or second try for any corrected record; the cap only
// ends them for values where subtracting a step no longer changes a huge multiplier.
constexpr int kMaxFitTries = 64;

double limited_rate(double rate) {
  if (rate < kMinSampleRate) return kMinSampleRate;
  if (rate > kMaxSampleRate) return kMaxSampleRate;
  return rate;
}

// The largest whole multiple of step that is at most the maximum rate, if it reaches low.
std::optional<double> fit_step(std::uint64_t step, double low) {
  if (step == 0) return std::nullopt;
  const double multiple = std::floor(kMaxSampleRate / static_cast<double>(step)) *
                          static_cast<double>(step);
  if (multiple <= 0.0 || multiple < low - kFitSlack) return std::nullopt;
  return multiple;
}

std::optional<std::uint64_t> checked_lcm(std::uint64_t a, std::uint64_t b) {
  if (a == 0 || b == 0) return std::uint64_t{0};
  std::uint64_t result = 0;
  if (__builtin_mul_overflow(a / std::gcd(a, b), b, &result)) return std::nullopt;
  return result;
}

// Truncated toward zero; NaN fails both comparisons and so is over budget.
bool below_budget(double estimate) { return std::trunc(estimate) < kSampleBudget; }
bool at_most_budget(double estimate) { return std::trunc(estimate) <= kSampleBudget; }

double chips_per_symbol(std::uint32_t spread_order) {
  return std::ldexp(1.0, static_cast<int>(std::min<std::uint32_t>(spread_order, 1023))) - 1.0;
}

}  // namespace

Fraction rational_approximation(double value) {
  // Far outside what the rates need; keeps the integer conversions defined.
  if (!(std::fabs(value) < 1e15)) return {0, 1};
  const double whole = std::trunc(value);
  if (std::fabs(value - whole) < kRationalTolerance) {
    return {static_cast<std::int64_t>(whole), 1};
  }
  // Convergents h/k of the continued fraction of value.
  double h_prev = 1.0, h_prev2 = 0.0, k_prev = 0.0, k_prev2 = 1.0;
  std::optional<Fraction> best;
  double x = value;
  for (int term = 0; term < 64; ++term) {
    const double a = std::floor(x);
    const double h = a * h_prev + h_prev2;
    const double k = a * k_prev + k_prev2;
    if (k > kMaxDenominator) break;
    best = Fraction{static_cast<std::int64_t>(h), static_cast<std::int64_t>(k)};
    h_prev2 = h_prev;
    h_prev = h;
    k_prev2 = k_prev;
    k_prev = k;
    const double remainder = x - a;
    if (remainder < kRationalTolerance || std::fabs(value - h / k) < kRationalTolerance) break;
    x = 1.0 / remainder;
  }
  Fraction result = best.value_or(
      Fraction{static_cast<std::int64_t>(std::llround(value * kMaxDenominator)),
               static_cast<std::int64_t>(kMaxDenominator)});
  if (result.denominator < 0) {
    result.numerator = -result.numerator;
    result.denominator = -result.denominator;
  }
  const std::int64_t divisor = std::gcd(result.numerator, result.denominator);
  if (divisor > 1) {
    result.numerator /= divisor;
    result.denominator /= divisor;
  }
  return result;
}

std::uint32_t symbol_alphabet(std::uint32_t modulation) {
  switch (modulation) {
    case 3: case 4: case 5: case 6: case 16: case 19: return 4;
    case 7: case 8: case 17: case 20: case 22: return 8;
    case 9: case 10: case 18: case 21: return 16;
    case 11: return 64;
    case 12: return 256;
    case 13: return 1024;
    default: return 2;
  }
}

double sample_rate(const DigitalRecord& r) {
  if (carries_deviation(r.modulation)) {
    double rate = r.symbol_rate;
    double deviation = r.deviation;
    adjust_deviation_rate(rate, deviation);
    const double wanted = std::max(4.0 * (std::min(15.0 * rate, deviation) + rate),
                                   static_cast<double>(r.oversampling) * rate);
    if (!(wanted > 195312.500000001)) return kMinSampleRate;
    return std::min(wanted, kMaxSampleRate);
  }
  return limited_rate(static_cast<double>(r.oversampling) * r.symbol_rate);
}

double sample_rate(const AmRecord& r) {
  if (!(r.mod_frequency > 0.0)) return kMaxSampleRate;
  const double step = 4.0 * r.mod_frequency;
  double n = std::floor(kMaxSampleRate / step);
  for (int tries = 0; n > 0.0 && tries < kMaxFitTries; ++tries, n -= 1.0) {
    const double rate = n * step;
    if (rate + kFitSlack < kMinSampleRate) break;
    if (rate >= kMinSampleRate && rate <= kMaxSampleRate) return rate;
  }
  return kMaxSampleRate;
}

double sample_rate(const FmRecord& r) {
  const double f = r.mod_frequency;
  if (!(f > 0.0)) return kMaxSampleRate;
  const double carson = 2.0 * (f + r.deviation);
  double n = std::floor(kMaxSampleRate / f);
  if (std::fmod(n, 2.0) != 0.0) n -= 1.0;
  for (int tries = 0; n >= 6.0 && tries < kMaxFitTries; ++tries, n -= 2.0) {
    const double rate = n * f;
    if (rate + kFitSlack < kMinSampleRate || rate <= carson) break;
    if (rate >= kMinSampleRate && rate <= kMaxSampleRate) return rate;
  }
  return limited_rate(carson);
}

double sample_rate(const DsssRecord& r) {
  return static_cast<double>(r.samples_per_chip) * r.symbol_rate *
         chips_per_symbol(r.spread_order);
}

double sample_rate(const PulseRecord& r) {
  if (!(r.width > 0.0) || !(r.period > 0.0)) return kMaxSampleRate;
  if (r.period > kLongPeriod) return kLongPeriodRate;
  const Fraction width = rational_approximation(r.width);
  const Fraction period = rational_approximation(r.period);
  const auto qw = static_cast<std::uint64_t>(width.denominator);
  const auto qt = static_cast<std::uint64_t>(period.denominator);
  const auto pt = static_cast<std::uint64_t>(std::llabs(period.numerator));
  const std::uint64_t eighths = 8 * qt / std::gcd(pt, std::uint64_t{8});
  const auto both = checked_lcm(qw, qt);
  if (!both) return kMaxSampleRate;
  const auto step = checked_lcm(*both, eighths);
  if (!step) return kMaxSampleRate;
  return fit_step(*step, kMinSampleRate).value_or(kMaxSampleRate);
}

double sample_rate(const MultitoneRecord& r) {
  const double rate = 8.0 * (static_cast<double>(r.tones) - 1.0) * r.spacing;
  return rate > 0.0 ? rate : kSingleToneRate;
}

double sample_rate(const StepSweepRecord& r) { return 8.0 * (r.stop - r.start); }

double sample_rate(const RampSweepRecord& r) {
  if (!(r.span > 0.0) || !(r.sweep_time > 0.0)) return kMaxSampleRate;
  const Fraction time = rational_approximation(r.sweep_time);
  const auto p = static_cast<std::uint64_t>(std::llabs(time.numerator));
  const auto q = static_cast<std::uint64_t>(time.denominator);
  const std::uint64_t step = std::max<std::uint64_t>(q / std::gcd(p, q), 1);
  const double low = std::max(1.25 * r.span, kMinSampleRate);
  if (low > kMaxSampleRate) return kMaxSampleRate;
  return fit_step(step, low).value_or(kMaxSampleRate);
}

double sample_rate(const AwgnRecord& r) { return limited_rate(1.25 * r.bandwidth); }

bool within_budget(const DigitalRecord& r, double rate, std::int32_t count) {
  const double bits = std::log2(static_cast<double>(symbol_alphabet(r.modulation)));
  return below_budget(bits * count * rate / r.symbol_rate);
}
bool within_budget(const AmRecord& r, double rate) {
  return below_budget(rate * 1000.0 / r.mod_frequency);
}
bool within_budget(const FmRecord& r, double rate) {
  return below_budget(rate / r.mod_frequency);
}
bool within_budget(const DsssRecord& r, double rate, std::int32_t count) {
  const double bits = std::log2(static_cast<double>(symbol_alphabet(r.modulation)));
  return below_budget(bits * count * rate / r.symbol_rate * chips_per_symbol(r.spread_order));
}
bool within_budget(const PulseRecord& r, double rate) { return at_most_budget(rate * r.period); }
bool within_budget(const MultitoneRecord& r, double rate) {
  const double spacing = r.tones % 2 != 0 ? r.spacing : r.spacing / 2.0;
  return below_budget(rate / spacing * static_cast<double>(r.tones));
}
bool within_budget(const StepSweepRecord& r, double rate) {
  return at_most_budget(r.dwell * rate * static_cast<double>(r.points));
}
bool within_budget(const RampSweepRecord& r, double rate) {
  return at_most_budget(rate * r.sweep_time);
}
bool within_budget(const OfdmRecord& r) {
  return at_most_budget(static_cast<double>(r.size) * static_cast<double>(r.symbols));
}
bool within_budget(const AwgnRecord& r, double rate) { return at_most_budget(r.duration * rate); }

}  // namespace zr
