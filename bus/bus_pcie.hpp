#pragma once
// The PCIe placeholder: every operation succeeds without moving data, so that callers can be
// exercised without an instrument.
#include "bus/abus.hpp"

namespace zr {

class bus_pcie final : public abus {
 public:
  explicit bus_pcie(std::uint32_t device_index) : abus(device_index) {}

  std::int32_t list_devices(void*, std::uint32_t, std::uint32_t*) override { return ZR_OK; }
  std::int32_t open() override { return ZR_OK; }
  std::int32_t close() override { return ZR_OK; }
  std::int32_t set_timeout(std::uint32_t) override { return ZR_OK; }
  std::int32_t write(const std::uint8_t*, std::uint32_t*) override { return ZR_OK; }
  std::int32_t query(const std::uint8_t*, std::uint32_t*, std::uint8_t*, std::uint32_t*,
                     std::uint32_t) override {
    return ZR_OK;
  }
  std::int32_t read(std::uint8_t*, std::uint32_t*) override { return ZR_OK; }
  std::int32_t stream_write(const std::uint8_t*, std::uint32_t*) override { return ZR_OK; }
  std::int32_t stream_read(std::uint8_t*, std::uint32_t*) override { return ZR_OK; }
  std::int32_t notify_device() override { return ZR_OK; }
  std::int32_t stream_stop() override { return ZR_OK; }
  std::int32_t write_identity(const std::uint8_t*, std::uint32_t) override { return ZR_OK; }
  std::int32_t reserved_13() override { return ZR_OK; }
  std::int32_t reserved_14() override { return ZR_OK; }
  std::int32_t write_bus_firmware(const std::uint8_t*, std::uint32_t) override { return ZR_OK; }
  std::int32_t read_block(std::uint8_t*, std::uint32_t) override { return ZR_OK; }
  std::int32_t reserved_17() override { return ZR_OK; }
  std::int32_t read_bus_info() override { return ZR_OK; }
};

}  // namespace zr
