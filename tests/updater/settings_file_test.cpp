#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "platform/console.hpp"
#include "tests/updater/settings_expect.hpp"
#include "tests/updater/temp_folder.hpp"
#include "updater/settings.hpp"

namespace zr::updater {
namespace {

using testing::Expected;
using testing::kDefaultAddress;

constexpr std::string_view kNotice =
    "Please note that there is currently no Settings.ini file, so please do not update multiple "
    "devices simultaneously.\n\n";

struct Outcome {
  bool resolved;
  ResolvedSettings settings;
  std::string console;
  std::string errors;
};

class SettingsFile : public ::testing::Test {
 protected:
  // An incomplete command line, so the file decides (and these values must not leak through).
  Outcome resolve(ResolvedSettings start = ResolvedSettings{}) const {
    ConnectionSettings command_line;
    command_line.settings_assign("interface", "ETH");
    command_line.settings_assign("ip", "10.6.6.6");
    command_line.settings_assign("port", "6666");
    command_line.settings_assign("timeout", "666");
    std::ostringstream console_text;
    std::ostringstream errors;
    bool resolved = false;
    {
      ScopedConsole capture(console_text);
      resolved = command_line.settings_resolve(start, folder_.path(), errors);
    }
    return {resolved, start, console_text.str(), errors.str()};
  }
  Outcome resolve_file(std::string_view contents) const {
    folder_.write("Settings.ini", contents);
    return resolve();
  }
  std::string path() const { return folder_.file("Settings.ini"); }

