#include "bus/bus_eth.hpp"

#include <algorithm>
#include <asio.hpp>
#include <cmath>
#include <cstring>
#include <span>

#include "bus/eth_protocol.hpp"
#include "bus/eth_request.hpp"
#include "platform/le_codec.hpp"

namespace zr {

using eth::Opcode;
using Milliseconds = std::chrono::milliseconds;
// Socket deadlines are raced against asio's steady timers, which run on the real steady clock.
using IoClock = std::chrono::steady_clock;

namespace {

// Side messages are kept for inspection only; bound what they may hold so that a chatty or
// hostile service cannot exhaust memory.
constexpr std::size_t kMaxSideMessageKept = 64 * 1024;
constexpr std::size_t kMaxBacklogEntries = 4096;

constexpr std::size_t kStagingSize = 64 * 1024;

asio::ip::tcp::endpoint remote_endpoint(const ConnectionParams& connection) {
  if (connection.address_family == 0) {
    const asio::ip::address_v4::bytes_type octets{connection.address[0], connection.address[1],
                                                  connection.address[2], connection.address[3]};
    return {asio::ip::address_v4(octets), connection.port};
  }
  asio::ip::address_v6::bytes_type bytes{};
  std::copy(std::begin(connection.address), std::end(connection.address), bytes.begin());
  return {asio::ip::address_v6(bytes, 0), connection.port};
}

std::vector<std::uint8_t> encode_greeting(const ConnectionParams& connection,
                                          std::uint32_t device_index, std::uint32_t extra_word) {
  std::vector<std::uint8_t> out;
  out.reserve(eth::kGreetingSize);
  LeWriter(out)
      .u8(connection.interface)
      .u8(connection.address_family)
      .bytes(connection.address)
      .u16(connection.port)
      .u32(connection.reserved)
      .u32(connection.timeout_ms)
      .u32(device_index)
      .u32(extra_word);
  return out;
}

}  // namespace

// The asio objects and the reply reader's state. The reader is resumable: when a reply times out
// or arrives short, what is still owed (the rest of a message and every final reply not yet
// read) stays recorded here and is read off before the next request goes out, so a request never
// takes a stale reply for its own answer.
struct bus_eth::Link {
  enum class Phase { kHead, kPayload };
  enum class Sink { kReply, kSide, kDiscard };

  explicit Link(std::uint32_t timeout)
      : socket(io),
        timer(io),
        timeout_ms(timeout),
        reply(eth::kReplyBufferSize),
        staging(kStagingSize) {}

  asio::io_context io{1};
  asio::ip::tcp::socket socket;
  asio::steady_timer timer;
  std::uint32_t timeout_ms;
  std::error_code error;  // of the last socket operation
  bool broken = false;    // the stream is out of step or gone; nothing more can be exchanged

  std::vector<std::uint8_t> reply;  // payload of the last final reply
  std::size_t reply_size = 0;
  bool reply_oversized = false;

  std::vector<std::uint8_t> staging;  // bytes received but not yet consumed
  std::size_t staged_begin = 0;
  std::size_t staged_end = 0;

  std::uint32_t finals_owed = 0;  // final replies still to read, the newest being ours
  Phase phase = Phase::kHead;
  std::array<std::uint8_t, eth::kMessageHeadSize> head{};
  std::size_t head_have = 0;
  std::uint32_t payload_size = 0;
  std::size_t payload_have = 0;
  Sink sink = Sink::kDiscard;
  bool final_is_ours = false;
  std::vector<std::uint8_t> side;

  void reset_stream() {
    staged_begin = staged_end = 0;
    finals_owed = 0;
    phase = Phase::kHead;
    head_have = 0;
    broken = false;
    error.clear();
  }

  bool in_debt() const { return finals_owed > 0 || phase != Phase::kHead || head_have != 0; }

  // Runs one asynchronous socket operation against a deadline on the calling thread. The timer
  // cancels the operation if it fires first; the operation cancels the timer when it completes.
  template <typename StartOperation>
  std::error_code run_with_deadline(IoClock::time_point deadline, StartOperation start) {
    std::error_code result = asio::error::operation_aborted;
    bool done = false;
    timer.expires_at(deadline);
    timer.async_wait([this](const std::error_code& ec) {
      if (!ec) {
        std::error_code ignored;
        socket.cancel(ignored);
      }
    });
    start([this, &result, &done](const std::error_code& ec) {
      result = ec;
      done = true;
      timer.cancel();
    });
    io.restart();
    io.run();
    return done ? result : std::error_code(asio::error::operation_aborted);
  }

