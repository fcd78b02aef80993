#include "sim/network_service.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "raw_client.hpp"

namespace zr::sim {
namespace {

using namespace zr::sim::testing;
using eth::Opcode;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

class NetworkServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model_.set_log(model_log_);
    start(FaultPlan{});
  }
  void TearDown() override { service_->stop(); }

  void start(FaultPlan plan) {
    if (service_) service_->stop();
    service_ = std::make_unique<NetworkService>(model_, std::move(plan));
    service_->set_log(log_);
    std::string error;
    ASSERT_TRUE(service_->start("127.0.0.1", 0, error)) << error;
    ASSERT_NE(service_->port(), 0);
  }

  void start(const std::string& plan_text) {
    std::string error;
    auto plan = FaultPlan::parse(plan_text, error);
    ASSERT_TRUE(plan) << error;
    start(*plan);
  }

  // A connection whose greeting was sent and answered.
  RawClient greeted(std::uint8_t seed = 1) {
    RawClient client;
    EXPECT_TRUE(client.connect(service_->port()));
    EXPECT_TRUE(client.send(make_greeting(seed)));
    EXPECT_TRUE(client.read_exact(eth::kGreetingAnswerSize).has_value());
    return client;
  }

  // Waits (briefly) until the service has taken count requests in.
  bool wait_for_requests(std::uint64_t count) {
    auto deadline = steady_clock::now() + kReplyWait;
    while (service_->requests_received() < count) {
      if (steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(milliseconds{1});
    }
    return true;
  }

  std::ostringstream model_log_;  // refused frames; outlives the model
  InstrumentModel model_;
  std::ostringstream log_;
  std::unique_ptr<NetworkService> service_;
};

Bytes status_only(std::int32_t status) {
  Bytes bytes;
  LeWriter(bytes).i32(status);
  return bytes;
}

Bytes counted(std::int32_t status, const Bytes& data) {
  Bytes bytes;
  LeWriter(bytes).i32(status).u32(static_cast<std::uint32_t>(data.size())).bytes(data);
  return bytes;
}

Bytes bus_info_reply(const BusInfo& info) {
  Bytes bytes;
  LeWriter out(bytes);
  out.i32(0).u32(info.link_kind).u32(info.link_bandwidth).u32(info.firmware_version);
  out.u32(info.transfer_timeout_ms).u32(info.timeout2_ms).u32(info.timeout3_ms);
  out.bytes(info.identity_text).u16(info.device_release);
  return bytes;
}

TEST_F(NetworkServiceTest, GreetingIsAnsweredWithFourBytesAndRecorded) {
  RawClient client;
  ASSERT_TRUE(client.connect(service_->port()));
  Bytes greeting = make_greeting(7);
  // In two pieces: the service must wait for all 36 bytes.
  ASSERT_TRUE(client.send(Bytes(greeting.begin(), greeting.begin() + 10)));
  EXPECT_TRUE(client.stays_quiet());
  ASSERT_TRUE(client.send(Bytes(greeting.begin() + 10, greeting.end())));
  auto answer = client.read_exact(4);
  ASSERT_TRUE(answer);
  EXPECT_TRUE(client.stays_quiet()) << "more than 4 bytes answered the greeting";

  ASSERT_EQ(service_->greetings().size(), 1u);
  EXPECT_EQ(service_->greetings()[0], greeting);
  EXPECT_EQ(service_->connections_accepted(), 1u);
}

// Every opcode over one connection, in sequence: reply payload and the recorded request bytes.
TEST_F(NetworkServiceTest, EveryOpcodeIsAnsweredInItsFormatAndRecorded) {
  const ModelConfig config = default_model_config();
  const Bytes frame = pattern(256, 0x4a);
  const Bytes stream = pattern(65536, 3);
  const Bytes identity = pattern(100, 9);
  const std::string kernel_query = "tvx --device-kernel-info-all";
  const Bytes kernel_bytes(kernel_query.begin(), kernel_query.end());
  Bytes block;
  for (int i = 0; i < 1000; ++i) block.push_back(static_cast<std::uint8_t>(i));
  Bytes block_reply = status_only(0);
  block_reply.insert(block_reply.end(), block.begin(), block.end());
  Bytes bus_info;
  LeWriter(bus_info).i32(0).u32(3).u32(625).u32(config.bus_info.firmware_version);

  struct Case {
    const char* name;
    Bytes request;
    Bytes expected_reply;
  };
  const std::vector<Case> cases = {
      {"list_devices", request(Opcode::kListDevices), counted(0, config.device_list)},
      {"open", request(Opcode::kOpen), bus_info_reply(config.bus_info)},
      {"close", request(Opcode::kClose), status_only(0)},
      {"set_timeout", request(Opcode::kSetTimeout, 1234), counted(0, {}) /* patched below */},
      {"write", request_with_data(Opcode::kWrite, frame), status_only(0)},
      {"query, default reply", query_request(frame, 128, 1000), counted(0, Bytes(128, 0))},
      {"query, small room", query_request(frame, 16, 1000), counted(0, Bytes(16, 0))},
      {"read, nothing queued", request(Opcode::kRead, 4096), counted(0, {})},
      // Not a transfer frame: the instrument refuses it and the service passes its status on.
      {"stream_write", request_with_data(Opcode::kStreamWrite, stream),
       status_only(kTransferFrameRejected)},
      {"notify_device", request(Opcode::kNotifyDevice), status_only(0)},
      {"stream_stop", request(Opcode::kStreamStop), status_only(0)},
      {"write_data", request_with_data(Opcode::kWriteData, identity), status_only(0)},
      {"reserved_13", request(Opcode::kReserved13), status_only(0)},
      {"reserved_14", request(Opcode::kReserved14), status_only(0)},
      {"read_block", request(Opcode::kReadBlock, 1000), block_reply},
      {"read_block, empty", request(Opcode::kReadBlock, 0), status_only(0)},
      {"reserved_17", request(Opcode::kReserved17), status_only(0)},
      {"read_bus_info", request(Opcode::kReadBusInfo), bus_info},
      {"text_command", request_with_data(Opcode::kTextCommand, kernel_bytes),
       counted(0, Bytes(config.kernel_info.begin(), config.kernel_info.end()))},
      {"text_command, unknown", request_with_data(Opcode::kTextCommand, {'l', 's'}),
       counted(kUnknownTextCommand, {})},
  };

  RawClient client = greeted();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes expected = c.expected_reply;
    if (std::string_view(c.name) == "set_timeout") {
      expected.clear();
      LeWriter(expected).i32(0).u32(1234);
    }
    auto answer = client.exchange(c.request);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->sides.empty());
    EXPECT_EQ(answer->payload, expected);
  }

  auto requests = service_->requests();
  ASSERT_EQ(requests.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(requests[i].connection, 1u);
    EXPECT_EQ(requests[i].opcode, load_u32(cases[i].request.data()));
    EXPECT_EQ(requests[i].bytes, cases[i].request);
  }
  // And the model saw the payloads.
  auto frames = model_.frames();
  ASSERT_EQ(frames.size(), 3u);  // one write, two queries
  EXPECT_EQ(frames[0], frame);
  ASSERT_EQ(model_.stream_blocks().size(), 1u);
  EXPECT_EQ(model_.stream_blocks()[0], stream);
  ASSERT_EQ(model_.data_writes().size(), 1u);
  EXPECT_EQ(model_.data_writes()[0], identity);
}

