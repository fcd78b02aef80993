// The Ethernet bus against the simulated instrument's network service over loopback. Every test
// asserts the bytes the service received, not only the statuses the bus returned.
#include "bus/bus_eth.hpp"

#include <gtest/gtest.h>

#include <asio.hpp>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <thread>

#include "bus/eth_protocol.hpp"
#include "platform/le_codec.hpp"
#include "sim/network_service.hpp"

namespace zr {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using sim::FaultPlan;
using sim::FaultRule;

Bytes request(std::initializer_list<std::uint32_t> words, const Bytes& data = {},
              std::initializer_list<std::uint32_t> tail = {}) {
  Bytes out;
  LeWriter writer(out);
  for (std::uint32_t w : words) writer.u32(w);
  writer.bytes(data);
  for (std::uint32_t w : tail) writer.u32(w);
  return out;
}

Bytes pattern(std::size_t size, std::uint8_t seed = 1) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
  return out;
}

ConnectionParams loopback(std::uint16_t port, std::uint32_t timeout_ms) {
  ConnectionParams params{};
  params.interface = ZR_INTERFACE_ETH;
  params.address_family = 0;
  params.address[0] = 127;
  params.address[3] = 1;
  params.port = port;
  params.reserved = 0xA5A5A5A5;
  params.timeout_ms = timeout_ms;
  return params;
}

// A loopback port with nothing listening on it.
std::uint16_t closed_port() {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::address_v4::loopback(), 0});
  return acceptor.local_endpoint().port();
}

FaultPlan plan_with(const FaultRule& rule) {
  FaultPlan plan;
  plan.rules.push_back(rule);
  return plan;
}

class EthBusTest : public ::testing::Test {
 protected:
  void start_service(FaultPlan plan = {}, const std::string& address = "127.0.0.1") {
    service_ = std::make_unique<sim::NetworkService>(model_, std::move(plan));
    std::string error;
    ASSERT_TRUE(service_->start(address, 0, error)) << error;
  }

  std::unique_ptr<bus_eth> open_bus(std::uint32_t timeout_ms = 1000) {
    auto bus = std::make_unique<bus_eth>(loopback(service_->port(), timeout_ms), 7, 0);
    EXPECT_EQ(bus->open(), ZR_OK);
    return bus;
  }

  // Requests after the greeting and the open request.
  std::vector<sim::RecordedRequest> requests_after_open() const {
    auto all = service_->requests();
    EXPECT_FALSE(all.empty());
    if (!all.empty()) all.erase(all.begin());
    return all;
  }

  sim::InstrumentModel model_;
  std::unique_ptr<sim::NetworkService> service_;
};

TEST_F(EthBusTest, OpenSendsGreetingAndOpenRequestAndFillsBusInfo) {
  sim::ModelConfig config = sim::default_model_config();
  config.bus_info.firmware_version = 0x00030105;
  config.bus_info.link_kind = 2;
  config.bus_info.link_bandwidth = 60;
  config.bus_info.transfer_timeout_ms = 1500;
  config.bus_info.timeout2_ms = 2500;
  config.bus_info.timeout3_ms = 3500;
  config.bus_info.device_release = 0x0217;
  config.bus_info.identity_text[0] = 'Q';
  config.bus_info.identity_text[255] = 'Z';
  model_.set_config(config);
  start_service();

  const ConnectionParams params = loopback(service_->port(), 1000);
  bus_eth bus(params, 7, 0x11223344);
  ASSERT_EQ(bus.open(), ZR_OK);
  EXPECT_TRUE(bus.connected());
  EXPECT_EQ(bus.last_status(), ZR_OK);

  Bytes greeting;
  LeWriter(greeting)
      .u8(ZR_INTERFACE_ETH)
      .u8(0)
      .bytes(Bytes{127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})
      .u16(params.port)
      .u32(0xA5A5A5A5)
      .u32(1000)
      .u32(7)
      .u32(0x11223344);
  ASSERT_EQ(service_->greetings().size(), 1u);
  EXPECT_EQ(service_->greetings()[0], greeting);
  ASSERT_EQ(service_->requests().size(), 1u);
  EXPECT_EQ(service_->requests()[0].bytes, request({2}));

  const BusInfo& info = bus.info();
  EXPECT_EQ(info.firmware_version, 0x00030105u);
  EXPECT_EQ(info.link_kind, 2u);
  EXPECT_EQ(info.link_bandwidth, 60u);
  EXPECT_EQ(info.transfer_timeout_ms, 1500u);
  EXPECT_EQ(info.timeout2_ms, 2500u);
  EXPECT_EQ(info.timeout3_ms, 3500u);
  EXPECT_EQ(info.device_release, 0x0217u);
  EXPECT_EQ(info.identity_text, config.bus_info.identity_text);
  EXPECT_EQ(bus.device_index(), 7u);
}

