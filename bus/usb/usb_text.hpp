#pragma once
// The texts the USB access layer and its drivers put on standard error.
#include <string_view>

namespace zr::usb {

inline constexpr std::string_view kBadConfigTitle = "Wrong Device Configuration";
inline constexpr std::string_view kBadConfigText = "Please correct firmware descriptor table";
inline constexpr std::string_view kBadBosTitle = "Wrong BOS Descriptor";
inline constexpr std::string_view kBadBosText = "Please correct firmware BOS descriptor table";
inline constexpr std::string_view kCloseFailedText = "Failed to close handle to driver.";
// Followed by the device's path and IDs.
inline constexpr std::string_view kNotPermittedText =
    "USB instrument present but not permitted (install the udev rules, see README): ";

}  // namespace zr::usb
