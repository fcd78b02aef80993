#include "sim/network_service.hpp"

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <list>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include <asio/io_context.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>

#include "bus/eth_protocol.hpp"
#include "platform/le_codec.hpp"
#include "sim/reply_writer.hpp"
#include "sim/request_reader.hpp"
#include "sim/sim_text.hpp"

namespace zr::sim {
namespace {

using eth::Opcode;
using Tcp = asio::ip::tcp;

constexpr std::chrono::milliseconds kAcceptRetryPause{10};
// Rough cost of one record beside its bytes, so that many tiny requests also meet the limit.
constexpr std::size_t kRecordOverhead = sizeof(RecordedRequest) + 16;

}  // namespace

struct NetworkService::Impl {
  // One accepted connection; fd stays valid until the connection's thread is about to close it,
  // so that stop() can shut the socket down without racing the close.
  struct Connection {
    std::uint32_t number = 0;
    int fd = -1;
    bool done = false;
    std::thread thread;
  };

  Impl(InstrumentModel& m, FaultPlan p) : model(m), plan(std::move(p)) {}

  InstrumentModel& model;

  mutable std::mutex mutex;  // everything below up to the I/O objects
  FaultPlan plan;
  // Requests share their buffers with the model's records; requests() hands out copies.
  struct StoredRequest {
    std::uint32_t connection = 0;
    std::uint32_t opcode = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
  };
  std::vector<StoredRequest> requests;
  std::vector<std::vector<std::uint8_t>> greetings;
  std::uint32_t connections = 0;
  std::uint64_t requests_received = 0;
  std::size_t record_limit = kDefaultRequestRecordLimit;
  std::size_t recorded_bytes = 0;
  std::list<Connection> live;
  std::ostream* log = &std::cerr;

  std::mutex log_mutex;

  std::mutex stop_mutex;
  std::condition_variable stop_signal;
  std::atomic<bool> stopping{false};

  asio::io_context io;
  std::unique_ptr<Tcp::acceptor> acceptor;
  std::thread accept_thread;
  std::uint16_t bound_port = 0;
  bool running = false;

  // Sleeps for duration unless stop() comes first; false when stopped.
  bool pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(stop_mutex);
    return !stop_signal.wait_for(lock, duration, [this] { return stopping.load(); });
  }

  void log_closing(std::uint32_t connection, std::string_view what, std::uint64_t value) {
    std::lock_guard lock(log_mutex);
    *log << text::kConnection << connection << ": " << what << value << text::kClosing
         << std::endl;
  }

  void accept_loop();
  void reap_finished();
  void serve(Connection& connection, Tcp::socket socket, FaultPlan connection_plan);
  // Returns when the connection is to be closed: peer gone, bad request, close-after or stop.
  void serve_requests(std::uint32_t connection, Tcp::socket& socket, RequestReader& reader,
                        const FaultPlan& connection_plan);

  void record(std::uint32_t connection, std::uint32_t opcode,
              std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
    std::lock_guard lock(mutex);
    ++requests_received;
    std::size_t cost = bytes->size() + kRecordOverhead;
    if (cost > record_limit - std::min(recorded_bytes, record_limit)) return;
    recorded_bytes += cost;
    requests.push_back(StoredRequest{connection, opcode, std::move(bytes)});
  }
};

void NetworkService::Impl::accept_loop() {
  while (!stopping.load()) {
    Tcp::socket socket(io);
    asio::error_code ec;
    acceptor->accept(socket, ec);
    if (stopping.load()) break;
    if (ec) {
      // Out of descriptors and the like: try again shortly rather than spin.
      if (!pause(kAcceptRetryPause)) break;
      continue;
    }
    reap_finished();
    std::lock_guard lock(mutex);
    Connection& connection = live.emplace_back();
    connection.number = ++connections;
    connection.fd = socket.native_handle();
    connection.thread = std::thread(
        [this, &connection, peer = std::move(socket), connection_plan = plan]() mutable {
          serve(connection, std::move(peer), std::move(connection_plan));
        });
  }
}

