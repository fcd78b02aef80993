#pragma once
// The records handed to the waveform library: packed, little-endian, one per kind, built from
// the caller's corrected record. The accepted (last generated) set of each kind is kept in this
// form so that an over-budget call regenerates exactly what was generated before.
#include <cstdint>
#include <vector>

#include "zr_api.h"

namespace zr {

struct DigitalRecord {
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

struct AmRecord {
  double mod_frequency = 0.0;
  double depth = 0.0;
  std::uint32_t am_option = 0;
};

struct FmRecord {
  double mod_frequency = 0.0;
  double deviation = 0.0;
  std::uint32_t fm_option = 0;
};

struct DsssRecord {
  double symbol_rate = 0.0;
  std::uint32_t modulation = 0;
  std::uint32_t spread_order = 0;
  std::uint32_t filter_span = 0;
  std::uint32_t samples_per_chip = 0;
  double filter_factor = 0.0;
  std::uint32_t option_b = 0;
  std::uint32_t filter_type = 0;
};

struct PulseRecord {
  double width = 0.0;
  double period = 0.0;
};

struct MultitoneRecord {
  double phase = 0.0;
  std::uint32_t tones = 0;
  double spacing = 0.0;
};

struct StepSweepRecord {
  double start = 0.0;
  double stop = 0.0;
  std::uint32_t points = 0;
  double dwell = 0.0;
};

struct RampSweepRecord {
  double span = 0.0;
  double sub_time = 0.0;
  double sweep_time = 0.0;
};

struct OfdmRecord {
  double ofdm_value = 0.0;
  std::uint32_t size = 0;
  std::uint32_t symbols = 0;
  std::uint32_t edge_low = 0;
  std::uint32_t edge_high = 0;
  std::uint32_t percent_a = 0;
  std::uint32_t percent_b = 0;
  std::uint8_t flag_a = 0;  // 0 or 1
  std::uint32_t option = 0;
  std::uint8_t flag_b = 0;  // 0 or 1
};

struct AwgnRecord {
  double bandwidth = 0.0;
  double duration = 0.0;
};

// Packed sizes of the records.
inline constexpr std::size_t kDigitalRecordSize = 48;
inline constexpr std::size_t kAmRecordSize = 20;
inline constexpr std::size_t kFmRecordSize = 20;
inline constexpr std::size_t kDsssRecordSize = 40;
inline constexpr std::size_t kPulseRecordSize = 16;
inline constexpr std::size_t kMultitoneRecordSize = 20;
inline constexpr std::size_t kStepSweepRecordSize = 28;
inline constexpr std::size_t kRampSweepRecordSize = 24;
inline constexpr std::size_t kOfdmRecordSize = 38;
inline constexpr std::size_t kAwgnRecordSize = 16;

DigitalRecord library_record(const DigitalModParams& params);
AmRecord library_record(const AmParams& params);
FmRecord library_record(const FmParams& params);
DsssRecord library_record(const DsssParams& params);
PulseRecord library_record(const PulseParams& params);
MultitoneRecord library_record(const MultitoneParams& params);
StepSweepRecord library_record(const StepSweepParams& params);
RampSweepRecord library_record(const RampSweepParams& params);
OfdmRecord library_record(const OfdmParams& params);
AwgnRecord library_record(const AwgnParams& params);

std::vector<std::uint8_t> pack(const DigitalRecord& record);
std::vector<std::uint8_t> pack(const AmRecord& record);
std::vector<std::uint8_t> pack(const FmRecord& record);
std::vector<std::uint8_t> pack(const DsssRecord& record);
std::vector<std::uint8_t> pack(const PulseRecord& record);
std::vector<std::uint8_t> pack(const MultitoneRecord& record);
std::vector<std::uint8_t> pack(const StepSweepRecord& record);
std::vector<std::uint8_t> pack(const RampSweepRecord& record);
std::vector<std::uint8_t> pack(const OfdmRecord& record);
std::vector<std::uint8_t> pack(const AwgnRecord& record);

}  // namespace zr
