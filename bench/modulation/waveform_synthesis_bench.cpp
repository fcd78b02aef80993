// Samples per second of libgenSignalWave.so for each kind, at its default parameters (as the
// binding would pass them) and at the 10,000,000-sample budget. Run on one core:
//   taskset -c 0 ./waveform_synthesis_bench
#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/le_codec.hpp"
#include "waveform/gen_signal_wave.h"

namespace {

class Record {
 public:
  Record& f64(double v) {
    zr::LeWriter(bytes_).u64(std::bit_cast<std::uint64_t>(v));
    return *this;
  }
  Record& u32(std::uint32_t v) {
    zr::LeWriter(bytes_).u32(v);
    return *this;
  }
  Record& u8(std::uint8_t v) {
    zr::LeWriter(bytes_).u8(v);
    return *this;
  }
  const void* data() const { return bytes_.data(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

using Call = std::function<std::int32_t(std::int32_t, void*, std::uint64_t*)>;

Call plain(std::int32_t (*entry)(std::int32_t, const void*, double, void*, void*), Record r,
           double rate) {
  return [=](std::int32_t g, void* s, std::uint64_t* n) { return entry(g, r.data(), rate, s, n); };
}
Call counted(std::int32_t (*entry)(std::int32_t, const void*, double, std::int32_t, void*, void*),
             Record r, double rate, std::int32_t symbols) {
  return [=](std::int32_t g, void* s, std::uint64_t* n) {
    return entry(g, r.data(), rate, symbols, s, n);
  };
}

void run(benchmark::State& state, const Call& call) {
  const std::int32_t generator = GenSignalObjCreatSelfEncode(132, 0, 0, 0);
  std::uint64_t length = 0;
  if (call(generator, nullptr, &length) != GSW_OK) {
    state.SkipWithError("refused");
    return;
  }
  std::vector<std::int16_t> samples(2 * length);
  for (auto _ : state) {
    std::uint64_t room = length;
    if (call(generator, samples.data(), &room) != GSW_OK) state.SkipWithError("failed");
    benchmark::DoNotOptimize(samples.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(length));
  state.counters["samples"] = static_cast<double>(length);
  GenSignalObjRelease(generator);
}

Record digital(std::uint32_t oversampling) {
  Record r;
  r.u32(11).f64(1e6).f64(0).u32(15).u32(23).u32(3).u32(16).u32(oversampling).f64(0.35);
  return r;
}
Record two(double a, double b) {
  Record r;
  r.f64(a).f64(b);
  return r;
}
Record two_and_option(double a, double b, std::uint32_t option) {
  Record r;
  r.f64(a).f64(b).u32(option);
  return r;
}
Record dsss() {
  Record r;
  r.f64(1e6).u32(1).u32(5).u32(8).u32(4).f64(0.35).u32(23).u32(3);
  return r;
}
Record multitone(std::uint32_t tones, double spacing) {
  Record r;
  r.f64(0).u32(tones).f64(spacing);
  return r;
}
Record step(std::uint32_t points) {
  Record r;
  r.f64(1e9 - 5e6).f64(1e9 + 5e6).u32(points).f64(0.001);
  return r;
}
Record ramp(double sweep_time) {
  Record r;
  r.f64(2e7).f64(0.001).f64(sweep_time);
  return r;
}
Record ofdm(std::uint32_t size, std::uint32_t symbols) {
  Record r;
  r.f64(0).u32(size).u32(symbols).u32(6).u32(5).u32(25).u32(50).u8(1).u32(3).u8(1);
  return r;
}

void register_all() {
  struct Case {
    const char* name;
    Call call;
  };
  const Case cases[] = {
      {"digital/default", counted(GenerateDigitalModWaveform, digital(4), 4e6, 32768)},
      {"digital/budget", counted(GenerateDigitalModWaveform, digital(4), 4e6, 2500000)},
      {"am/default", plain(GenerateAmWaveform, two_and_option(1000, 50, 1), 1.25e8)},
      {"am/budget", plain(GenerateAmWaveform, two_and_option(12.5, 50, 1), 1.25e8)},
      {"fm/default", plain(GenerateFmWaveform, two_and_option(1000, 1000, 1), 1.25e8)},
      {"fm/budget", plain(GenerateFmWaveform, two_and_option(12.5, 1000, 1), 1.25e8)},
      {"dsss/default", counted(GenerateDssWaveform, dsss(), 1.24e8, 5)},
      {"dsss/budget", counted(GenerateDssWaveform, dsss(), 1.24e8, 80645)},
      {"pulse/default", plain(GeneratePulseWaveform, two(0.001, 0.002), 1.25e8)},
      {"pulse/budget", plain(GeneratePulseWaveform, two(0.04, 0.08), 1.25e8)},
      {"multitone/default", plain(GenerateMultitoneWaveform, multitone(3, 1e6), 1.6e7)},
      {"multitone/largest", plain(GenerateMultitoneWaveform, multitone(1000, 15625), 1.24875e8)},
      {"stepsweep/default", plain(GenerateStepSweepWaveform, step(201), 8e7)},
      {"stepsweep/budget", plain(GenerateStepSweepWaveform, step(125), 8e7)},
      {"rampsweep/default", plain(GenerateRampSweepWaveform, ramp(0.001), 1.25e8)},
      {"rampsweep/budget", plain(GenerateRampSweepWaveform, ramp(0.08), 1.25e8)},
      {"ofdm/default", plain(GenerateOFDMWaveform, ofdm(64, 16), 2e7)},
      {"ofdm/budget", plain(GenerateOFDMWaveform, ofdm(2048, 3906), 1.25e8)},
      {"awgn/default", plain(GenerateAWGNWaveform, two(4e7, 0.01), 5e7)},
      {"awgn/budget", plain(GenerateAWGNWaveform, two(4e7, 0.2), 5e7)},
  };
  for (const Case& c : cases) {
    benchmark::RegisterBenchmark(c.name, [call = c.call](benchmark::State& s) { run(s, call); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
