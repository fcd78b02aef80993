#pragma once
// Playback lists as the instrument assembles them from 0x32 pages: one list per channel, its pages
// in order from 0, each but the last with ten entries. A list takes effect when its last page
// arrives. Not thread-safe: the model calls it under its lock.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "sim/frame_fault.hpp"

namespace zr::sim {

struct PlaybackEntry {
  std::uint16_t segment = 0;
  std::uint32_t repeats = 0;
  double value = 0.0;

  bool operator==(const PlaybackEntry&) const = default;
};

struct PlaybackList {
  std::vector<PlaybackEntry> entries;  // the last complete list
  std::uint32_t pages = 0;             // pages it came in
  std::uint32_t lists_taken = 0;       // complete lists received for the channel
};

class PlaybackLists {
 public:
  // Takes one checked 0x32 frame for a channel the caller has found valid. A refused page also
  // drops the list under assembly for that channel.
  std::optional<FrameFault> take_page(std::span<const std::uint8_t> frame, std::int16_t channel);

  // The channel's list, or nothing when no complete list arrived for it.
  std::optional<PlaybackList> list(std::int16_t channel) const;
  void clear() { channels_.clear(); }

 private:
  struct Channel {
    PlaybackList complete;
    bool has_complete = false;
    std::vector<PlaybackEntry> pending;
    std::uint8_t next_page = 0;
    std::uint8_t page_count = 0;  // of the list under assembly; 0 when none
  };
  std::map<std::int16_t, Channel> channels_;
};

}  // namespace zr::sim