  // Receives some bytes into buffer, waiting at most until deadline. Returns the count, or 0
  // with error set.
  std::size_t receive_some(std::span<std::uint8_t> buffer, IoClock::time_point deadline) {
    std::error_code ec;
    std::size_t got = socket.read_some(asio::buffer(buffer.data(), buffer.size()), ec);
    if (!ec) return got;
    if (ec != asio::error::would_block && ec != asio::error::try_again) {
      error = ec;
      broken = true;
      return 0;
    }
    got = 0;
    ec = run_with_deadline(deadline, [&](auto on_done) {
      socket.async_read_some(asio::buffer(buffer.data(), buffer.size()),
                             [&got, on_done](const std::error_code& e, std::size_t n) mutable {
                               got = n;
                               on_done(e);
                             });
    });
    if (ec) {
      error = ec;
      // A time-out leaves the stream in step (what arrived is kept); anything else ends it.
      if (ec != asio::error::operation_aborted) broken = true;
      return got;  // a cancelled read may still have moved bytes
    }
    return got;
  }

  // Moves up to `wanted` bytes into dest (or drops them when dest is null), from the staging
  // buffer first. Returns the count moved; 0 means the wait ended without data.
  std::size_t take(std::uint8_t* dest, std::size_t wanted, IoClock::time_point deadline) {
    if (staged_begin == staged_end) {
      if (dest != nullptr && wanted >= staging.size()) {
        return receive_some({dest, wanted}, deadline);  // big payloads skip the staging copy
      }
      staged_begin = 0;
      staged_end = receive_some(staging, deadline);
      if (staged_end == 0) return 0;
    }
    const std::size_t n = std::min(wanted, staged_end - staged_begin);
    if (dest != nullptr) std::memcpy(dest, staging.data() + staged_begin, n);
    staged_begin += n;
    return n;
  }

  // Sends the buffers completely, gathered into as few system calls as the socket allows. Writes
  // are expected to go out at once; if the service stops reading, the wait for room is bounded
  // by the reply time-out so that a dead peer cannot hang the caller.
  template <std::size_t N>
  bool send_all(std::array<asio::const_buffer, N> pieces) {
    std::size_t first = 0;
    while (true) {
      while (first < N && pieces[first].size() == 0) ++first;
      if (first == N) return true;
      std::error_code ec;
      std::size_t sent = socket.write_some(std::span(pieces).subspan(first), ec);
      if (!ec) {
        for (std::size_t i = first; i < N && sent > 0; ++i) {
          const std::size_t used = std::min(sent, pieces[i].size());
          pieces[i] += used;
          sent -= used;
        }
        continue;
      }
      if (ec != asio::error::would_block && ec != asio::error::try_again) {
        error = ec;
        broken = true;
        return false;
      }
      ec = run_with_deadline(IoClock::now() + Milliseconds{timeout_ms}, [&](auto on_done) {
        socket.async_wait(asio::ip::tcp::socket::wait_write,
                          [on_done](const std::error_code& e) mutable { on_done(e); });
      });
      if (ec) {
        error = ec;
        broken = true;  // part of a request went out: the stream cannot be trusted any more
        return false;
      }
    }
  }

  // Reads messages until every owed final reply has been read. Earlier finals are stale answers
  // of requests that failed and are dropped; side messages go to the backlog. Returns true when
  // nothing is owed any more.
  bool read_owed(std::deque<std::vector<std::uint8_t>>& backlog) {
    while (finals_owed > 0) {
      if (broken) return false;
      if (phase == Phase::kHead) {
        const auto deadline = IoClock::now() + Milliseconds{timeout_ms};
        while (head_have < head.size()) {
          const std::size_t got = take(head.data() + head_have, head.size() - head_have, deadline);
          if (got == 0) return false;
          head_have += got;
        }
        start_payload();
      }
      const auto deadline = IoClock::now() + Milliseconds{timeout_ms};
      while (payload_have < payload_size) {
        std::uint8_t* dest = nullptr;
        if (sink == Sink::kReply) dest = reply.data() + payload_have;
        if (sink == Sink::kSide) dest = side.data() + payload_have;
        const std::size_t got = take(dest, payload_size - payload_have, deadline);
        if (got == 0) return false;
        payload_have += got;
      }
      finish_message(backlog);
    }
    return true;
  }

