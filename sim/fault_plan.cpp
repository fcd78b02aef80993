#include "sim/fault_plan.hpp"

#include <charconv>
#include <limits>
#include <span>

#include "sim/sim_text.hpp"

namespace zr::sim {
namespace {

std::vector<std::string_view> split_tokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '\r')) ++pos;
    std::size_t end = pos;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
    if (end > pos) tokens.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return tokens;
}

// The whole text must be a number in range; from_chars alone would accept "12abc".
template <typename Number>
bool parse_number(std::string_view text, Number& out) {
  if (text.empty()) return false;
  if constexpr (std::numeric_limits<Number>::is_signed) {
    if (text.front() == '+') return false;
  }
  Number value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return false;
  out = value;
  return true;
}

// A frame opcode: written in hexadecimal everywhere else, so 0x is accepted beside decimal.
bool parse_frame_opcode(std::string_view text, std::uint8_t& out) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    std::uint8_t value = 0;
    std::string_view digits = text.substr(2);
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (ec != std::errc{} || end != digits.data() + digits.size()) return false;
    out = value;
    return true;
  }
  return parse_number(text, out);
}

std::string quoted(std::string_view prefix, std::string_view what) {
  std::string message(prefix);
  message.append(what);
  message.push_back('\'');
  return message;
}

// Parses the option tokens of one rule; on failure sets error without any line prefix.
bool parse_rule_tokens(std::span<const std::string_view> tokens, FaultRule& rule,
                       std::string& error) {
  for (std::string_view token : tokens) {
    if (token == "no-reply") {
      rule.no_reply = true;
      continue;
    }
    if (token == "cut-reply") {
      rule.cut_reply = true;
      continue;
    }
    std::size_t equals = token.find('=');
    if (equals == std::string_view::npos) {
      error = quoted(text::kUnknownRuleOption, token);
      return false;
    }
    std::string_view key = token.substr(0, equals);
    std::string_view value = token.substr(equals + 1);
    bool ok = false;
    std::uint32_t number = 0;
    if (key == "status") {
      std::int32_t status = 0;
      ok = parse_number(value, status);
      if (ok) rule.status = status;
    } else if (key == "opcode" || key == "first" || key == "count" || key == "delay-ms" ||
               key == "side" || key == "side-interval-ms" || key == "reply-length") {
      ok = parse_number(value, number);
      if (ok) {
        if (key == "opcode") rule.opcode = number;
        else if (key == "first") rule.first_request = number;
        else if (key == "count") rule.count = number;
        else if (key == "delay-ms") rule.delay = std::chrono::milliseconds{number};
        else if (key == "side") rule.side_messages = number;
        else if (key == "side-interval-ms") rule.side_interval = std::chrono::milliseconds{number};
        else rule.reply_length = number;
      }
    } else {
      error = quoted(text::kUnknownRuleOption, token);
      return false;
    }
    if (!ok) {
      error = quoted(text::kBadValue, token);
      return false;
    }
  }
  return true;
}

// The directives of the firmware-update services. False when the directive is none of theirs;
// otherwise true, with detail set when its arguments are wrong.
bool parse_firmware_fault(std::span<const std::string_view> tokens, FirmwareFaults& faults,
                          std::string& detail) {
  const std::string_view directive = tokens.front();
  const auto arguments = tokens.subspan(1);
  auto flag = [&](bool& field) {
    if (arguments.empty()) {
      field = true;
    } else {
      detail = std::string(directive);
      detail += quoted(text::kNoArguments, arguments.front());
    }
    return true;
  };
  if (directive == "fpga-no-start-ack") return flag(faults.fpga.no_start_ack);
  if (directive == "fpga-no-erase-done") return flag(faults.fpga.no_erase_done);
  if (directive == "fpga-no-commit-echo") {
    std::uint32_t count = kAllCommits;
    if (arguments.size() > 1 || (arguments.size() == 1 && !parse_number(arguments[0], count))) {
      detail = std::string(directive);
      detail += quoted(text::kAtMostOneNumber, arguments.back());
    } else {
      faults.fpga.unechoed_commits = count;
    }
    return true;
  }
  if (directive == "mcu-no-ack") {
    if (arguments.empty()) detail = text::kNeedsMcuCommand;
    for (std::string_view command : arguments) {
      if (command == "begin") faults.mcu.no_begin_ack = true;
      else if (command == "erase") faults.mcu.no_erase_ack = true;
      else if (command == "data") faults.mcu.no_data_ack = true;
      else if (command == "finish") faults.mcu.no_finish_ack = true;
      else {
        detail = quoted(text::kUnknownMcuCommand, command);
        break;
      }
    }
    return true;
  }
  if (directive == "mcu-late-erase-ack") {
    std::uint32_t read = 0;
    if (arguments.size() == 1 && parse_number(arguments[0], read) && read > 0) {
      faults.mcu.late_erase_ack_read = read;
    } else {
      detail = text::kLateAckNumber;
    }
    return true;
  }
  return false;
}

}  // namespace

