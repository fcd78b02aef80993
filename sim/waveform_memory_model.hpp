#pragma once
// The instrument's waveform memory as the sample transfer frames fill it. The 2^25-word memory is
// kept sparsely, as the segments written into it: each segment record holds where it lies and the
// payload bytes it received, so tests can compare the samples that arrived with those sent.
// 0x39 announces a download (16384-byte frames, a numbered segment); otherwise a transfer is a
// stream (65536-byte frames) that always overwrites record 0. Not thread-safe: the model calls it
// under its lock.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "device/waveform_memory.hpp"
#include "sim/frame_fault.hpp"

namespace zr::sim {

struct SegmentRecord {
  std::uint32_t number = 0;
  TransferMode mode = TransferMode::Download;
  std::uint32_t start_address = 0;  // in words
  std::uint32_t length_words = 0;
  std::uint32_t span = 0;  // descriptor word 9, as received
  std::size_t frame_size = 0;
  std::uint32_t frames = 0;  // frames received for it
  std::uint64_t bytes_received = 0;
  bool complete = false;     // every one of length_words * 4 bytes arrived
  bool payload_kept = true;  // false when the payload limit left no room for the whole segment
  std::vector<std::uint8_t> payload;  // the bytes received, when kept

  // Words the segment's frames take in memory, as the sender reserves them.
  std::uint64_t occupied_words() const { return std::uint64_t{frames} * frame_size / 4; }
};

class WaveformMemoryModel {
 public:
  // 0x38: forgets every segment and any transfer under way.
  void clear();
  // 0x39: the next transfer is a download. A transfer under way ends incomplete.
  void announce_download();
  // Request 8. A refused frame ends the transfer under way, which stays incomplete.
  std::optional<FrameFault> take_frame(std::span<const std::uint8_t> frame);
  // Request 11: the stream path is reset, so a transfer under way ends incomplete.
  void reset_stream_path();

  // Bounds the payload bytes all records keep together; a segment is kept whole or not at all.
  void set_payload_limit(std::size_t bytes) { payload_limit_ = bytes; }

  bool download_announced() const { return announced_; }
  bool transfer_under_way() const { return current_ != nullptr; }
  std::vector<SegmentRecord> segments() const;  // in number order
  const SegmentRecord* find(std::uint32_t number) const;

 private:
  void end_transfer() { current_ = nullptr; }
  std::optional<FrameFault> take_payload(std::span<const std::uint8_t> payload);
  void release(const SegmentRecord& record);

  std::map<std::uint32_t, SegmentRecord> segments_;
  SegmentRecord* current_ = nullptr;  // the record the transfer under way fills
  bool announced_ = false;
  std::size_t payload_limit_ = SIZE_MAX;
  std::size_t payload_bytes_ = 0;  // reserved by the kept records
};

}  // namespace zr::sim
