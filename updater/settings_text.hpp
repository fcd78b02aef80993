#pragma once
// Texts the connection settings print: the console notice and the pieces of the error line.
#include <string_view>

namespace zr::updater::text {

inline constexpr std::string_view kSettingsFileName = "Settings.ini";

// On the console, followed by an empty line, when Settings.ini cannot be opened.
inline constexpr std::string_view kNoSettingsFile =
    "Please note that there is currently no Settings.ini file, so please do not update multiple "
    "devices simultaneously.";

// One error line on standard error:
//   Invalid settings on the command line: port "abc" is not a number.
//   Invalid settings in /opt/u/Settings.ini line 3: value 2 (devicenum) "x" is not a number.
//   Invalid settings in /opt/u/Settings.ini: value 4 (port) is missing; value 1 "ETH" selects
//   Ethernet, which needs 5 values, the file holds 3.
inline constexpr std::string_view kOnCommandLine = "Invalid settings on the command line: ";
inline constexpr std::string_view kInFile = "Invalid settings in ";
inline constexpr std::string_view kLine = " line ";
inline constexpr std::string_view kValue = "value ";
inline constexpr std::string_view kNotANumber = " is not a number.";
inline constexpr std::string_view kOutOfRange = " is outside the 32-bit signed range.";
inline constexpr std::string_view kIsMissing = " is missing; ";
inline constexpr std::string_view kSelectsEthernet = " selects Ethernet, which needs 5 values, ";
inline constexpr std::string_view kFileHolds = "the file holds ";
inline constexpr std::string_view kAtLeastTwo = ", at least 2 are needed.";

}  // namespace zr::updater::text
