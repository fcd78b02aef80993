#pragma once
// A deliberately plain POSIX client for driving the simulator's service byte by byte, with a
// deadline on every read so that a broken service fails a test instead of hanging it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bus/eth_protocol.hpp"
#include "platform/le_codec.hpp"

namespace zr::sim::testing {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

inline constexpr milliseconds kReplyWait{2000};  // generous: only a broken service waits this long
inline constexpr milliseconds kQuietWait{50};    // how long "nothing arrives" is watched

struct Message {
  std::uint8_t type = 0;
  Bytes payload;
};

// The final reply of one request and the side messages before it.
struct Answer {
  std::vector<std::string> sides;
  Bytes payload;
};

class RawClient {
 public:
  RawClient() = default;
  ~RawClient() { close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  RawClient(RawClient&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

  bool connect(std::uint16_t port) {
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return false;
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool send(const Bytes& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Exactly count bytes within the wait, or nothing.
  std::optional<Bytes> read_exact(std::size_t count, milliseconds wait = kReplyWait) {
    Bytes out(count);
    std::size_t got = 0;
    auto deadline = std::chrono::steady_clock::now() + wait;
    while (got < count) {
      if (!readable_until(deadline)) return std::nullopt;
      ssize_t n = ::recv(fd_, out.data() + got, count - got, 0);
      if (n <= 0) return std::nullopt;
      got += static_cast<std::size_t>(n);
    }
    return out;
  }

  std::optional<Message> read_message(milliseconds wait = kReplyWait) {
    auto head = read_exact(eth::kMessageHeadSize, wait);
    if (!head) return std::nullopt;
    Message message;
    message.type = (*head)[0];
    auto payload = read_exact(load_u32(head->data() + 1), wait);
    if (!payload) return std::nullopt;
    message.payload = std::move(*payload);
    return message;
  }

  // Side messages until the final reply.
  std::optional<Answer> read_answer(milliseconds wait = kReplyWait) {
    Answer answer;
    for (;;) {
      auto message = read_message(wait);
      if (!message) return std::nullopt;
      if (message->type == eth::kFinalReply) {
        answer.payload = std::move(message->payload);
        return answer;
      }
      answer.sides.emplace_back(message->payload.begin(), message->payload.end());
    }
  }

  std::optional<Answer> exchange(const Bytes& request) {
    if (!send(request)) return std::nullopt;
    return read_answer();
  }

  // True when the peer closed (end of stream or reset) within the wait.
  bool closed_by_peer(milliseconds wait = kReplyWait) {
    auto deadline = std::chrono::steady_clock::now() + wait;
    std::uint8_t scratch[4096];
    while (readable_until(deadline)) {
      ssize_t n = ::recv(fd_, scratch, sizeof scratch, 0);
      if (n <= 0) return true;
    }
    return false;
  }

  // True when not a single byte arrives (and the connection stays open) during the wait.
  bool stays_quiet(milliseconds wait = kQuietWait) {
    return !readable_until(std::chrono::steady_clock::now() + wait);
  }

 private:
  bool readable_until(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) left = milliseconds{0};
    pollfd entry{fd_, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(left.count())) > 0;
  }

  int fd_ = -1;
};

// A greeting as the Ethernet bus sends it: connection record, device index, extra word. The
// bytes are distinct so that a recorded greeting can be told apart from another.
inline Bytes make_greeting(std::uint8_t seed) {
  Bytes greeting;
  LeWriter out(greeting);
  out.u8(3).u8(0).u8(127).u8(0).u8(0).u8(1).zeros(12).u16(5000).u32(seed).u32(1000);
  out.u32(seed).u32(0);
  return greeting;
}

// Request builders: the opcode word and its fields.
inline Bytes request(eth::Opcode opcode) {
  Bytes bytes;
  LeWriter(bytes).u32(static_cast<std::uint32_t>(opcode));
  return bytes;
}
inline Bytes request(eth::Opcode opcode, std::uint32_t field) {
  Bytes bytes = request(opcode);
  LeWriter(bytes).u32(field);
  return bytes;
}
inline Bytes request_with_data(eth::Opcode opcode, const Bytes& data) {
  Bytes bytes = request(opcode, static_cast<std::uint32_t>(data.size()));
  LeWriter(bytes).bytes(data);
  return bytes;
}
inline Bytes query_request(const Bytes& frame, std::uint32_t room, std::uint32_t timeout_ms) {
  Bytes bytes = request_with_data(eth::Opcode::kQuery, frame);
  LeWriter(bytes).u32(room).u32(timeout_ms);
  return bytes;
}
inline Bytes raw_opcode(std::uint32_t opcode) {
  Bytes bytes;
  LeWriter(bytes).u32(opcode);
  return bytes;
}

inline Bytes pattern(std::size_t count, std::uint8_t seed) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

inline std::int32_t status_of(const Bytes& payload) {
  return payload.size() < 4 ? 0 : static_cast<std::int32_t>(load_u32(payload.data()));
}

}  // namespace zr::sim::testing
