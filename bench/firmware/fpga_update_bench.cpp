// FPGA remote update over loopback against the simulator, as a ratio against the same number of
// raw loopback round trips of the same sizes measured in the same run.
//
// One update is 19961 packets of a data write, a commit write and a one-byte echo read: 59,883
// round trips beside the few of the start, the erase and the finish. The baseline sends those
// 59,883 requests from a plain blocking socket to a minimal responder. The same update is also
// run against that responder, which separates the library's share of the overhead from the
// simulator's. Every thread is pinned to core 0: a loopback round trip across cores mostly
// measures how fast an idle core wakes up.
//
// Usage: fpga_update_bench [--rounds N]
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
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bus/eth_protocol.hpp"
#include "firmware/fpga_image.hpp"
#include "firmware/fpga_packet.hpp"
#include "platform/console.hpp"
#include "platform/le_codec.hpp"
#include "sim/instrument_model.hpp"
#include "bench/common/loopback_socket.hpp"
#include "sim/network_service.hpp"
#include "zr_api.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using zr::eth::Opcode;
using zr::bench::median;
using zr::bench::pin_to_core;
using zr::bench::read_exact;
using zr::bench::write_exact;

constexpr std::size_t kPackets = 19961;
constexpr std::size_t kRoundTrips = 3 * kPackets;
static_assert(kRoundTrips == 59883);

Bytes final_reply(const Bytes& payload) {
  Bytes out;
  zr::LeWriter(out).u8(zr::eth::kFinalReply).u32(static_cast<std::uint32_t>(payload.size()))
      .bytes(payload);
  return out;
}

// The least a remote-update service must do: answer the greeting, open, close and time-out
// requests, take written packets and answer one-byte reads with 0x01 and 0x55 after a start and
// with the length after each commit.
class MinimalResponder {
 public:
  MinimalResponder() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ::listen(listener_, 8);
    socklen_t len = sizeof(addr);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~MinimalResponder() {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
    for (std::thread& connection : connections_) connection.join();  // clients have closed
  }
  std::uint16_t port() const { return port_; }

