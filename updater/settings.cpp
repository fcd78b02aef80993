#include "updater/settings.hpp"

#include <functional>

#include "platform/console.hpp"
#include "updater/settings_convert.hpp"
#include "updater/settings_file.hpp"
#include "updater/settings_text.hpp"

namespace zr::updater {
namespace {

// Command-line keys, in the order of the Settings.ini positions.
enum Position : std::size_t { kInterface, kDeviceNum, kIp, kPort, kTimeout, kPositionCount };
constexpr std::array<std::string_view, kPositionCount> kKeys = {"interface", "devicenum", "ip",
                                                                "port", "timeout"};
constexpr std::size_t kUsbValueCount = kDeviceNum + 1;
constexpr std::size_t kEthValueCount = kPositionCount;

using Texts = std::array<std::string_view, kPositionCount>;
// The start of an error line about one value, up to its quoted text.
using Describe = std::function<std::string(Position)>;

bool selects_ethernet(std::string_view interface) {
  return interface.find("ETH") != interface.npos;
}
bool selects_usb(std::string_view interface) { return interface.find("USB") != interface.npos; }

std::optional<std::int32_t> convert_or_report(const Texts& texts, Position position,
                                              const Describe& describe, std::ostream& errors) {
  const IntConversion converted = convert_int(texts[position]);
  if (converted.error == ConversionError::kNone) return converted.value;
  errors << describe(position) << '"' << texts[position] << '"'
         << (converted.error == ConversionError::kNoDigits ? text::kNotANumber : text::kOutOfRange)
         << '\n';
  return std::nullopt;
}

// Shared by both sources once they are known to hold every value the interface needs.
bool apply(const Texts& texts, const Describe& describe, ResolvedSettings& settings,
           std::ostream& errors) {
  ResolvedSettings result = settings;
  const auto device_number = convert_or_report(texts, kDeviceNum, describe, errors);
  if (!device_number) return false;
  result.device_number = static_cast<std::uint8_t>(*device_number);

  if (selects_ethernet(texts[kInterface])) {
    const auto port = convert_or_report(texts, kPort, describe, errors);
    if (!port) return false;
    const auto timeout = convert_or_report(texts, kTimeout, describe, errors);
    if (!timeout) return false;
    result.params.interface = ZR_INTERFACE_ETH;
    result.params.port = static_cast<std::uint16_t>(*port);
    result.params.timeout_ms = static_cast<std::uint32_t>(*timeout);
    convert_address(texts[kIp], std::span<std::uint8_t, 4>(result.params.address, 4));
  } else if (selects_usb(texts[kInterface])) {
    result.params.interface = ZR_INTERFACE_USB;
  }
  result.settings_given = true;
  settings = result;
  return true;
}

std::string value_name(Position position) {
  return std::string(text::kValue) + std::to_string(position + 1) + " (" +
         std::string(kKeys[position]) + ")";
}

void report_missing(const std::string& path, const std::vector<SettingsFileValue>& values,
                    std::size_t needed, std::ostream& errors) {
  const auto first_missing = static_cast<Position>(values.size());
  errors << text::kInFile << path << ": " << value_name(first_missing) << text::kIsMissing;
  if (needed == kEthValueCount) {
    errors << text::kValue << 1 << " \"" << values[kInterface].text << '"' << text::kSelectsEthernet
           << text::kFileHolds << values.size() << ".\n";
  } else {
    errors << text::kFileHolds << values.size() << (values.size() == 1 ? " value" : " values")
           << text::kAtLeastTwo << '\n';
  }
}

bool resolve_from_file(const std::string& folder, ResolvedSettings& settings,
                       std::ostream& errors) {
  // Without a known program folder a relative name would find some other Settings.ini.
  const std::string path =
      folder.empty() ? std::string() : join_path(folder, std::string(text::kSettingsFileName));
  const auto values = path.empty() ? std::nullopt : read_settings_file(path);
  if (!values) {
    console() << text::kNoSettingsFile << "\n\n";
    return true;
  }

  std::size_t needed = kUsbValueCount;
  if (values->size() >= 1 && selects_ethernet((*values)[kInterface].text)) needed = kEthValueCount;
  if (values->size() < needed) {
    report_missing(path, *values, needed, errors);
    return false;
  }

  Texts texts{};
  for (std::size_t position = 0; position < kPositionCount && position < values->size();
       ++position) {
    texts[position] = (*values)[position].text;
  }
  const Describe describe = [&](Position position) {
    return std::string(text::kInFile) + path + std::string(text::kLine) +
           std::to_string((*values)[position].line) + ": " + value_name(position) + " ";
  };
  return apply(texts, describe, settings, errors);
}

}  // namespace

ConnectionParams default_connection_params() {
  ConnectionParams params{};
  params.interface = ZR_INTERFACE_USB;
  params.address_family = 0;
  params.address[0] = 192;
  params.address[1] = 168;
  params.address[2] = 1;
  params.address[3] = 100;
  params.port = 5000;
  params.reserved = 0;
  params.timeout_ms = 10000;
  return params;
}

void ConnectionSettings::settings_assign(std::string_view key, std::string_view value) {
  for (std::size_t position = 0; position < kPositionCount; ++position) {
    if (key == kKeys[position]) values_[position] = std::string(value);
  }
}

bool ConnectionSettings::complete() const {
  for (const auto& value : values_) {
    if (!value) return false;
  }
  return true;
}

bool ConnectionSettings::settings_resolve(ResolvedSettings& settings, const std::string& folder,
                                          std::ostream& errors) const {
  if (!complete()) return resolve_from_file(folder, settings, errors);

  Texts texts{};
  for (std::size_t position = 0; position < kPositionCount; ++position) {
    texts[position] = *values_[position];
  }
  const Describe describe = [](Position position) {
    return std::string(text::kOnCommandLine) + std::string(kKeys[position]) + " ";
  };
  return apply(texts, describe, settings, errors);
}

}  // namespace zr::updater
