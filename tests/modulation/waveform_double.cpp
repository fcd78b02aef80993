// A stand-in for libgenSignalWave.so: records each call and answers what the test set. Built as
// a full double and, with WAVEFORM_DOUBLE_WITHOUT_GENERATORS, as one that exports no Generate*
// entry points.
#include <cstring>

#include "tests/modulation/waveform_double.hpp"

using zr::testing::DoubleCall;
using zr::testing::DoubleControl;

namespace {

DoubleControl& control() {
  static DoubleControl state;
  return state;
}

[[maybe_unused]] std::int32_t record_call(const char* entry, std::int32_t generator,
                                          const void* record, std::size_t size, double rate,
                                          std::int32_t count, void* output, void* output_size) {
  DoubleCall call;
  call.entry = entry;
  call.generator = generator;
  const auto* bytes = static_cast<const std::uint8_t*>(record);
  call.record.assign(bytes, bytes + size);
  call.rate = rate;
  call.count = count;
  call.output = output;
  call.output_size = output_size;
  control().calls.push_back(std::move(call));
  return control().generate_result;
}

}  // namespace

#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))

DOUBLE_EXPORT DoubleControl* waveform_double_control() { return &control(); }

DOUBLE_EXPORT std::int32_t GetALGVersion(void* version) {
  control().version_argument = version;
  ++control().version_calls;
  return 0;
}

DOUBLE_EXPORT std::int32_t GenSignalObjCreatSelfEncode(std::uint32_t a, std::uint32_t b,
                                                       std::uint32_t c, std::uint32_t d) {
  const std::uint32_t args[4] = {a, b, c, d};
  std::memcpy(control().create_arguments, args, sizeof args);
  return control().create_result;
}

DOUBLE_EXPORT std::int32_t GenSignalObjRelease(std::int32_t generator) {
  control().released_generator = generator;
  return control().release_result;
}

#ifndef WAVEFORM_DOUBLE_WITHOUT_GENERATORS

#define DOUBLE_GENERATOR(name, size)                                                      \
  DOUBLE_EXPORT std::int32_t name(std::int32_t generator, const void* record, double rate, \
                                  void* output, void* output_size) {                      \
    return record_call(#name, generator, record, size, rate, 0, output, output_size);     \
  }
#define DOUBLE_COUNTED_GENERATOR(name, size)                                              \
  DOUBLE_EXPORT std::int32_t name(std::int32_t generator, const void* record, double rate, \
                                  std::int32_t count, void* output, void* output_size) {  \
    return record_call(#name, generator, record, size, rate, count, output, output_size); \
  }

DOUBLE_COUNTED_GENERATOR(GenerateDigitalModWaveform, 48)
DOUBLE_GENERATOR(GenerateAmWaveform, 20)
DOUBLE_GENERATOR(GenerateFmWaveform, 20)
DOUBLE_COUNTED_GENERATOR(GenerateDssWaveform, 40)
DOUBLE_GENERATOR(GeneratePulseWaveform, 16)
DOUBLE_GENERATOR(GenerateMultitoneWaveform, 20)
DOUBLE_GENERATOR(GenerateStepSweepWaveform, 28)
DOUBLE_GENERATOR(GenerateRampSweepWaveform, 24)
DOUBLE_GENERATOR(GenerateOFDMWaveform, 38)
DOUBLE_GENERATOR(GenerateAWGNWaveform, 16)

#endif
