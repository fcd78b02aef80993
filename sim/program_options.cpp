#include "sim/program_options.hpp"

#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>

#include "sim/sim_text.hpp"

namespace zr::sim {
namespace {

bool to_u32(const std::string& text_in, std::uint32_t& out) {
  if (text_in.empty()) return false;
  auto [end, ec] = std::from_chars(text_in.data(), text_in.data() + text_in.size(), out);
  return ec == std::errc{} && end == text_in.data() + text_in.size();
}

std::string quoted(std::string_view prefix, std::string_view what) {
  return std::string(prefix) + std::string(what) + "'";
}

}  // namespace

std::optional<ProgramOptions> parse_program_options(const std::vector<std::string>& args,
                                                    std::string& error) {
  ProgramOptions options;
  FaultPlan flags;  // applied after the file, whatever the order on the command line
  std::optional<std::string> plan_file;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = quoted(text::kMissingValue, arg);
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string text_value;
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--address") {
      if (!value(options.address)) return std::nullopt;
    } else if (arg == "--port") {
      if (!value(text_value)) return std::nullopt;
      std::uint32_t port = 0;
      if (!to_u32(text_value, port) || port > std::numeric_limits<std::uint16_t>::max()) {
        error = quoted(text::kBadPort, text_value);
        return std::nullopt;
      }
      options.port = static_cast<std::uint16_t>(port);
    } else if (arg == "--fault-plan") {
      if (!value(text_value)) return std::nullopt;
      plan_file = text_value;
    } else if (arg == "--ignore-greeting") {
      flags.ignore_greeting = true;
    } else if (arg == "--close-after") {
      if (!value(text_value)) return std::nullopt;
      if (!to_u32(text_value, flags.close_after_requests)) {
        error = quoted(text::kBadNumber, text_value);
        return std::nullopt;
      }
    } else if (arg == "--rule") {
      if (!value(text_value)) return std::nullopt;
      std::string detail;
      auto rule = FaultPlan::parse_rule(text_value, detail);
      if (!rule) {
        error = quoted(text::kInRule, text_value) + ": " + detail;
        return std::nullopt;
      }
      flags.rules.push_back(*rule);
    } else {
      error = quoted(text::kUnknownOption, arg);
      return std::nullopt;
    }
  }

  if (plan_file) {
    std::ifstream file(*plan_file, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    if (!file) {
      error = quoted(text::kCannotReadPlan, *plan_file);
      return std::nullopt;
    }
    std::string detail;
    if (!options.plan.parse_into(content.str(), detail)) {
      error = quoted(text::kInPlan, *plan_file) + ": " + detail;
      return std::nullopt;
    }
  }
  options.plan.ignore_greeting = options.plan.ignore_greeting || flags.ignore_greeting;
  if (flags.close_after_requests != 0) {
    options.plan.close_after_requests = flags.close_after_requests;
  }
  options.plan.rules.insert(options.plan.rules.end(), flags.rules.begin(), flags.rules.end());
  return options;
}

}  // namespace zr::sim
