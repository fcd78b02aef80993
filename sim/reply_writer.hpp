#pragma once
// Sends reply messages (type byte, u32 length, payload) on a connection, each with as few writes
// as possible, and shapes the final reply as a fault plan asks: another announced length, or only
// the first half of the message.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include <asio/ip/tcp.hpp>

namespace zr::sim {

class ReplyWriter {
 public:
  explicit ReplyWriter(asio::ip::tcp::socket& socket) : socket_(socket) {}

  // Starts a final reply in message: the 5-byte head, payload to be appended after it.
  static void begin_final(std::vector<std::uint8_t>& message);

  bool send_raw(std::span<const std::uint8_t> bytes);
  bool send_side(std::string_view payload);
  // message holds the head and the real payload. reply_length announces and sends that many
  // payload bytes instead (the real payload cut, or followed by zeros); cut sends only the first
  // half of the whole message.
  bool send_final(std::vector<std::uint8_t>& message, std::optional<std::uint32_t> reply_length,
                  bool cut);

 private:
  asio::ip::tcp::socket& socket_;
};

}  // namespace zr::sim
