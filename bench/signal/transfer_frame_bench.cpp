// Building transfer frames against memcpy of the same payload bytes, in one run; prints the ratio
// of the two rates. Both fill one reused frame buffer from the same sample buffer, so the ratio
// measures what the frame layout costs on top of moving the samples.
//
// Usage: transfer_frame_bench [--rounds N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "signal/transfer_frame.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kSamples = 1u << 20;  // 4 MiB of samples, per pass
constexpr int kPassesPerRound = 128;

volatile std::uint8_t sink;  // keeps the frames observable

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Bytes of payload per second of one pass over all frames of a transfer, built by fill.
template <typename Fill>
double payload_rate(const zr::TransferPlan& plan, std::vector<std::uint8_t>& frame, Fill fill) {
  const auto start = Clock::now();
  for (int pass = 0; pass < kPassesPerRound; ++pass) {
    std::size_t offset = 0;
    for (std::uint32_t i = 0; i < plan.frames; ++i) {
      const std::size_t payload = plan.payload_of(i);
      fill(i, offset, payload);
      offset += payload;
      sink = frame[frame.size() - 1];
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return static_cast<double>(plan.bytes) * kPassesPerRound / seconds;
}

void compare(const char* name, zr::TransferMode mode, int rounds) {
  const std::size_t frame_size = zr::transfer_frame_size(mode);
  const zr::TransferPlan plan = zr::plan_transfer(frame_size, zr::transfer_bytes(kSamples));
  std::vector<std::uint8_t> samples(kSamples * zr::kSampleBytes);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 31);
  std::vector<std::uint8_t> frame(frame_size);
  const zr::SegmentDescriptor descriptor{};

  std::vector<double> built, copied;
  for (int r = 0; r < rounds; ++r) {
    built.push_back(payload_rate(plan, frame, [&](std::uint32_t i, std::size_t at, std::size_t n) {
      zr::build_transfer_frame(frame, std::span(samples).subspan(at, n),
                               i == 0 ? &descriptor : nullptr);
    }));
    copied.push_back(payload_rate(plan, frame, [&](std::uint32_t, std::size_t at, std::size_t n) {
      std::memcpy(frame.data() + zr::kMinTransferHeader, samples.data() + at, n);
    }));
  }
  const double build_rate = median(built);
  const double copy_rate = median(copied);
  std::printf("%s frames of %zu bytes: build %.0f MB/s, memcpy %.0f MB/s, ratio %.2f (goal 0.50)\n",
              name, frame_size, build_rate / 1e6, copy_rate / 1e6, build_rate / copy_rate);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 15;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: transfer_frame_bench [--rounds N]\n");
      return 2;
    }
  }
  compare("stream", zr::TransferMode::Stream, rounds);
  compare("download", zr::TransferMode::Download, rounds);
  return 0;
}
