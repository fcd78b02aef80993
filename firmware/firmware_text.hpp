#pragma once
// Console texts of the firmware updates, exactly as the user sees them.
#include <string_view>

namespace zr {

// FPGA remote update.
inline constexpr std::string_view kFpgaReadyText = "Ready to update FPGA firmware, please wait...\n";
inline constexpr std::string_view kFpgaSizePrefix = "Image Size to Update is: ";
inline constexpr std::string_view kFpgaSizeSuffix = " Bytes...\n";
inline constexpr std::string_view kFpgaCountPrefix = "Image Packets Count is: ";
inline constexpr std::string_view kFpgaCountSuffix = " Packets...\n";
inline constexpr std::string_view kFpgaBeginText = "Begin RemoteUpdating...\n";
inline constexpr std::string_view kFpgaInProgressText =
    "Application 1 Hardware upgrade in progress...\n";
inline constexpr std::string_view kFpgaEraseText = "Erase Flash, please wait...\n";
inline constexpr std::string_view kFpgaEraseDoneText = "Erase completed!\n";
inline constexpr std::string_view kFpgaDownloadingText = "Firmware Downloading...";
inline constexpr std::string_view kFpgaUnresponsiveText =
    "remote update server is unresponsive. Please restart the hardware and try again!...\n";
inline constexpr std::string_view kFpgaEraseFailedText =
    "failed to erase the flash. Please restart the hardware and try again!...\n";
inline constexpr std::string_view kFpgaBusErrorText =
    "Bus Error!. Please restart the hardware and try again!...\n";

// MCU update.
inline constexpr std::string_view kMcuReadyText = "Ready to update MCU firmware, please wait...\n";
inline constexpr std::string_view kMcuEraseText = "Erase flash, please wait...\n";
inline constexpr std::string_view kMcuEraseDoneText = "Flash erase complete...\n";
inline constexpr std::string_view kMcuUpdatingText = "Updating MCU Firmware...";

// Percentage field rewritten in place: seven backspaces erase the previous "%6.2f%%".
inline constexpr std::string_view kProgressErase = "\b\b\b\b\b\b\b";

// Bus firmware update: the line is rewritten with a carriage return.
inline constexpr std::string_view kBusProgressPrefix = "\rUpdating BUS Firmware... ";
inline constexpr std::string_view kBusProgressSuffix = "%  ";

inline constexpr std::string_view kLineEnd = "\n";

}  // namespace zr
