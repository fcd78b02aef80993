// tx_send_stream over the Ethernet bus against a plain-socket client, in one run; prints the
// ratio of their sample rates. Both talk to the same minimal responder that this program runs
// itself; the plain client sends the samples as 65,536-byte request-8 blocks without any framing,
// so the ratio also pays for the transfer frames. The simulator's rate answering tx_send_stream
// is reported beside it. Every thread is pinned to core 0 (a loopback round trip across cores
// mostly measures how fast an idle core wakes up).
//
// Usage: stream_send_bench [--rounds N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/signal/loopback_peers.hpp"
#include "bus/bus_eth.hpp"
#include "device/device_context.hpp"
#include "sim/instrument_model.hpp"
#include "sim/network_service.hpp"
#include "zr_api.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kSamples = 10'000'000;
constexpr std::size_t kSampleBytes = 4;
constexpr std::size_t kBlockSize = 65536;
constexpr int kCore = 0;

ConnectionParams loopback(std::uint16_t port) {
  ConnectionParams params{};
  params.interface = ZR_INTERFACE_ETH;
  params.address[0] = 127;
  params.address[3] = 1;
  params.port = port;
  params.timeout_ms = 5000;
  return params;
}

// A one-channel device whose bus is an opened Ethernet bus to port.
struct EthDevice {
  explicit EthDevice(std::uint16_t port) {
    context.bus = std::make_unique<zr::bus_eth>(loopback(port), 0, 0);
    context.channel_count = 1;
    if (context.bus->open() != ZR_OK) {
      std::fprintf(stderr, "open of the Ethernet bus failed\n");
      std::exit(1);
    }
  }
  zr::DeviceContext context;
  DeviceContext* handle = &context;
  ChannelHandle channel{&handle, 0};
};

// Sample bytes per second of one run of send.
double rate(const std::function<bool()>& send) {
  const auto start = Clock::now();
  if (!send()) {
    std::fprintf(stderr, "sending failed\n");
    std::exit(1);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return static_cast<double>(kSamples * kSampleBytes) / seconds;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: stream_send_bench [--rounds N]\n");
      return 2;
    }
  }
  zr::bench::pin_to_core(kCore);  // threads started from here (the simulator's) inherit it
  zr::bench::MinimalResponder responder(kCore);
  zr::sim::InstrumentModel model;
  model.set_record_limit(0);  // count the samples, keep no copies
  zr::sim::NetworkService service(model);
  std::string error;
  if (!service.start("127.0.0.1", 0, error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }

  std::vector<std::int16_t> samples(2 * kSamples);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int16_t>(i * 7);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples.data());
  const std::size_t total = kSamples * kSampleBytes;

  EthDevice device(responder.port());
  EthDevice sim_device(service.port());
  zr::bench::PlainClient plain(responder.port());
  const auto send_stream = [&](EthDevice& d) {
    return ::tx_send_stream(&d.channel, samples.data(), kSamples) == ZR_OK;
  };
  const auto send_plain = [&] {
    for (std::size_t at = 0; at < total; at += kBlockSize) {
      if (!plain.stream_write(bytes + at, std::min(kBlockSize, total - at))) return false;
    }
    return true;
  };

  // Alternates the clients round by round so that drifts of the machine hit all of them alike.
  std::vector<double> stream_rates, plain_rates, sim_rates;
  for (int r = 0; r < rounds; ++r) {
    stream_rates.push_back(rate([&] { return send_stream(device); }));
    plain_rates.push_back(rate(send_plain));
    sim_rates.push_back(rate([&] { return send_stream(sim_device); }));
  }
  const double stream_mb = median(stream_rates) / 1e6;
  const double plain_mb = median(plain_rates) / 1e6;
  std::printf("placement: every thread on core %d\n", kCore);
  std::printf(
      "tx_send_stream of %zu samples: %.0f MB/s of samples, plain socket %.0f MB/s in 65536-byte "
      "blocks, ratio %.2f (goal 0.80)\n",
      kSamples, stream_mb, plain_mb, stream_mb / plain_mb);
  std::printf("  zr-sim answering tx_send_stream: %.0f MB/s of samples\n", median(sim_rates) / 1e6);
  return 0;
}