TEST_F(NetworkServiceTest, ReadDeliversQueuedBytesAndAnswersAtOnceWhenNothingIsQueued) {
  model_.queue_read_data({1, 2, 3, 4, 5});
  RawClient client = greeted();
  const std::vector<std::pair<std::uint32_t, Bytes>> steps = {
      {2, {1, 2}}, {100, {3, 4, 5}}, {100, {}}, {0, {}}};
  for (const auto& [room, expected] : steps) {
    auto answer = client.exchange(request(Opcode::kRead, room));
    ASSERT_TRUE(answer) << "room " << room;
    EXPECT_EQ(answer->payload, counted(0, expected)) << "room " << room;
  }
}

TEST_F(NetworkServiceTest, QueryAnswersTheQueuedReply) {
  model_.queue_query_reply(pattern(128, 0x95));
  RawClient client = greeted();
  auto answer = client.exchange(query_request(pattern(256, 0x95), 128, 1000));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->payload, counted(0, pattern(128, 0x95)));
}

TEST_F(NetworkServiceTest, SideMessagesComeBeforeTheFinalReplyInOrder) {
  start("rule opcode=18 first=2 count=2 side=3\nrule opcode=3 side=1\n");
  RawClient first = greeted(1);
  RawClient second = greeted(2);

  const std::vector<std::vector<std::string>> expected_sides = {
      {}, {"side 2.2.1", "side 2.2.2", "side 2.2.3"}, {"side 2.3.1", "side 2.3.2", "side 2.3.3"},
      {}};
  for (std::size_t i = 0; i < expected_sides.size(); ++i) {
    auto answer = second.exchange(request(Opcode::kReadBusInfo));
    ASSERT_TRUE(answer) << "request " << i + 1;
    EXPECT_EQ(answer->sides, expected_sides[i]) << "request " << i + 1;
    EXPECT_EQ(answer->payload.size(), 16u);
  }
  // Connection numbers appear in the side texts: the other connection has its own.
  auto answer = first.exchange(request(Opcode::kClose));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->sides, std::vector<std::string>{"side 1.1.1"});
  EXPECT_EQ(answer->payload, status_only(0));
}