  void start_payload() {
    const std::uint8_t type = head[0];
    payload_size = load_u32(head.data() + 1);
    payload_have = 0;
    phase = Phase::kPayload;
    if (type == eth::kFinalReply) {
      final_is_ours = finals_owed == 1;
      const bool fits = payload_size <= reply.size();
      sink = final_is_ours && fits ? Sink::kReply : Sink::kDiscard;
      if (final_is_ours) reply_oversized = !fits;
    } else if (payload_size <= kMaxSideMessageKept) {
      side.resize(payload_size);
      sink = Sink::kSide;
    } else {
      sink = Sink::kDiscard;
    }
  }

  void finish_message(std::deque<std::vector<std::uint8_t>>& backlog) {
    if (head[0] == eth::kFinalReply) {
      --finals_owed;
      if (final_is_ours) reply_size = reply_oversized ? 0 : payload_size;
    } else if (sink == Sink::kSide) {
      if (backlog.size() == kMaxBacklogEntries) backlog.pop_front();
      backlog.push_back(side);
    }
    phase = Phase::kHead;
    head_have = 0;
  }
};

std::uint32_t connect_attempt_timeout_ms(std::uint32_t timeout_ms) {
  const float share = static_cast<float>(timeout_ms) / 5.0f;
  return static_cast<std::uint32_t>(std::ceil(share));
}

bus_eth::bus_eth(const ConnectionParams& connection, std::uint32_t device_index,
                 std::uint32_t extra_word)
    : abus(device_index),
      link_(std::make_unique<Link>(connection.timeout_ms)),
      connection_(connection),
      extra_word_(extra_word) {}

bus_eth::~bus_eth() {
  if (connected_.exchange(false)) {
    std::error_code ignored;
    link_->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    link_->socket.close(ignored);
  }
}

// ---- Exchange ----------------------------------------------------------------------------

// Sends one request and reads its final reply into the reply buffer. Returns ZR_OK when the
// whole reply arrived (its own status word is for the caller to decode), otherwise
// ZR_BUS_ETH_NO_REPLY.
std::int32_t bus_eth::exchange(const eth::RequestFields& fields, std::span<const std::uint8_t> data,
                               const eth::RequestFields* tail) {
  Link& link = *link_;
  if (!link.socket.is_open()) {
    link.error = asio::error::not_connected;
    return ZR_BUS_ETH_NO_REPLY;
  }
  if (link.in_debt() && !link.read_owed(backlog_)) return ZR_BUS_ETH_NO_REPLY;
  if (link.broken) return ZR_BUS_ETH_NO_REPLY;

  // The fixed fields go out gathered with the first piece of data, the tail with the last;
  // data travels in pieces of at most kMaxSendPiece bytes.
  const auto head_bytes = fields.bytes();
  const auto tail_bytes = tail != nullptr ? tail->bytes() : std::span<const std::uint8_t>{};
  std::size_t at = 0;
  do {
    const std::size_t n = std::min(data.size() - at, eth::kMaxSendPiece);
    const bool first = at == 0;
    const bool last = at + n == data.size();
    const std::array<asio::const_buffer, 3> pieces{
        first ? asio::buffer(head_bytes.data(), head_bytes.size()) : asio::const_buffer(),
        asio::buffer(data.data() + at, n),
        last ? asio::buffer(tail_bytes.data(), tail_bytes.size()) : asio::const_buffer()};
    largest_data_piece_ = std::max(largest_data_piece_, n);
    if (!link.send_all(pieces)) return ZR_BUS_ETH_NO_REPLY;
    at += n;
  } while (at < data.size());

  link.finals_owed = 1;
  link.reply_size = 0;
  link.reply_oversized = false;
  if (!link.read_owed(backlog_)) return ZR_BUS_ETH_NO_REPLY;
  link.error.clear();
  if (link.reply_oversized) return ZR_BUS_ETH_NO_REPLY;
  return ZR_OK;
}

std::span<const std::uint8_t> bus_eth::reply() const {
  return {link_->reply.data(), link_->reply_size};
}

// Requests whose reply is a status word only.
std::int32_t bus_eth::status_request(Opcode opcode) {
  return finish_status(exchange(eth::RequestFields(opcode), {}));
}

std::int32_t bus_eth::finish_status(std::int32_t exchanged) {
  std::int32_t status = ZR_BUS_ETH_NO_REPLY;
  if (exchanged == ZR_OK) {
    LeReader reader(reply());
    if (!reader.i32(status)) status = ZR_BUS_ETH_NO_REPLY;
  }
  last_status_ = status;
  return status;
}

// Requests answered with status, u32 n and n bytes. A reply that claims more than it carries is
// refused. One that carries more than the caller's room is refused too, or, for texts, cut to
// the room: nothing is ever written past it.
std::int32_t bus_eth::sized_reply(std::int32_t exchanged, std::uint8_t* dest, std::uint32_t room,
                                  std::uint32_t* moved, Overflow overflow) {
  if (exchanged != ZR_OK) {
    return refuse();
  }
  LeReader reader(reply());
  std::int32_t status = 0;
  std::uint32_t n = 0;
  if (!reader.i32(status) || !reader.u32(n) || n > reader.remaining()) return refuse();
  if (n > room) {
    if (overflow == Overflow::kRefuse) return refuse();
    n = room;
  }
  if (n > 0 && dest == nullptr) return refuse();
  reader.bytes(dest, n);
  if (moved != nullptr) *moved = n;
  last_status_ = status;
  return status;
}

std::int32_t bus_eth::refuse() {
  last_status_ = ZR_BUS_ETH_NO_REPLY;
  return last_status_;
}

// ---- Operations ---------------------------------------------------------------------------

std::int32_t bus_eth::open() {
  Link& link = *link_;
  const auto endpoint = remote_endpoint(connection_);
  const Milliseconds attempt_timeout{connect_attempt_timeout_ms(connection_.timeout_ms)};

  std::error_code ec;
  link.socket.close(ec);
  link.reset_stream();
  connect_attempts_ = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    ++connect_attempts_;
    // A fresh descriptor per attempt: a connect abandoned after its time-out may still be in
    // progress in the kernel, and the same descriptor would then refuse a second connect.
    link.socket.close(ec);
    link.socket.open(endpoint.protocol(), ec);
    if (ec) continue;
    ec = link.run_with_deadline(IoClock::now() + attempt_timeout, [&](auto on_done) {
      link.socket.async_connect(endpoint,
                                [on_done](const std::error_code& e) mutable { on_done(e); });
    });
    if (!ec) break;
  }
  if (ec) {
    std::error_code ignored;
    link.socket.close(ignored);
    link.error = ec;
    last_status_ = ec.value();
    return last_status_;
  }
  connected_.exchange(true);

