#include "modulation/stream_generation.hpp"

#include <type_traits>
#include <vector>

#include "modulation/mod_text.hpp"
#include "modulation/modulation_session.hpp"
#include "modulation/sample_rate.hpp"
#include "platform/console.hpp"

namespace zr {
namespace {

template <typename Record>
constexpr bool kTakesCount =
    std::is_same_v<Record, DigitalRecord> || std::is_same_v<Record, DsssRecord>;

struct Destination {
  void* output;
  void* output_size;
  double* rate;
};

template <typename Record>
double rate_for(const Record& record, const ModulationSession& session) {
  if constexpr (std::is_same_v<Record, OfdmRecord>) {
    return session.ofdm.pending.sample_rate;
  } else {
    return sample_rate(record);
  }
}

template <typename Record>
bool fits_budget(const Record& record, double rate, std::int32_t count) {
  if constexpr (kTakesCount<Record>) {
    return within_budget(record, rate, count);
  } else if constexpr (std::is_same_v<Record, OfdmRecord>) {
    return within_budget(record);
  } else {
    return within_budget(record, rate);
  }
}

template <typename Record, typename Entry>
std::int32_t call_library(Entry entry, std::int32_t generator, const Record& record, double rate,
                          std::int32_t count, const Destination& to) {
  const std::vector<std::uint8_t> bytes = pack(record);
  if (to.rate != nullptr) *to.rate = rate;
  if constexpr (kTakesCount<Record>) {
    return entry(generator, bytes.data(), rate, count, to.output, to.output_size);
  } else {
    return entry(generator, bytes.data(), rate, to.output, to.output_size);
  }
}

// -1 and -2 of the digital kind have statuses of their own.
std::int32_t digital_failure(std::int32_t result) {
  if (result == kLibraryFailed) return ZR_MOD_DIGITAL_FAILED;
  if (result == kLibraryRefused) return ZR_MOD_DIGITAL_REFUSED;
  return ZR_OK;
}

template <typename Params, typename Record, typename Entry>
std::int32_t generate_kind(ModulationSession& session, ParameterSets<Params, Record>& sets,
                           Entry entry, std::int32_t count, const Destination& to) {
  if (entry == nullptr) return ZR_MOD_NO_LIBRARY;
  constexpr bool kDigital = std::is_same_v<Record, DigitalRecord>;

  const Record pending = library_record(sets.pending);
  const double pending_rate = rate_for(pending, session);
  if (fits_budget(pending, pending_rate, count)) {
    const std::int32_t result =
        call_library(entry, session.generator, pending, pending_rate, count, to);
    session.status = result;
    if constexpr (kDigital) {
      if (const std::int32_t failure = digital_failure(result); failure != ZR_OK) return failure;
    }
    sets.accepted = pending;
    sets.accepted_count = count;
    return session.status;
  }

  const double accepted_rate = rate_for(sets.accepted, session);
  const std::int32_t result = call_library(entry, session.generator, sets.accepted,
                                           accepted_rate, sets.accepted_count, to);
  if constexpr (kDigital) {
    if (const std::int32_t failure = digital_failure(result); failure != ZR_OK) {
      session.status = result;
      return failure;
    }
  }
  // -609 says the previous set was generated; when the library failed, nothing was.
  if (result < 0) {
    session.status = result;
    return result;
  }
  session.status = ZR_MOD_OVER_BUDGET;
  return ZR_MOD_OVER_BUDGET;
}

}  // namespace

std::int32_t generate_stream(DeviceContext& context, std::int32_t count, void* output,
                             void* output_size, double* rate) {
  ModulationSession& session = session_of(context);
  if (is_permanent_failure(session.status)) return session.status;
  if (session.kind < ZR_MOD_KIND_DIGITAL || session.kind > ZR_MOD_KIND_AWGN) {
    console() << kInvalidModText;
    if (rate != nullptr) *rate = kNoKindRate;
    return session.status;
  }
  // Not bound (before mod_open or after mod_close): nothing to call, nothing recorded.
  if (session.library == nullptr) return ZR_MOD_NO_LIBRARY;

  const Destination to{output, output_size, rate};
  const EntryPoints& e = session.entries;
  switch (session.kind) {
    case ZR_MOD_KIND_DIGITAL: return generate_kind(session, session.digital, e.digital, count, to);
    case ZR_MOD_KIND_AM: return generate_kind(session, session.am, e.am, 0, to);
    case ZR_MOD_KIND_FM: return generate_kind(session, session.fm, e.fm, 0, to);
    case ZR_MOD_KIND_DSSS: return generate_kind(session, session.dsss, e.dsss, count, to);
    case ZR_MOD_KIND_PULSE: return generate_kind(session, session.pulse, e.pulse, 0, to);
    case ZR_MOD_KIND_MULTITONE:
      return generate_kind(session, session.multitone, e.multitone, 0, to);
    case ZR_MOD_KIND_STEPSWEEP:
      return generate_kind(session, session.step_sweep, e.step_sweep, 0, to);
    case ZR_MOD_KIND_RAMPSWEEP:
      return generate_kind(session, session.ramp_sweep, e.ramp_sweep, 0, to);
    case ZR_MOD_KIND_OFDM: return generate_kind(session, session.ofdm, e.ofdm, 0, to);
    default: return generate_kind(session, session.awgn, e.awgn, 0, to);
  }
}

}  // namespace zr
