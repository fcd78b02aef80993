#include "firmware/firmware_update.hpp"

namespace zr {
namespace {
constexpr std::uint8_t kRefusedInterface = 2;  // the Ethernet open's other protocol byte
constexpr std::int32_t kMinEthTimeoutMs = 25000;
}  // namespace

FirmwareConnection firmware_connection(const ConnectionParams& params, std::uint8_t device_number,
                                       bool raise_timeout) {
  FirmwareConnection result{params, device_number};
  if (params.interface == ZR_INTERFACE_ETH || params.interface == kRefusedInterface) {
    result.device_number = 0;
    // Erasing an MCU's flash takes longer than the usual reply time-out. The comparison is
    // signed, so a value with the top bit set counts as below the minimum.
    if (raise_timeout && static_cast<std::int32_t>(params.timeout_ms) < kMinEthTimeoutMs) {
      result.params.timeout_ms = static_cast<std::uint32_t>(kMinEthTimeoutMs);
    }
  }
  return result;
}

}  // namespace zr
