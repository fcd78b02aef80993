#pragma once
// The modulation record of one context: the bound waveform library with its entry points, the
// generator object, the binding status, the current kind and the two parameter sets per kind.
#include <cstdint>

#include "device/device_context.hpp"
#include "modulation/library_records.hpp"
#include "zr_api.h"

namespace zr {

// Entry points of the waveform library, in the order they are looked up.
using VersionEntry = std::int32_t (*)(void* version);
using CreateEntry = std::int32_t (*)(std::uint32_t model, std::uint32_t uid_high,
                                     std::uint32_t uid_low_low, std::uint32_t uid_low_high);
using ReleaseEntry = std::int32_t (*)(std::int32_t generator);
using GenerateEntry = std::int32_t (*)(std::int32_t generator, const void* record, double rate,
                                       void* output, void* output_size);
using CountedGenerateEntry = std::int32_t (*)(std::int32_t generator, const void* record,
                                              double rate, std::int32_t count, void* output,
                                              void* output_size);

struct EntryPoints {
  VersionEntry version = nullptr;
  CreateEntry create = nullptr;
  ReleaseEntry release = nullptr;
  CountedGenerateEntry digital = nullptr;
  GenerateEntry am = nullptr;
  GenerateEntry fm = nullptr;
  CountedGenerateEntry dsss = nullptr;
  GenerateEntry pulse = nullptr;
  GenerateEntry multitone = nullptr;
  GenerateEntry step_sweep = nullptr;
  GenerateEntry ramp_sweep = nullptr;
  GenerateEntry ofdm = nullptr;
  GenerateEntry awgn = nullptr;
};

// Results the library gives for a failed call.
inline constexpr std::int32_t kLibraryFailed = -1;
inline constexpr std::int32_t kLibraryRefused = -2;

// pending: the last config call's output; accepted: the last set generated (or the defaults of
// the init call), with the symbol count of the kinds that take one.
template <typename Params, typename Record>
struct ParameterSets {
  Params pending{};
  Record accepted{};
  std::int32_t accepted_count = 0;
};

struct ModulationSession {
  ~ModulationSession();

  void* library = nullptr;  // dlopen handle while bound
  EntryPoints entries;
  std::int32_t generator = 0;
  std::int32_t status = ZR_OK;
  std::int16_t kind = ZR_MOD_KIND_NONE;

  ParameterSets<DigitalModParams, DigitalRecord> digital;
  ParameterSets<AmParams, AmRecord> am;
  ParameterSets<FmParams, FmRecord> fm;
  ParameterSets<DsssParams, DsssRecord> dsss;
  ParameterSets<PulseParams, PulseRecord> pulse;
  ParameterSets<MultitoneParams, MultitoneRecord> multitone;
  ParameterSets<StepSweepParams, StepSweepRecord> step_sweep;
  ParameterSets<RampSweepParams, RampSweepRecord> ramp_sweep;
  ParameterSets<OfdmParams, OfdmRecord> ofdm;
  ParameterSets<AwgnParams, AwgnRecord> awgn;
};

// The context's record, created in the zero state on first use.
ModulationSession& session_of(DeviceContext& context);

// -608 .. -603: every later modulation call returns it without doing anything.
inline bool is_permanent_failure(std::int32_t status) {
  return status >= ZR_MOD_PERMANENT_FIRST && status <= ZR_MOD_PERMANENT_LAST;
}

}  // namespace zr
