#pragma once
// The sample rate the waveform library is asked to use for each kind, and the estimate of the
// samples it will produce, checked against the budget before the library is called.
#include <cstdint>

#include "modulation/library_records.hpp"

namespace zr {

inline constexpr double kSampleBudget = 1e7;

struct Fraction {
  std::int64_t numerator = 0;
  std::int64_t denominator = 1;  // always positive; the sign is in the numerator
};

// Continued-fraction approximation with denominators up to 1e9, reduced.
Fraction rational_approximation(double value);

// Alphabet size of a modulation code (2 for codes without a table entry).
std::uint32_t symbol_alphabet(std::uint32_t modulation);

double sample_rate(const DigitalRecord& record);
double sample_rate(const AmRecord& record);
double sample_rate(const FmRecord& record);
double sample_rate(const DsssRecord& record);
double sample_rate(const PulseRecord& record);
double sample_rate(const MultitoneRecord& record);
double sample_rate(const StepSweepRecord& record);
double sample_rate(const RampSweepRecord& record);
double sample_rate(const AwgnRecord& record);
// OFDM runs at the rate of the pending caller record, which its library record does not carry.

// Whether generating the record at rate stays within the budget; count is the symbol count of
// the digital and spread-spectrum kinds. Estimates are truncated toward zero before the
// comparison; one that is not a number is over budget.
bool within_budget(const DigitalRecord& record, double rate, std::int32_t count);
bool within_budget(const AmRecord& record, double rate);
bool within_budget(const FmRecord& record, double rate);
bool within_budget(const DsssRecord& record, double rate, std::int32_t count);
bool within_budget(const PulseRecord& record, double rate);
bool within_budget(const MultitoneRecord& record, double rate);
bool within_budget(const StepSweepRecord& record, double rate);
bool within_budget(const RampSweepRecord& record, double rate);
bool within_budget(const OfdmRecord& record);
bool within_budget(const AwgnRecord& record, double rate);

}  // namespace zr