  // Option failures are not fatal: the link works without them, only less well.
  std::error_code option_error;
  link.socket.set_option(asio::socket_base::receive_buffer_size(32 * 1024 * 1024), option_error);
  link.socket.set_option(asio::ip::tcp::no_delay(true), option_error);
  link.socket.set_option(asio::socket_base::keep_alive(true), option_error);
  link.socket.non_blocking(true, option_error);

  const std::vector<std::uint8_t> greeting =
      encode_greeting(connection_, device_index_, extra_word_);
  const std::array<asio::const_buffer, 1> greeting_buffer{asio::buffer(greeting)};
  std::array<std::uint8_t, eth::kGreetingAnswerSize> answer{};
  bool greeted = link.send_all(greeting_buffer);
  const auto deadline = IoClock::now() + Milliseconds{connection_.timeout_ms};
  for (std::size_t have = 0; greeted && have < answer.size();) {
    const std::size_t got = link.take(answer.data() + have, answer.size() - have, deadline);
    if (got == 0) greeted = false;
    have += got;
  }
  if (!greeted) {
    // The answer may still arrive later, so the stream cannot be trusted for requests.
    link.broken = true;
    return refuse();
  }

  if (exchange(eth::RequestFields(Opcode::kOpen), {}) != ZR_OK) {
    return refuse();
  }
  LeReader reader(reply());
  std::int32_t status = 0;
  BusInfo info;
  reader.i32(status);
  reader.u32(info.link_kind);
  reader.u32(info.link_bandwidth);
  reader.u32(info.firmware_version);
  reader.u32(info.transfer_timeout_ms);
  reader.u32(info.timeout2_ms);
  reader.u32(info.timeout3_ms);
  reader.bytes(info.identity_text.data(), info.identity_text.size());
  reader.u16(info.device_release);
  if (!reader.ok()) {
    return refuse();
  }
  info_ = info;
  last_status_ = status;
  return status;
}

std::int32_t bus_eth::close() {
  Link& link = *link_;
  if (link.error) return link.error.value();
  status_request(Opcode::kClose);
  std::error_code ignored;
  link.socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  link.socket.close(ignored);
  connected_.exchange(false);
  return last_status_;
}

std::int32_t bus_eth::list_devices(void* entries, std::uint32_t room_bytes, std::uint32_t* count) {
  return sized_reply(exchange(eth::RequestFields(Opcode::kListDevices), {}),
                     static_cast<std::uint8_t*>(entries), room_bytes, count);
}