  testing::TempFolder folder_;
};

constexpr Expected kDefaults = {ZR_INTERFACE_USB, kDefaultAddress, 5000, 10000, 0, false};

TEST_F(SettingsFile, MissingFilePrintsTheNoticeAndKeepsTheDefaults) {
  const Outcome outcome = resolve();
  EXPECT_TRUE(outcome.resolved);
  EXPECT_EQ(outcome.console, kNotice);
  EXPECT_EQ(outcome.errors, "");
  testing::expect_settings(outcome.settings, kDefaults);
}

TEST_F(SettingsFile, FolderNamedSettingsIniCountsAsNoFile) {
  std::filesystem::create_directory(path());
  const Outcome outcome = resolve();
  EXPECT_TRUE(outcome.resolved);
  EXPECT_EQ(outcome.console, kNotice);
  testing::expect_settings(outcome.settings, kDefaults);
}

TEST_F(SettingsFile, UnknownProgramFolderCountsAsNoFile) {
  // A relative "Settings.ini" would pick up whatever the working folder holds.
  ConnectionSettings command_line;
  std::ostringstream console_text;
  std::ostringstream errors;
  ResolvedSettings settings;
  ScopedConsole capture(console_text);
  EXPECT_TRUE(command_line.settings_resolve(settings, "", errors));
  EXPECT_EQ(console_text.str(), kNotice);
  EXPECT_FALSE(settings.settings_given);
}

struct FileCase {
  const char* name;
  std::string_view contents;
  Expected expected;
};

TEST_F(SettingsFile, ValuesCountByPositionNotByKey) {
  const FileCase cases[] = {
      {"section header and blanks around the values",
       "[Settings]\ninterface = ETH\ndevicenum = 0\nip = 192.168.1.20\nport = 5000\n"
       "timeout = 10000\n",
       {ZR_INTERFACE_ETH, {192, 168, 1, 20}, 5000, 10000, 0, true}},
      {"CRLF line ends",
       "[Settings]\r\ninterface = ETH\r\ndevicenum = 1\r\nip = 192.168.1.20\r\nport = 6000\r\n"
       "timeout = 3000\r\n",
       {ZR_INTERFACE_ETH, {192, 168, 1, 20}, 6000, 3000, 1, true}},
      {"usb needs only two values",
       "interface=USB\ndevicenum=258",
       {ZR_INTERFACE_USB, kDefaultAddress, 5000, 10000, 2, true}},
      {"interface naming neither transport stays usb",
       "interface=PCIE\ndevicenum=1\n",
       {ZR_INTERFACE_USB, kDefaultAddress, 5000, 10000, 1, true}},
      {"keys are not read: port and ip swapped",
       "interface=ETH\ndevicenum=1\nport=6000\nip=10.0.0.7\ntimeout=3000\n",
       {ZR_INTERFACE_ETH, {112, 168, 1, 100}, 10, 3000, 1, true}},
      {"a comment holding '=' is a value",
       "interface=ETH\ndevicenum=4\n; old address: ip=10.1.1.1\nip=10.2.2.2\nport=6000\n"
       "timeout=3000\n",
       {ZR_INTERFACE_ETH, {10, 1, 1, 1}, 10, 6000, 4, true}},
      {"lines without '=' are skipped",
       "; comment\n\n[Settings]\ninterface=ETH\n\n# note\ndevicenum=3\nip=10.0.0\n"
       "port=70000\ntimeout=5000abc\n",
       {ZR_INTERFACE_ETH, {10, 0, 0, 100}, 4464, 5000, 3, true}},
      {"value runs from the first '='",
       "interface=USB\ndevicenum = 5 = 6\n",
       {ZR_INTERFACE_USB, kDefaultAddress, 5000, 10000, 5, true}},
      {"values after the fifth are ignored",
       "interface=ETH\ndevicenum=0\nip=10.0.0.7\nport=6000\ntimeout=3000\nextra=abc\n",
       {ZR_INTERFACE_ETH, {10, 0, 0, 7}, 6000, 3000, 0, true}},
      {"unused bad values are no error",
       "interface=USB\ndevicenum=1\nip=nonsense\nport=abc\ntimeout=99999999999\n",
       {ZR_INTERFACE_USB, kDefaultAddress, 5000, 10000, 1, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = resolve_file(c.contents);
    EXPECT_TRUE(outcome.resolved);
    EXPECT_EQ(outcome.errors, "");
    EXPECT_EQ(outcome.console, "");
    testing::expect_settings(outcome.settings, c.expected);
  }
}

TEST_F(SettingsFile, InterfaceNamingNeitherTransportKeepsTheCurrentOne) {
  folder_.write("Settings.ini", "interface=none\ndevicenum=1\n");
  ResolvedSettings start;
  start.params.interface = ZR_INTERFACE_ETH;
  const Outcome outcome = resolve(start);
  ASSERT_TRUE(outcome.resolved) << outcome.errors;
  EXPECT_EQ(outcome.settings.params.interface, ZR_INTERFACE_ETH);
}

struct FailureCase {
  const char* name;
  std::string_view contents;
  std::string error_after_path;  // the error line is "Invalid settings in <path>" + this
};

TEST_F(SettingsFile, BadFileFailsWithOneLineAndTouchesNothing) {
  const FailureCase cases[] = {
      {"empty file", "",
       ": value 1 (interface) is missing; the file holds 0 values, at least 2 "
       "are needed.\n"},
      {"only a header and the interface", "[Settings]\ninterface=USB\n",
       ": value 2 (devicenum) is missing; the file holds 1 value, at least 2 are needed.\n"},
      {"ethernet with three values", "interface=ETH\ndevicenum=0\nip=10.0.0.7\n",
       ": value 4 (port) is missing; value 1 \"ETH\" selects Ethernet, which needs 5 values, the "
       "file holds 3.\n"},
      {"ethernet with four values, blanks kept in the quote",
       "interface = NETH\ndevicenum=0\nip=10.0.0.7\nport=1\n",
       ": value 5 (timeout) is missing; value 1 \" NETH\" selects Ethernet, which needs 5 values, "
       "the file holds 4.\n"},
      {"device number without digits, line counted with skipped lines",
       "[Settings]\n\ninterface=USB\ndevicenum=x\n",
       " line 4: value 2 (devicenum) \"x\" is not a number.\n"},
      {"device number and interface swapped", "devicenum=0\ninterface=ETH\nip=1.2.3.4\nport=1\n",
       " line 2: value 2 (devicenum) \"ETH\" is not a number.\n"},
      {"port out of range", "interface=ETH\ndevicenum=0\nip=10.0.0.7\nport=2147483648\ntimeout=1\n",
       " line 4: value 4 (port) \"2147483648\" is outside the 32-bit signed range.\n"},
      {"timeout without digits in a CRLF file",
       "interface=ETH\r\ndevicenum=0\r\nip=10.0.0.7\r\nport=1\r\ntimeout= ms\r\n",
       " line 5: value 5 (timeout) \" ms\" is not a number.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    folder_.write("Settings.ini", c.contents);
    const Outcome outcome = resolve(testing::sentinel_settings());
    EXPECT_FALSE(outcome.resolved);
    EXPECT_EQ(outcome.errors, "Invalid settings in " + path() + c.error_after_path);
    EXPECT_EQ(outcome.console, "");
    testing::expect_settings(outcome.settings, testing::kSentinel);
  }
}

}  // namespace
}  // namespace zr::updater
