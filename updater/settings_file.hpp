#pragma once
// Reading Settings.ini: its values count by position, keys are not looked at.
#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace zr::updater {

struct SettingsFileValue {
  std::string text;  // after the first '=' up to the end of the line, blanks included
  std::size_t line;  // 1-based line number, for error messages
};

// One value per line that holds '=', in file order; other lines are skipped. A line ending in
// CRLF ends before the CR, as text-mode reading of such a file has always given.
std::vector<SettingsFileValue> read_settings_values(std::istream& in);

// Nothing when the file cannot be opened as a regular readable file (missing, a folder, ...).
std::optional<std::vector<SettingsFileValue>> read_settings_file(const std::string& path);

}  // namespace zr::updater
