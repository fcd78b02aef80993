#pragma once
// A bus for unit tests: records every write, query and read with its bytes and answers from a
// script (or a handler), so tests can assert the exact frames the primitives put on the wire.
// Sample transfers (stream_write) and stream resets (stream_stop) are recorded in the same order.
#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "bus/abus.hpp"
#include "device/device_context.hpp"

namespace zr::testing {

struct BusReply {
  std::int32_t status = ZR_OK;
  std::vector<std::uint8_t> bytes;    // copied into the caller's buffer, cut to its room
  std::int64_t reported_length = -1;  // length reported back; -1: the bytes copied
};

class RecordingBus final : public abus {
 public:
  enum class Kind { Write, Query, Read, StreamWrite, StreamStop, SetTimeout, BusFirmware };
  struct Call {
    Kind kind;
    std::vector<std::uint8_t> out;  // frame written or sent as query; empty for reads
    std::uint32_t out_length = 0;   // length passed in
    std::uint32_t in_room = 0;      // reply room (query, read)
    std::uint32_t timeout_ms = 0;   // query; the milliseconds asked for by set_timeout
  };

  RecordingBus() : abus(0) {}
  ~RecordingBus() override {
    if (on_destroy) on_destroy();
  }

  // Scripts, consumed front first; when empty the defaults answer.
  std::deque<std::int32_t> write_statuses;
  std::deque<BusReply> query_replies;
  std::deque<BusReply> read_replies;
  std::int32_t default_write_status = ZR_OK;
  BusReply default_query_reply;
  BusReply default_read_reply;
  // When set, answers every query instead of the script.
  std::function<BusReply(std::span<const std::uint8_t> frame)> query_handler;
  std::function<void()> on_destroy;
  std::int32_t open_status = ZR_OK;
  // Sample transfers: statuses consumed front first, then the default; the length reported back
  // (-1: the length asked for, as a bus that moved everything).
  std::deque<std::int32_t> stream_write_statuses;
  std::int32_t default_stream_write_status = ZR_OK;
  std::int64_t stream_write_moved = -1;
  std::int32_t stream_stop_status = ZR_OK;

  // When set, answers every read instead of the script.
  std::function<BusReply(std::uint32_t room)> read_handler;
  // set_timeout: statuses consumed front first, then the default.
  std::deque<std::int32_t> set_timeout_statuses;
  std::int32_t default_set_timeout_status = ZR_OK;
  // write_bus_firmware (recorded with the whole image): the status it returns, and a hook run
  // first that may block as a long transfer does. It runs on the caller's thread, which may be
  // a worker: read calls only after that thread is done with the bus.
  std::int32_t bus_firmware_status = ZR_OK;
  std::function<void(std::span<const std::uint8_t> image)> on_bus_firmware;

  std::vector<Call> calls;

  std::vector<std::vector<std::uint8_t>> written() const { return outs(Kind::Write); }
  std::vector<std::vector<std::uint8_t>> queried() const { return outs(Kind::Query); }
  std::vector<std::vector<std::uint8_t>> streamed() const { return outs(Kind::StreamWrite); }
  std::size_t count(Kind kind) const {
    std::size_t n = 0;
    for (const Call& call : calls) n += call.kind == kind ? 1 : 0;
    return n;
  }

  std::int32_t write(const std::uint8_t* data, std::uint32_t* length) override {
    calls.push_back({Kind::Write, std::vector<std::uint8_t>(data, data + *length), *length, 0, 0});
    if (write_statuses.empty()) return default_write_status;
    const std::int32_t status = write_statuses.front();
    write_statuses.pop_front();
    return status;
  }
  std::int32_t query(const std::uint8_t* out, std::uint32_t* out_length, std::uint8_t* in,
                     std::uint32_t* in_length, std::uint32_t timeout_ms) override {
    calls.push_back({Kind::Query, std::vector<std::uint8_t>(out, out + *out_length), *out_length,
                     *in_length, timeout_ms});
    BusReply reply;
    if (query_handler) {
      reply = query_handler(calls.back().out);
    } else {
      reply = take(query_replies, default_query_reply);
    }
    return deliver(reply, in, in_length);
  }
  std::int32_t read(std::uint8_t* data, std::uint32_t* length) override {
    calls.push_back({Kind::Read, {}, 0, *length, 0});
    if (read_handler) return deliver(read_handler(*length), data, length);
    return deliver(take(read_replies, default_read_reply), data, length);
  }