TEST_F(NetworkServiceTest, StatusOverrideKeepsTheReplyData) {
  start("rule opcode=7 status=5\nrule opcode=2 status=-7\n");
  model_.queue_read_data({0xa, 0xb, 0xc});
  RawClient client = greeted();
  auto read = client.exchange(request(Opcode::kRead, 100));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->payload, counted(5, {0xa, 0xb, 0xc}));
  auto open = client.exchange(request(Opcode::kOpen));
  ASSERT_TRUE(open);
  ASSERT_EQ(open->payload.size(), eth::kBusInfoReplySize);
  EXPECT_EQ(status_of(open->payload), -7);
  Bytes expected = bus_info_reply(model_.config().bus_info);
  store_u32(expected.data(), static_cast<std::uint32_t>(-7));
  EXPECT_EQ(open->payload, expected);
}

TEST_F(NetworkServiceTest, ReplyLengthIsAnnouncedAndDeliveredCompletely) {
  constexpr std::uint32_t kOversized = 4u * 1024u * 1024u + 1u;
  start("rule opcode=18 first=1 count=1 reply-length=" + std::to_string(kOversized) +
        "\nrule opcode=18 first=2 count=1 reply-length=6\n");
  RawClient client = greeted();
  Bytes expected_info;
  LeWriter(expected_info).i32(0).u32(3).u32(625).u32(model_.config().bus_info.firmware_version);

  ASSERT_TRUE(client.send(request(Opcode::kReadBusInfo)));
  auto big = client.read_message();
  ASSERT_TRUE(big);
  EXPECT_EQ(big->type, eth::kFinalReply);
  ASSERT_EQ(big->payload.size(), kOversized);
  EXPECT_EQ(Bytes(big->payload.begin(), big->payload.begin() + 16), expected_info);
  EXPECT_TRUE(std::all_of(big->payload.begin() + 16, big->payload.end(),
                          [](std::uint8_t b) { return b == 0; }));

  auto cut_short = client.exchange(request(Opcode::kReadBusInfo));
  ASSERT_TRUE(cut_short);
  EXPECT_EQ(cut_short->payload, Bytes(expected_info.begin(), expected_info.begin() + 6));
  // The stream is still in step.
  auto next = client.exchange(request(Opcode::kClose));
  ASSERT_TRUE(next);
  EXPECT_EQ(next->payload, status_only(0));
}

TEST_F(NetworkServiceTest, CutReplySendsHalfTheMessageAndServesTheNextRequest) {
  start("rule opcode=18 first=1 count=1 cut-reply\n");
  RawClient client = greeted();
  ASSERT_TRUE(client.send(request(Opcode::kReadBusInfo)));
  auto half = client.read_exact((eth::kMessageHeadSize + 16) / 2);
  ASSERT_TRUE(half);
  EXPECT_EQ((*half)[0], eth::kFinalReply);
  EXPECT_EQ(load_u32(half->data() + 1), 16u);
  EXPECT_TRUE(client.stays_quiet());

  ASSERT_TRUE(client.send(request(Opcode::kClose)));
  auto next = client.read_message();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->type, eth::kFinalReply);
  EXPECT_EQ(next->payload, status_only(0));
}

