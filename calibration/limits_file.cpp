#include "calibration/limits_file.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "calibration/cal_folder.hpp"

namespace zr {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

constexpr int kLineBufferSize = 256;  // lines longer than 255 characters are read in pieces
constexpr std::size_t kPartSize = 128;

// Strips ' ' (not tabs) from both ends; the last pass never removes the first character.
char* trim_spaces(char* text) {
  while (*text == ' ') ++text;
  std::size_t length = std::strlen(text);
  while (length > 1 && text[length - 1] == ' ') text[--length] = '\0';
  return text;
}

}  // namespace

std::int32_t ini_get(const char* section, const char* key, std::span<char, kIniValueSize> value) {
  const std::string header = std::string("[") + section + "]";
  std::unique_ptr<std::FILE, FileCloser> file(
      std::fopen(cal_file_path(0, CalFileKind::Limits, 0).c_str(), "r"));
  if (!file) return kIniNoFile;

  char line[kLineBufferSize];
  bool in_section = false;
  while (std::fgets(line, sizeof line, file.get()) != nullptr) {
    line[std::strcspn(line, "\r\n")] = '\0';
    if (line[0] == '\0' || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      in_section = header == line;
      continue;
    }
    if (!in_section) continue;
    char raw_key[kPartSize];
    char raw_value[kPartSize];
    if (std::sscanf(line, "%127[^=]=%127[^\n]", raw_key, raw_value) != 2) continue;
    if (std::strcmp(trim_spaces(raw_key), key) != 0) continue;
    const char* found = trim_spaces(raw_value);
    const std::size_t length = std::min(std::strlen(found), value.size() - 1);
    std::memcpy(value.data(), found, length);
    value[length] = '\0';
    return kIniFound;
  }
  return kIniNotFound;
}

}  // namespace zr