void NetworkService::Impl::reap_finished() {
  std::list<Connection> finished;
  {
    std::lock_guard lock(mutex);
    for (auto it = live.begin(); it != live.end();) {
      auto next = std::next(it);
      if (it->done) finished.splice(finished.end(), live, it);
      it = next;
    }
  }
  for (Connection& connection : finished) connection.thread.join();
}

void NetworkService::Impl::serve(Connection& connection, Tcp::socket socket,
                                 FaultPlan connection_plan) {
  asio::error_code ignored;
  socket.set_option(Tcp::no_delay(true), ignored);
  RequestReader reader(socket);

  std::vector<std::uint8_t> greeting(eth::kGreetingSize);
  if (reader.read_exact(greeting.data(), greeting.size())) {
    {
      std::lock_guard lock(mutex);
      greetings.push_back(greeting);
    }
    if (connection_plan.ignore_greeting) {
      reader.drain();
    } else {
      std::uint8_t answer[eth::kGreetingAnswerSize] = {};
      ReplyWriter writer(socket);
      if (writer.send_raw(answer)) {
        serve_requests(connection.number, socket, reader, connection_plan);
      }
    }
  }

  {
    std::lock_guard lock(mutex);
    connection.fd = -1;
    connection.done = true;
  }
  socket.shutdown(Tcp::socket::shutdown_both, ignored);
  socket.close(ignored);
}

