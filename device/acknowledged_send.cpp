// Calibration transfers: frames the MCU must confirm through the mcu_ready flag of query 0x16.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "device/device_context.hpp"
#include "device/device_text.hpp"
#include "device/opcodes.hpp"
#include "platform/clock.hpp"
#include "platform/console.hpp"

namespace zr {
namespace {

using namespace std::chrono_literals;

constexpr int kAckAttempts = 11;
constexpr auto kAckWindow = 1s;
constexpr auto kPollFailureBackoff = 5ms;

constexpr std::size_t kSequenceOffset = 8;
constexpr std::size_t kChunkOffset = 10;
constexpr std::size_t kChunkSize = 238;  // payload bytes 10..247
// The sequence field is 16 bits wide; more chunks would repeat sequence numbers.
constexpr std::size_t kMaxChunks = 65536;

}  // namespace

std::int32_t DeviceContext::send_acknowledged(CommandFrame& frame) {
  for (int attempt = 0; attempt < kAckAttempts; ++attempt) {
    if (mirror_frame(frame) != ZR_OK) return ZR_TRANSPORT_FAILED;
    if (!write_sealed(frame)) return ZR_TRANSPORT_FAILED;
    const SteadyTime written = steady_now();
    for (;;) {
      DeviceStatus ready{};
      if (query_frame(kOpQueryReady, ready) != ZR_OK) {
        sleep_for(kPollFailureBackoff);
        console() << kMcuNotResponding << std::endl;
        break;
      }
      if (ready.mcu_ready == 1) return ZR_OK;
      if (steady_now() - written >= kAckWindow) break;
    }
  }
  return ZR_TRANSPORT_FAILED;
}

std::int32_t DeviceContext::send_chunked(CommandFrame& frame, std::span<const std::uint8_t> data) {
  const std::size_t chunks = (data.size() + kChunkSize - 1) / kChunkSize;
  if (chunks > kMaxChunks) return ZR_TRANSPORT_FAILED;
  for (std::size_t k = 0; k < chunks; ++k) {
    set_frame_u16(frame, kSequenceOffset, static_cast<std::uint16_t>(k));
    std::uint8_t* payload = field(frame, kChunkOffset, kChunkSize);
    std::memset(payload, 0, kChunkSize);
    const auto piece =
        data.subspan(k * kChunkSize, std::min(kChunkSize, data.size() - k * kChunkSize));
    std::copy(piece.begin(), piece.end(), payload);
    if (send_acknowledged(frame) != ZR_OK) return ZR_TRANSPORT_FAILED;
  }
  return ZR_OK;
}

}  // namespace zr
