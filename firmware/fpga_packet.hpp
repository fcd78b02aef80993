#pragma once
// Packets of the FPGA remote-update service: raw 256-byte blocks padded with 0xFF, no checksum.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zr {

inline constexpr std::size_t kFpgaPacketSize = 256;
inline constexpr std::size_t kFpgaPayloadSize = 197;
inline constexpr std::size_t kFpgaPayloadOffset = 2;
inline constexpr std::uint8_t kFpgaPad = 0xFF;
inline constexpr std::uint8_t kFpgaDataMarker = 0xFE;
inline constexpr std::uint8_t kFpgaControlMarker = 0xFF;  // byte 0 of start, commit and finish
inline constexpr std::uint8_t kFpgaControlTag = 0x01;     // byte 1 of start, commit and finish
inline constexpr std::uint8_t kFpgaStartCode = 0x01;
inline constexpr std::uint8_t kFpgaFinishCode = 0x05;

// Answers of the service, single bytes.
inline constexpr std::uint8_t kFpgaStartAck = 0x01;
inline constexpr std::uint8_t kFpgaEraseDone = 0x55;

using FpgaPacket = std::array<std::uint8_t, kFpgaPacketSize>;

FpgaPacket fpga_start_packet();
FpgaPacket fpga_finish_packet();
// Confirms the data packet just sent; the service echoes payload_length.
FpgaPacket fpga_commit_packet(std::uint8_t payload_length);
// payload holds 1 to kFpgaPayloadSize bytes.
FpgaPacket fpga_data_packet(std::span<const std::uint8_t> payload);

}  // namespace zr
