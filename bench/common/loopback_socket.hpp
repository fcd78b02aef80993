#pragma once
// Plain blocking-socket pieces shared by the loopback benchmarks: pinning, exact reads and
// writes, the loopback address and the median of repeated rounds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bus/eth_protocol.hpp"

namespace zr::bench {

// Pins the calling thread (and the threads it starts afterwards) to one core.
inline void pin_to_core(int core) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(core, &set);
  sched_setaffinity(0, sizeof(set), &set);
}

inline bool read_exact(int fd, std::uint8_t* out, std::size_t n) {
  while (n > 0) {
    const ssize_t got = ::recv(fd, out, n, 0);
    if (got <= 0) return false;
    out += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

inline bool write_exact(int fd, const std::uint8_t* data, std::size_t n) {
  while (n > 0) {
    const ssize_t sent = ::send(fd, data, n, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

inline sockaddr_in loopback_address(std::uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  return addr;
}

// Connects a plain blocking socket to the loopback port with Nagle's algorithm off, sends an
// all-zero greeting and reads its answer: the baseline clients' start. Ends the program when the
// responder cannot be reached, since no figure would mean anything then.
inline int connect_greeted(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = loopback_address(port);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    std::fprintf(stderr, "plain client: cannot connect to port %u\n", unsigned{port});
    std::exit(1);
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  const std::vector<std::uint8_t> greeting(eth::kGreetingSize, 0);
  std::uint8_t answer[eth::kGreetingAnswerSize];
  if (!write_exact(fd, greeting.data(), greeting.size()) ||
      !read_exact(fd, answer, sizeof(answer))) {
    std::fprintf(stderr, "plain client: no answer to the greeting\n");
    std::exit(1);
  }
  return fd;
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace zr::bench
