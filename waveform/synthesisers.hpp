#pragma once
// Planning of the ten kinds: each checks its parameters at the given rate, fixes the length and
// returns the renderer. Nothing is synthesised until the renderer runs.
#include <cstdint>

#include "waveform/records.hpp"
#include "waveform/waveform.hpp"

namespace zr::wave {

Waveform plan_digital(const DigitalSpec& spec, double rate, std::int32_t symbols);
Waveform plan_am(const AmSpec& spec, double rate);
Waveform plan_fm(const FmSpec& spec, double rate);
Waveform plan_dsss(const DsssSpec& spec, double rate, std::int32_t symbols);
Waveform plan_pulse(const PulseSpec& spec, double rate);
Waveform plan_multitone(const MultitoneSpec& spec, double rate);
Waveform plan_step_sweep(const StepSweepSpec& spec, double rate);
Waveform plan_ramp_sweep(const RampSweepSpec& spec, double rate);
Waveform plan_ofdm(const OfdmSpec& spec, double rate);
Waveform plan_awgn(const AwgnSpec& spec, double rate);

}  // namespace zr::wave
