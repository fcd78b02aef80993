// The exported C entry points: generator objects, and for each kind the decoding of its record,
// the plan and the delivery into the caller's buffer. Nothing thrown leaves the library.
#include <new>

#include "waveform/gen_signal_wave.h"
#include "waveform/generator_registry.hpp"
#include "waveform/iq_output.hpp"
#include "waveform/synthesisers.hpp"

namespace zr::wave {
namespace {

template <typename Plan>
std::int32_t generate(std::int32_t generator, const void* record, void* samples,
                      void* sample_count, Plan&& plan) noexcept {
  try {
    if (record == nullptr || sample_count == nullptr || !generator_alive(generator)) {
      return GSW_INVALID;
    }
    return deliver(plan(), samples, sample_count);
  } catch (const std::bad_alloc&) {
    return GSW_INVALID;
  } catch (...) {
    return GSW_INVALID;
  }
}

}  // namespace
}  // namespace zr::wave

using namespace zr::wave;

extern "C" {

GSW_API int32_t GetALGVersion(void* version) {
  if (version != nullptr) *static_cast<uint32_t*>(version) = GSW_VERSION;
  return GSW_OK;
}

GSW_API int32_t GenSignalObjCreatSelfEncode(uint32_t model, uint32_t uid_high,
                                            uint32_t uid_low_low, uint32_t uid_low_high) {
  try {
    return create_generator(
        {model, uid_high, (static_cast<uint64_t>(uid_low_high) << 32) | uid_low_low});
  } catch (...) {
    return GSW_INVALID;
  }
}

GSW_API int32_t GenSignalObjRelease(int32_t generator) {
  try {
    return release_generator(generator);
  } catch (...) {
    return GSW_INVALID;
  }
}

GSW_API int32_t GenerateDigitalModWaveform(int32_t generator, const void* record, double rate,
                                           int32_t count, void* samples, void* sample_count) {
  return generate(generator, record, samples, sample_count,
                  [&] { return plan_digital(read_digital(record), rate, count); });
}

GSW_API int32_t GenerateAmWaveform(int32_t generator, const void* record, double rate,
                                   void* samples, void* sample_count) {
  return generate(generator, record, samples, sample_count,
                  [&] { return plan_am(read_am(record), rate); });
}

GSW_API int32_t GenerateFmWaveform(int32_t generator, const void* record, double rate,
                                   void* samples, void* sample_count) {
  return generate(generator, record, samples, sample_count,
                  [&] { return plan_fm(read_fm(record), rate); });
}

GSW_API int32_t GenerateDssWaveform(int32_t generator, const void* record, double rate,
                                    int32_t count, void* samples, void* sample_count) {
  return generate(generator, record, samples, sample_count,
                  [&] { return plan_dsss(read_dsss(record), rate, count); });
}

GSW_API int32_t GeneratePulseWaveform(int32_t generator, const void* record, double rate,
                                      void* samples, void* sample_count) {
  return generate(generator, record, samples, sample_count,
                  [&] { return plan_pulse(read_pulse(record), rate); });
}

GSW_API int32_t GenerateMultitoneWaveform(int32_t generator, const void* record, double rate,
                                          void* samples, void* sample_count) {
  return generate(generator, record, samples, sample_count,
                  [&] { return plan_multitone(read_multitone(record), rate); });
}

GSW_API int32_t GenerateStepSweepWaveform(int32_t generator, const void* record, double rate,
                                          void* samples, void* sample_count) {
  return generate(generator, record, samples, sample_count,
                  [&] { return plan_step_sweep(read_step_sweep(record), rate); });
}

GSW_API int32_t GenerateRampSweepWaveform(int32_t generator, const void* record, double rate,
                                          void* samples, void* sample_count) {
  return generate(generator, record, samples, sample_count,
                  [&] { return plan_ramp_sweep(read_ramp_sweep(record), rate); });
}

GSW_API int32_t GenerateOFDMWaveform(int32_t generator, const void* record, double rate,
                                     void* samples, void* sample_count) {
  return generate(generator, record, samples, sample_count,
                  [&] { return plan_ofdm(read_ofdm(record), rate); });
}

GSW_API int32_t GenerateAWGNWaveform(int32_t generator, const void* record, double rate,
                                     void* samples, void* sample_count) {
  return generate(generator, record, samples, sample_count,
                  [&] { return plan_awgn(read_awgn(record), rate); });
}

}  // extern "C"
