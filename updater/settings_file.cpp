#include "updater/settings_file.hpp"

#include <filesystem>
#include <fstream>

namespace zr::updater {

std::vector<SettingsFileValue> read_settings_values(std::istream& in) {
  std::vector<SettingsFileValue> values;
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    values.push_back({line.substr(equals + 1), number});
  }
  return values;
}

std::optional<std::vector<SettingsFileValue>> read_settings_file(const std::string& path) {
  // A folder opens as a stream on this platform but reads nothing; it is no settings file.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return std::nullopt;
  std::ifstream file(path);
  if (!file.is_open()) return std::nullopt;
  return read_settings_values(file);
}

}  // namespace zr::updater
