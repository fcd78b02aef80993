#include "sim/fault_plan.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zr::sim {
namespace {

using std::chrono::milliseconds;

FaultRule rule_with(void (*set)(FaultRule&)) {
  FaultRule rule;
  set(rule);
  return rule;
}

bool same_rule(const FaultRule& a, const FaultRule& b) {
  return a.opcode == b.opcode && a.first_request == b.first_request && a.count == b.count &&
         a.delay == b.delay && a.side_messages == b.side_messages && a.status == b.status &&
         a.reply_length == b.reply_length && a.no_reply == b.no_reply &&
         a.cut_reply == b.cut_reply && a.side_interval == b.side_interval;
}

struct GoodCase {
  const char* name;
  std::string text;
  bool ignore_greeting;
  std::uint32_t close_after;
  std::vector<FaultRule> rules;
};

TEST(FaultPlanParse, AcceptsEveryDirectiveAndOption) {
  const std::vector<GoodCase> cases = {
      {"empty", "", false, 0, {}},
      {"comments and blank lines", "# nothing\n\n   \t\n# more\n", false, 0, {}},
      {"ignore greeting", "ignore-greeting\n", true, 0, {}},
      {"close after, no final newline", "close-after 3", false, 3, {}},
      {"trailing comment and CRLF", "close-after 7 # seven\r\n", false, 7, {}},
      {"bare rule matches everything", "rule", false, 0, {FaultRule{}}},
      {"every option",
       "rule opcode=5 first=2 count=3 delay-ms=40 side=2 side-interval-ms=5 status=-7 "
       "reply-length=4194305 no-reply cut-reply",
       false,
       0,
       {rule_with([](FaultRule& r) {
         r.opcode = 5;
         r.first_request = 2;
         r.count = 3;
         r.delay = milliseconds{40};
         r.side_messages = 2;
         r.side_interval = milliseconds{5};
         r.status = -7;
         r.reply_length = 4194305;
         r.no_reply = true;
         r.cut_reply = true;
       })}},
      {"largest numbers", "rule status=2147483647 reply-length=4294967295\nrule status=-2147483648",
       false,
       0,
       {rule_with([](FaultRule& r) {
          r.status = 2147483647;
          r.reply_length = 4294967295u;
        }),
        rule_with([](FaultRule& r) { r.status = INT32_MIN; })}},
      {"directives combine in order",
       "ignore-greeting\n\trule opcode=7   status=5\nclose-after 2\nrule side=1 # last\n", true, 2,
       {rule_with([](FaultRule& r) {
          r.opcode = 7;
          r.status = 5;
        }),
        rule_with([](FaultRule& r) { r.side_messages = 1; })}},
  };
  for (const GoodCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    auto plan = FaultPlan::parse(c.text, error);
    ASSERT_TRUE(plan.has_value()) << error;
    EXPECT_EQ(plan->ignore_greeting, c.ignore_greeting);
    EXPECT_EQ(plan->close_after_requests, c.close_after);
    ASSERT_EQ(plan->rules.size(), c.rules.size());
    for (std::size_t i = 0; i < c.rules.size(); ++i) {
      EXPECT_TRUE(same_rule(plan->rules[i], c.rules[i])) << "rule " << i;
    }
  }
}

TEST(FaultPlanParse, DropInPayloadNamesItsRequestAndByteCount) {
  std::string error;
  const auto plan = FaultPlan::parse("drop-in-payload 2 65536\n", error);
  ASSERT_TRUE(plan) << error;
  EXPECT_EQ(plan->drop_in_payload_request, 2u);
  EXPECT_EQ(plan->drop_in_payload_after, 65536u);
  for (const char* bad : {"drop-in-payload", "drop-in-payload 2", "drop-in-payload 0 10",
                          "drop-in-payload 2 -1", "drop-in-payload 2 3 4"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(FaultPlan::parse(bad, error));
    EXPECT_EQ(error, std::string("line 1: drop-in-payload takes a request number (from 1) and a "
                                 "byte count, got '") +
                         bad + "'");
  }
}

TEST(FaultPlanParse, RejectsBadLinesNamingLineAndText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"frobnicate", "line 1: unknown directive 'frobnicate'"},
      {"# fine\nrule opcode=5\nRule opcode=5", "line 3: unknown directive 'Rule'"},
      {"ignore-greeting now", "line 1: ignore-greeting takes no arguments, got 'now'"},
      {"close-after", "line 1: close-after takes one number, got 'close-after'"},
      {"\nclose-after 1 2", "line 2: close-after takes one number, got 'close-after 1 2'"},
      {"close-after -1", "line 1: close-after takes one number, got 'close-after -1'"},
      {"close-after 4294967296",
       "line 1: close-after takes one number, got 'close-after 4294967296'"},
      {"rule opcode=5 delay=3", "line 1: unknown rule option 'delay=3'"},
      {"rule noreply", "line 1: unknown rule option 'noreply'"},
      {"rule delay-ms=", "line 1: bad value in 'delay-ms='"},
      {"rule delay-ms=12ms", "line 1: bad value in 'delay-ms=12ms'"},
      {"rule opcode=0x5", "line 1: bad value in 'opcode=0x5'"},
      {"rule side=-1", "line 1: bad value in 'side=-1'"},
      {"rule status=+5", "line 1: bad value in 'status=+5'"},
      {"rule status=2147483648", "line 1: bad value in 'status=2147483648'"},
      {"rule reply-length=4294967296", "line 1: bad value in 'reply-length=4294967296'"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    std::string error;
    EXPECT_FALSE(FaultPlan::parse(text, error).has_value());
    EXPECT_EQ(error, expected);
  }
}

TEST(FaultPlanParse, InstrumentFaultsNameFrameOpcodesInEitherBase) {
  struct Case {
    const char* text;
    std::vector<unsigned> unanswered;  // every one when the list holds 256 entries
    bool never_ready;
  };
  std::vector<unsigned> all(256);
  for (unsigned i = 0; i < 256; ++i) all[i] = i;
  const std::vector<Case> cases = {
      {"", {}, false},
      {"never-ready", {}, true},
      {"unanswered-query 0x16", {0x16}, false},
      {"unanswered-query 22 0x89 0XcA\nnever-ready # both", {0x16, 0x89, 0xca}, true},
      {"unanswered-query 255 0x00", {0x00, 0xff}, false},
      {"unanswered-query", all, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    auto plan = FaultPlan::parse(c.text, error);
    ASSERT_TRUE(plan) << error;
    std::vector<unsigned> unanswered;
    for (unsigned op = 0; op < 256; ++op) {
      if (!plan->instrument.answers(static_cast<std::uint8_t>(op))) unanswered.push_back(op);
    }
    EXPECT_EQ(unanswered, c.unanswered);
    EXPECT_EQ(plan->instrument.never_ready, c.never_ready);
    EXPECT_TRUE(plan->rules.empty());
  }

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"unanswered-query 0x100", "line 1: bad frame opcode '0x100'"},
      {"unanswered-query 256", "line 1: bad frame opcode '256'"},
      {"unanswered-query 0x", "line 1: bad frame opcode '0x'"},
      {"unanswered-query 0x1g", "line 1: bad frame opcode '0x1g'"},
      {"unanswered-query -1", "line 1: bad frame opcode '-1'"},
      {"never-ready 1", "line 1: never-ready takes no arguments, got '1'"},
  };
  for (const auto& [text, expected] : bad) {
    SCOPED_TRACE(text);
    std::string error;
    EXPECT_FALSE(FaultPlan::parse(text, error).has_value());
    EXPECT_EQ(error, expected);
  }
}

