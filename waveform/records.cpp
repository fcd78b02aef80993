#include "waveform/records.hpp"

#include <bit>
#include <span>

#include "platform/le_codec.hpp"

namespace zr::wave {
namespace {

// The record sizes are fixed by the entry point, so the reader never runs short.
class FieldReader {
 public:
  FieldReader(const void* record, std::size_t size)
      : reader_(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(record), size)) {}
  std::uint32_t u32() {
    std::uint32_t value = 0;
    reader_.u32(value);
    return value;
  }
  std::uint8_t u8() {
    std::uint8_t value = 0;
    reader_.u8(value);
    return value;
  }
  double f64() {
    const std::uint64_t low = u32();
    const std::uint64_t high = u32();
    return std::bit_cast<double>(low | (high << 32));
  }

 private:
  LeReader reader_;
};

}  // namespace

DigitalSpec read_digital(const void* record) {
  FieldReader r(record, 48);
  DigitalSpec s;
  s.modulation = r.u32();
  s.symbol_rate = r.f64();
  s.deviation = r.f64();
  s.option_a = r.u32();
  s.option_b = r.u32();
  s.filter_type = r.u32();
  s.filter_span = r.u32();
  s.oversampling = r.u32();
  s.filter_factor = r.f64();
  return s;
}

AmSpec read_am(const void* record) {
  FieldReader r(record, 20);
  AmSpec s;
  s.mod_frequency = r.f64();
  s.depth = r.f64();
  s.option = r.u32();
  return s;
}

FmSpec read_fm(const void* record) {
  FieldReader r(record, 20);
  FmSpec s;
  s.mod_frequency = r.f64();
  s.deviation = r.f64();
  s.option = r.u32();
  return s;
}

DsssSpec read_dsss(const void* record) {
  FieldReader r(record, 40);
  DsssSpec s;
  s.symbol_rate = r.f64();
  s.modulation = r.u32();
  s.spread_order = r.u32();
  s.filter_span = r.u32();
  s.samples_per_chip = r.u32();
  s.filter_factor = r.f64();
  s.option_b = r.u32();
  s.filter_type = r.u32();
  return s;
}

PulseSpec read_pulse(const void* record) {
  FieldReader r(record, 16);
  PulseSpec s;
  s.width = r.f64();
  s.period = r.f64();
  return s;
}

MultitoneSpec read_multitone(const void* record) {
  FieldReader r(record, 20);
  MultitoneSpec s;
  s.phase = r.f64();
  s.tones = r.u32();
  s.spacing = r.f64();
  return s;
}

StepSweepSpec read_step_sweep(const void* record) {
  FieldReader r(record, 28);
  StepSweepSpec s;
  s.start = r.f64();
  s.stop = r.f64();
  s.points = r.u32();
  s.dwell = r.f64();
  return s;
}

RampSweepSpec read_ramp_sweep(const void* record) {
  FieldReader r(record, 24);
  RampSweepSpec s;
  s.span = r.f64();
  s.sub_time = r.f64();
  s.sweep_time = r.f64();
  return s;
}

OfdmSpec read_ofdm(const void* record) {
  FieldReader r(record, 38);
  OfdmSpec s;
  s.value = r.f64();
  s.size = r.u32();
  s.symbols = r.u32();
  s.edge_low = r.u32();
  s.edge_high = r.u32();
  s.prefix_percent = r.u32();
  s.taper_percent = r.u32();
  s.null_dc = r.u8() != 0;
  s.modulation = r.u32();
  s.pilots = r.u8() != 0;
  return s;
}

AwgnSpec read_awgn(const void* record) {
  FieldReader r(record, 16);
  AwgnSpec s;
  s.bandwidth = r.f64();
  s.duration = r.f64();
  return s;
}

}  // namespace zr::wave
