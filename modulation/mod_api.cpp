// The exported modulation calls: thin shims over the binding, the parameter rules and the
// stream generation.
#include "device/api_boundary.hpp"
#include "modulation/mod_config.hpp"
#include "modulation/modulation_session.hpp"
#include "modulation/stream_generation.hpp"
#include "modulation/waveform_binding.hpp"
#include "zr_api.h"

namespace zr {
namespace {

template <typename Params, typename Record>
using SetsMember = ParameterSets<Params, Record> ModulationSession::*;

// Defaults go to the caller's record even when the binding has failed for good.
template <typename Params, typename Record>
std::int32_t init_kind(DeviceContext** device, Params* params, const Params& defaults,
                       SetsMember<Params, Record> member, std::int32_t count) {
  if (params != nullptr) *params = defaults;
  DeviceContext* context = context_of(device);
  if (context == nullptr) return ZR_INVALID_HANDLE;
  ModulationSession& session = session_of(*context);
  if (is_permanent_failure(session.status)) return session.status;
  (session.*member).accepted = library_record(defaults);
  (session.*member).accepted_count = count;
  return ZR_OK;
}

template <typename Params, typename Record>
std::int32_t config_kind(DeviceContext** device, const Params* in, Params* out,
                         SetsMember<Params, Record> member, std::int16_t kind) {
  DeviceContext* context = context_of(device);
  if (context == nullptr) return ZR_INVALID_HANDLE;
  ModulationSession& session = session_of(*context);
  if (is_permanent_failure(session.status)) return session.status;
  if (in == nullptr || out == nullptr) return ZR_MOD_NULL_ARGUMENT;
  Params corrected = *in;
  correct(corrected);
  session.kind = kind;
  session.status = ZR_OK;
  *out = corrected;
  (session.*member).pending = corrected;
  return ZR_OK;
}

// The caller's ofdm_value is kept, and so is that of the accepted set.
void init_ofdm(DeviceContext** device, OfdmParams* params) {
  if (params != nullptr) *params = default_ofdm(params->ofdm_value);
  DeviceContext* context = context_of(device);
  if (context == nullptr) return;
  ModulationSession& session = session_of(*context);
  if (is_permanent_failure(session.status)) return;
  session.ofdm.accepted = library_record(default_ofdm(session.ofdm.accepted.ofdm_value));
}

}  // namespace
}  // namespace zr

using zr::context_of;
using zr::guarded;
using zr::ModulationSession;

