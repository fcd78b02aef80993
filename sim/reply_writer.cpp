#include "sim/reply_writer.hpp"

#include <algorithm>
#include <array>

#include <asio/buffer.hpp>
#include <asio/write.hpp>

#include "bus/eth_protocol.hpp"
#include "platform/le_codec.hpp"

namespace zr::sim {
namespace {

// Padding of oversized replies goes out from here, so their size costs no memory.
constexpr std::size_t kZeroPiece = 65536;
const std::array<std::uint8_t, kZeroPiece> kZeros{};

}  // namespace

void ReplyWriter::begin_final(std::vector<std::uint8_t>& message) {
  message.assign(eth::kMessageHeadSize, 0);
  message[0] = eth::kFinalReply;
}

bool ReplyWriter::send_raw(std::span<const std::uint8_t> bytes) {
  asio::error_code ec;
  asio::write(socket_, asio::buffer(bytes.data(), bytes.size()), ec);
  return !ec;
}

bool ReplyWriter::send_side(std::string_view payload) {
  std::vector<std::uint8_t> message;
  message.reserve(eth::kMessageHeadSize + payload.size());
  LeWriter out(message);
  out.u8(eth::kSideMessage).u32(static_cast<std::uint32_t>(payload.size()));
  message.insert(message.end(), payload.begin(), payload.end());
  return send_raw(message);
}

bool ReplyWriter::send_final(std::vector<std::uint8_t>& message,
                             std::optional<std::uint32_t> reply_length, bool cut) {
  const std::uint64_t real = message.size() - eth::kMessageHeadSize;
  const std::uint64_t announced = reply_length.value_or(static_cast<std::uint32_t>(real));
  store_u32(message.data() + 1, static_cast<std::uint32_t>(announced));

  const std::uint64_t whole = eth::kMessageHeadSize + announced;
  const std::uint64_t limit = cut ? whole / 2 : whole;
  const std::uint64_t from_message =
      std::min(limit, eth::kMessageHeadSize + std::min(real, announced));
  std::uint64_t zeros = limit - from_message;

  asio::error_code ec;
  std::size_t first_zeros = static_cast<std::size_t>(std::min<std::uint64_t>(zeros, kZeroPiece));
  std::array<asio::const_buffer, 2> first{
      asio::buffer(message.data(), static_cast<std::size_t>(from_message)),
      asio::buffer(kZeros.data(), first_zeros)};
  asio::write(socket_, first, ec);
  if (ec) return false;
  zeros -= first_zeros;
  while (zeros != 0) {
    std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(zeros, kZeroPiece));
    asio::write(socket_, asio::buffer(kZeros.data(), piece), ec);
    if (ec) return false;
    zeros -= piece;
  }
  return true;
}

}  // namespace zr::sim
