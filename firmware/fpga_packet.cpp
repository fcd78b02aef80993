#include "firmware/fpga_packet.hpp"

#include <algorithm>
#include <cassert>

namespace zr {
namespace {

FpgaPacket control_packet(std::uint8_t code) {
  FpgaPacket packet;
  packet.fill(kFpgaPad);
  packet[0] = kFpgaControlMarker;
  packet[1] = kFpgaControlTag;
  packet[2] = code;
  return packet;
}

}  // namespace

FpgaPacket fpga_start_packet() { return control_packet(kFpgaStartCode); }

FpgaPacket fpga_finish_packet() { return control_packet(kFpgaFinishCode); }

FpgaPacket fpga_commit_packet(std::uint8_t payload_length) {
  return control_packet(payload_length);
}

FpgaPacket fpga_data_packet(std::span<const std::uint8_t> payload) {
  assert(!payload.empty() && payload.size() <= kFpgaPayloadSize);
  FpgaPacket packet;
  packet.fill(kFpgaPad);
  packet[0] = kFpgaDataMarker;
  packet[1] = static_cast<std::uint8_t>(payload.size());
  std::copy(payload.begin(), payload.end(), packet.begin() + kFpgaPayloadOffset);
  return packet;
}

}  // namespace zr
