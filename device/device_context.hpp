#pragma once
// DeviceContext: the one record of an opened instrument. It owns the bus, mirrors every setting
// sent, keeps the identity read at open and the calibration tables, and offers the frame
// primitives through which every command reaches the instrument.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "bus/abus.hpp"
#include "calibration/cal_tables.hpp"
#include "device/channel_state.hpp"
#include "device/command_frame.hpp"
#include "device/device_status.hpp"
#include "device/modulation_state.hpp"
#include "device/waveform_memory.hpp"
#include "zr_api.h"

namespace zr {

inline constexpr std::size_t kChannelStateSlots = 64;
inline constexpr std::size_t kLiveChannels = 16;      // slots 0..15: live state of channels 0..15
inline constexpr std::size_t kPresetSlotOffset = 16;  // slots 16..31: preset state, never written

// Device-level settings of the mirror; of these the GNSS configuration is recorded (0x36).
struct DeviceSettings {
  bool gnss_flag_a = false;
  bool gnss_flag_b = false;
  float gnss_period = 0.0f;
  float gnss_rate = 0.0f;
};

// Identity fields of the last 0x89 query.
struct DeviceIdentity {
  std::uint16_t model = 0;
  std::uint64_t uid_low = 0;
  std::uint32_t uid_high = 0;
  std::uint16_t info_word = 0;
  std::uint32_t mcu_version = 0;
  std::uint32_t fpga_version = 0;
  std::uint32_t aux1 = 0;
  std::uint32_t aux2 = 0;
  std::uint32_t aux3 = 0;
};

using ChannelStates = std::array<ChannelState, kChannelStateSlots>;

struct DeviceContext {
  // Zero state: no bus, stream or GNSS record, empty tables; the open sets channel_count.
  DeviceContext();
  // Releases the calibration and open-time tables, then gnss_time, then stream, then the bus.
  ~DeviceContext();
  DeviceContext(const DeviceContext&) = delete;
  DeviceContext& operator=(const DeviceContext&) = delete;

  // ---- Frame primitives. Bus failures all become ZR_TRANSPORT_FAILED.
  // Mirror (may clamp the frame in place), checksum, write. 0, ZR_CLAMPED (still sent) or -8.
  std::int32_t send_frame(CommandFrame& frame);
  // Sends a payload-free query and decodes the reply into the fields of status that the opcode
  // carries; on failure nothing but status.opcode is written. 0 or -8.
  std::int32_t query_frame(std::uint8_t opcode, DeviceStatus& status);
  // Up to 11 writes, each followed by 0x16 polls until mcu_ready or 1 s of steady-clock time (a
  // fake clock in tests must step on every reading). A clamp is an error here (-8): calibration
  // data must reach the instrument exactly as prepared.
  std::int32_t send_acknowledged(CommandFrame& frame);
  // Sends data in 238-byte chunks (sequence number at offset 8, payload at 10..247), each
  // acknowledged as by send_acknowledged. 0, or -8 at the first chunk not acknowledged.
  std::int32_t send_chunked(CommandFrame& frame, std::span<const std::uint8_t> data);
  // Reads a stored table page by page with 0x5b and appends its bytes to table. 0, or -8 with
  // table as it was on entry.
  std::int32_t read_table(std::uint8_t kind, std::uint16_t index, std::vector<std::uint8_t>& table);

  // ---- State mirror: clamps the frame's values to the limits file and records its settings.
  // 0, or ZR_CLAMPED when a value was changed.
  std::int32_t mirror_frame(CommandFrame& frame);

  // Copies the live state of the named channels into states, nothing sent. The first handle
  // always names channel 0. ZR_INVALID_CHANNEL (states untouched) when the list is longer than
  // channel_count or a further handle names a channel outside 0..channel_count-1.
  std::int32_t read_channel_states(const ChannelHandle* handles, std::int32_t length,
                                   std::vector<ChannelState>& states) const;

  // Creates the bus for connection.interface, installs it in place of the current one (which is
  // destroyed afterwards) and opens it. Returns the open status, or ZR_NO_BUS for an
  // unsupported interface (the current bus stays; the record is stored either way).
  std::int32_t open_bus(ConnectionParams record, std::uint8_t device_index);

  ChannelState& live_channel(std::size_t index) { return (*channel_states)[index]; }
  const ChannelState& live_channel(std::size_t index) const { return (*channel_states)[index]; }
  ChannelState& preset_channel(std::size_t index) {
    return (*channel_states)[kPresetSlotOffset + index];
  }

  std::int16_t channel_count = 0;
  DeviceSettings device_settings;
  DeviceSettings device_defaults;  // never written; device_preset copies it over device_settings
  std::uint16_t cal_mode = 0;      // last mode sent with 0x59
  std::unique_ptr<ChannelStates> channel_states;  // about 24 MiB, so kept apart
  ConnectionParams connection{};
  std::unique_ptr<abus> bus;
  std::unique_ptr<WaveformMemory> stream;
  std::unique_ptr<GnssTime> gnss_time;
  DeviceIdentity identity;
  StrategyTable strategy_table;  // holds the frequency-segment table
  FreqCalBlock freq_cal;
  RfCalTable rf_cal;
  IqCalTable iq_cal;
  OpenTimeTables open_tables;
  ModulationState modulation;

 private:
  // Checksum and write of the 256 bytes; false on a bus failure.
  bool write_sealed(CommandFrame& frame);
};

// Creates a zero-state context and stores its address into *handle. Returns nullptr (and leaves
// *handle unchanged) when memory runs out.
DeviceContext* create_device_context(DeviceContext** handle);

// Releases a context created by create_device_context; the caller's handle is not cleared.
void destroy_device_context(DeviceContext* context);

}  // namespace zr