bool FaultRule::matches(std::uint32_t request_number, std::uint32_t request_opcode) const {
  if (opcode != 0 && opcode != request_opcode) return false;
  // 64-bit so that first + count cannot wrap.
  std::uint64_t end = std::uint64_t{first_request} + count;
  return request_number >= first_request && request_number < end;
}

std::vector<const FaultRule*> FaultPlan::rules_for(std::uint32_t request_number,
                                                   std::uint32_t opcode) const {
  std::vector<const FaultRule*> found;
  for (const FaultRule& rule : rules) {
    if (rule.matches(request_number, opcode)) found.push_back(&rule);
  }
  return found;
}

FaultEffect FaultPlan::effect_for(std::uint32_t request_number, std::uint32_t opcode) const {
  FaultEffect effect;
  for (const FaultRule& rule : rules) {
    if (!rule.matches(request_number, opcode)) continue;
    effect.delay += rule.delay;
    effect.side_messages += rule.side_messages;
    effect.side_interval += rule.side_interval;
    if (rule.status) effect.status = rule.status;
    if (rule.reply_length) effect.reply_length = rule.reply_length;
    effect.no_reply = effect.no_reply || rule.no_reply;
    effect.cut_reply = effect.cut_reply || rule.cut_reply;
  }
  return effect;
}

bool FaultPlan::parse_into(std::string_view text_in, std::string& error) {
  FaultPlan parsed = *this;
  std::size_t line_number = 0;
  std::size_t pos = 0;
  while (pos <= text_in.size()) {
    std::size_t end = text_in.find('\n', pos);
    if (end == std::string_view::npos) end = text_in.size();
    std::string_view line = text_in.substr(pos, end - pos);
    pos = end + 1;
    ++line_number;
    if (std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    auto tokens = split_tokens(line);
    if (tokens.empty()) continue;

    std::string detail;
    std::string_view directive = tokens.front();
    if (directive == "ignore-greeting") {
      if (tokens.size() == 1) {
        parsed.ignore_greeting = true;
      } else {
        detail = std::string(directive);
        detail += quoted(text::kNoArguments, tokens[1]);
      }
    } else if (directive == "close-after") {
      std::uint32_t count = 0;
      if (tokens.size() == 2 && parse_number(tokens[1], count)) {
        parsed.close_after_requests = count;
      } else {
        detail = std::string(text::kOneNumber) + ", got '" + std::string(line) + "'";
      }
    } else if (directive == "drop-in-payload") {
      std::uint32_t request = 0;
      std::uint32_t after = 0;
      if (tokens.size() == 3 && parse_number(tokens[1], request) && request != 0 &&
          parse_number(tokens[2], after)) {
        parsed.drop_in_payload_request = request;
        parsed.drop_in_payload_after = after;
      } else {
        detail = std::string(text::kTwoNumbers) + ", got '" + std::string(line) + "'";
      }
    } else if (directive == "unanswered-query") {
      if (tokens.size() == 1) parsed.instrument.unanswered_queries.set();
      for (std::string_view token : std::span(tokens).subspan(1)) {
        std::uint8_t opcode = 0;
        if (!parse_frame_opcode(token, opcode)) {
          detail = quoted(text::kBadFrameOpcode, token);
          break;
        }
        parsed.instrument.unanswered_queries.set(opcode);
      }
    } else if (directive == "never-ready") {
      if (tokens.size() == 1) {
        parsed.instrument.never_ready = true;
      } else {
        detail = std::string(directive);
        detail += quoted(text::kNoArguments, tokens[1]);
      }
    } else if (parse_firmware_fault(tokens, parsed.instrument.firmware, detail)) {
      // taken, or detail says why not
    } else if (directive == "rule") {
      FaultRule rule;
      if (parse_rule_tokens(std::span(tokens).subspan(1), rule, detail)) {
        parsed.rules.push_back(rule);
      }
    } else {
      detail = quoted(text::kUnknownDirective, directive);
    }
    if (!detail.empty()) {
      error = std::string(text::kLine) + std::to_string(line_number) + ": " + detail;
      return false;
    }
  }
  *this = std::move(parsed);
  return true;
}

std::optional<FaultPlan> FaultPlan::parse(std::string_view text_in, std::string& error) {
  FaultPlan plan;
  if (!plan.parse_into(text_in, error)) return std::nullopt;
  return plan;
}

std::optional<FaultRule> FaultPlan::parse_rule(std::string_view options, std::string& error) {
  auto tokens = split_tokens(options);
  FaultRule rule;
  if (!parse_rule_tokens(tokens, rule, error)) return std::nullopt;
  return rule;
}

}  // namespace zr::sim