TEST_F(NetworkServiceTest, NoReplyLeavesTheConnectionOpenForTheNextRequest) {
  start("rule opcode=10 no-reply\n");
  RawClient client = greeted();
  ASSERT_TRUE(client.send(request(Opcode::kNotifyDevice)));
  EXPECT_TRUE(client.stays_quiet());
  auto next = client.exchange(request(Opcode::kStreamStop));
  ASSERT_TRUE(next);
  EXPECT_EQ(next->payload, status_only(0));
  EXPECT_EQ(service_->requests().size(), 2u);
}

TEST_F(NetworkServiceTest, DelayHoldsTheFinalReplyBackButNotTheSideMessages) {
  start("rule opcode=4 delay-ms=40 side=1\n");
  RawClient client = greeted();
  auto began = steady_clock::now();
  ASSERT_TRUE(client.send(request(Opcode::kSetTimeout, 500)));
  auto side = client.read_message();
  ASSERT_TRUE(side);
  EXPECT_EQ(side->type, eth::kSideMessage);
  auto final_reply = client.read_message();
  ASSERT_TRUE(final_reply);
  EXPECT_EQ(final_reply->type, eth::kFinalReply);
  EXPECT_GE(steady_clock::now() - began, milliseconds{40});
}

TEST_F(NetworkServiceTest, SideIntervalSpacesTheSideMessages) {
  start("rule opcode=3 side=3 side-interval-ms=15\n");
  RawClient client = greeted();
  auto began = steady_clock::now();
  auto answer = client.exchange(request(Opcode::kClose));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->sides.size(), 3u);
  EXPECT_GE(steady_clock::now() - began, milliseconds{45});
}

TEST_F(NetworkServiceTest, StopCutsALongDelayShort) {
  start("rule delay-ms=60000\n");
  RawClient client = greeted();
  ASSERT_TRUE(client.send(request(Opcode::kClose)));
  ASSERT_TRUE(wait_for_requests(1));
  auto began = steady_clock::now();
  service_->stop();
  EXPECT_LT(steady_clock::now() - began, std::chrono::seconds{5});
  EXPECT_TRUE(client.closed_by_peer());
}

TEST_F(NetworkServiceTest, StopClosesIdleConnections) {
  RawClient idle_greeted = greeted();
  RawClient silent;
  ASSERT_TRUE(silent.connect(service_->port()));
  service_->stop();
  EXPECT_TRUE(idle_greeted.closed_by_peer());
  EXPECT_TRUE(silent.closed_by_peer());
}

TEST_F(NetworkServiceTest, CloseAfterEndsEachConnectionAfterItsRequests) {
  start("close-after 2\n");
  for (std::uint8_t round = 1; round <= 2; ++round) {
    RawClient client = greeted(round);
    ASSERT_TRUE(client.exchange(request(Opcode::kReadBusInfo)));
    auto second = client.exchange(request(Opcode::kClose));
    ASSERT_TRUE(second) << "the second request is still answered";
    EXPECT_EQ(second->payload, status_only(0));
    EXPECT_TRUE(client.closed_by_peer()) << "round " << int{round};
  }
  EXPECT_EQ(service_->requests().size(), 4u);
}

TEST_F(NetworkServiceTest, IgnoredGreetingIsRecordedButNeverAnswered) {
  start("ignore-greeting\n");
  RawClient client;
  ASSERT_TRUE(client.connect(service_->port()));
  ASSERT_TRUE(client.send(make_greeting(3)));
  EXPECT_TRUE(client.stays_quiet());
  ASSERT_EQ(service_->greetings().size(), 1u);
  EXPECT_EQ(service_->greetings()[0], make_greeting(3));
}

TEST_F(NetworkServiceTest, ClientsLeavingEarlyDoNotDisturbTheNext) {
  {
    RawClient no_greeting;
    ASSERT_TRUE(no_greeting.connect(service_->port()));
  }
  {
    RawClient half_greeting;
    ASSERT_TRUE(half_greeting.connect(service_->port()));
    Bytes greeting = make_greeting(2);
    ASSERT_TRUE(half_greeting.send(Bytes(greeting.begin(), greeting.begin() + 10)));
  }
  {
    RawClient mid_request = greeted(3);
    Bytes partial = request_with_data(Opcode::kWrite, pattern(256, 1));
    partial.resize(100);
    ASSERT_TRUE(mid_request.send(partial));
  }
  RawClient client = greeted(4);
  auto answer = client.exchange(request(Opcode::kReadBusInfo));
  ASSERT_TRUE(answer);
  EXPECT_EQ(status_of(answer->payload), 0);

  EXPECT_EQ(service_->connections_accepted(), 4u);
  auto greetings = service_->greetings();
  ASSERT_EQ(greetings.size(), 2u);
  EXPECT_EQ(greetings[0], make_greeting(3));
  EXPECT_EQ(greetings[1], make_greeting(4));
  auto requests = service_->requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].connection, 4u);
  EXPECT_TRUE(model_.frames().empty()) << "a partial write reached the model";
}