TEST_F(EthBusTest, OpensOverIpv6) {
  start_service({}, "::1");
  ConnectionParams params{};
  params.interface = ZR_INTERFACE_ETH;
  params.address_family = 1;
  params.address[15] = 1;  // ::1
  params.port = service_->port();
  params.timeout_ms = 1000;
  bus_eth bus(params, 0, 0);
  ASSERT_EQ(bus.open(), ZR_OK);
  std::uint32_t length = 4;
  const Bytes frame{1, 2, 3, 4};
  EXPECT_EQ(bus.write(frame.data(), &length), ZR_OK);
  EXPECT_EQ(service_->requests().back().bytes, request({5, 4}, frame));
}

// Each operation's request, byte for byte.
TEST_F(EthBusTest, EveryOperationSendsItsRequest) {
  // The instrument would reject the arbitrary sample block below; only its bytes matter here.
  FaultRule accept_stream;
  accept_stream.opcode = 8;
  accept_stream.status = 0;
  start_service(plan_with(accept_stream));
  auto bus = open_bus();
  const Bytes frame = pattern(256);
  const Bytes identity = pattern(100, 9);
  const Bytes firmware = pattern(3000, 5);
  const Bytes block = pattern(1000, 3);
  const std::string text = "tvx --device-kernel-info-all";

  struct Case {
    const char* name;
    std::function<std::int32_t(bus_eth&)> call;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"list_devices",
       [](bus_eth& b) {
         std::vector<std::uint8_t> room(4096);
         std::uint32_t count = 0;
         return b.list_devices(room.data(), 4096, &count);
       },
       request({1})},
      {"set_timeout", [](bus_eth& b) { return b.set_timeout(1234); }, request({4, 1234})},
      {"write",
       [&](bus_eth& b) {
         std::uint32_t n = 256;
         return b.write(frame.data(), &n);
       },
       request({5, 256}, frame)},
      {"query",
       [&](bus_eth& b) {
         std::uint32_t out = 256;
         std::uint32_t in = 128;
         Bytes reply(128);
         return b.query(frame.data(), &out, reply.data(), &in, 1000);
       },
       request({6, 256}, frame, {128, 1000})},
      {"read",
       [](bus_eth& b) {
         Bytes room(64);
         std::uint32_t n = 64;
         return b.read(room.data(), &n);
       },
       request({7, 64})},
      {"stream_write",
       [&](bus_eth& b) {
         std::uint32_t n = 1000;
         return b.stream_write(block.data(), &n);
       },
       request({8, 1000}, block)},
      {"notify_device", [](bus_eth& b) { return b.notify_device(); }, request({10})},
      {"stream_stop", [](bus_eth& b) { return b.stream_stop(); }, request({11})},
      // Only the low byte of the length counts: 0x164 sends 100 bytes.
      {"write_identity", [&](bus_eth& b) { return b.write_identity(identity.data(), 0x164); },
       request({12, 100}, identity)},
      {"reserved_13", [](bus_eth& b) { return b.reserved_13(); }, request({13})},
      {"reserved_14", [](bus_eth& b) { return b.reserved_14(); }, request({14})},
      {"write_bus_firmware",
       [&](bus_eth& b) { return b.write_bus_firmware(firmware.data(), 3000); },
       request({12, 3000}, firmware)},
      {"read_block",
       [](bus_eth& b) {
         Bytes room(16);
         return b.read_block(room.data(), 16);
       },
       request({16, 16})},
      {"reserved_17", [](bus_eth& b) { return b.reserved_17(); }, request({17})},
      {"read_bus_info", [](bus_eth& b) { return b.read_bus_info(); }, request({18})},
      {"text_command",
       [&](bus_eth& b) {
         std::vector<char> reply(4096);
         std::uint32_t n = 4096;
         return b.text_command(text.data(), static_cast<std::uint32_t>(text.size()), reply.data(),
                               &n);
       },
       request({19, 28}, Bytes(text.begin(), text.end()))},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service_->clear_records();
    EXPECT_EQ(c.call(*bus), ZR_OK);
    const auto received = service_->requests();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, c.expected);
  }

  service_->clear_records();
  std::uint32_t n = 8;
  Bytes room(8, 0xEE);
  EXPECT_EQ(bus->stream_read(room.data(), &n), ZR_OK);
  EXPECT_EQ(n, 8u);
  EXPECT_TRUE(service_->requests().empty());
}