extern "C" {

ZR_API int32_t mod_open(DeviceContext** device, void* version) {
  return guarded([&] {
    DeviceContext* context = context_of(device);
    return context != nullptr ? zr::open_waveform_library(*context, version) : ZR_INVALID_HANDLE;
  });
}

ZR_API int32_t mod_close(DeviceContext** device) {
  return guarded([&] {
    DeviceContext* context = context_of(device);
    return context != nullptr ? zr::close_waveform_library(*context) : ZR_INVALID_HANDLE;
  });
}

ZR_API void mod_init_digitalmod(DeviceContext** device, DigitalModParams* params) {
  guarded([&] {
    return zr::init_kind(device, params, zr::default_digitalmod(), &ModulationSession::digital,
                         zr::kDefaultDigitalSymbols);
  });
}
ZR_API void mod_init_am(DeviceContext** device, AmParams* params) {
  guarded([&] { return zr::init_kind(device, params, zr::default_am(), &ModulationSession::am, 0); });
}
ZR_API void mod_init_fm(DeviceContext** device, FmParams* params) {
  guarded([&] { return zr::init_kind(device, params, zr::default_fm(), &ModulationSession::fm, 0); });
}
ZR_API void mod_init_dsss(DeviceContext** device, DsssParams* params) {
  guarded([&] {
    return zr::init_kind(device, params, zr::default_dsss(), &ModulationSession::dsss,
                         zr::kDefaultDsssSymbols);
  });
}
ZR_API void mod_init_pulse(DeviceContext** device, PulseParams* params) {
  guarded([&] {
    return zr::init_kind(device, params, zr::default_pulse(), &ModulationSession::pulse, 0);
  });
}
ZR_API void mod_init_multitone(DeviceContext** device, MultitoneParams* params) {
  guarded([&] {
    return zr::init_kind(device, params, zr::default_multitone(), &ModulationSession::multitone,
                         0);
  });
}
ZR_API void mod_init_stepsweep(DeviceContext** device, StepSweepParams* params) {
  guarded([&] {
    return zr::init_kind(device, params, zr::default_stepsweep(), &ModulationSession::step_sweep,
                         0);
  });
}
ZR_API void mod_init_rampsweep(DeviceContext** device, RampSweepParams* params) {
  guarded([&] {
    return zr::init_kind(device, params, zr::default_rampsweep(), &ModulationSession::ramp_sweep,
                         0);
  });
}
ZR_API void mod_init_ofdm(DeviceContext** device, OfdmParams* params) {
  guarded([&] {
    zr::init_ofdm(device, params);
    return ZR_OK;
  });
}
ZR_API void mod_init_awgn(DeviceContext** device, AwgnParams* params) {
  guarded([&] {
    return zr::init_kind(device, params, zr::default_awgn(), &ModulationSession::awgn, 0);
  });
}

ZR_API int32_t mod_config_digitalmod(DeviceContext** device, const DigitalModParams* in,
                                     DigitalModParams* out) {
  return guarded([&] {
    return zr::config_kind(device, in, out, &ModulationSession::digital, ZR_MOD_KIND_DIGITAL);
  });
}
ZR_API int32_t mod_config_am(DeviceContext** device, const AmParams* in, AmParams* out) {
  return guarded(
      [&] { return zr::config_kind(device, in, out, &ModulationSession::am, ZR_MOD_KIND_AM); });
}
ZR_API int32_t mod_config_fm(DeviceContext** device, const FmParams* in, FmParams* out) {
  return guarded(
      [&] { return zr::config_kind(device, in, out, &ModulationSession::fm, ZR_MOD_KIND_FM); });
}
ZR_API int32_t mod_config_dsss(DeviceContext** device, const DsssParams* in, DsssParams* out) {
  return guarded([&] {
    return zr::config_kind(device, in, out, &ModulationSession::dsss, ZR_MOD_KIND_DSSS);
  });
}
ZR_API int32_t mod_config_pulse(DeviceContext** device, const PulseParams* in, PulseParams* out) {
  return guarded([&] {
    return zr::config_kind(device, in, out, &ModulationSession::pulse, ZR_MOD_KIND_PULSE);
  });
}
ZR_API int32_t mod_config_multitone(DeviceContext** device, const MultitoneParams* in,
                                    MultitoneParams* out) {
  return guarded([&] {
    return zr::config_kind(device, in, out, &ModulationSession::multitone,
                           ZR_MOD_KIND_MULTITONE);
  });
}
ZR_API int32_t mod_config_stepsweep(DeviceContext** device, const StepSweepParams* in,
                                    StepSweepParams* out) {
  return guarded([&] {
    return zr::config_kind(device, in, out, &ModulationSession::step_sweep,
                           ZR_MOD_KIND_STEPSWEEP);
  });
}
ZR_API int32_t mod_config_rampsweep(DeviceContext** device, const RampSweepParams* in,
                                    RampSweepParams* out) {
  return guarded([&] {
    return zr::config_kind(device, in, out, &ModulationSession::ramp_sweep,
                           ZR_MOD_KIND_RAMPSWEEP);
  });
}
ZR_API int32_t mod_config_ofdm(DeviceContext** device, const OfdmParams* in, OfdmParams* out) {
  return guarded([&] {
    return zr::config_kind(device, in, out, &ModulationSession::ofdm, ZR_MOD_KIND_OFDM);
  });
}
ZR_API int32_t mod_config_awgn(DeviceContext** device, const AwgnParams* in, AwgnParams* out) {
  return guarded([&] {
    return zr::config_kind(device, in, out, &ModulationSession::awgn, ZR_MOD_KIND_AWGN);
  });
}

ZR_API int32_t mod_generate_stream(DeviceContext** device, int32_t count, void* output,
                                   void* output_size, double* rate) {
  return guarded([&] {
    DeviceContext* context = context_of(device);
    return context != nullptr ? zr::generate_stream(*context, count, output, output_size, rate)
                              : ZR_INVALID_HANDLE;
  });
}

}  // extern "C"
