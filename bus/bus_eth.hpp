#pragma once
// The Ethernet bus: every abus operation becomes one request to the instrument's network service
// (see eth_protocol.hpp), carried over TCP with standalone asio on the calling thread.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "bus/abus.hpp"
#include "zr_api.h"

namespace zr {
namespace eth {
class RequestFields;
enum class Opcode : std::uint32_t;
}  // namespace eth

// Time-out of each of the five connect attempts: a fifth of the connection's time-out, computed
// in single precision and rounded up.
std::uint32_t connect_attempt_timeout_ms(std::uint32_t timeout_ms);

class bus_eth final : public abus {
 public:
  // No network activity: the connection is made by open().
  bus_eth(const ConnectionParams& connection, std::uint32_t device_index, std::uint32_t extra_word);
  ~bus_eth() override;

  std::int32_t list_devices(void* entries, std::uint32_t room_bytes, std::uint32_t* count) override;
  std::int32_t open() override;
  std::int32_t close() override;
  std::int32_t set_timeout(std::uint32_t milliseconds) override;
  std::int32_t write(const std::uint8_t* data, std::uint32_t* length) override;
  std::int32_t query(const std::uint8_t* out, std::uint32_t* out_length, std::uint8_t* in,
                     std::uint32_t* in_length, std::uint32_t timeout_ms) override;
  std::int32_t read(std::uint8_t* data, std::uint32_t* length) override;
  std::int32_t stream_write(const std::uint8_t* data, std::uint32_t* length) override;
  std::int32_t stream_read(std::uint8_t* data, std::uint32_t* length) override;
  std::int32_t notify_device() override;
  std::int32_t stream_stop() override;
  std::int32_t write_identity(const std::uint8_t* data, std::uint32_t length) override;
  std::int32_t reserved_13() override;
  std::int32_t reserved_14() override;
  std::int32_t write_bus_firmware(const std::uint8_t* image, std::uint32_t length) override;
  std::int32_t read_block(std::uint8_t* data, std::uint32_t length) override;
  std::int32_t reserved_17() override;
  std::int32_t read_bus_info() override;

  // Sends a text to the instrument's command service and copies its text answer. reply_length
  // is in/out: the room of reply on entry, the bytes copied on return; a longer answer is cut
  // to the room.
  std::int32_t text_command(const char* text, std::uint32_t text_length, char* reply,
                            std::uint32_t* reply_length);

  std::int32_t last_status() const { return last_status_; }
  bool connected() const { return connected_.load(); }
  // Payloads of the side messages received so far, oldest first.
  const std::deque<std::vector<std::uint8_t>>& backlog() const { return backlog_; }
  // Connect attempts made by the last open().
  std::uint32_t connect_attempts() const { return connect_attempts_; }
  // The most request data bytes handed to the socket in one write so far.
  std::size_t largest_data_piece() const { return largest_data_piece_; }

 private:
  struct Link;  // asio objects and the reply reader's state

  // Sends fields, data and tail as one request and reads its final reply; ZR_OK when the whole
  // reply arrived, whatever status it carries.
  std::int32_t exchange(const eth::RequestFields& fields, std::span<const std::uint8_t> data,
                        const eth::RequestFields* tail = nullptr);
  std::span<const std::uint8_t> reply() const;
  std::int32_t status_request(eth::Opcode opcode);
  std::int32_t finish_status(std::int32_t exchanged);
  enum class Overflow { kRefuse, kCut };
  std::int32_t sized_reply(std::int32_t exchanged, std::uint8_t* dest, std::uint32_t room,
                           std::uint32_t* moved, Overflow overflow = Overflow::kRefuse);
  std::int32_t refuse();

  std::unique_ptr<Link> link_;
  ConnectionParams connection_;
  std::uint32_t extra_word_;
  std::atomic<bool> connected_{false};
  std::int32_t last_status_ = 0;
  std::uint32_t connect_attempts_ = 0;
  std::size_t largest_data_piece_ = 0;
  std::deque<std::vector<std::uint8_t>> backlog_;
};

}  // namespace zr
