#pragma once
// The simulated instrument, independent of the transport that reaches it. The network service
// (and later the virtual USB device) turn their requests into calls of this model, so every test
// meets the same instrument. It is safe to call from several threads.
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
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

class InstrumentModel {
 public:
  explicit InstrumentModel(ModelConfig config = default_model_config());

  // Bus operations as the instrument carries them out. Outputs are appended to the vectors.
  std::int32_t list_devices(std::vector<std::uint8_t>& data);
  std::int32_t open(BusInfo& info);
  std::int32_t close();
  std::int32_t set_timeout(std::uint32_t requested_ms, std::uint32_t& applied_ms);
  std::int32_t write(std::span<const std::uint8_t> frame);
  std::int32_t query(std::span<const std::uint8_t> frame, std::uint32_t room,
                     std::uint32_t timeout_ms, std::vector<std::uint8_t>& reply);
  std::int32_t read(std::uint32_t room, std::vector<std::uint8_t>& data);
  std::int32_t stream_write(std::span<const std::uint8_t> data);
  std::int32_t notify_device();
  std::int32_t stream_stop();
  std::int32_t write_data(std::span<const std::uint8_t> data);  // identity record or bus firmware
  std::int32_t reserved(std::uint32_t opcode);
  std::int32_t read_block(std::uint32_t length, std::vector<std::uint8_t>& data);
  std::int32_t read_bus_info(std::uint32_t& link_kind, std::uint32_t& link_bandwidth,
                             std::uint32_t& firmware_version);
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

 private:
  mutable std::mutex mutex_;
  ModelConfig config_;
  std::deque<std::uint8_t> read_data_;
  std::deque<std::vector<std::uint8_t>> query_replies_;
  std::vector<std::vector<std::uint8_t>> frames_;
  std::vector<std::vector<std::uint8_t>> stream_blocks_;
  std::vector<std::vector<std::uint8_t>> data_writes_;
};

}  // namespace zr::sim
