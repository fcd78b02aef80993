// frame_checksum against the bitwise definition over the same 256-byte frames, in one run; prints
// how many times faster the table-driven form is.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "device/frame_checksum.hpp"

namespace {

std::vector<zr::CommandFrame> sample_frames() {
  std::vector<zr::CommandFrame> frames(64);
  std::mt19937 random(7);
  for (auto& frame : frames) {
    for (auto& byte : frame.bytes) byte = static_cast<std::uint8_t>(random());
  }
  return frames;
}

const std::vector<zr::CommandFrame>& frames() {
  static const std::vector<zr::CommandFrame> all = sample_frames();
  return all;
}

template <std::uint32_t (*Checksum)(const zr::CommandFrame&)>
void checksum_frames(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Checksum(frames()[i++ % frames().size()]));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 256);
}

void BM_FrameChecksum(benchmark::State& state) { checksum_frames<zr::frame_checksum>(state); }
void BM_FrameChecksumBitwise(benchmark::State& state) {
  checksum_frames<zr::frame_checksum_bitwise>(state);
}
BENCHMARK(BM_FrameChecksum);
BENCHMARK(BM_FrameChecksumBitwise);

// Keeps the time per frame of each run so that main can print the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration)
        times_[run.run_name.function_name] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double time_of(const std::string& name) const {
    auto it = times_.find(name);
    return it == times_.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double fast = reporter.time_of("BM_FrameChecksum");
  const double bitwise = reporter.time_of("BM_FrameChecksumBitwise");
  if (fast > 0.0 && bitwise > 0.0) {
    std::printf("frame_checksum: %.1f ns per frame, bitwise %.1f ns: %.1f times faster (goal 20)\n",
                fast, bitwise, bitwise / fast);
  }
  benchmark::Shutdown();
  return 0;
}
