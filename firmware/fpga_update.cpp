// The FPGA remote update: start, erase wait, the image in data and commit packets, finish.
#include <algorithm>
#include <optional>
#include <ostream>
#include <span>
#include <string>

#include "firmware/firmware_text.hpp"
#include "firmware/firmware_update.hpp"
#include "firmware/fpga_image.hpp"
#include "firmware/fpga_packet.hpp"
#include "firmware/progress_text.hpp"
#include "platform/console.hpp"

namespace zr {
namespace {

// Always the whole flash, whatever the image length.
constexpr std::size_t kFpgaPacketCount = (kFlashImageSize + kFpgaPayloadSize - 1) / kFpgaPayloadSize;
static_assert(kFpgaPacketCount == 19961);
constexpr int kStartAckReads = 20;
constexpr int kEraseReads = 300;
constexpr int kCommitEchoReads = 10;
// The field changes every packet; pushing it to the terminal every packet would cost a system
// call per packet for no visible gain.
constexpr std::size_t kPacketsPerFlush = 64;

bool write_packet(abus& bus, const FpgaPacket& packet) {
  FpgaPacket copy = packet;  // the bus may not keep or change our packet
  std::uint32_t length = kFpgaPacketSize;
  return bus.write(copy.data(), &length) == ZR_OK;
}

struct ByteRead {
  std::int32_t status = ZR_OK;
  std::optional<std::uint8_t> byte;  // empty when the read moved nothing
};

ByteRead read_byte(abus& bus) {
  std::uint8_t byte = 0;
  std::uint32_t length = 1;
  ByteRead result;
  result.status = bus.read(&byte, &length);
  if (length >= 1) result.byte = byte;
  return result;
}

// Reads up to max_reads single bytes and stops at the first that equals wanted; the read that
// brought it, or nothing.
std::optional<ByteRead> await_byte(abus& bus, std::uint8_t wanted, int max_reads) {
  for (int i = 0; i < max_reads; ++i) {
    ByteRead got = read_byte(bus);
    if (got.byte == wanted) return got;
  }
  return std::nullopt;
}

float packet_progress(std::size_t sent) {
  return static_cast<float>(sent * 100) / static_cast<float>(kFpgaPacketCount);
}

}  // namespace

std::int32_t update_fpga_image(DeviceContext& context, const char* path) {
  if (!context.bus) return ZR_NO_BUS;
  abus& bus = *context.bus;
  std::ostream& out = console();
  out << kFpgaReadyText << std::flush;

  FlashImage image;
  if (load_flash_image(path, image) != ZR_OK) return ZR_FW_IMAGE_UNREADABLE;

  // Numbers as text here: the console's format flags are not ours to rely on.
  out << kFpgaSizePrefix << std::to_string(image.image_length) << kFpgaSizeSuffix
      << kFpgaCountPrefix << std::to_string(kFpgaPacketCount) << kFpgaCountSuffix
      << kFpgaBeginText << std::flush;

  if (!write_packet(bus, fpga_start_packet())) {
    out << kFpgaUnresponsiveText << std::flush;
    return ZR_FW_NOT_STARTED;
  }
  const std::optional<ByteRead> started = await_byte(bus, kFpgaStartAck, kStartAckReads);
  if (!started || started->status != ZR_OK) {
    out << kFpgaUnresponsiveText << std::flush;
    return ZR_FW_NOT_STARTED;
  }

  out << kFpgaInProgressText << kFpgaEraseText << std::flush;
  if (!await_byte(bus, kFpgaEraseDone, kEraseReads)) {
    out << kFpgaEraseFailedText << std::flush;
    return ZR_FW_ERASE_FAILED;
  }

  out << kFpgaEraseDoneText << kFpgaDownloadingText << percent_field(0.0f) << std::flush;
  const std::span<const std::uint8_t> flash(image.buffer);
  for (std::size_t i = 0; i < kFpgaPacketCount; ++i) {
    const std::size_t at = i * kFpgaPayloadSize;
    const std::size_t n = std::min(kFpgaPayloadSize, flash.size() - at);
    const auto n_byte = static_cast<std::uint8_t>(n);
    if (!write_packet(bus, fpga_data_packet(flash.subspan(at, n))) ||
        !write_packet(bus, fpga_commit_packet(n_byte))) {
      out << kFpgaBusErrorText << std::flush;
      return ZR_TRANSPORT_FAILED;
    }
    // A missing echo is not an error: the packet is not repeated.
    (void)await_byte(bus, n_byte, kCommitEchoReads);
    out << kProgressErase << percent_field(packet_progress(i + 1));
    if ((i + 1) % kPacketsPerFlush == 0) out << std::flush;
  }
  out << std::flush;

  if (!write_packet(bus, fpga_finish_packet())) return ZR_FW_FINISH_FAILED;
  out << kLineEnd << std::flush;
  return ZR_OK;
}

}  // namespace zr