  std::int32_t list_devices(void*, std::uint32_t, std::uint32_t*) override { return ZR_OK; }
  std::int32_t open() override { return open_status; }
  std::int32_t close() override { return ZR_OK; }
  std::int32_t set_timeout(std::uint32_t milliseconds) override {
    calls.push_back({Kind::SetTimeout, {}, 0, 0, milliseconds});
    if (set_timeout_statuses.empty()) return default_set_timeout_status;
    const std::int32_t status = set_timeout_statuses.front();
    set_timeout_statuses.pop_front();
    return status;
  }
  std::int32_t stream_write(const std::uint8_t* data, std::uint32_t* length) override {
    calls.push_back(
        {Kind::StreamWrite, std::vector<std::uint8_t>(data, data + *length), *length, 0, 0});
    if (stream_write_moved >= 0) *length = static_cast<std::uint32_t>(stream_write_moved);
    if (stream_write_statuses.empty()) return default_stream_write_status;
    const std::int32_t status = stream_write_statuses.front();
    stream_write_statuses.pop_front();
    return status;
  }
  std::int32_t stream_read(std::uint8_t*, std::uint32_t*) override { return ZR_OK; }
  std::int32_t notify_device() override { return ZR_OK; }
  std::int32_t stream_stop() override {
    calls.push_back({Kind::StreamStop, {}, 0, 0, 0});
    return stream_stop_status;
  }
  std::int32_t write_identity(const std::uint8_t*, std::uint32_t) override { return ZR_OK; }
  std::int32_t reserved_13() override { return ZR_OK; }
  std::int32_t reserved_14() override { return ZR_OK; }
  std::int32_t write_bus_firmware(const std::uint8_t* image, std::uint32_t length) override {
    calls.push_back(
        {Kind::BusFirmware, std::vector<std::uint8_t>(image, image + length), length, 0, 0});
    if (on_bus_firmware) on_bus_firmware(calls.back().out);
    return bus_firmware_status;
  }
  std::int32_t read_block(std::uint8_t*, std::uint32_t) override { return ZR_OK; }
  std::int32_t reserved_17() override { return ZR_OK; }
  std::int32_t read_bus_info() override { return ZR_OK; }

 private:
  static BusReply take(std::deque<BusReply>& script, const BusReply& fallback) {
    if (script.empty()) return fallback;
    BusReply reply = std::move(script.front());
    script.pop_front();
    return reply;
  }
  static std::int32_t deliver(const BusReply& reply, std::uint8_t* in, std::uint32_t* room) {
    const std::size_t copied = std::min<std::size_t>(reply.bytes.size(), *room);
    if (copied != 0) std::memcpy(in, reply.bytes.data(), copied);
    *room = reply.reported_length >= 0 ? static_cast<std::uint32_t>(reply.reported_length)
                                       : static_cast<std::uint32_t>(copied);
    return reply.status;
  }
  std::vector<std::vector<std::uint8_t>> outs(Kind kind) const {
    std::vector<std::vector<std::uint8_t>> result;
    for (const Call& call : calls) {
      if (call.kind == kind) result.push_back(call.out);
    }
    return result;
  }
};

// A context with a RecordingBus installed and one channel, as after an open.
struct RecordingContext {
  RecordingContext() {
    auto owned = std::make_unique<RecordingBus>();
    bus = owned.get();
    context.bus = std::move(owned);
    context.channel_count = 1;
  }
  DeviceContext context;
  RecordingBus* bus;
};

}  // namespace zr::testing