void NetworkService::Impl::serve_requests(std::uint32_t connection, Tcp::socket& socket,
                                            RequestReader& reader,
                                            const FaultPlan& connection_plan) {
  ReplyWriter writer(socket);
  std::vector<std::uint8_t> message;
  for (std::uint32_t number = 1;; ++number) {
    // The request as it arrived. The record and the model keep this one buffer, so it does not
    // change once the model has seen it.
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    LeWriter request(*bytes);
    // Reads one u32 field into the request bytes.
    auto field = [&](std::uint32_t& value) {
      if (!reader.read_u32(value)) return false;
      request.u32(value);
      return true;
    };
    bool too_large = false;
    std::uint32_t bad_length = 0;
    // Reads a length-prefixed payload into bytes and gives its offset there.
    auto payload = [&](std::size_t& offset, std::uint32_t& length) {
      if (!field(length)) return false;
      if (length > kMaxRequestField) {
        too_large = true;
        bad_length = length;
        return false;
      }
      offset = bytes->size();
      if (number == connection_plan.drop_in_payload_request &&
          length > connection_plan.drop_in_payload_after) {
        // Take the first bytes, then let the connection go as a failing link would.
        bytes->resize(offset + connection_plan.drop_in_payload_after);
        reader.read_exact(bytes->data() + offset, connection_plan.drop_in_payload_after);
        return false;
      }
      bytes->resize(offset + length);
      return reader.read_exact(bytes->data() + offset, length);
    };
    auto view = [&](std::size_t offset, std::uint32_t length) {
      return SharedBytes{bytes, offset, length};
    };

    std::uint32_t opcode = 0;
    if (!field(opcode)) return;
    // A refused request is recorded as far as it was read, so that tests see what was sent.
    // The log line comes first: whoever sees the record may rely on the line being written.
    auto refuse = [&](std::string_view why, std::uint64_t value) {
      log_closing(connection, why, value);
      record(connection, opcode, std::move(bytes));
    };
    // Ends the connection: the peer left mid-request, or a length was too large.
    auto lost = [&]() {
      if (too_large) refuse(text::kLengthTooLarge, bad_length);
    };

    ReplyWriter::begin_final(message);
    LeWriter out(message);
    constexpr std::size_t kStatusAt = eth::kMessageHeadSize;
    constexpr std::size_t kLengthAt = kStatusAt + 4;
    // For replies of status, u32 n and n bytes appended by the model.
    auto finish_counted = [&](std::int32_t status) {
      store_u32(message.data() + kStatusAt, static_cast<std::uint32_t>(status));
      store_u32(message.data() + kLengthAt,
                static_cast<std::uint32_t>(message.size() - kLengthAt - 4));
    };

    switch (static_cast<Opcode>(opcode)) {
      case Opcode::kListDevices:
        out.i32(0).u32(0);
        finish_counted(model.list_devices(message));
        break;
      case Opcode::kOpen: {
        BusInfo info;
        std::int32_t status = model.open(info);
        out.i32(status).u32(info.link_kind).u32(info.link_bandwidth).u32(info.firmware_version);
        out.u32(info.transfer_timeout_ms).u32(info.timeout2_ms).u32(info.timeout3_ms);
        out.bytes(info.identity_text).u16(info.device_release);
        break;
      }
      case Opcode::kClose:
        out.i32(model.close());
        break;
      case Opcode::kSetTimeout: {
        std::uint32_t requested = 0;
        if (!field(requested)) return lost();
        std::uint32_t applied = 0;
        std::int32_t status = model.set_timeout(requested, applied);
        out.i32(status).u32(applied);
        break;
      }
      case Opcode::kWrite:
      case Opcode::kStreamWrite:
      case Opcode::kWriteData: {
        std::size_t at = 0;
        std::uint32_t length = 0;
        if (!payload(at, length)) return lost();
        auto data = view(at, length);
        std::int32_t status = opcode == static_cast<std::uint32_t>(Opcode::kWrite)
                                  ? model.write(data)
                              : opcode == static_cast<std::uint32_t>(Opcode::kStreamWrite)
                                  ? model.stream_write(data)
                                  : model.write_data(data);
        out.i32(status);
        break;
      }
      case Opcode::kQuery: {
        std::size_t at = 0;
        std::uint32_t length = 0;
        std::uint32_t room = 0;
        std::uint32_t timeout_ms = 0;
        if (!payload(at, length) || !field(room) || !field(timeout_ms)) return lost();
        out.i32(0).u32(0);
        finish_counted(model.query(view(at, length), room, timeout_ms, message));
        break;
      }
      case Opcode::kRead: {
        std::uint32_t room = 0;
        if (!field(room)) return lost();
        out.i32(0).u32(0);
        finish_counted(model.read(room, message));
        break;
      }
      case Opcode::kNotifyDevice:
        out.i32(model.notify_device());
        break;
      case Opcode::kStreamStop:
        out.i32(model.stream_stop());
        break;
      case Opcode::kReserved13:
      case Opcode::kReserved14:
      case Opcode::kReserved17:
        out.i32(model.reserved(opcode));
        break;
      case Opcode::kReadBlock: {
        std::uint32_t length = 0;
        if (!field(length)) return lost();
        // The reply has no length field, so a block the model cannot deliver whole cannot be
        // answered in the format at all.
        if (length > kMaxReadBlock) return refuse(text::kLengthTooLarge, length);
        out.i32(0);
        std::int32_t status = model.read_block(length, message);
        store_u32(message.data() + kStatusAt, static_cast<std::uint32_t>(status));
        break;
      }
      case Opcode::kReadBusInfo: {
        std::uint32_t link_kind = 0;
        std::uint32_t bandwidth = 0;
        std::uint32_t firmware = 0;
        std::int32_t status = model.read_bus_info(link_kind, bandwidth, firmware);
        out.i32(status).u32(link_kind).u32(bandwidth).u32(firmware);
        break;
      }
      case Opcode::kTextCommand: {
        std::size_t at = 0;
        std::uint32_t length = 0;
        if (!payload(at, length)) return lost();
        auto text_bytes = view(at, length).view();
        std::string_view command(reinterpret_cast<const char*>(text_bytes.data()),
                                 text_bytes.size());
        out.i32(0).u32(0);
        finish_counted(model.text_command(command, message));
        break;
      }
      default:
        return refuse(text::kUnknownOpcode, opcode);
    }

    record(connection, opcode, std::move(bytes));

    const FaultEffect effect = connection_plan.effect_for(number, opcode);
    for (std::uint32_t k = 1; k <= effect.side_messages; ++k) {
      if (effect.side_interval.count() != 0 && !pause(effect.side_interval)) {
        return;
      }
      std::string side = "side " + std::to_string(connection) + "." + std::to_string(number) +
                         "." + std::to_string(k);
      if (!writer.send_side(side)) return;
    }
    if (effect.delay.count() != 0 && !pause(effect.delay)) return;
    if (!effect.no_reply) {
      if (effect.status) {
        store_u32(message.data() + kStatusAt, static_cast<std::uint32_t>(*effect.status));
      }
      if (!writer.send_final(message, effect.reply_length, effect.cut_reply)) {
        return;
      }
    }
    if (connection_plan.close_after_requests != 0 &&
        number >= connection_plan.close_after_requests) {
      return;
    }
  }
}

