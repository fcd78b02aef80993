// Every query checks its channel list like the commands do, so an index the device does not have
// is refused instead of answered from another channel's record.
#include "signal/channel_queries.hpp"

#include <vector>

#include "signal/channel_list.hpp"

namespace zr {
namespace {

// The mirrored state of count listed channels, in list order. Negative counts are refused here:
// a query cannot know how much room the caller made for "every channel".
std::int32_t read_listed(const DeviceContext& context, ChannelHandle* channels, std::int16_t count,
                         std::vector<ChannelState>& states) {
  if (count < 0) return ZR_INVALID_CHANNEL;
  if (const std::int32_t status = check_channel_list(context, channels, count); status != ZR_OK) {
    return status;
  }
  return context.read_channel_states(channels, count, states);
}

// Reads count channels and hands each state with its position to copy.
template <typename Copy>
std::int32_t answer_from_mirror(const DeviceContext& context, ChannelHandle* channels,
                                std::int16_t count, const void* out, Copy copy) {
  if (out == nullptr && count != 0) return ZR_MISSING_BUFFER;
  std::vector<ChannelState> states;
  if (const std::int32_t status = read_listed(context, channels, count, states); status != ZR_OK) {
    return status;
  }
  for (std::size_t i = 0; i < states.size(); ++i) copy(states[i], i);
  return ZR_OK;
}

}  // namespace

std::int32_t channel_query_lo_mode(const DeviceContext& context, ChannelHandle* channels,
                                   std::uint8_t* mode) {
  return answer_from_mirror(
      context, channels, 1, mode,
      [mode](const ChannelState& state, std::size_t) { *mode = state.lo_mode; });
}

std::int32_t channel_query_data_block(const DeviceContext& context, ChannelHandle* channels,
                                      std::uint8_t* values, std::int16_t count) {
  return answer_from_mirror(
      context, channels, count, values,
      [values](const ChannelState& state, std::size_t i) { values[i] = state.data_block; });
}

std::int32_t channel_query_trigger_out(const DeviceContext& context, ChannelHandle* channels,
                                       TriggerOutput* trigger_out) {
  return answer_from_mirror(
      context, channels, 1, trigger_out, [trigger_out](const ChannelState& state, std::size_t) {
        trigger_out->trigger_out_value = static_cast<std::int16_t>(state.trigger_out_word);
        trigger_out->trigger_out_flag = state.trigger_out_byte;
      });
}

std::int32_t channel_query_port(const DeviceContext& context, ChannelHandle* channels,
                                std::int16_t* values, std::int16_t count) {
  return answer_from_mirror(context, channels, count, values,
                            [values](const ChannelState& state, std::size_t i) {
                              values[i] = static_cast<std::int16_t>(state.port_setting);
                            });
}

std::int32_t channel_query_trigger(const DeviceContext& context, ChannelHandle* channels,
                                   TriggerConfig* trigger) {
  return answer_from_mirror(context, channels, 1, trigger,
                            [trigger](const ChannelState& state, std::size_t) {
                              // The first mirrored word holds select, flag1, flag2 and spare in
                              // frame byte order.
                              const std::uint32_t fields = state.trigger[0];
                              trigger->trigger_select = static_cast<std::uint8_t>(fields);
                              trigger->trigger_flag1 = static_cast<std::uint8_t>(fields >> 8);
                              trigger->trigger_flag2 = static_cast<std::uint8_t>(fields >> 16);
                              trigger->trigger_spare = static_cast<std::uint8_t>(fields >> 24);
                              trigger->trigger_count = static_cast<std::int32_t>(state.trigger[1]);
                            });
}

std::int32_t tx_query_output(const DeviceContext& context, ChannelHandle* channels,
                             std::uint8_t* output_enable, std::uint8_t* modulation_enable) {
  if (output_enable == nullptr || modulation_enable == nullptr) return ZR_MISSING_BUFFER;
  return answer_from_mirror(context, channels, 1, output_enable,
                            [=](const ChannelState& state, std::size_t) {
                              *output_enable = state.output[0];
                              *modulation_enable = state.output[1];
                            });
}

}  // namespace zr