TEST(FaultPlanParse, FailedParseIntoLeavesThePlanUnchanged) {
  FaultPlan plan;
  std::string error;
  ASSERT_TRUE(plan.parse_into("rule opcode=5\n", error));
  EXPECT_FALSE(plan.parse_into("close-after 3\nrule opcode=6\nbogus\n", error));
  EXPECT_EQ(plan.close_after_requests, 0u);
  EXPECT_EQ(plan.rules.size(), 1u);
  EXPECT_EQ(error, "line 3: unknown directive 'bogus'");
}

TEST(FaultPlanRules, MatchOpcodeAndRequestRange) {
  FaultPlan plan;
  plan.rules.push_back(rule_with([](FaultRule& r) { r.opcode = 5; }));  // every write
  plan.rules.push_back(rule_with([](FaultRule& r) {                     // requests 2..4, any
    r.first_request = 2;
    r.count = 3;
  }));
  plan.rules.push_back(rule_with([](FaultRule& r) {  // from request 4294967295 on: no wrap
    r.first_request = UINT32_MAX;
  }));
  plan.rules.push_back(rule_with([](FaultRule& r) { r.count = 0; }));  // never

  struct Case {
    std::uint32_t number;
    std::uint32_t opcode;
    std::vector<std::size_t> expected;
  };
  const std::vector<Case> cases = {
      {1, 5, {0}},       {1, 6, {}},        {2, 5, {0, 1}},          {4, 7, {1}},
      {5, 7, {}},        {5, 5, {0}},       {UINT32_MAX, 5, {0, 2}}, {UINT32_MAX, 6, {2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "request " << c.number << " opcode " << c.opcode);
    std::vector<const FaultRule*> expected;
    for (std::size_t index : c.expected) expected.push_back(&plan.rules[index]);
    EXPECT_EQ(plan.rules_for(c.number, c.opcode), expected);
  }
}

TEST(FaultPlanRules, EffectAddsWaitsAndLetsTheLastOverrideWin) {
  std::string error;
  auto plan = FaultPlan::parse(
      "rule delay-ms=10 side=1 status=3 reply-length=100\n"
      "rule opcode=5 delay-ms=5 side=2 side-interval-ms=4 status=-4 no-reply\n"
      "rule opcode=6 cut-reply status=9\n",
      error);
  ASSERT_TRUE(plan) << error;

  FaultEffect write = plan->effect_for(1, 5);
  EXPECT_EQ(write.delay, milliseconds{15});
  EXPECT_EQ(write.side_messages, 3u);
  EXPECT_EQ(write.side_interval, milliseconds{4});
  EXPECT_EQ(write.status, -4);
  EXPECT_EQ(write.reply_length, 100u);
  EXPECT_TRUE(write.no_reply);
  EXPECT_FALSE(write.cut_reply);

  FaultEffect query = plan->effect_for(1, 6);
  EXPECT_EQ(query.status, 9);
  EXPECT_TRUE(query.cut_reply);
  EXPECT_FALSE(query.no_reply);
}

TEST(FaultPlanParse, RuleOptionsAloneParseLikeARuleLine) {
  std::string error;
  auto rule = FaultPlan::parse_rule("opcode=8 delay-ms=25", error);
  ASSERT_TRUE(rule) << error;
  EXPECT_EQ(rule->opcode, 8u);
  EXPECT_EQ(rule->delay, milliseconds{25});
  EXPECT_FALSE(FaultPlan::parse_rule("opcode=8 sometimes", error));
  EXPECT_EQ(error, "unknown rule option 'sometimes'");
}

}  // namespace
}  // namespace zr::sim
