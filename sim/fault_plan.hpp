#pragma once
// Faults the simulated network service can inject, so that tests meet the failures of a real
// network and a real instrument on purpose.
#include <bitset>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/firmware_faults.hpp"

namespace zr::sim {

// One rule applies to the requests of a connection whose 1-based number n satisfies
// first_request <= n < first_request + count and whose opcode matches (0 matches every opcode).
struct FaultRule {
  std::uint32_t opcode = 0;
  std::uint32_t first_request = 1;
  std::uint32_t count = UINT32_MAX;
  std::chrono::milliseconds delay{0};           // wait before the final reply
  std::uint32_t side_messages = 0;              // side messages sent before the final reply
  std::optional<std::int32_t> status;           // status word of the final reply instead of the model's
  std::optional<std::uint32_t> reply_length;    // final reply carries this many payload bytes
  bool no_reply = false;                        // never answer (the connection stays open)
  bool cut_reply = false;                       // send only the first half of the final reply
  // Wait before each side message, so that side messages can keep a client waiting longer than
  // its reply time-out; delay still follows the last one.
  std::chrono::milliseconds side_interval{0};

  bool matches(std::uint32_t request_number, std::uint32_t request_opcode) const;
};

// What all rules matching one request amount to: delays and side messages add up, the last rule
// that sets status or reply_length wins, no_reply and cut_reply hold if any rule sets them.
struct FaultEffect {
  std::chrono::milliseconds delay{0};
  std::uint32_t side_messages = 0;
  std::chrono::milliseconds side_interval{0};
  std::optional<std::int32_t> status;
  std::optional<std::uint32_t> reply_length;
  bool no_reply = false;
  bool cut_reply = false;
};

// Faults of the instrument itself rather than of its network service: they belong to the model
// and hold for every connection and transport alike.
struct InstrumentFaults {
  std::bitset<256> unanswered_queries;  // frame opcodes whose queries get no answer
  bool never_ready = false;             // acknowledged calibration frames are never confirmed
  FirmwareFaults firmware;              // answers the update services leave out

  bool answers(std::uint8_t frame_opcode) const { return !unanswered_queries.test(frame_opcode); }
};

struct FaultPlan {
  bool ignore_greeting = false;       // read the greeting but never answer it (nor anything after)
  std::uint32_t close_after_requests = 0;  // close the connection after this many requests; 0 = never
  // Close the connection once this many payload bytes of request number drop_in_payload_request
  // have arrived (0: never), so that an image can be cut off inside a single request.
  std::uint32_t drop_in_payload_request = 0;
  std::uint32_t drop_in_payload_after = 0;
  std::vector<FaultRule> rules;
  InstrumentFaults instrument;  // handed to the model by the network service

  // Rules that apply to request number n with this opcode, in the order given.
  std::vector<const FaultRule*> rules_for(std::uint32_t request_number, std::uint32_t opcode) const;
  FaultEffect effect_for(std::uint32_t request_number, std::uint32_t opcode) const;

  // Parses the text form, one directive per line ('#' starts a comment, blank lines are skipped,
  // tokens are separated by blanks or tabs, numbers are decimal):
  //   ignore-greeting
  //   close-after N
  //   drop-in-payload REQUEST BYTES
  //   rule [opcode=N] [first=N] [count=N] [delay-ms=N] [side=N] [side-interval-ms=N]
  //        [status=N] [reply-length=N] [no-reply] [cut-reply]
  //   unanswered-query [OPCODE...]   (frame opcodes, decimal or 0x-prefixed; none: every one)
  //   never-ready
  //   fpga-no-start-ack | fpga-no-erase-done | fpga-no-commit-echo [N]
  //   mcu-no-ack COMMAND...   (begin, erase, data, finish)
  //   mcu-late-erase-ack N    (N above 0: the read after the erase that brings the ack)
  // status may be negative; every other number is an unsigned 32-bit value. Directives add to
  // each other, so several texts can be parsed into one plan with parse_into.
  // Returns nullopt and sets error to a one-line message naming the line on bad input.
  static std::optional<FaultPlan> parse(std::string_view text, std::string& error);
  bool parse_into(std::string_view text, std::string& error);
  // Parses the options of one rule line without the leading "rule" (the program's --rule).
  static std::optional<FaultRule> parse_rule(std::string_view options, std::string& error);
};

}  // namespace zr::sim
