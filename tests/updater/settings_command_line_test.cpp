#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/console.hpp"
#include "tests/updater/settings_expect.hpp"
#include "tests/updater/temp_folder.hpp"
#include "updater/settings.hpp"

namespace zr::updater {
namespace {

using testing::Expected;
using testing::kDefaultAddress;
using Assignments = std::vector<std::pair<std::string, std::string>>;

// A Settings.ini whose values differ from every command-line case, so each result shows which
// source decided.
constexpr std::string_view kFileSettings =
    "interface=ETH\ndevicenum=7\nip=10.9.9.9\nport=7000\ntimeout=700\n";
constexpr Expected kFromFile = {ZR_INTERFACE_ETH, {10, 9, 9, 9}, 7000, 700, 7, true};

struct Outcome {
  bool resolved;
  ResolvedSettings settings;
  std::string console;
  std::string errors;
};

class CommandLineSettings : public ::testing::Test {
 protected:
  void SetUp() override { folder_.write("Settings.ini", kFileSettings); }

  Outcome resolve(const Assignments& assignments,
                  ResolvedSettings start = ResolvedSettings{}) const {
    ConnectionSettings command_line;
    for (const auto& [key, value] : assignments) command_line.settings_assign(key, value);
    std::ostringstream console_text;
    std::ostringstream errors;
    bool resolved = false;
    {
      ScopedConsole capture(console_text);
      resolved = command_line.settings_resolve(start, folder_.path(), errors);
    }
    return {resolved, start, console_text.str(), errors.str()};
  }

