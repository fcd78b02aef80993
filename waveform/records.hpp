#pragma once
// The packed parameter records of the entry points, decoded field by field.
#include <cstdint>

namespace zr::wave {

struct DigitalSpec {
  std::uint32_t modulation = 0;
  double symbol_rate = 0.0;
  double deviation = 0.0;
  std::uint32_t option_a = 0;
  std::uint32_t option_b = 0;
  std::uint32_t filter_type = 0;
  std::uint32_t filter_span = 0;
  std::uint32_t oversampling = 0;
  double filter_factor = 0.0;
};
struct AmSpec {
  double mod_frequency = 0.0;
  double depth = 0.0;
  std::uint32_t option = 0;
};
struct FmSpec {
  double mod_frequency = 0.0;
  double deviation = 0.0;
  std::uint32_t option = 0;
};
struct DsssSpec {
  double symbol_rate = 0.0;
  std::uint32_t modulation = 0;
  std::uint32_t spread_order = 0;
  std::uint32_t filter_span = 0;
  std::uint32_t samples_per_chip = 0;
  double filter_factor = 0.0;
  std::uint32_t option_b = 0;
  std::uint32_t filter_type = 0;
};
struct PulseSpec {
  double width = 0.0;
  double period = 0.0;
};
struct MultitoneSpec {
  double phase = 0.0;
  std::uint32_t tones = 0;
  double spacing = 0.0;
};
struct StepSweepSpec {
  double start = 0.0;
  double stop = 0.0;
  std::uint32_t points = 0;
  double dwell = 0.0;
};
struct RampSweepSpec {
  double span = 0.0;
  double sub_time = 0.0;
  double sweep_time = 0.0;
};
struct OfdmSpec {
  double value = 0.0;
  std::uint32_t size = 0;
  std::uint32_t symbols = 0;
  std::uint32_t edge_low = 0;
  std::uint32_t edge_high = 0;
  std::uint32_t prefix_percent = 0;
  std::uint32_t taper_percent = 0;
  bool null_dc = false;
  std::uint32_t modulation = 0;
  bool pilots = false;
};
struct AwgnSpec {
  double bandwidth = 0.0;
  double duration = 0.0;
};

// Each reads its record's fixed number of bytes from record.
DigitalSpec read_digital(const void* record);
AmSpec read_am(const void* record);
FmSpec read_fm(const void* record);
DsssSpec read_dsss(const void* record);
PulseSpec read_pulse(const void* record);
MultitoneSpec read_multitone(const void* record);
StepSweepSpec read_step_sweep(const void* record);
RampSweepSpec read_ramp_sweep(const void* record);
OfdmSpec read_ofdm(const void* record);
AwgnSpec read_awgn(const void* record);

}  // namespace zr::wave
