// The open sequence. Every failure before the context is usable destroys it and clears the
// caller's handle variable, so that a later close cannot reach freed memory.
#include "device/device_open.hpp"

#include <algorithm>
#include <array>
#include <memory>

#include "device/level_tables.hpp"
#include "device/opcodes.hpp"
#include "device/usb_identity.hpp"
#include "platform/clock.hpp"
#include "signal/channel_control.hpp"
#include "signal/channel_list.hpp"
#include "signal/waveform_calls.hpp"

namespace zr {
namespace {

constexpr std::uint8_t kNoBusInterface = 2;  // what protocol 0 selects; no bus exists for it
constexpr std::size_t kCalModeOffset = 8;
constexpr std::uint16_t kNormalMode = 0;
constexpr std::array<std::uint8_t, 4> kDefaultAddress = {192, 168, 1, 100};
constexpr std::uint16_t kDefaultPort = 5000;
constexpr std::uint32_t kDefaultTimeoutMs = 10000;
constexpr std::size_t kMaxReadyPolls = kReadyWait / kReadyPollPause + 1;

// Owns a new context until the open hands it to the caller; otherwise destroys it on the way out.
class ContextOwner {
 public:
  explicit ContextOwner(DeviceContext** handle) : handle_(handle) {
    context_ = create_device_context(handle);
  }
  ~ContextOwner() {
    if (context_ == nullptr) return;
    destroy_device_context(context_);
    *handle_ = nullptr;
  }
  ContextOwner(const ContextOwner&) = delete;
  ContextOwner& operator=(const ContextOwner&) = delete;

  DeviceContext* get() const { return context_; }
  // The context stays open: the caller's handle now owns it.
  std::int32_t keep(std::int32_t status) {
    context_ = nullptr;
    return status;
  }