NetworkService::NetworkService(InstrumentModel& model, FaultPlan plan)
    : impl_(std::make_unique<Impl>(model, std::move(plan))) {
  model.set_faults(impl_->plan.instrument);
}

NetworkService::~NetworkService() { stop(); }

bool NetworkService::start(const std::string& address, std::uint16_t port, std::string& error) {
  if (impl_->running) stop();
  auto fail = [&](const asio::error_code& ec) {
    error = std::string(text::kCannotListen) + address + ":" + std::to_string(port) + ": " +
            ec.message();
    impl_->acceptor.reset();
    return false;
  };
  asio::error_code ec;
  asio::ip::address ip = asio::ip::make_address(address, ec);
  if (ec) return fail(ec);
  Tcp::endpoint endpoint(ip, port);
  impl_->acceptor = std::make_unique<Tcp::acceptor>(impl_->io);
  impl_->acceptor->open(endpoint.protocol(), ec);
  if (ec) return fail(ec);
  impl_->acceptor->set_option(Tcp::acceptor::reuse_address(true), ec);
  if (ec) return fail(ec);
  impl_->acceptor->bind(endpoint, ec);
  if (ec) return fail(ec);
  impl_->acceptor->listen(asio::socket_base::max_listen_connections, ec);
  if (ec) return fail(ec);
  impl_->bound_port = impl_->acceptor->local_endpoint(ec).port();
  if (ec) return fail(ec);

  impl_->stopping.store(false);
  impl_->running = true;
  impl_->accept_thread = std::thread([impl = impl_.get()] { impl->accept_loop(); });
  return true;
}

std::uint16_t NetworkService::port() const { return impl_->bound_port; }

void NetworkService::stop() {
  if (!impl_->running) return;
  impl_->running = false;
  {
    std::lock_guard lock(impl_->stop_mutex);
    impl_->stopping.store(true);
  }
  impl_->stop_signal.notify_all();
  // Shutting a socket down wakes a thread blocked on it; closing it would not.
  ::shutdown(impl_->acceptor->native_handle(), SHUT_RDWR);
  impl_->accept_thread.join();

  std::list<Impl::Connection> all;
  {
    std::lock_guard lock(impl_->mutex);
    for (Impl::Connection& connection : impl_->live) {
      if (connection.fd >= 0) ::shutdown(connection.fd, SHUT_RDWR);
    }
    all.splice(all.end(), impl_->live);
  }
  for (Impl::Connection& connection : all) connection.thread.join();

  asio::error_code ignored;
  impl_->acceptor->close(ignored);
  impl_->acceptor.reset();
}

void NetworkService::set_fault_plan(FaultPlan plan) {
  impl_->model.set_faults(plan.instrument);
  std::lock_guard lock(impl_->mutex);
  impl_->plan = std::move(plan);
}

void NetworkService::set_log(std::ostream& log) {
  std::lock_guard lock(impl_->log_mutex);
  impl_->log = &log;
}

void NetworkService::set_record_limit(std::size_t bytes) {
  std::lock_guard lock(impl_->mutex);
  impl_->record_limit = bytes;
}

std::vector<RecordedRequest> NetworkService::requests() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<RecordedRequest> out;
  out.reserve(impl_->requests.size());
  for (const Impl::StoredRequest& stored : impl_->requests) {
    out.push_back(RecordedRequest{stored.connection, stored.opcode, *stored.bytes});
  }
  return out;
}

std::vector<std::vector<std::uint8_t>> NetworkService::greetings() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->greetings;
}

std::uint32_t NetworkService::connections_accepted() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->connections;
}

std::uint64_t NetworkService::requests_received() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests_received;
}

void NetworkService::clear_records() {
  std::lock_guard lock(impl_->mutex);
  impl_->requests.clear();
  impl_->greetings.clear();
  impl_->recorded_bytes = 0;
}

}  // namespace zr::sim
