#pragma once
// Bookkeeping of the instrument's waveform memory, kept in the context for the waveform download
// and the sample stream.
#include <cstdint>
#include <vector>

namespace zr {

inline constexpr std::uint32_t kWaveformMemoryWords = 1u << 25;

enum class TransferMode : std::uint32_t { Stream = 1, Download = 2 };

struct WaveformSegment {
  std::uint32_t length = 0;  // transfer bytes / 4
  std::uint32_t start_address = 0;
  std::uint32_t end_address = 0;
  std::uint32_t rate_factor = 0;
};

struct WaveformMemory {
  std::uint32_t next_free_address = 0;  // in 32-bit words
  std::uint32_t memory_size = kWaveformMemoryWords;
  TransferMode mode = TransferMode::Download;
  std::vector<WaveformSegment> segments;
  std::vector<std::uint32_t> descriptor;  // of the transfer under way
  std::uint32_t bytes_remaining = 0;
  std::uint32_t base_payload = 0;
  std::uint32_t frames_with_extra = 0;
  std::uint32_t sample_position = 0;
};

}  // namespace zr