TEST_F(EthBusTest, RepliesLandWhereEachOperationPutsThem) {
  model_.queue_read_data({0xDE, 0xAD, 0xBE, 0xEF, 0x01});
  start_service();
  auto bus = open_bus();

  ASSERT_EQ(bus->set_timeout(4321), ZR_OK);
  EXPECT_EQ(bus->info().transfer_timeout_ms, 4321u);

  Bytes room(64, 0);
  std::uint32_t n = 64;
  ASSERT_EQ(bus->read(room.data(), &n), ZR_OK);
  ASSERT_EQ(n, 5u);
  EXPECT_EQ(Bytes(room.begin(), room.begin() + 5), (Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x01}));

  // Nothing left to deliver: an immediate empty answer, not a wait.
  n = 64;
  ASSERT_EQ(bus->read(room.data(), &n), ZR_OK);
  EXPECT_EQ(n, 0u);

  // list_devices reports bytes, not entries.
  Bytes list(4096);
  std::uint32_t count = 0;
  ASSERT_EQ(bus->list_devices(list.data(), 4096, &count), ZR_OK);
  const Bytes expected_list = model_.config().device_list;
  ASSERT_EQ(count, expected_list.size());
  EXPECT_EQ(Bytes(list.begin(), list.begin() + count), expected_list);

  std::vector<char> text(4096);
  std::uint32_t text_n = 4096;
  const std::string query = "tvx --device-kernel-info-all";
  ASSERT_EQ(bus->text_command(query.data(), 28, text.data(), &text_n), ZR_OK);
  EXPECT_EQ(std::string(text.data(), text_n), model_.config().kernel_info);
}

TEST_F(EthBusTest, RefusedConnectionIsTriedFiveTimes) {
  bus_eth bus(loopback(closed_port(), 100), 0, 0);
  EXPECT_EQ(bus.open(), ECONNREFUSED);
  EXPECT_EQ(bus.connect_attempts(), 5u);
  EXPECT_EQ(bus.last_status(), ECONNREFUSED);
  EXPECT_FALSE(bus.connected());
}

TEST(EthConnectAttempt, TimeOutIsAFifthRoundedUp) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {{10000, 2000}, {7, 2}, {5, 1},
                                                           {6, 2},        {1, 1}, {0, 0}};
  for (const auto& [whole, attempt] : cases) {
    EXPECT_EQ(connect_attempt_timeout_ms(whole), attempt) << whole;
  }
}

TEST_F(EthBusTest, UnansweredGreetingTimesOutAndCloseSendsNothing) {
  FaultPlan plan;
  plan.ignore_greeting = true;
  start_service(plan);
  bus_eth bus(loopback(service_->port(), 100), 0, 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(bus.open(), ZR_BUS_ETH_NO_REPLY);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 95ms);
  EXPECT_LT(took, 2s);
  EXPECT_EQ(bus.last_status(), ZR_BUS_ETH_NO_REPLY);

  EXPECT_NE(bus.close(), ZR_OK);
  std::uint32_t n = 4;
  const Bytes frame{1, 2, 3, 4};
  EXPECT_EQ(bus.write(frame.data(), &n), ZR_BUS_ETH_NO_REPLY);
  EXPECT_TRUE(service_->requests().empty());
}

TEST_F(EthBusTest, SideMessagesGoToTheBacklogInOrder) {
  FaultRule rule;
  rule.opcode = 5;
  rule.first_request = 2;  // the first write after open
  rule.count = 1;
  rule.side_messages = 3;
  start_service(plan_with(rule));
  auto bus = open_bus();
  const Bytes frame = pattern(256);
  std::uint32_t n = 256;
  ASSERT_EQ(bus->write(frame.data(), &n), ZR_OK);
  ASSERT_EQ(bus->backlog().size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    const auto& side = bus->backlog()[k];
    EXPECT_EQ(std::string(side.begin(), side.end()), "side 1.2." + std::to_string(k + 1));
  }
  // The write's own reply was its final one: the next request is answered normally.
  EXPECT_EQ(bus->write(frame.data(), &n), ZR_OK);
  EXPECT_EQ(bus->backlog().size(), 3u);
}

