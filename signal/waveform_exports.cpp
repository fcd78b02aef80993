// The exported waveform memory and streaming calls: thin shims over waveform_calls.
#include "signal/export_shim.hpp"
#include "signal/waveform_calls.hpp"

using zr::DeviceContext;
using zr::with_context;

extern "C" ZR_API int32_t tx_clear_waveform(DeviceContext** device) {
  return with_context(device, [&](DeviceContext& c) { return zr::tx_clear_waveform(c); });
}

extern "C" ZR_API int32_t tx_download_waveform(DeviceContext** device, const int16_t* samples,
                                               size_t count, uint16_t* segment) {
  return with_context(device, [&](DeviceContext& c) {
    return zr::tx_download_waveform(c, samples, count, segment);
  });
}

extern "C" ZR_API int32_t tx_send_stream(ChannelHandle* channels, const int16_t* samples,
                                         size_t count) {
  return with_context(channels,
                      [&](DeviceContext& c) { return zr::tx_send_stream(c, samples, count); });
}

extern "C" ZR_API int32_t tx_config_stream(ChannelHandle* channels, double rate) {
  return with_context(channels,
                      [&](DeviceContext& c) { return zr::tx_config_stream(c, channels, rate); });
}

extern "C" ZR_API int32_t tx_config_playback(ChannelHandle* channels, const uint16_t* segments,
                                             const uint32_t* repeats, const double* values,
                                             int16_t count) {
  return with_context(channels, [&](DeviceContext& c) {
    return zr::tx_config_playback(c, channels, segments, repeats, values, count);
  });
}