 private:
  DeviceContext** handle_;
  DeviceContext* context_ = nullptr;
};

enum class BandwidthReport { kReported, kNotReported };

void report_bus(const DeviceContext& context, DeviceInfo* info, BandwidthReport bandwidth) {
  if (info == nullptr) return;
  info->bus_version = context.bus->info().firmware_version;
  if (bandwidth == BandwidthReport::kReported) {
    info->link_bandwidth = context.bus->info().link_bandwidth;
  }
}

void report_identity(const DeviceIdentity& identity, DeviceInfo* info) {
  if (info == nullptr) return;
  info->model = identity.model;
  info->uid_low = identity.uid_low;
  info->uid_high = identity.uid_high;
  info->info_word = identity.info_word;
  info->mcu_version = identity.mcu_version;
  info->fpga_version = identity.fpga_version;
  info->aux1 = identity.aux1;
  info->aux2 = identity.aux2;
  info->aux3 = identity.aux3;
}

// One channel after every open; the caller's handles name it.
void set_up_channels(DeviceContext& context, DeviceContext** handle, const OpenOutputs& out) {
  context.channel_count = 1;
  if (out.channels != nullptr) {
    for (std::int16_t i = 0; i < context.channel_count; ++i) {
      out.channels[i].device = handle;
      out.channels[i].index = i;
    }
  }
  if (out.channel_count != nullptr) *out.channel_count = context.channel_count;
  context.stream = std::make_unique<WaveformMemory>();
  context.gnss_time = std::make_unique<GnssTime>();
}

// From the bus report to the channel set-up: 0 or ZR_TRANSPORT_FAILED.
std::int32_t identify(DeviceContext& context, DeviceContext** handle, const OpenOutputs& out,
                      BandwidthReport bandwidth) {
  report_bus(context, out.info, bandwidth);
  DeviceStatus status;
  if (context.query_frame(kOpQueryIdentity, status) != ZR_OK) return ZR_TRANSPORT_FAILED;
  report_identity(context.identity, out.info);
  // Model 0 has no identity of its own to present.
  if (context.identity.model != 0 && identify_device(context) != ZR_OK) {
    return ZR_TRANSPORT_FAILED;
  }
  set_up_channels(context, handle, out);
  return ZR_OK;
}

void store_first_handle(DeviceContext** handle, const OpenOutputs& out) {
  if (out.channels != nullptr) out.channels[0].device = handle;
}

}  // namespace

ConnectionParams eth_connection(const EthParams& params) {
  ConnectionParams record{};
  record.interface = params.protocol == ZR_ETH_PROTOCOL_TCP
                         ? static_cast<std::uint8_t>(ZR_INTERFACE_ETH)
                         : kNoBusInterface;
  record.address_family = params.address_family;
  std::copy_n(params.address, 4, record.address);
  record.port = params.port;
  record.timeout_ms = params.timeout_ms;
  return record;
}

ConnectionParams default_eth_connection(const ConnectionParams& given) {
  ConnectionParams record = given;
  record.interface = ZR_INTERFACE_ETH;
  record.address_family = 0;
  std::copy(kDefaultAddress.begin(), kDefaultAddress.end(), record.address);
  record.port = kDefaultPort;
  record.timeout_ms = kDefaultTimeoutMs;
  return record;
}

std::int32_t wait_until_ready(DeviceContext& context) {
  const SteadyTime deadline = steady_now() + kReadyWait;
  DeviceStatus status;
  for (std::size_t poll = 0; poll < kMaxReadyPolls; ++poll) {
    if (context.query_frame(kOpQueryReady, status) != ZR_OK) return ZR_TRANSPORT_FAILED;
    if (status.rf_cal_loaded == 1 && status.iq_cal_loaded == 1) return ZR_OK;
    if (steady_now() >= deadline) break;
    sleep_for(kReadyPollPause);
  }
  return status.rf_cal_loaded == 0 ? ZR_RF_CAL_MISSING : ZR_IQ_CAL_MISSING;
}

std::int32_t open_full(DeviceContext** handle, const ConnectionParams& record,
                       std::uint8_t device_number, const OpenOutputs& out) {
  store_first_handle(handle, out);
  ContextOwner owner(handle);
  DeviceContext* context = owner.get();
  if (context == nullptr) return ZR_INTERNAL_ERROR;
  if (context->open_bus(record, device_number) != ZR_OK) return ZR_NO_BUS;
  if (const std::int32_t status = identify(*context, handle, out, BandwidthReport::kReported);
      status != ZR_OK) {
    return status;
  }
  if (const std::int32_t status = device_preset(*context, handle); status != ZR_OK) return status;
  if (const std::int32_t status = device_config_calmode(*context, kNormalMode); status != ZR_OK) {
    return status;
  }
  // From here on the context is usable whatever the instrument reports.
  const std::int32_t ready = wait_until_ready(*context);
  if (ready != ZR_OK || record.interface != ZR_INTERFACE_USB) return owner.keep(ready);
  return owner.keep(read_level_tables(*context));
}

std::int32_t open_usb_updater(DeviceContext** handle, std::uint8_t device_number,
                              const OpenOutputs& out) {
  store_first_handle(handle, out);
  ContextOwner owner(handle);
  DeviceContext* context = owner.get();
  if (context == nullptr) return ZR_INTERNAL_ERROR;
  ConnectionParams record{};
  record.interface = ZR_INTERFACE_USB;
  if (context->open_bus(record, device_number) != ZR_OK) return ZR_NO_BUS;
  if (const std::int32_t status = identify(*context, handle, out, BandwidthReport::kNotReported);
      status != ZR_OK) {
    return status;
  }
  // The updater still reads versions from a context whose preset failed.
  const std::int32_t preset = device_preset(*context, handle);
  if (out.api_version != nullptr) *out.api_version = ZR_INTERFACE_VERSION;
  return owner.keep(preset);
}

std::int32_t open_merge(DeviceContext** handle, std::uint8_t device_number,
                        std::uint8_t use_parameters, const ConnectionParams* connection,
                        const OpenOutputs& out) {
  if (use_parameters == 1 && connection == nullptr) return ZR_INVALID_HANDLE;
  store_first_handle(handle, out);
  ContextOwner owner(handle);
  DeviceContext* context = owner.get();
  if (context == nullptr) return ZR_INTERNAL_ERROR;
  std::uint8_t used = 0;
  if (use_parameters == 1) {
    if (context->open_bus(*connection, device_number) != ZR_OK) return ZR_NO_BUS;
    used = connection->interface;
  } else {
    ConnectionParams usb{};
    usb.interface = ZR_INTERFACE_USB;
    if (context->open_bus(usb, device_number) == ZR_OK) {
      used = ZR_INTERFACE_USB;
    } else {
      const ConnectionParams given = connection != nullptr ? *connection : ConnectionParams{};
      if (context->open_bus(default_eth_connection(given), device_number) != ZR_OK) {
        return ZR_NO_BUS;
      }
      used = ZR_INTERFACE_ETH;
    }
  }
  if (out.interface_used != nullptr) *out.interface_used = used;
  if (const std::int32_t status = identify(*context, handle, out, BandwidthReport::kReported);
      status != ZR_OK) {
    return status;
  }
  if (const std::int32_t status = device_preset(*context, handle); status != ZR_OK) return status;
  if (out.api_version != nullptr) *out.api_version = ZR_INTERFACE_VERSION;
  return owner.keep(ZR_OK);
}

std::int32_t device_preset(DeviceContext& context, DeviceContext** handle) {
  context.device_settings = context.device_defaults;
  for (std::int16_t i = 0; i < context.channel_count; ++i) {
    const auto index = static_cast<std::size_t>(i);
    context.live_channel(index) = context.preset_channel(index);
  }
  // Room for every channel a frame can list: an all-channel call renumbers the handles 0..n-1.
  std::array<ChannelHandle, kMaxListedChannels> all{};
  all[0] = {handle, kAllChannels};
  if (const std::int32_t status = channel_stop(context, all.data()); status != ZR_OK) {
    return status;
  }
  all[0].index = kAllChannels;
  if (const std::int32_t status = channel_preset(context, all.data()); status != ZR_OK) {
    return status;
  }
  return tx_clear_waveform(context);
}

std::int32_t device_config_calmode(DeviceContext& context, std::uint16_t mode) {
  CommandFrame frame(kOpCalMode);
  set_frame_u16(frame, kCalModeOffset, mode);
  return context.send_frame(frame);
}

std::int32_t close_device(DeviceContext** handle) {
  DeviceContext* context = *handle;
  CommandFrame frame(kOpClose);
  std::int32_t status = ZR_INTERNAL_ERROR;
  try {
    status = context->send_frame(frame);
  } catch (...) {
    // The context goes in any case; the caller learns that the close frame did not.
  }
  destroy_device_context(context);
  *handle = nullptr;
  return status;
}

std::int32_t notify_power_source(const ConnectionParams& record, std::uint8_t device_number) {
  DeviceContext* context = nullptr;
  ContextOwner owner(&context);
  if (owner.get() == nullptr) return ZR_NO_BUS;
  if (owner.get()->open_bus(record, device_number) != ZR_OK) return ZR_NO_BUS;
  CommandFrame frame(kOpPowerSource);
  if (owner.get()->send_frame(frame) != ZR_OK) return ZR_NO_BUS;
  // The instrument needs this long to act on the notice before the connection goes.
  sleep_for(kPowerSourceSettle);
  return ZR_OK;
}

}  // namespace zr
