#include "sim/query_replies.hpp"

#include <algorithm>

#include "device/opcodes.hpp"

namespace zr::sim {

bool encode_query_reply(std::uint8_t opcode, const InstrumentConfig& config, ReadyFlags flags,
                        std::span<std::uint8_t, kReplySize> reply) {
  std::fill(reply.begin(), reply.end(), 0);
  std::uint8_t* r = reply.data();
  switch (opcode) {
    case kOpQueryReady:
      r[0] = flags.iq_cal_loaded ? 1 : 0;
      r[1] = flags.mcu_ready ? 1 : 0;
      r[2] = flags.rf_cal_loaded ? 1 : 0;
      return true;
    case kOpQueryIdentity: {
      const InstrumentIdentity& id = config.identity;
      store_u64(r + 0, id.uid_low);
      store_u16(r + 8, id.model);
      store_u16(r + 10, id.info_word);
      store_u32(r + 12, id.mcu_version);
      store_u32(r + 16, id.fpga_version);
      store_u32(r + 50, id.aux1);
      store_u32(r + 54, id.aux2);
      store_u32(r + 58, id.aux3);
      store_u32(r + 76, id.uid_high);
      return true;
    }
    case kOpQueryTemperature:
      store_u16(r + 0, static_cast<std::uint16_t>(config.temperature_raw));
      return true;
    case kOpQueryGnss: {
      const GnssReading& gnss = config.gnss;
      store_f32(r + 0, gnss.value1);
      store_f32(r + 4, gnss.value2);
      r[34] = static_cast<std::uint8_t>(gnss.fix << 1);
      store_u16(r + 36, gnss.value3);
      r[42] = gnss.b1;
      r[43] = gnss.b3;
      r[44] = gnss.b4;
      r[45] = gnss.b2;
      store_u64(r + 64, gnss.datetime);
      store_u32(r + 72, gnss.counter);
      return true;
    }
    case kOpQueryClockMonitor:
      store_u64(r + 0, config.clock_monitor.count);
      store_u16(r + 8, config.clock_monitor.edges);
      return true;
    case kOpQuerySupply:
      std::copy(config.supply.begin(), config.supply.end(), r);
      return true;
    case kOpQueryClock:
      r[0] = config.clock.source;
      store_f64(r + 2, config.clock.frequency);
      r[10] = config.clock.output;
      return true;
    default:
      return false;
  }
}

}  // namespace zr::sim
