#include "device/query_reply.hpp"

#include <algorithm>

#include "device/opcodes.hpp"

namespace zr {

void decode_reply(std::uint8_t opcode, std::span<const std::uint8_t, kReplySize> reply,
                  DeviceStatus& status) {
  const std::uint8_t* r = reply.data();
  switch (opcode) {
    case kOpQueryReady:
      status.iq_cal_loaded = r[0];
      status.mcu_ready = r[1];
      status.rf_cal_loaded = r[2];
      break;
    case kOpQueryIdentity:
      status.uid_low = load_u64(r + 0);
      status.model = load_u16(r + 8);
      status.info_word = load_u16(r + 10);
      status.mcu_version = load_u32(r + 12);
      status.fpga_version = load_u32(r + 16);
      status.aux1 = load_u32(r + 50);
      status.aux2 = load_u32(r + 54);
      status.aux3 = load_u32(r + 58);
      status.uid_high = load_u32(r + 76);
      break;
    case kOpQueryTemperature:
      status.temperature_raw = load_i16(r + 0);
      break;
    case kOpQueryGnss:
      status.gnss_value1 = load_f32(r + 0);
      status.gnss_value2 = load_f32(r + 4);
      status.gnss_fix = static_cast<std::uint8_t>(r[34] >> 1);
      status.gnss_value3 = static_cast<float>(load_u16(r + 36));
      status.gnss_b1 = r[42];
      status.gnss_b3 = r[43];
      status.gnss_b4 = r[44];
      status.gnss_b2 = r[45];
      status.gnss_datetime = load_u64(r + 64);
      status.gnss_counter = load_u32(r + 72);
      break;
    case kOpQueryClockMonitor:
      status.monitor_count = load_u64(r + 0);
      status.monitor_edges = load_u16(r + 8);
      break;
    case kOpQuerySupply:
      std::copy_n(r, status.supply.size(), status.supply.begin());
      break;
    case kOpQueryClock:
      status.clock_source = r[0];
      status.clock_frequency = load_f64(r + 2);
      status.clock_output = r[10];
      break;
    default:
      break;
  }
}

}  // namespace zr