TEST_F(NetworkServiceTest, BadRequestsCloseOnlyTheirConnection) {
  auto with_length = [](std::uint32_t opcode, std::uint32_t length) {
    Bytes bytes;
    LeWriter(bytes).u32(opcode).u32(length);
    return bytes;
  };
  constexpr std::uint32_t kTooLong = kMaxRequestField + 1;
  struct Case {
    const char* name;
    Bytes request;
    std::string log_text;
  };
  const std::vector<Case> cases = {
      {"opcode 0", raw_opcode(0), "unknown opcode 0"},
      {"opcode 9", raw_opcode(9), "unknown opcode 9"},
      {"opcode 15", raw_opcode(15), "unknown opcode 15"},
      {"opcode 20", raw_opcode(20), "unknown opcode 20"},
      {"opcode 0xffffffff", raw_opcode(0xffffffffu), "unknown opcode 4294967295"},
      {"write", with_length(5, kTooLong), "length too large: 16777217"},
      {"query", with_length(6, 0xffffffffu), "length too large: 4294967295"},
      {"stream_write", with_length(8, kTooLong), "length too large: 16777217"},
      {"write_data", with_length(12, kTooLong), "length too large: 16777217"},
      {"text_command", with_length(19, kTooLong), "length too large: 16777217"},
      {"read_block", with_length(16, static_cast<std::uint32_t>(kMaxReadBlock) + 1),
       "length too large: 4194305"},
  };
  RawClient bystander = greeted(100);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.str("");
    RawClient client = greeted();
    std::uint32_t number = service_->connections_accepted();
    ASSERT_TRUE(client.send(c.request));
    EXPECT_TRUE(client.closed_by_peer());
    // The record follows the log line, so once it is seen the log may be read.
    EXPECT_EQ(service_->requests().size(), 2 * (&c - cases.data()) + 1);
    EXPECT_NE(log_.str().find("connection " + std::to_string(number) + ": " + c.log_text),
              std::string::npos)
        << log_.str();

    auto answer = bystander.exchange(request(Opcode::kReadBusInfo));
    ASSERT_TRUE(answer) << "the other connection suffered";
    EXPECT_EQ(status_of(answer->payload), 0);
  }
  // The refused requests are recorded as far as they were read, between the bystander's.
  auto requests = service_->requests();
  ASSERT_EQ(requests.size(), 2 * cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(requests[2 * i].bytes, cases[i].request) << cases[i].name;
    EXPECT_EQ(requests[2 * i + 1].opcode, static_cast<std::uint32_t>(Opcode::kReadBusInfo));
  }
  EXPECT_TRUE(model_.frames().empty());
  EXPECT_EQ(model_.counters().data_writes, 0u);
}

TEST_F(NetworkServiceTest, LargestAllowedFieldIsServed) {
  RawClient client = greeted();
  auto answer = client.exchange(request_with_data(Opcode::kWriteData, Bytes(kMaxRequestField, 0x5a)));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->payload, status_only(0));
  EXPECT_EQ(model_.counters().data_bytes, kMaxRequestField);
}

TEST_F(NetworkServiceTest, NewFaultPlanAppliesToLaterConnectionsOnly) {
  RawClient before = greeted(1);
  FaultPlan plan;
  plan.rules.push_back(FaultRule{});
  plan.rules.back().status = 77;
  service_->set_fault_plan(plan);
  RawClient after = greeted(2);

  auto old_answer = before.exchange(request(Opcode::kClose));
  auto new_answer = after.exchange(request(Opcode::kClose));
  ASSERT_TRUE(old_answer);
  ASSERT_TRUE(new_answer);
  EXPECT_EQ(status_of(old_answer->payload), 0);
  EXPECT_EQ(status_of(new_answer->payload), 77);
}

