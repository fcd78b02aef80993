// The exported channel calls: thin shims over channel_control and channel_queries.
#include "signal/channel_control.hpp"
#include "signal/channel_queries.hpp"
#include "signal/export_shim.hpp"

using zr::DeviceContext;
using zr::with_context;

extern "C" ZR_API int32_t channel_start(ChannelHandle* channels) {
  return with_context(channels, [&](DeviceContext& c) { return zr::channel_start(c, channels); });
}

extern "C" ZR_API int32_t channel_stop(ChannelHandle* channels) {
  return with_context(channels, [&](DeviceContext& c) { return zr::channel_stop(c, channels); });
}

extern "C" ZR_API int32_t channel_trigger_bus(ChannelHandle* channels) {
  return with_context(channels,
                      [&](DeviceContext& c) { return zr::channel_trigger_bus(c, channels); });
}

extern "C" ZR_API int32_t channel_preset(ChannelHandle* channels) {
  return with_context(channels, [&](DeviceContext& c) { return zr::channel_preset(c, channels); });
}

extern "C" ZR_API int32_t channel_config_lo_mode(ChannelHandle* channels, uint8_t mode) {
  return with_context(
      channels, [&](DeviceContext& c) { return zr::channel_config_lo_mode(c, channels, mode); });
}

extern "C" ZR_API int32_t channel_config_data_block(ChannelHandle* channels, const uint8_t* values,
                                                    int16_t count) {
  return with_context(channels, [&](DeviceContext& c) {
    return zr::channel_config_data_block(c, channels, values, count);
  });
}

extern "C" ZR_API int32_t channel_config_trigger_out(ChannelHandle* channels,
                                                     const TriggerOutput* trigger_out) {
  return with_context(channels, [&](DeviceContext& c) {
    return zr::channel_config_trigger_out(c, channels, trigger_out);
  });
}

extern "C" ZR_API int32_t channel_config_port(ChannelHandle* channels, const int16_t* values,
                                              int16_t count) {
  return with_context(channels, [&](DeviceContext& c) {
    return zr::channel_config_port(c, channels, values, count);
  });
}

extern "C" ZR_API int32_t channel_config_trigger(ChannelHandle* channels,
                                                 const TriggerConfig* trigger) {
  return with_context(
      channels, [&](DeviceContext& c) { return zr::channel_config_trigger(c, channels, trigger); });
}

extern "C" ZR_API int32_t tx_config_cw(ChannelHandle* channels) {
  return with_context(channels, [&](DeviceContext& c) { return zr::tx_config_cw(c, channels); });
}

extern "C" ZR_API int32_t tx_config_output(ChannelHandle* channels, uint8_t output_enable,
                                           uint8_t modulation_enable) {
  return with_context(channels, [&](DeviceContext& c) {
    return zr::tx_config_output(c, channels, output_enable, modulation_enable);
  });
}

extern "C" ZR_API int32_t channel_query_lo_mode(ChannelHandle* channels, uint8_t* mode) {
  return with_context(
      channels, [&](DeviceContext& c) { return zr::channel_query_lo_mode(c, channels, mode); });
}

extern "C" ZR_API int32_t channel_query_data_block(ChannelHandle* channels, uint8_t* values,
                                                   int16_t count) {
  return with_context(channels, [&](DeviceContext& c) {
    return zr::channel_query_data_block(c, channels, values, count);
  });
}

extern "C" ZR_API int32_t channel_query_trigger_out(ChannelHandle* channels,
                                                    TriggerOutput* trigger_out) {
  return with_context(channels, [&](DeviceContext& c) {
    return zr::channel_query_trigger_out(c, channels, trigger_out);
  });
}

extern "C" ZR_API int32_t channel_query_port(ChannelHandle* channels, int16_t* values,
                                             int16_t count) {
  return with_context(channels, [&](DeviceContext& c) {
    return zr::channel_query_port(c, channels, values, count);
  });
}

extern "C" ZR_API int32_t channel_query_trigger(ChannelHandle* channels, TriggerConfig* trigger) {
  return with_context(
      channels, [&](DeviceContext& c) { return zr::channel_query_trigger(c, channels, trigger); });
}

extern "C" ZR_API int32_t tx_query_output(ChannelHandle* channels, uint8_t* output_enable,
                                          uint8_t* modulation_enable) {
  return with_context(channels, [&](DeviceContext& c) {
    return zr::tx_query_output(c, channels, output_enable, modulation_enable);
  });
}