std::int32_t bus_eth::set_timeout(std::uint32_t milliseconds) {
  if (exchange(eth::RequestFields(Opcode::kSetTimeout).u32(milliseconds), {}) != ZR_OK) {
    return refuse();
  }
  LeReader reader(reply());
  std::int32_t status = 0;
  std::uint32_t applied = 0;
  if (!reader.i32(status) || !reader.u32(applied)) {
    return refuse();
  }
  info_.transfer_timeout_ms = applied;
  last_status_ = status;
  return status;
}

std::int32_t bus_eth::write(const std::uint8_t* data, std::uint32_t* length) {
  const std::uint32_t n = length != nullptr ? *length : 0;
  return finish_status(exchange(eth::RequestFields(Opcode::kWrite).u32(n), {data, n}));
}

std::int32_t bus_eth::query(const std::uint8_t* out, std::uint32_t* out_length, std::uint8_t* in,
                            std::uint32_t* in_length, std::uint32_t timeout_ms) {
  const std::uint32_t n_out = out_length != nullptr ? *out_length : 0;
  const std::uint32_t room = in_length != nullptr ? *in_length : 0;
  // The room and the time-out follow the frame: they go out as a second gathered write.
  eth::RequestFields head(Opcode::kQuery);
  head.u32(n_out);
  eth::RequestFields tail;
  tail.u32(room).u32(timeout_ms);
  return sized_reply(exchange(head, {out, n_out}, &tail), in, room, in_length);
}

std::int32_t bus_eth::read(std::uint8_t* data, std::uint32_t* length) {
  const std::uint32_t room = length != nullptr ? *length : 0;
  return sized_reply(exchange(eth::RequestFields(Opcode::kRead).u32(room), {}), data, room, length);
}

std::int32_t bus_eth::stream_write(const std::uint8_t* data, std::uint32_t* length) {
  const std::uint32_t n = length != nullptr ? *length : 0;
  return finish_status(exchange(eth::RequestFields(Opcode::kStreamWrite).u32(n), {data, n}));
}

std::int32_t bus_eth::stream_read(std::uint8_t*, std::uint32_t*) { return ZR_OK; }

std::int32_t bus_eth::notify_device() { return status_request(Opcode::kNotifyDevice); }

std::int32_t bus_eth::stream_stop() { return status_request(Opcode::kStreamStop); }

std::int32_t bus_eth::write_identity(const std::uint8_t* data, std::uint32_t length) {
  const std::uint32_t n = length & 0xFFu;
  return finish_status(exchange(eth::RequestFields(Opcode::kWriteData).u32(n), {data, n}));
}

std::int32_t bus_eth::reserved_13() { return status_request(Opcode::kReserved13); }

std::int32_t bus_eth::reserved_14() { return status_request(Opcode::kReserved14); }

std::int32_t bus_eth::write_bus_firmware(const std::uint8_t* image, std::uint32_t length) {
  return finish_status(
      exchange(eth::RequestFields(Opcode::kWriteData).u32(length), {image, length}));
}

std::int32_t bus_eth::read_block(std::uint8_t* data, std::uint32_t length) {
  if (exchange(eth::RequestFields(Opcode::kReadBlock).u32(length), {}) != ZR_OK) {
    return refuse();
  }
  LeReader reader(reply());
  std::int32_t status = 0;
  if (!reader.i32(status) || reader.remaining() < length || (length > 0 && data == nullptr)) {
    return refuse();
  }
  reader.bytes(data, length);
  last_status_ = status;
  return status;
}

std::int32_t bus_eth::reserved_17() { return status_request(Opcode::kReserved17); }

std::int32_t bus_eth::read_bus_info() {
  if (exchange(eth::RequestFields(Opcode::kReadBusInfo), {}) != ZR_OK) {
    return refuse();
  }
  LeReader reader(reply());
  std::int32_t status = 0;
  std::uint32_t kind = 0, bandwidth = 0, version = 0;
  if (!reader.i32(status) || !reader.u32(kind) || !reader.u32(bandwidth) || !reader.u32(version)) {
    return refuse();
  }
  info_.link_kind = kind;
  info_.link_bandwidth = bandwidth;
  info_.firmware_version = version;
  last_status_ = status;
  return status;
}

std::int32_t bus_eth::text_command(const char* text, std::uint32_t text_length, char* reply_text,
                                   std::uint32_t* reply_length) {
  const std::uint32_t room = reply_length != nullptr ? *reply_length : 0;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
  return sized_reply(
      exchange(eth::RequestFields(Opcode::kTextCommand).u32(text_length), {bytes, text_length}),
      reinterpret_cast<std::uint8_t*>(reply_text), room, reply_length, Overflow::kCut);
}

}  // namespace zr