 private:
  void serve() {
    while (true) {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      connections_.emplace_back([fd] {
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
    const std::uint8_t answer[zr::eth::kGreetingAnswerSize] = {};
    if (!write_exact(fd, answer, sizeof(answer))) return;
    const Bytes status_reply = final_reply(Bytes(4, 0));
    Bytes packet(1 << 16);
    std::vector<std::uint8_t> answers;
    bool after_data = false;
    while (true) {
      std::uint8_t word[4];
      if (!read_exact(fd, word, 4)) return;
      Bytes reply;
      switch (static_cast<Opcode>(zr::load_u32(word))) {
        case Opcode::kOpen:
          reply = final_reply(Bytes(zr::eth::kBusInfoReplySize, 0));
          break;
        case Opcode::kClose:
          reply = status_reply;
          break;
        case Opcode::kSetTimeout:
          if (!read_exact(fd, word, 4)) return;
          reply = final_reply(Bytes(8, 0));
          break;
        case Opcode::kWrite: {
          if (!read_exact(fd, word, 4)) return;
          const std::uint32_t n = zr::load_u32(word);
          if (n > packet.size() || !read_exact(fd, packet.data(), n)) return;
          if (n == zr::kFpgaPacketSize && packet[0] == zr::kFpgaControlMarker) {
            if (after_data) {
              answers.assign(1, packet[2]);
            } else if (packet[2] == zr::kFpgaStartCode) {
              answers = {zr::kFpgaEraseDone, zr::kFpgaStartAck};  // taken from the back
            }
          }
          after_data = n > 0 && packet[0] == zr::kFpgaDataMarker;
          reply = status_reply;
          break;
        }
        case Opcode::kRead: {
          if (!read_exact(fd, word, 4)) return;
          Bytes payload(8, 0);
          if (!answers.empty() && zr::load_u32(word) > 0) {
            zr::store_u32(payload.data() + 4, 1);
            payload.push_back(answers.back());
            answers.pop_back();
          }
          reply = final_reply(payload);
          break;
        }
        default:
          return;
      }
      if (!write_exact(fd, reply.data(), reply.size())) return;
    }
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::vector<std::thread> connections_;
};

// A plain blocking socket sending each request in one write and reading its whole reply.
class PlainClient {
 public:
  explicit PlainClient(std::uint16_t port) : fd_(zr::bench::connect_greeted(port)) {}
  ~PlainClient() { ::close(fd_); }

  bool write(const zr::FpgaPacket& packet) {
    Bytes out(8 + packet.size());
    zr::store_u32(out.data(), static_cast<std::uint32_t>(Opcode::kWrite));
    zr::store_u32(out.data() + 4, static_cast<std::uint32_t>(packet.size()));
    std::memcpy(out.data() + 8, packet.data(), packet.size());
    std::uint8_t reply[zr::eth::kMessageHeadSize + 4];
    return write_exact(fd_, out.data(), out.size()) && read_exact(fd_, reply, sizeof(reply));
  }

  // One-byte read: status, length and the byte (the responder echoes the commit).
  bool read_byte() {
    std::uint8_t out[8];
    zr::store_u32(out, static_cast<std::uint32_t>(Opcode::kRead));
    zr::store_u32(out + 4, 1);
    std::uint8_t reply[zr::eth::kMessageHeadSize + 9];
    return write_exact(fd_, out, sizeof(out)) && read_exact(fd_, reply, sizeof(reply));
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

double seconds_of(const std::function<bool()>& run) {
  const auto start = Clock::now();
  if (!run()) {
    std::fprintf(stderr, "run failed\n");
    std::exit(1);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The 59,883 round trips of an update's packet exchanges, from the plain client.
bool raw_round_trips(std::uint16_t port, const Bytes& flash) {
  PlainClient client(port);
  if (!client.write(zr::fpga_start_packet()) || !client.read_byte() || !client.read_byte()) {
    return false;
  }
  for (std::size_t i = 0; i < kPackets; ++i) {
    const std::size_t at = i * zr::kFpgaPayloadSize;
    const std::size_t n = std::min(zr::kFpgaPayloadSize, flash.size() - at);
    const std::span<const std::uint8_t> payload(flash.data() + at, n);
    if (!client.write(zr::fpga_data_packet(payload)) ||
        !client.write(zr::fpga_commit_packet(static_cast<std::uint8_t>(n))) ||
        !client.read_byte()) {
      return false;
    }
  }
  return true;
}

bool library_update(std::uint16_t port, const std::string& path) {
  const ConnectionParams params = loopback(port);
  return device_update_fpga_firmware(path.c_str(), 0, &params) == ZR_OK;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: fpga_update_bench [--rounds N]\n");
      return 2;
    }
  }
  pin_to_core(0);  // before any thread starts: the responder's and the simulator's inherit it

  // A raw image of the whole flash, so that every packet carries image bytes.
  Bytes flash(zr::kFlashImageSize);
  for (std::size_t i = 0; i < flash.size(); ++i) flash[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("fpga_update_bench_" + std::to_string(::getpid()) + ".rpd");
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(flash.data()),
              static_cast<std::streamsize>(flash.size()));
  }

  MinimalResponder responder;
  zr::sim::InstrumentModel model;
  zr::sim::NetworkService service(model);
  std::string error;
  if (!service.start("127.0.0.1", 0, error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }
  std::ostringstream transcript;
  zr::ScopedConsole quiet(transcript);

  std::vector<double> raw, against_responder, against_simulator;
  for (int r = 0; r < rounds; ++r) {
    raw.push_back(seconds_of([&] { return raw_round_trips(responder.port(), flash); }));
    against_responder.push_back(
        seconds_of([&] { return library_update(responder.port(), path.string()); }));
    against_simulator.push_back(
        seconds_of([&] { return library_update(service.port(), path.string()); }));
    transcript.str("");
    service.clear_records();  // one round's requests at a time
  }
  std::filesystem::remove(path);
  if (model.fpga_update().image != flash) {
    std::fprintf(stderr, "the simulator's image differs from the flash\n");
    return 1;
  }

  const double t_raw = median(raw);
  const double t_responder = median(against_responder);
  const double t_simulator = median(against_simulator);
  std::printf("placement: every thread on core 0, %d rounds, medians\n", rounds);
  std::printf("raw round trips (%zu):          %.3f s, %.2f us each\n", kRoundTrips, t_raw,
              t_raw / kRoundTrips * 1e6);
  std::printf("update against a minimal responder: %.3f s, ratio %.2f (the library's share)\n",
              t_responder, t_responder / t_raw);
  std::printf("update against the simulator:   %.3f s, ratio %.2f (goal 1.50)\n", t_simulator,
              t_simulator / t_raw);
  return 0;
}
