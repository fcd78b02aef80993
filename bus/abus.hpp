#pragma once
// The transport interface: every byte the library sends to an instrument goes through one abus.
// The order of the virtual operations is part of the protocol (the Ethernet bus numbers its
// requests by it), so keep it as it is.
#include <array>
#include <cstdint>

#include "zr_api.h"

namespace zr {

// What every bus knows about the connected instrument; open() fills it.
struct BusInfo {
  std::uint32_t firmware_version =
      0;  // bus controller firmware, major.minor.patch = 31..16/15..8/7..0
  std::uint32_t link_kind = 0;
  std::uint32_t link_bandwidth = 0;  // MB/s
  std::uint32_t transfer_timeout_ms = 0;
  std::uint32_t timeout2_ms = 0;
  std::uint32_t timeout3_ms = 0;
  std::array<std::uint8_t, 256> identity_text{};  // 0..29 product, 30..59 serial, 60..89 maker
  std::uint16_t device_release = 0;
};

// Bandwidth for a link kind: 2 is a 480 Mbit/s link, everything else 5 Gbit/s.
constexpr std::uint32_t link_bandwidth_for(std::uint32_t link_kind) {
  return link_kind == 2 ? 60u : 625u;
}

// Lengths passed by pointer are in/out: on entry the length to send or the room available, on
// return the number of bytes moved. Every operation returns a bus status (ZR_OK on success).
class abus {
 public:
  explicit abus(std::uint32_t device_index) : device_index_(device_index) {}
  virtual ~abus() = default;  // 0
  abus(const abus&) = delete;
  abus& operator=(const abus&) = delete;

  // 1. Fills the caller's array. room_bytes bounds what may be written; count is the number of
  // entries (USB) or of bytes (Ethernet).
  virtual std::int32_t list_devices(void* entries, std::uint32_t room_bytes,
                                    std::uint32_t* count) = 0;
  virtual std::int32_t open() = 0;                                                  // 2
  virtual std::int32_t close() = 0;                                                 // 3
  virtual std::int32_t set_timeout(std::uint32_t milliseconds) = 0;                 // 4
  virtual std::int32_t write(const std::uint8_t* data, std::uint32_t* length) = 0;  // 5
  virtual std::int32_t query(const std::uint8_t* out, std::uint32_t* out_length, std::uint8_t* in,
                             std::uint32_t* in_length,
                             std::uint32_t timeout_ms) = 0;                                // 6
  virtual std::int32_t read(std::uint8_t* data, std::uint32_t* length) = 0;                // 7
  virtual std::int32_t stream_write(const std::uint8_t* data, std::uint32_t* length) = 0;  // 8
  virtual std::int32_t stream_read(std::uint8_t* data, std::uint32_t* length) = 0;         // 9
  virtual std::int32_t notify_device() = 0;                                                // 10
  virtual std::int32_t stream_stop() = 0;                                                  // 11
  // 12. Only the low byte of length counts: the identity record is at most 255 bytes.
  virtual std::int32_t write_identity(const std::uint8_t* data, std::uint32_t length) = 0;
  virtual std::int32_t reserved_13() = 0;  // 13
  virtual std::int32_t reserved_14() = 0;  // 14
  virtual std::int32_t write_bus_firmware(const std::uint8_t* image,
                                          std::uint32_t length) = 0;              // 15
  virtual std::int32_t read_block(std::uint8_t* data, std::uint32_t length) = 0;  // 16
  virtual std::int32_t reserved_17() = 0;                                         // 17
  virtual std::int32_t read_bus_info() = 0;                                       // 18

  const BusInfo& info() const { return info_; }
  std::uint32_t device_index() const { return device_index_; }

 protected:
  BusInfo info_;
  std::uint32_t device_index_;
};

}  // namespace zr
