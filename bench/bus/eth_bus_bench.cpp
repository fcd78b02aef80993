// Ethernet bus throughput as ratios against a plain-socket client measured in the same run.
//
// Both the bus and the baseline client talk to the same minimal responder that this program
// runs itself, so the ratio measures the client side. The simulator's own rate for the same
// requests is reported beside it. By default every thread is pinned to one core (a loopback
// round trip across cores mostly measures how fast an idle core wakes up); --split puts the
// responder on another core and reports that placement instead.
//
// Usage: eth_bus_bench [--split] [--rounds N]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/loopback_socket.hpp"
#include "bus/bus_eth.hpp"
#include "bus/eth_protocol.hpp"
#include "device/frame_checksum.hpp"
#include "signal/transfer_frame.hpp"
#include "platform/le_codec.hpp"
#include "sim/network_service.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using zr::bench::median;
using zr::bench::pin_to_core;
using zr::bench::read_exact;
using zr::bench::write_exact;

constexpr std::size_t kFrameSize = 256;
constexpr std::size_t kBlockSize = 65536;

int listen_loopback(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  ::listen(fd, 8);
  socklen_t len = sizeof(addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

// The smallest service that answers the greeting, open (2), write (5) and stream_write (8).
class MinimalResponder {
 public:
  explicit MinimalResponder(int core) : core_(core) {
    listener_ = listen_loopback(port_);
    thread_ = std::thread([this] { serve(); });
  }
  ~MinimalResponder() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
    for (std::thread& connection : connections_) connection.join();  // clients have closed
  }
  std::uint16_t port() const { return port_; }

 private:
  void serve() {
    if (core_ >= 0) pin_to_core(core_);
    while (!stop_) {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      connections_.emplace_back([this, fd] {
        if (core_ >= 0) pin_to_core(core_);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        handle(fd);
        ::close(fd);
      });
    }
  }

  static void handle(int fd) {
    std::uint8_t greeting[zr::eth::kGreetingSize];
    if (!read_exact(fd, greeting, sizeof(greeting))) return;
    const std::uint8_t answer[4] = {0, 0, 0, 0};
    if (!write_exact(fd, answer, 4)) return;
    Bytes data(1 << 20);
    std::uint8_t status_reply[9] = {zr::eth::kFinalReply, 4, 0, 0, 0, 0, 0, 0, 0};
    while (true) {
      std::uint8_t word[4];
      if (!read_exact(fd, word, 4)) return;
      const std::uint32_t opcode = zr::load_u32(word);
      if (opcode == 2) {
        Bytes reply(zr::eth::kMessageHeadSize + zr::eth::kBusInfoReplySize, 0);
        reply[0] = zr::eth::kFinalReply;
        zr::store_u32(reply.data() + 1, zr::eth::kBusInfoReplySize);
        if (!write_exact(fd, reply.data(), reply.size())) return;
      } else if (opcode == 5 || opcode == 8) {
        if (!read_exact(fd, word, 4)) return;
        const std::uint32_t n = zr::load_u32(word);
        if (n > data.size() || !read_exact(fd, data.data(), n)) return;
        if (!write_exact(fd, status_reply, sizeof(status_reply))) return;
      } else {
        return;
      }
    }
  }

  int core_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<std::thread> connections_;
};

// A plain blocking socket client sending the same request bytes as the bus, gathered into one
// send, and reading the same reply.
class PlainClient {
 public:
  explicit PlainClient(std::uint16_t port) : fd_(zr::bench::connect_greeted(port)) {}
  ~PlainClient() { ::close(fd_); }

  bool request(std::uint32_t opcode, const Bytes& payload) {
    Bytes out(8 + payload.size());
    zr::store_u32(out.data(), opcode);
    zr::store_u32(out.data() + 4, static_cast<std::uint32_t>(payload.size()));
    std::memcpy(out.data() + 8, payload.data(), payload.size());
    if (!write_exact(fd_, out.data(), out.size())) return false;
    std::uint8_t reply[9];
    return read_exact(fd_, reply, sizeof(reply)) && reply[0] == zr::eth::kFinalReply;
  }

 private:
  int fd_ = -1;
};

ConnectionParams loopback(std::uint16_t port) {
  ConnectionParams params{};
  params.interface = ZR_INTERFACE_ETH;
  params.address[0] = 127;
  params.address[3] = 1;
  params.port = port;
  params.timeout_ms = 5000;
  return params;
}

// Operations per second of `op`, run `count` times.
double rate(std::size_t count, const std::function<bool()>& op) {
  const auto start = Clock::now();
  for (std::size_t i = 0; i < count; ++i) {
    if (!op()) {
      std::fprintf(stderr, "request failed\n");
      std::exit(1);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return static_cast<double>(count) / seconds;
}

struct Figures {
  double bus = 0;
  double plain = 0;
  double sim = 0;
};

// Alternates the clients round by round so that drifts of the machine hit all of them alike.
Figures measure(std::uint16_t responder_port, std::uint16_t sim_port, std::uint32_t opcode,
                std::size_t payload, std::size_t count, int rounds) {
  Bytes data(payload, 0x5A);
  if (payload == kFrameSize) {
    // A real command frame, so the simulator accepts it as it would an instrument's.
    zr::CommandFrame frame(0x34);
    zr::seal_frame(frame);
    data.assign(frame.bytes.begin(), frame.bytes.end());
  } else if (payload == kBlockSize) {
    // A whole one-frame stream transfer, so the simulator stores it as it would real samples.
    const Bytes samples(kBlockSize - zr::kTransferOverhead, 0x5A);
    zr::WaveformSegment segment;
    segment.length = static_cast<std::uint32_t>(samples.size() / zr::kSampleBytes);
    segment.end_address = segment.length - 1;
    const zr::SegmentDescriptor descriptor =
        zr::segment_descriptor(zr::TransferMode::Stream, 0, segment);
    zr::build_transfer_frame(data, samples, &descriptor);
  }
  zr::bus_eth bus(loopback(responder_port), 0, 0);
  zr::bus_eth sim_bus(loopback(sim_port), 0, 0);
  if (bus.open() != ZR_OK || sim_bus.open() != ZR_OK) {
    std::fprintf(stderr, "open failed\n");
    std::exit(1);
  }
  PlainClient plain(responder_port);
  auto bus_op = [&](zr::bus_eth& b) {
    std::uint32_t n = static_cast<std::uint32_t>(payload);
    const std::int32_t status =
        opcode == 5 ? b.write(data.data(), &n) : b.stream_write(data.data(), &n);
    return status == ZR_OK;
  };
  std::vector<double> bus_rates, plain_rates, sim_rates;
  for (int r = 0; r < rounds; ++r) {
    bus_rates.push_back(rate(count, [&] { return bus_op(bus); }));
    plain_rates.push_back(rate(count, [&] { return plain.request(opcode, data); }));
    sim_rates.push_back(rate(count, [&] { return bus_op(sim_bus); }));
  }
  return {median(bus_rates), median(plain_rates), median(sim_rates)};
}

}  // namespace

int main(int argc, char** argv) {
  bool split = false;
  int rounds = 7;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--split") {
      split = true;
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: eth_bus_bench [--split] [--rounds N]\n");
      return 2;
    }
  }
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const int client_core = 0;
  const int server_core = split && cores > 1 ? 1 : 0;
  pin_to_core(server_core);  // threads started from here (the simulator's) inherit it
  MinimalResponder responder(server_core);
  zr::sim::InstrumentModel model;
  zr::sim::NetworkService service(model);
  std::string error;
  if (!service.start("127.0.0.1", 0, error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }
  pin_to_core(client_core);

  std::printf("placement: client on core %d, responder and simulator on core %d\n", client_core,
              server_core);
  const Figures frames = measure(responder.port(), service.port(), 5, kFrameSize, 4000, rounds);
  std::printf("write of 256-byte frames: bus %.0f/s, plain socket %.0f/s, ratio %.2f (goal 0.80)\n",
              frames.bus, frames.plain, frames.bus / frames.plain);
  std::printf("  zr-sim answering the bus: %.0f/s\n", frames.sim);

  const Figures blocks = measure(responder.port(), service.port(), 8, kBlockSize, 400, rounds);
  const double mb = static_cast<double>(kBlockSize) / 1e6;
  std::printf(
      "stream_write of 65536-byte blocks: bus %.0f MB/s, plain socket %.0f MB/s, ratio %.2f "
      "(goal 0.85)\n",
      blocks.bus * mb, blocks.plain * mb, blocks.bus / blocks.plain);
  std::printf("  zr-sim answering the bus: %.0f MB/s\n", blocks.sim * mb);
  return 0;
}