TEST_F(EthBusTest, FailingStatusStillDeliversTheData) {
  FaultRule rule;
  rule.opcode = 7;
  rule.status = 5;
  model_.queue_read_data({7, 8, 9});
  start_service(plan_with(rule));
  auto bus = open_bus();
  Bytes room(64, 0);
  std::uint32_t n = 64;
  EXPECT_EQ(bus->read(room.data(), &n), 5);
  EXPECT_EQ(bus->last_status(), 5);
  ASSERT_EQ(n, 3u);
  EXPECT_EQ(Bytes(room.begin(), room.begin() + 3), (Bytes{7, 8, 9}));
}

TEST_F(EthBusTest, CloseAfterATimedOutRequestReturnsTheErrorAndSendsNothing) {
  FaultRule rule;
  rule.opcode = 5;
  rule.delay = 400ms;
  start_service(plan_with(rule));
  auto bus = open_bus(60);
  const Bytes frame = pattern(256);
  std::uint32_t n = 256;
  EXPECT_EQ(bus->write(frame.data(), &n), ZR_BUS_ETH_NO_REPLY);
  EXPECT_EQ(bus->last_status(), ZR_BUS_ETH_NO_REPLY);
  const int closed = bus->close();
  EXPECT_NE(closed, ZR_OK);
  EXPECT_NE(closed, ZR_BUS_ETH_NO_REPLY);
  const auto received = requests_after_open();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].opcode, 5u);
}

