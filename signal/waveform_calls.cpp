// Arguments are refused before the running-channel guard, so a refused call sends nothing and
// stops nothing.
#include "signal/waveform_calls.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>

#include "device/opcodes.hpp"
#include "platform/clock.hpp"
#include "signal/channel_control.hpp"
#include "signal/waveform_transfer.hpp"

namespace zr {
namespace {

// Time the instrument needs after clearing its memory, and after a download announcement
// before the first frame.
constexpr std::chrono::milliseconds kClearSettle{50};
constexpr std::chrono::milliseconds kDownloadSettle{10};

constexpr std::size_t kMinTransferSamples = 2;  // one whole 8-byte unit

constexpr std::size_t kStreamRateOffset = 16;
constexpr std::size_t kPageCountOffset = 10;
constexpr std::size_t kPageIndexOffset = 11;
constexpr std::size_t kPageEntriesOffset = 12;
constexpr std::size_t kFirstEntryOffset = 16;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kEntryRepeatOffset = 4;
constexpr std::size_t kEntryValueOffset = 8;

WaveformMemory& memory_of(DeviceContext& context) {
  if (!context.stream) context.stream = std::make_unique<WaveformMemory>();
  return *context.stream;
}

bool transferable(const std::int16_t* samples, std::size_t count) {
  return samples != nullptr && count >= kMinTransferSamples;
}

// Handles naming the device's first channel, for the calls that take a device handle. The guard's
// stop renumbers one handle per device channel, so there is room for as many as a frame lists.
using DeviceChannels = std::array<ChannelHandle, kMaxListedChannels>;
DeviceChannels first_channel() { return DeviceChannels{}; }

}  // namespace

std::int32_t tx_clear_waveform(DeviceContext& context) {
  DeviceChannels channels = first_channel();
  if (const std::int32_t status = running_channel_guard(context, channels.data());
      status != ZR_OK) {
    return status;
  }
  WaveformMemory& memory = memory_of(context);
  memory.segments.clear();
  memory.descriptor.clear();
  memory.next_free_address = 0;
  CommandFrame frame(kOpClearWaveform);
  const std::int32_t status = context.send_frame(frame);
  sleep_for(kClearSettle);
  return status;
}

std::int32_t tx_download_waveform(DeviceContext& context, const std::int16_t* samples,
                                  std::size_t count, std::uint16_t* segment) {
  if (!transferable(samples, count)) return ZR_TRANSFER_TOO_SHORT;
  if (segment == nullptr) return ZR_MISSING_BUFFER;
  DeviceChannels channels = first_channel();
  if (const std::int32_t status = running_channel_guard(context, channels.data());
      status != ZR_OK) {
    return status;
  }
  CommandFrame announcement(kOpDownloadWaveform);
  if (const std::int32_t status = context.send_frame(announcement); status != ZR_OK) {
    return status;
  }
  sleep_for(kDownloadSettle);
  return run_transfer(context, TransferMode::Download, samples, count, segment);
}

std::int32_t tx_send_stream(DeviceContext& context, const std::int16_t* samples,
                            std::size_t count) {
  if (!transferable(samples, count)) return ZR_TRANSFER_TOO_SHORT;
  return run_transfer(context, TransferMode::Stream, samples, count, nullptr);
}

std::int32_t tx_config_stream(DeviceContext& context, ChannelHandle* channels, double rate) {
  if (const std::int32_t status = running_channel_guard(context, channels); status != ZR_OK) {
    return status;
  }
  CommandFrame frame(kOpTxConfigStream);
  set_frame_i16(frame, kChannelOffset, channels[0].index);
  set_frame_f64(frame, kStreamRateOffset, rate);
  return context.send_frame(frame);
}

std::int32_t tx_config_playback(DeviceContext& context, ChannelHandle* channels,
                                const std::uint16_t* segments, const std::uint32_t* repeats,
                                const double* values, std::int16_t count) {
  if (count > ZR_MAX_PLAYBACK_ENTRIES) return ZR_PLAYBACK_TOO_LONG;
  if (count > 0 && (segments == nullptr || repeats == nullptr || values == nullptr)) {
    return ZR_MISSING_BUFFER;
  }
  if (const std::int32_t status = running_channel_guard(context, channels); status != ZR_OK) {
    return status;
  }
  const std::size_t entries = count > 0 ? static_cast<std::size_t>(count) : 0;
  const std::size_t per_page = ZR_PLAYBACK_PAGE_ENTRIES;
  const std::size_t pages = (entries + per_page - 1) / per_page;
  for (std::size_t page = 0; page < pages; ++page) {
    const std::size_t first = page * per_page;
    const std::size_t in_page = std::min(entries - first, per_page);
    CommandFrame frame(kOpConfigPlayback);
    set_frame_i16(frame, kChannelOffset, channels[0].index);
    set_frame_u8(frame, kPageCountOffset, static_cast<std::uint8_t>(pages));
    set_frame_u8(frame, kPageIndexOffset, static_cast<std::uint8_t>(page));
    set_frame_u8(frame, kPageEntriesOffset, static_cast<std::uint8_t>(in_page));
    for (std::size_t k = 0; k < in_page; ++k) {
      const std::size_t entry = first + k;
      const std::size_t at = kFirstEntryOffset + kEntrySize * k;
      set_frame_u16(frame, at, segments[entry]);
      set_frame_u32(frame, at + kEntryRepeatOffset, repeats[entry]);
      set_frame_f64(frame, at + kEntryValueOffset, values[entry]);
    }
    if (const std::int32_t status = context.send_frame(frame); status != ZR_OK) return status;
  }
  return ZR_OK;
}

}  // namespace zr
