#pragma once
// The command line of zr-sim.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/fault_plan.hpp"

namespace zr::sim {

struct ProgramOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 5000;
  FaultPlan plan;  // the plan file first, then the flags on top of it
  bool help = false;
};

// Parses argv[1..]; on bad input returns nullopt and sets error to one line. --fault-plan reads
// its file here, so an unreadable or malformed plan is a bad option as well.
std::optional<ProgramOptions> parse_program_options(const std::vector<std::string>& args,
                                                    std::string& error);

}  // namespace zr::sim