TEST_F(EthBusTest, OversizedReplyIsRefusedWithoutOverflowAndTheStreamStaysInStep) {
  FaultRule rule;
  rule.opcode = 7;
  rule.first_request = 2;
  rule.count = 1;
  rule.reply_length = static_cast<std::uint32_t>(eth::kReplyBufferSize + 4096);
  model_.queue_read_data({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  start_service(plan_with(rule));
  auto bus = open_bus(2000);

  Bytes room(16 + 8, 0xCC);  // 16 bytes of room, then a guard
  std::uint32_t n = 4;
  EXPECT_EQ(bus->read(room.data(), &n), ZR_BUS_ETH_NO_REPLY);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(room, Bytes(24, 0xCC));

  n = 16;
  EXPECT_EQ(bus->read(room.data(), &n), ZR_OK);
  EXPECT_EQ(n, 8u);  // what was left after the first read took 4
  EXPECT_EQ(Bytes(room.begin(), room.begin() + 8), (Bytes{5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(Bytes(room.begin() + 16, room.end()), Bytes(8, 0xCC));
  // An oversized reply is a refused answer, not a broken link.
  EXPECT_EQ(bus->close(), ZR_OK);
}

// The service does not know the caller's room for listings and texts; an answer that does not
// fit is never written past the buffer.
TEST_F(EthBusTest, ReplyLargerThanTheCallersRoomIsRefused) {
  start_service();
  auto bus = open_bus();
  const std::size_t listed = model_.config().device_list.size();
  ASSERT_GT(listed, 8u);
  Bytes room(listed + 8, 0xCC);
  std::uint32_t count = 77;
  EXPECT_EQ(bus->list_devices(room.data(), static_cast<std::uint32_t>(listed - 1), &count),
            ZR_BUS_ETH_NO_REPLY);
  EXPECT_EQ(count, 77u);
  EXPECT_EQ(room, Bytes(listed + 8, 0xCC));

  // A text answer is cut to the room instead, and says how much it delivered.
  std::vector<char> text(12, 'x');
  std::uint32_t text_n = 8;
  const std::string query = "tvx --device-kernel-info-all";
  EXPECT_EQ(bus->text_command(query.data(), 28, text.data(), &text_n), ZR_OK);
  EXPECT_EQ(text_n, 8u);
  EXPECT_EQ(std::string(text.begin(), text.begin() + 8), model_.config().kernel_info.substr(0, 8));
  EXPECT_EQ(std::string(text.begin() + 8, text.end()), "xxxx");
  // A refused answer is not a broken link.
  EXPECT_EQ(bus->close(), ZR_OK);
}

// A reply that comes too late is read off before the next request goes out and is never taken
// for the next request's answer.
TEST_F(EthBusTest, LateReplyIsDrainedAndNeverTakenForTheNextAnswer) {
  FaultRule rule;
  rule.opcode = 7;
  rule.first_request = 2;  // the first read after open
  rule.count = 1;
  rule.delay = 150ms;
  rule.side_messages = 1;
  model_.queue_read_data({0xAA});
  start_service(plan_with(rule));
  auto bus = open_bus(100);

  Bytes room(1, 0);
  std::uint32_t n = 1;
  EXPECT_EQ(bus->read(room.data(), &n), ZR_BUS_ETH_NO_REPLY);
  EXPECT_EQ(room[0], 0);

  model_.queue_read_data({0xBB});
  n = 1;
  EXPECT_EQ(bus->read(room.data(), &n), ZR_OK);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(room[0], 0xBB);
  EXPECT_EQ(bus->backlog().size(), 1u);
  EXPECT_EQ(bus->close(), ZR_OK);
}

// When even the drain runs out of time the new request is not sent; the debt stays and is paid
// by a later attempt, so retry loops keep working on one connection.
TEST_F(EthBusTest, RequestIsNotSentWhileAnEarlierReplyIsStillOwed) {
  FaultRule rule;
  rule.opcode = 7;
  rule.first_request = 2;
  rule.count = 1;
  rule.delay = 300ms;
  start_service(plan_with(rule));
  auto bus = open_bus(80);

  Bytes room(4, 0);
  std::uint32_t n = 4;
  EXPECT_EQ(bus->read(room.data(), &n), ZR_BUS_ETH_NO_REPLY);
  const Bytes frame{1, 2, 3};
  std::uint32_t frame_n = 3;
  EXPECT_EQ(bus->write(frame.data(), &frame_n), ZR_BUS_ETH_NO_REPLY);
  EXPECT_EQ(requests_after_open().size(), 1u);

  bool answered = false;
  for (int attempt = 0; attempt < 10 && !answered; ++attempt) {
    answered = bus->write(frame.data(), &frame_n) == ZR_OK;
  }
  EXPECT_TRUE(answered);
  const auto received = requests_after_open();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].bytes, request({5, 3}, frame));
}

TEST_F(EthBusTest, LargeImageGoesOutInPiecesOfAtMost64KiB) {
  start_service();
  auto bus = open_bus(2000);
  const Bytes image = pattern(200000, 11);
  EXPECT_EQ(bus->write_bus_firmware(image.data(), 200000), ZR_OK);
  const auto received = requests_after_open();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].bytes, request({12, 200000}, image));
  EXPECT_EQ(bus->largest_data_piece(), eth::kMaxSendPiece);
  ASSERT_EQ(model_.data_writes().size(), 1u);
  EXPECT_EQ(model_.data_writes()[0], image);
}

TEST_F(EthBusTest, ConnectionDroppedByTheInstrumentFailsLaterRequests) {
  FaultPlan plan;
  plan.close_after_requests = 2;
  start_service(plan);
  auto bus = open_bus(200);
  const Bytes frame{1, 2, 3};
  std::uint32_t n = 3;
  EXPECT_EQ(bus->write(frame.data(), &n), ZR_OK);
  EXPECT_EQ(bus->write(frame.data(), &n), ZR_BUS_ETH_NO_REPLY);
  EXPECT_EQ(bus->write(frame.data(), &n), ZR_BUS_ETH_NO_REPLY);
  EXPECT_NE(bus->close(), ZR_OK);
}

TEST_F(EthBusTest, CloseSendsItsRequestAndShutsTheSocket) {
  start_service();
  auto bus = open_bus();
  EXPECT_EQ(bus->close(), ZR_OK);
  EXPECT_FALSE(bus->connected());
  const auto received = requests_after_open();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].bytes, request({3}));
}

TEST(EthBusUnopened, OperationsFailWithoutTraffic) {
  bus_eth bus(loopback(1, 50), 0, 0);
  const Bytes frame{1};
  std::uint32_t n = 1;
  EXPECT_EQ(bus.write(frame.data(), &n), ZR_BUS_ETH_NO_REPLY);
  EXPECT_NE(bus.close(), ZR_OK);
  EXPECT_FALSE(bus.connected());
}

}  // namespace
}  // namespace zr
