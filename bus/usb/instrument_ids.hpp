#pragma once
// The USB IDs by which the libusb driver recognises instruments (the first device class). The
// built-in table holds only the simulator's made-up IDs; real ones are added, one "vvvv:pppp" per
// line, in /etc/zr-instruments/usb-ids.conf or in usb-ids.conf beside libzr_api.so.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zr::usb {

struct UsbId {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  friend bool operator==(const UsbId&, const UsbId&) = default;
};

// The instrument's bus controller: every device of this vendor belongs to the second class.
inline constexpr std::uint16_t kBusControllerVendor = 0x04B4;
inline constexpr std::uint16_t kBusControllerProduct = 0x00F0;

// Made-up IDs of the simulated instrument; no real device uses them.
inline constexpr UsbId kSimulatedInstrumentId{0x5A52, 0x0001};

inline constexpr std::string_view kSystemIdFile = "/etc/zr-instruments/usb-ids.conf";
inline constexpr std::string_view kLibraryIdFileName = "usb-ids.conf";

std::vector<UsbId> builtin_instrument_ids();
// Lines "vvvv:pppp" in hexadecimal; '#' starts a comment; blank and malformed lines are skipped.
std::vector<UsbId> parse_instrument_ids(std::string_view text);
// The built-in table followed by both files, where present.
std::vector<UsbId> load_instrument_ids();

}  // namespace zr::usb