  testing::TempFolder folder_;
};

Assignments ethernet(std::string device, std::string ip, std::string port, std::string timeout) {
  return {{"interface", "ETH"},
          {"devicenum", std::move(device)},
          {"ip", std::move(ip)},
          {"port", std::move(port)},
          {"timeout", std::move(timeout)}};
}

struct ResolvedCase {
  const char* name;
  Assignments assignments;
  Expected expected;
};

TEST_F(CommandLineSettings, ResolvesFromTheCommandLineOnlyWhenAllFiveKeysAreGiven) {
  const ResolvedCase cases[] = {
      {"complete ethernet",
       ethernet("0", "10.0.0.7", "6000", "3000"),
       {ZR_INTERFACE_ETH, {10, 0, 0, 7}, 6000, 3000, 0, true}},
      {"timeout missing: file decides",
       {{"interface", "ETH"}, {"devicenum", "0"}, {"ip", "10.0.0.7"}, {"port", "6000"}},
       kFromFile},
      {"no arguments: file decides", {}, kFromFile},
      {"unknown key does not stand in for a missing one",
       {{"interface", "USB"}, {"devicenum", "1"}, {"ip", "1.1.1.1"}, {"port", "1"}, {"speed", "1"}},
       kFromFile},
      {"key not lower-cased is unknown",
       {{"interface", "USB"},
        {"devicenum", "1"},
        {"ip", "1.1.1.1"},
        {"port", "1"},
        {"Timeout", "1"}},
       kFromFile},
      {"complete usb uses only devicenum",
       {{"interface", "USB"},
        {"devicenum", "3"},
        {"ip", "10.0.0.7"},
        {"port", "6000"},
        {"timeout", "3000"}},
       {ZR_INTERFACE_USB, kDefaultAddress, 5000, 10000, 3, true}},
      {"lower-case eth selects nothing",
       {{"interface", "eth"},
        {"devicenum", "0"},
        {"ip", "10.0.0.7"},
        {"port", "6000"},
        {"timeout", "3000"}},
       {ZR_INTERFACE_USB, kDefaultAddress, 5000, 10000, 0, true}},
      {"ETH anywhere in the text",
       {{"interface", "NETH1"},
        {"devicenum", "0"},
        {"ip", "10.0.0.7"},
        {"port", "6000"},
        {"timeout", "3000"}},
       {ZR_INTERFACE_ETH, {10, 0, 0, 7}, 6000, 3000, 0, true}},
      {"ETH wins over USB",
       {{"interface", "USB+ETH"},
        {"devicenum", "0"},
        {"ip", "10.0.0.7"},
        {"port", "6000"},
        {"timeout", "3000"}},
       {ZR_INTERFACE_ETH, {10, 0, 0, 7}, 6000, 3000, 0, true}},
      {"short address keeps the last default octet",
       ethernet("0", "10.0.0", "6000", "3000"),
       {ZR_INTERFACE_ETH, {10, 0, 0, 100}, 6000, 3000, 0, true}},
      {"low 8 and 16 bits of device number and port",
       ethernet("258", "10.0.0.7", "70000", "3000"),
       {ZR_INTERFACE_ETH, {10, 0, 0, 7}, 4464, 3000, 2, true}},
      {"negative values wrap",
       ethernet("-1", "10.0.0.7", "-1", "-1"),
       {ZR_INTERFACE_ETH, {10, 0, 0, 7}, 65535, 4294967295u, 255, true}},
      {"numbers stop at the first non-digit",
       ethernet(" 5x", "10.0.0.7", "5000abc", "+3000ms"),
       {ZR_INTERFACE_ETH, {10, 0, 0, 7}, 5000, 3000, 5, true}},
      {"32-bit limits are accepted",
       ethernet("0", "10.0.0.7", "1", "-2147483648"),
       {ZR_INTERFACE_ETH, {10, 0, 0, 7}, 1, 2147483648u, 0, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = resolve(c.assignments);
    EXPECT_TRUE(outcome.resolved);
    testing::expect_settings(outcome.settings, c.expected);
    EXPECT_EQ(outcome.console, "");
    EXPECT_EQ(outcome.errors, "");
  }
}

TEST_F(CommandLineSettings, RepeatedKeyOverwritesTheEarlierValue) {
  Assignments assignments = ethernet("0", "10.0.0.7", "1", "3000");
  assignments.push_back({"port", "6000"});
  assignments.push_back({"ip", "10.0.0.8"});
  const Outcome outcome = resolve(assignments);
  ASSERT_TRUE(outcome.resolved);
  testing::expect_settings(outcome.settings,
                           {ZR_INTERFACE_ETH, {10, 0, 0, 8}, 6000, 3000, 0, true});
}

TEST_F(CommandLineSettings, InterfaceNamingNeitherTransportKeepsTheCurrentOne) {
  ResolvedSettings start;
  start.params.interface = ZR_INTERFACE_ETH;
  const Assignments neither = {
      {"interface", "pcie"}, {"devicenum", "1"}, {"ip", "x"}, {"port", "x"}, {"timeout", "x"}};
  Outcome outcome = resolve(neither, start);
  ASSERT_TRUE(outcome.resolved) << outcome.errors;
  EXPECT_EQ(outcome.settings.params.interface, ZR_INTERFACE_ETH);
  EXPECT_TRUE(outcome.settings.settings_given);

  Assignments usb = neither;
  usb[0].second = "xUSBx";
  outcome = resolve(usb, start);
  ASSERT_TRUE(outcome.resolved) << outcome.errors;
  EXPECT_EQ(outcome.settings.params.interface, ZR_INTERFACE_USB);
}

TEST_F(CommandLineSettings, BadValuesThatAreNotUsedAreNoError) {
  const Assignments cases[] = {
      // USB uses only the device number.
      {{"interface", "USB"},
       {"devicenum", "2"},
       {"ip", "nonsense"},
       {"port", "abc"},
       {"timeout", "99999999999"}},
      // Incomplete: the whole command line is discarded.
      {{"interface", "ETH"}, {"devicenum", "abc"}, {"port", "99999999999"}, {"timeout", ""}},
  };
  for (const auto& assignments : cases) {
    const Outcome outcome = resolve(assignments);
    EXPECT_TRUE(outcome.resolved);
    EXPECT_EQ(outcome.errors, "");
  }
}

struct FailureCase {
  Assignments assignments;
  const char* error_line;
};

TEST_F(CommandLineSettings, UsedValueThatIsNoNumberFailsWithOneLineAndTouchesNothing) {
  const FailureCase cases[] = {
      {ethernet("abc", "10.0.0.7", "6000", "3000"),
       "Invalid settings on the command line: devicenum \"abc\" is not a number.\n"},
      {{{"interface", "USB"}, {"devicenum", ""}, {"ip", "x"}, {"port", "x"}, {"timeout", "x"}},
       "Invalid settings on the command line: devicenum \"\" is not a number.\n"},
      {ethernet("0", "10.0.0.7", "-", "3000"),
       "Invalid settings on the command line: port \"-\" is not a number.\n"},
      {ethernet("0", "10.0.0.7", "6000", "ten"),
       "Invalid settings on the command line: timeout \"ten\" is not a number.\n"},
      {ethernet("4294967298", "10.0.0.7", "6000", "3000"),
       "Invalid settings on the command line: devicenum \"4294967298\" is outside the 32-bit "
       "signed range.\n"},
      {ethernet("0", "10.0.0.7", "2147483648", "3000"),
       "Invalid settings on the command line: port \"2147483648\" is outside the 32-bit signed "
       "range.\n"},
      {ethernet("0", "10.0.0.7", "6000", "-2147483649"),
       "Invalid settings on the command line: timeout \"-2147483649\" is outside the 32-bit "
       "signed range.\n"},
      // Only the first fault is reported.
      {ethernet("0", "10.0.0.7", "x", "y"),
       "Invalid settings on the command line: port \"x\" is not a number.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error_line);
    const Outcome outcome = resolve(c.assignments, testing::sentinel_settings());
    EXPECT_FALSE(outcome.resolved);
    EXPECT_EQ(outcome.errors, c.error_line);
    EXPECT_EQ(outcome.console, "");
    testing::expect_settings(outcome.settings, testing::kSentinel);
  }
}

TEST_F(CommandLineSettings, CompleteCommandLineNeverLooksForTheFile) {
  testing::TempFolder empty;
  ConnectionSettings command_line;
  for (const auto& [key, value] : ethernet("0", "10.0.0.7", "6000", "3000")) {
    command_line.settings_assign(key, value);
  }
  std::ostringstream console_text;
  std::ostringstream errors;
  ResolvedSettings settings;
  ScopedConsole capture(console_text);
  EXPECT_TRUE(command_line.settings_resolve(settings, empty.path(), errors));
  EXPECT_EQ(console_text.str(), "");  // no missing-file notice
}

}  // namespace
}  // namespace zr::updater
