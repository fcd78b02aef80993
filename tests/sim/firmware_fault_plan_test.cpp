// The fault plan directives of the firmware-update services.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/fault_plan.hpp"

namespace zr::sim {
namespace {

bool same(const FirmwareFaults& a, const FirmwareFaults& b) {
  return a.fpga.no_start_ack == b.fpga.no_start_ack &&
         a.fpga.no_erase_done == b.fpga.no_erase_done &&
         a.fpga.unechoed_commits == b.fpga.unechoed_commits &&
         a.mcu.no_begin_ack == b.mcu.no_begin_ack && a.mcu.no_erase_ack == b.mcu.no_erase_ack &&
         a.mcu.no_data_ack == b.mcu.no_data_ack && a.mcu.no_finish_ack == b.mcu.no_finish_ack &&
         a.mcu.late_erase_ack_read == b.mcu.late_erase_ack_read;
}

TEST(FirmwareFaultPlan, ParsesEveryDirective) {
  struct Case {
    const char* text;
    FirmwareFaults faults;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"fpga-no-start-ack", {.fpga = {.no_start_ack = true}, .mcu = {}}},
      {"fpga-no-erase-done # never erased", {.fpga = {.no_erase_done = true}, .mcu = {}}},
      {"fpga-no-commit-echo", {.fpga = {.unechoed_commits = kAllCommits}, .mcu = {}}},
      {"fpga-no-commit-echo 100", {.fpga = {.unechoed_commits = 100}, .mcu = {}}},
      {"mcu-no-ack begin finish",
       {.fpga = {}, .mcu = {.no_begin_ack = true, .no_finish_ack = true}}},
      {"mcu-no-ack erase\nmcu-no-ack data",
       {.fpga = {}, .mcu = {.no_erase_ack = true, .no_data_ack = true}}},
      {"mcu-late-erase-ack 10", {.fpga = {}, .mcu = {.late_erase_ack_read = 10}}},
      {"close-after 9\nfpga-no-start-ack\nmcu-no-ack finish",
       {.fpga = {.no_start_ack = true}, .mcu = {.no_finish_ack = true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    const auto plan = FaultPlan::parse(c.text, error);
    ASSERT_TRUE(plan) << error;
    EXPECT_TRUE(same(plan->instrument.firmware, c.faults));
  }
}

TEST(FirmwareFaultPlan, RefusesBadArgumentsNamingTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"fpga-no-start-ack now", "line 1: fpga-no-start-ack takes no arguments, got 'now'"},
      {"\nfpga-no-erase-done 5", "line 2: fpga-no-erase-done takes no arguments, got '5'"},
      {"fpga-no-commit-echo x", "line 1: fpga-no-commit-echo takes at most one number, got 'x'"},
      {"fpga-no-commit-echo 1 2", "line 1: fpga-no-commit-echo takes at most one number, got '2'"},
      {"mcu-no-ack", "line 1: mcu-no-ack takes one or more of begin, erase, data, finish"},
      {"mcu-no-ack begin reset", "line 1: unknown bootloader command 'reset'"},
      {"mcu-late-erase-ack 0", "line 1: mcu-late-erase-ack takes one number above 0"},
      {"mcu-late-erase-ack", "line 1: mcu-late-erase-ack takes one number above 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_FALSE(FaultPlan::parse(c.text, error));
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
}  // namespace zr::sim
