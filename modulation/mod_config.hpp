#pragma once
// Defaults and correction rules of the ten modulation parameter records. Pure functions: the
// calls that store the results live in mod_api.cpp.
#include <cstdint>

#include "zr_api.h"

namespace zr {

inline constexpr double kMinSampleRate = 195312.5;
inline constexpr double kMaxSampleRate = 1.25e8;
inline constexpr std::int32_t kDefaultDigitalSymbols = 32768;
inline constexpr std::int32_t kDefaultDsssSymbols = 5;

DigitalModParams default_digitalmod();
AmParams default_am();
FmParams default_fm();
DsssParams default_dsss();
PulseParams default_pulse();
MultitoneParams default_multitone();
StepSweepParams default_stepsweep();
RampSweepParams default_rampsweep();
// Every field but ofdm_value, which the init call leaves as it is.
OfdmParams default_ofdm(double ofdm_value);
AwgnParams default_awgn();

// Each corrects its record in place. A value that is not a number counts as below its range.
void correct(DigitalModParams& params);
void correct(AmParams& params);
void correct(FmParams& params);
void correct(DsssParams& params);
void correct(PulseParams& params);
void correct(MultitoneParams& params);
void correct(StepSweepParams& params);
void correct(RampSweepParams& params);
void correct(OfdmParams& params);
void correct(AwgnParams& params);

// Codes 15..18 are frequency-shift codes that carry a deviation.
bool carries_deviation(std::uint32_t modulation);

// The symbol rate and deviation rule of the frequency-shift codes, shared with the sample rate.
void adjust_deviation_rate(double& symbol_rate, double& deviation);

}  // namespace zr
