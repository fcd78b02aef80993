#pragma once
// The two loopback peers of the streaming benchmark: the smallest service that answers the
// greeting, open (2), write (5) and stream_write (8), and a plain blocking socket client sending
// request 8 gathered into one send. Kept in step with the Ethernet bus benchmark's own pair, so
// that both measure against the same kind of baseline.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "bench/common/loopback_socket.hpp"
#include "bus/eth_protocol.hpp"
#include "platform/le_codec.hpp"

namespace zr::bench {

using Bytes = std::vector<std::uint8_t>;

class MinimalResponder {
 public:
  explicit MinimalResponder(int core) : core_(core) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback_address(0);
    socklen_t len = sizeof(addr);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      std::fprintf(stderr, "responder: cannot listen on loopback\n");
      std::exit(1);
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~MinimalResponder() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
    for (std::thread& connection : connections_) connection.join();  // clients have closed
  }
  MinimalResponder(const MinimalResponder&) = delete;
  MinimalResponder& operator=(const MinimalResponder&) = delete;

  std::uint16_t port() const { return port_; }

 private:
  void serve() {
    pin_to_core(core_);
    while (!stop_) {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      connections_.emplace_back([this, fd] {
        pin_to_core(core_);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        handle(fd);
        ::close(fd);
      });
    }
  }

  static void handle(int fd) {
    std::uint8_t greeting[eth::kGreetingSize];
    if (!read_exact(fd, greeting, sizeof(greeting))) return;
    const std::uint8_t answer[eth::kGreetingAnswerSize] = {};
    if (!write_exact(fd, answer, sizeof(answer))) return;
    Bytes data(1 << 20);
    const std::uint8_t status_reply[9] = {eth::kFinalReply, 4, 0, 0, 0, 0, 0, 0, 0};
    while (true) {
      std::uint8_t word[4];
      if (!read_exact(fd, word, 4)) return;
      const std::uint32_t opcode = load_u32(word);
      if (opcode == 2) {
        Bytes reply(eth::kMessageHeadSize + eth::kBusInfoReplySize, 0);
        reply[0] = eth::kFinalReply;
        store_u32(reply.data() + 1, eth::kBusInfoReplySize);
        if (!write_exact(fd, reply.data(), reply.size())) return;
      } else if (opcode == 5 || opcode == 8) {
        if (!read_exact(fd, word, 4)) return;
        const std::uint32_t n = load_u32(word);
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
  std::vector<std::thread> connections_;  // only the accepting thread adds to it
};

class PlainClient {
 public:
  explicit PlainClient(std::uint16_t port) : fd_(zr::bench::connect_greeted(port)) {}
  ~PlainClient() { ::close(fd_); }
  PlainClient(const PlainClient&) = delete;
  PlainClient& operator=(const PlainClient&) = delete;

  // Request 8 with payload, gathered into one send, then its final reply.
  bool stream_write(const std::uint8_t* payload, std::size_t n) {
    out_.resize(8 + n);
    store_u32(out_.data(), 8);
    store_u32(out_.data() + 4, static_cast<std::uint32_t>(n));
    std::memcpy(out_.data() + 8, payload, n);
    if (!write_exact(fd_, out_.data(), out_.size())) return false;
    std::uint8_t reply[9];
    return read_exact(fd_, reply, sizeof(reply)) && reply[0] == eth::kFinalReply;
  }

 private:
  int fd_ = -1;
  Bytes out_;
};

}  // namespace zr::bench
