#include "modulation/library_records.hpp"

#include <bit>

#include "platform/le_codec.hpp"

namespace zr {
namespace {

// Signed caller fields travel as their 32-bit pattern.
std::uint32_t as_u32(std::int32_t value) { return static_cast<std::uint32_t>(value); }

class RecordWriter {
 public:
  RecordWriter() : writer_(bytes_) {}
  RecordWriter& f64(double value) {
    writer_.u64(std::bit_cast<std::uint64_t>(value));
    return *this;
  }
  RecordWriter& u32(std::uint32_t value) {
    writer_.u32(value);
    return *this;
  }
  RecordWriter& u8(std::uint8_t value) {
    writer_.u8(value);
    return *this;
  }
  std::vector<std::uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
  LeWriter writer_;
};

}  // namespace

DigitalRecord library_record(const DigitalModParams& p) {
  return {p.modulation,         p.symbol_rate,        p.deviation,
          as_u32(p.option_a),   as_u32(p.option_b),   p.filter_type,
          as_u32(p.filter_span), as_u32(p.oversampling), p.filter_factor};
}
AmRecord library_record(const AmParams& p) { return {p.mod_frequency, p.depth, p.am_option}; }
FmRecord library_record(const FmParams& p) { return {p.mod_frequency, p.deviation, p.fm_option}; }
DsssRecord library_record(const DsssParams& p) {
  return {p.symbol_rate,           p.modulation,     as_u32(p.spread_order),
          as_u32(p.filter_span),   as_u32(p.samples_per_chip), p.filter_factor,
          as_u32(p.option_b),      p.filter_type};
}
PulseRecord library_record(const PulseParams& p) { return {p.width, p.period}; }
MultitoneRecord library_record(const MultitoneParams& p) {
  return {p.phase, as_u32(p.tones), p.spacing};
}
StepSweepRecord library_record(const StepSweepParams& p) {
  return {p.center - p.span / 2.0, p.center + p.span / 2.0, as_u32(p.points), p.dwell};
}
RampSweepRecord library_record(const RampSweepParams& p) {
  return {p.span, p.sub_time, p.sweep_time};
}
OfdmRecord library_record(const OfdmParams& p) {
  return {p.ofdm_value,         as_u32(p.size),      as_u32(p.symbols),
          as_u32(p.edge_low),   as_u32(p.edge_high), as_u32(p.percent_a),
          as_u32(p.percent_b),  static_cast<std::uint8_t>(p.flag_a != 0 ? 1 : 0),
          p.option,             static_cast<std::uint8_t>(p.flag_b != 0 ? 1 : 0)};
}
AwgnRecord library_record(const AwgnParams& p) { return {p.bandwidth, p.duration}; }

std::vector<std::uint8_t> pack(const DigitalRecord& r) {
  return RecordWriter{}
      .u32(r.modulation)
      .f64(r.symbol_rate)
      .f64(r.deviation)
      .u32(r.option_a)
      .u32(r.option_b)
      .u32(r.filter_type)
      .u32(r.filter_span)
      .u32(r.oversampling)
      .f64(r.filter_factor)
      .take();
}
std::vector<std::uint8_t> pack(const AmRecord& r) {
  return RecordWriter{}.f64(r.mod_frequency).f64(r.depth).u32(r.am_option).take();
}
std::vector<std::uint8_t> pack(const FmRecord& r) {
  return RecordWriter{}.f64(r.mod_frequency).f64(r.deviation).u32(r.fm_option).take();
}
std::vector<std::uint8_t> pack(const DsssRecord& r) {
  return RecordWriter{}
      .f64(r.symbol_rate)
      .u32(r.modulation)
      .u32(r.spread_order)
      .u32(r.filter_span)
      .u32(r.samples_per_chip)
      .f64(r.filter_factor)
      .u32(r.option_b)
      .u32(r.filter_type)
      .take();
}
std::vector<std::uint8_t> pack(const PulseRecord& r) {
  return RecordWriter{}.f64(r.width).f64(r.period).take();
}
std::vector<std::uint8_t> pack(const MultitoneRecord& r) {
  return RecordWriter{}.f64(r.phase).u32(r.tones).f64(r.spacing).take();
}
std::vector<std::uint8_t> pack(const StepSweepRecord& r) {
  return RecordWriter{}.f64(r.start).f64(r.stop).u32(r.points).f64(r.dwell).take();
}
std::vector<std::uint8_t> pack(const RampSweepRecord& r) {
  return RecordWriter{}.f64(r.span).f64(r.sub_time).f64(r.sweep_time).take();
}
std::vector<std::uint8_t> pack(const OfdmRecord& r) {
  return RecordWriter{}
      .f64(r.ofdm_value)
      .u32(r.size)
      .u32(r.symbols)
      .u32(r.edge_low)
      .u32(r.edge_high)
      .u32(r.percent_a)
      .u32(r.percent_b)
      .u8(r.flag_a)
      .u32(r.option)
      .u8(r.flag_b)
      .take();
}
std::vector<std::uint8_t> pack(const AwgnRecord& r) {
  return RecordWriter{}.f64(r.bandwidth).f64(r.duration).take();
}

}  // namespace zr
