#include "bus/usb/instrument_ids.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>

#include "platform/paths.hpp"

namespace zr::usb {
namespace {

constexpr std::size_t kMaxIdFileBytes = std::size_t{64} * 1024;

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool parse_hex16(std::string_view text, std::uint16_t& value) {
  if (text.empty() || text.size() > 4) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return error == std::errc() && end == text.data() + text.size();
}

void append_file(const std::string& path, std::vector<UsbId>& ids) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return;
  std::string text(kMaxIdFileBytes, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  for (const UsbId& id : parse_instrument_ids(text)) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
}

}  // namespace

std::vector<UsbId> builtin_instrument_ids() { return {kSimulatedInstrumentId}; }

std::vector<UsbId> parse_instrument_ids(std::string_view text) {
  std::vector<UsbId> ids;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    line = trim(line.substr(0, line.find('#')));
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    UsbId id;
    if (parse_hex16(trim(line.substr(0, colon)), id.vendor) &&
        parse_hex16(trim(line.substr(colon + 1)), id.product)) {
      ids.push_back(id);
    }
  }
  return ids;
}

std::vector<UsbId> load_instrument_ids() {
  std::vector<UsbId> ids = builtin_instrument_ids();
  append_file(std::string(kSystemIdFile), ids);
  append_file(join_path(module_dir(), std::string(kLibraryIdFileName)), ids);
  return ids;
}

}  // namespace zr::usb
