#include "device/device_context.hpp"

#include <new>

namespace zr {

DeviceContext::DeviceContext() : channel_states(std::make_unique<ChannelStates>()) {}

DeviceContext::~DeviceContext() {
  // The order in which the parts are released is fixed: tables, GNSS record, stream, bus.
  modulation = {};
  open_tables = {};
  iq_cal = {};
  rf_cal = {};
  gnss_time.reset();
  stream.reset();
  bus.reset();
}

DeviceContext* create_device_context(DeviceContext** handle) {
  DeviceContext* context = new (std::nothrow) DeviceContext;
  if (context == nullptr) return nullptr;
  *handle = context;
  return context;
}

void destroy_device_context(DeviceContext* context) { delete context; }

std::int32_t DeviceContext::read_channel_states(const ChannelHandle* handles, std::int32_t length,
                                                std::vector<ChannelState>& states) const {
  if (length < 0 || length > channel_count || (length > 0 && handles == nullptr)) {
    return ZR_INVALID_CHANNEL;
  }
  // The first handle always reads channel 0; the caller's handle itself is left as it is.
  for (std::int32_t i = 1; i < length; ++i) {
    const std::int16_t index = handles[i].index;
    if (index < 0 || index >= channel_count) return ZR_INVALID_CHANNEL;
  }
  states.resize(static_cast<std::size_t>(length));
  for (std::int32_t i = 0; i < length; ++i) {
    const auto channel = static_cast<std::size_t>(i == 0 ? 0 : handles[i].index);
    states[static_cast<std::size_t>(i)] = live_channel(channel);
  }
  return ZR_OK;
}

}  // namespace zr
