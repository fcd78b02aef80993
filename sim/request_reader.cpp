#include "sim/request_reader.hpp"

#include <algorithm>
#include <cstring>

#include <asio/buffer.hpp>

#include "platform/le_codec.hpp"

namespace zr::sim {
namespace {

constexpr std::size_t kDirectRead = 8192;

}  // namespace

RequestReader::RequestReader(asio::ip::tcp::socket& socket, std::size_t buffer_size)
    : socket_(socket), buffer_(buffer_size) {}

bool RequestReader::fill() {
  asio::error_code ec;
  std::size_t got = socket_.read_some(asio::buffer(buffer_), ec);
  if (ec || got == 0) {
    error_ = ec ? ec : make_error_code(asio::error::eof);
    return false;
  }
  begin_ = 0;
  end_ = got;
  received_ += got;
  return true;
}

bool RequestReader::read_exact(std::uint8_t* out, std::size_t count) {
  std::size_t buffered = std::min(count, end_ - begin_);
  if (buffered != 0) {
    std::memcpy(out, buffer_.data() + begin_, buffered);
    begin_ += buffered;
    out += buffered;
    count -= buffered;
  }
  // Large remainders go straight into the caller's memory rather than through the buffer.
  while (count >= kDirectRead) {
    asio::error_code ec;
    std::size_t got = socket_.read_some(asio::buffer(out, count), ec);
    if (ec || got == 0) {
      error_ = ec ? ec : make_error_code(asio::error::eof);
      return false;
    }
    received_ += got;
    out += got;
    count -= got;
  }
  while (count != 0) {
    if (!fill()) return false;
    std::size_t piece = std::min(count, end_ - begin_);
    std::memcpy(out, buffer_.data() + begin_, piece);
    begin_ += piece;
    out += piece;
    count -= piece;
  }
  return true;
}

bool RequestReader::read_u32(std::uint32_t& out) {
  std::uint8_t raw[4];
  if (!read_exact(raw, sizeof raw)) return false;
  out = load_u32(raw);
  return true;
}

void RequestReader::drain() {
  begin_ = end_ = 0;
  while (fill()) begin_ = end_ = 0;
}

}  // namespace zr::sim