TEST_F(NetworkServiceTest, ConcurrentConnectionsKeepTheirOwnOrder) {
  constexpr int kClients = 4;
  constexpr std::uint32_t kRequestsEach = 200;
  std::vector<std::thread> clients;
  std::vector<int> failures(kClients, 0);
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([this, c, &failures] {
      RawClient client;
      if (!client.connect(service_->port()) || !client.send(make_greeting(1)) ||
          !client.read_exact(4)) {
        ++failures[c];
        return;
      }
      for (std::uint32_t i = 0; i < kRequestsEach; ++i) {
        Bytes frame(256, static_cast<std::uint8_t>(c));
        store_u32(frame.data(), i);
        auto answer = client.exchange(request_with_data(Opcode::kWrite, frame));
        if (!answer || answer->payload != status_only(0)) ++failures[c];
      }
    });
  }
  for (auto& client : clients) client.join();
  EXPECT_EQ(failures, std::vector<int>(kClients, 0));

  auto requests = service_->requests();
  ASSERT_EQ(requests.size(), kClients * kRequestsEach);
  std::vector<std::uint32_t> next(kClients + 1, 0);
  for (const RecordedRequest& recorded : requests) {
    ASSERT_GE(recorded.connection, 1u);
    ASSERT_LE(recorded.connection, static_cast<std::uint32_t>(kClients));
    // Bytes 8..11 of a write request are the first word of its frame: the sequence number.
    EXPECT_EQ(load_u32(recorded.bytes.data() + 8), next[recorded.connection]++);
  }
}

TEST_F(NetworkServiceTest, RecordingStopsAtTheLimitButCountingGoesOn) {
  service_->set_record_limit(1000);
  RawClient client = greeted();
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(client.exchange(request_with_data(Opcode::kWrite, pattern(256, 1))));
  }
  auto kept = service_->requests().size();
  EXPECT_GE(kept, 1u);
  EXPECT_LT(kept, 4u);
  EXPECT_EQ(service_->requests_received(), 10u);
  EXPECT_EQ(model_.counters().frames, 10u);

  service_->clear_records();
  ASSERT_TRUE(client.exchange(request(Opcode::kClose)));
  ASSERT_EQ(service_->requests().size(), 1u);
  EXPECT_EQ(service_->requests()[0].opcode, 3u);
}

// The request record and the model hold one buffer between them: forgetting one must leave the
// other whole.
TEST_F(NetworkServiceTest, RecordsOfServiceAndModelStayIndependent) {
  RawClient client = greeted();
  const Bytes block = pattern(65536, 5);
  ASSERT_TRUE(client.exchange(request_with_data(Opcode::kStreamWrite, block)));
  service_->clear_records();
  ASSERT_EQ(model_.stream_blocks().size(), 1u);
  EXPECT_EQ(model_.stream_blocks()[0], block);

  ASSERT_TRUE(client.exchange(request_with_data(Opcode::kWrite, pattern(256, 6))));
  model_.clear_records();
  ASSERT_EQ(service_->requests().size(), 1u);
  EXPECT_EQ(service_->requests()[0].bytes, request_with_data(Opcode::kWrite, pattern(256, 6)));
}

TEST(NetworkServiceStart, ReportsAnAddressThatCannotBeBound) {
  InstrumentModel model;
  NetworkService first(model);
  std::string error;
  ASSERT_TRUE(first.start("127.0.0.1", 0, error)) << error;

  NetworkService second(model);
  EXPECT_FALSE(second.start("127.0.0.1", first.port(), error));
  EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(first.port())),
            std::string::npos)
      << error;
  EXPECT_FALSE(second.start("not-an-address", 0, error));
  EXPECT_NE(error.find("not-an-address"), std::string::npos) << error;
}

TEST(NetworkServiceStart, ServesIpv6Loopback) {
  InstrumentModel model;
  NetworkService service(model);
  std::string error;
  if (!service.start("::1", 0, error)) GTEST_SKIP() << "no IPv6 loopback: " << error;
  int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(service.port());
  address.sin6_addr = in6addr_loopback;
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  Bytes greeting = make_greeting(1);
  ASSERT_EQ(::send(fd, greeting.data(), greeting.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(greeting.size()));
  std::uint8_t answer[4];
  EXPECT_EQ(::recv(fd, answer, sizeof answer, MSG_WAITALL), 4);
  ::close(fd);
}

}  // namespace
}  // namespace zr::sim
