#pragma once
// The simulated instrument, independent of the transport that reaches it. The network service
// (and later the virtual USB device) turn their requests into calls of this model, so every test
// meets the same instrument. It is safe to call from several threads.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bus/abus.hpp"

namespace zr::sim {

struct ModelConfig {
  BusInfo bus_info;                       // reported by open
  std::vector<std::uint8_t> device_list;  // payload of list_devices
  std::string kernel_info;                // text answering the kernel-information query
};

// Defaults of the simulated instrument: a signal generator with made-up identity strings and a
// kernel-information text that reports PGA_PowerSourceType 0.
ModelConfig default_model_config();

// The text that asks for the kernel information; any other text command is refused.
inline constexpr std::string_view kKernelInfoCommand = "tvx --device-kernel-info-all";

inline constexpr std::int32_t kModelOk = 0;
// Status of a text command the instrument does not know (the reply text is empty).
inline constexpr std::int32_t kUnknownTextCommand = -1;
// Status of a read_block longer than kMaxReadBlock (no bytes are delivered).
inline constexpr std::int32_t kReadBlockTooLong = -2;

inline constexpr std::size_t kMaxReadBlock = 4u * 1024u * 1024u;
inline constexpr std::size_t kDefaultQueryReplySize = 128;
// Copies of received payloads are kept up to this many bytes in total; counters go on beyond it.
inline constexpr std::size_t kDefaultModelRecordLimit = 128u * 1024u * 1024u;

// Received bytes that a transport keeps anyway (the network service's request record): the model
// records them by holding on to the same buffer instead of copying, so that a long stream costs
// one copy of memory, not two. The buffer must not change once shared.
struct SharedBytes {
  std::shared_ptr<const std::vector<std::uint8_t>> buffer;
  std::size_t offset = 0;
  std::size_t size = 0;

  std::span<const std::uint8_t> view() const {
    return std::span<const std::uint8_t>(buffer->data() + offset, size);
  }
};

// Byte and call counts of everything received, kept whether or not copies were recorded.
struct ModelCounters {
  std::uint64_t frames = 0;  // write() and query() frames
  std::uint64_t frame_bytes = 0;
  std::uint64_t stream_blocks = 0;
  std::uint64_t stream_bytes = 0;
  std::uint64_t data_writes = 0;
  std::uint64_t data_bytes = 0;
  std::uint64_t stream_stops = 0;
};

class InstrumentModel {
 public:
  explicit InstrumentModel(ModelConfig config = default_model_config());

  // Bus operations as the instrument carries them out. Outputs are appended to the vectors.
  std::int32_t list_devices(std::vector<std::uint8_t>& data);
  std::int32_t open(BusInfo& info);
  std::int32_t close();
  std::int32_t set_timeout(std::uint32_t requested_ms, std::uint32_t& applied_ms);
  std::int32_t write(std::span<const std::uint8_t> frame);
  // The reply is the next queued query reply (cut to room), else min(room, 128) zero bytes.
  std::int32_t query(std::span<const std::uint8_t> frame, std::uint32_t room,
                     std::uint32_t timeout_ms, std::vector<std::uint8_t>& reply);
  // Delivers queued read bytes up to room; with nothing queued, status 0 and no bytes at once.
  std::int32_t read(std::uint32_t room, std::vector<std::uint8_t>& data);
  std::int32_t stream_write(std::span<const std::uint8_t> data);
  std::int32_t notify_device();
  std::int32_t stream_stop();
  std::int32_t write_data(std::span<const std::uint8_t> data);  // identity record or bus firmware
  // The same operations on bytes the caller keeps; recorded without a copy.
  std::int32_t write(const SharedBytes& frame);
  std::int32_t query(const SharedBytes& frame, std::uint32_t room, std::uint32_t timeout_ms,
                     std::vector<std::uint8_t>& reply);
  std::int32_t stream_write(const SharedBytes& data);
  std::int32_t write_data(const SharedBytes& data);
  std::int32_t reserved(std::uint32_t opcode);
  // length bytes of the pattern i & 0xFF; longer than kMaxReadBlock is refused.
  std::int32_t read_block(std::uint32_t length, std::vector<std::uint8_t>& data);
  std::int32_t read_bus_info(std::uint32_t& link_kind, std::uint32_t& link_bandwidth,
                             std::uint32_t& firmware_version);
  // Answers kKernelInfoCommand with the kernel_info text, anything else with
  // kUnknownTextCommand and no text.
  std::int32_t text_command(std::string_view text, std::vector<std::uint8_t>& reply);

  // Test hooks.
  void set_config(ModelConfig config);
  ModelConfig config() const;
  // Bytes the next read() calls deliver, at most the requested room per call.
  void queue_read_data(std::vector<std::uint8_t> data);
  // Reply bytes of the next query() calls, one entry per query.
  void queue_query_reply(std::vector<std::uint8_t> reply);

  std::vector<std::vector<std::uint8_t>> frames() const;          // write() and query() frames
  std::vector<std::vector<std::uint8_t>> stream_blocks() const;   // stream_write() payloads
  std::vector<std::vector<std::uint8_t>> data_writes() const;     // write_data() payloads
  ModelCounters counters() const;

  // Bounds the bytes kept by frames(), stream_blocks() and data_writes() together. A payload is
  // kept whole or not at all.
  void set_record_limit(std::size_t bytes);
  // Forgets recorded payloads and counters (queued replies stay).
  void clear_records();

 private:
  using Records = std::vector<SharedBytes>;

  // Frames go through here so that a command interpreter can take them over later. shared is
  // the caller's buffer holding the bytes, or null when they must be copied to be kept.
  void take_frame(std::span<const std::uint8_t> frame, const SharedBytes* shared);
  void answer_query(std::span<const std::uint8_t> frame, std::uint32_t room,
                    std::vector<std::uint8_t>& reply);
  void take_stream(std::span<const std::uint8_t> data, const SharedBytes* shared);
  void take_data(std::span<const std::uint8_t> data, const SharedBytes* shared);
  void keep(Records& into, std::span<const std::uint8_t> data, const SharedBytes* shared);
  static std::vector<std::vector<std::uint8_t>> copies(const Records& records);

  mutable std::mutex mutex_;
  ModelConfig config_;
  std::deque<std::uint8_t> read_data_;
  std::deque<std::vector<std::uint8_t>> query_replies_;
  Records frames_;
  Records stream_blocks_;
  Records data_writes_;
  ModelCounters counters_;
  std::size_t record_limit_ = kDefaultModelRecordLimit;
  std::size_t recorded_bytes_ = 0;
};

}  // namespace zr::sim
