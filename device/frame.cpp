// The plain frame primitives: send a command, send a query and decode its reply.
#include <array>

#include "device/device_context.hpp"
#include "device/frame_checksum.hpp"
#include "device/gnss_time.hpp"
#include "device/opcodes.hpp"
#include "device/query_reply.hpp"

namespace zr {
namespace {

constexpr std::uint32_t kQueryTimeoutMs = 1000;

}  // namespace

bool DeviceContext::write_sealed(CommandFrame& frame) {
  seal_frame(frame);
  if (!bus) return false;
  // The bus gets a copy: it may not keep or change the caller's frame.
  std::array<std::uint8_t, kFrameSize> copy = frame.bytes;
  std::uint32_t length = kFrameSize;
  return bus->write(copy.data(), &length) == ZR_OK;
}

std::int32_t DeviceContext::send_frame(CommandFrame& frame) {
  const std::int32_t mirrored = mirror_frame(frame);
  if (!write_sealed(frame)) return ZR_TRANSPORT_FAILED;
  return mirrored;
}

std::int32_t DeviceContext::query_frame(std::uint8_t opcode, DeviceStatus& status) {
  CommandFrame frame(opcode);
  seal_frame(frame);
  status.opcode = opcode;
  if (!bus) return ZR_TRANSPORT_FAILED;

  std::array<std::uint8_t, kReplySize> reply{};
  std::uint32_t out_length = kFrameSize;
  std::uint32_t in_length = kReplySize;
  if (bus->query(frame.data(), &out_length, reply.data(), &in_length, kQueryTimeoutMs) != ZR_OK) {
    return ZR_TRANSPORT_FAILED;
  }
  decode_reply(opcode, reply, status);
  if (opcode == kOpQueryIdentity) {
    identity = {status.model,     status.uid_low,     status.uid_high,
                status.info_word, status.mcu_version, status.fpga_version,
                status.aux1,      status.aux2,        status.aux3};
  } else if (opcode == kOpQueryGnss) {
    if (!gnss_time) gnss_time = std::make_unique<GnssTime>();
    status.gnss_epoch_ns =
        compute_gnss_epoch_ns(*gnss_time, status.gnss_datetime, status.gnss_counter);
  }
  return ZR_OK;
}

}  // namespace zr
