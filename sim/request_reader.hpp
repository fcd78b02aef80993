#pragma once
// Buffered reading of request fields from a connection: small fields come out of one receive
// buffer, so a whole small request usually costs one system call, and large payloads go straight
// into the caller's memory without passing through the buffer.
#include <cstddef>
#include <cstdint>
#include <system_error>
#include <vector>

#include <asio/ip/tcp.hpp>

namespace zr::sim {

class RequestReader {
 public:
  explicit RequestReader(asio::ip::tcp::socket& socket, std::size_t buffer_size = 65536);

  // Fills exactly count bytes; false when the peer left or the socket failed first.
  bool read_exact(std::uint8_t* out, std::size_t count);
  bool read_u32(std::uint32_t& out);
  // Reads and drops everything until the peer leaves or the socket fails.
  void drain();

  // Bytes received so far, including what is still buffered.
  std::uint64_t bytes_received() const { return received_; }
  // The error that ended the last failed read (asio::error::eof when the peer left).
  std::error_code error() const { return error_; }

 private:
  bool fill();

  asio::ip::tcp::socket& socket_;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::uint64_t received_ = 0;
  std::error_code error_;
};

}  // namespace zr::sim
