#include "sim/playback_list.hpp"

#include <algorithm>

#include "device/command_frame.hpp"
#include "zr_api.h"

namespace zr::sim {
namespace {

constexpr std::size_t kPageCountOffset = 10;
constexpr std::size_t kPageIndexOffset = 11;
constexpr std::size_t kPageEntriesOffset = 12;
constexpr std::size_t kFirstEntryOffset = 16;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kEntryPaddingOffset = 2;
constexpr std::size_t kEntryRepeatOffset = 4;
constexpr std::size_t kEntryValueOffset = 8;
constexpr std::size_t kPageEntries = ZR_PLAYBACK_PAGE_ENTRIES;

bool all_zero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

std::optional<FrameFault> PlaybackLists::take_page(std::span<const std::uint8_t> frame,
                                                   std::int16_t channel) {
  Channel& state = channels_[channel];
  const std::uint8_t count = frame[kPageCountOffset];
  const std::uint8_t index = frame[kPageIndexOffset];
  const std::uint8_t entries = frame[kPageEntriesOffset];
  auto refuse = [&](FrameFault fault) {
    state.pending.clear();
    state.page_count = 0;
    return fault;
  };
  // Every page but the last is full, so a short one is as wrong as an empty one.
  const bool last = index + 1 == count;
  if (index >= count || entries == 0 || entries > kPageEntries ||
      (!last && entries != kPageEntries)) {
    return refuse(FrameFault::kPlaybackPage);
  }
  if (index == 0) {
    state.pending.clear();
    state.page_count = count;
    state.next_page = 0;
  } else if (state.page_count != count || state.next_page != index) {
    return refuse(FrameFault::kPlaybackOrder);
  }

  for (std::size_t k = 0; k < kPageEntries; ++k) {
    const auto slot = frame.subspan(kFirstEntryOffset + kEntrySize * k, kEntrySize);
    if (k >= entries) {
      if (!all_zero(slot)) return refuse(FrameFault::kPlaybackEntry);
      continue;
    }
    if (slot[kEntryPaddingOffset] != 0 || slot[kEntryPaddingOffset + 1] != 0) {
      return refuse(FrameFault::kPlaybackEntry);
    }
    state.pending.push_back(PlaybackEntry{load_u16(slot.data()),
                                          load_u32(slot.data() + kEntryRepeatOffset),
                                          load_f64(slot.data() + kEntryValueOffset)});
  }
  ++state.next_page;
  if (last) {
    state.complete.entries = std::move(state.pending);
    state.complete.pages = count;
    ++state.complete.lists_taken;
    state.has_complete = true;
    state.pending.clear();
    state.page_count = 0;
  }
  return std::nullopt;
}

std::optional<PlaybackList> PlaybackLists::list(std::int16_t channel) const {
  const auto it = channels_.find(channel);
  if (it == channels_.end() || !it->second.has_complete) return std::nullopt;
  return it->second.complete;
}

}  // namespace zr::sim
