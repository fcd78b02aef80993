#include "sim/waveform_memory_model.hpp"

#include <algorithm>
#include <utility>

#include "signal/transfer_frame.hpp"
#include "sim/transfer_frame_parser.hpp"

namespace zr::sim {

void WaveformMemoryModel::clear() {
  segments_.clear();
  payload_bytes_ = 0;
  end_transfer();
  announced_ = false;
}

void WaveformMemoryModel::announce_download() {
  end_transfer();
  announced_ = true;
}

void WaveformMemoryModel::reset_stream_path() { end_transfer(); }

std::optional<FrameFault> WaveformMemoryModel::take_frame(std::span<const std::uint8_t> frame) {
  TransferFrameView view;
  std::optional<FrameFault> fault = parse_transfer_frame(frame, view);
  if (!fault && frame.size() != kDownloadFrameSize && frame.size() != kStreamFrameSize) {
    fault = FrameFault::kFrameSize;
  }
  if (fault) {
    end_transfer();
    return fault;
  }

  if (!view.segment) {
    if (current_ == nullptr) return FrameFault::kNoTransfer;
    if (frame.size() != current_->frame_size) {
      end_transfer();
      return FrameFault::kFrameSizeChanged;
    }
    return take_payload(view.payload);
  }

  // A descriptor starts a new transfer; one still under way was cut short and stays incomplete.
  end_transfer();
  const TransferMode mode =
      frame.size() == kDownloadFrameSize ? TransferMode::Download : TransferMode::Stream;
  if (mode == TransferMode::Download && !announced_) return FrameFault::kNotAnnounced;
  if (mode == TransferMode::Stream && view.segment->number != 0) return FrameFault::kDescriptor;
  // The announcement is for the next transfer only, whichever kind it is.
  announced_ = false;

  SegmentRecord record;
  record.number = view.segment->number;
  record.mode = mode;
  record.start_address = view.segment->start_address;
  record.length_words = view.segment->length_words;
  record.span = view.segment->span;
  record.frame_size = frame.size();
  if (const auto old = segments_.find(record.number); old != segments_.end()) {
    release(old->second);
    // Streams overwrite record 0 again and again: its buffer is reused, not allocated anew.
    record.payload = std::move(old->second.payload);
    record.payload.clear();
  }
  const std::size_t bytes = std::size_t{record.length_words} * 4;
  record.payload_kept = bytes <= payload_limit_ - std::min(payload_bytes_, payload_limit_);
  // A reused buffer far larger than needed would escape the payload limit's accounting.
  if (!record.payload_kept || record.payload.capacity() / 2 > bytes) record.payload = {};
  if (record.payload_kept) {
    payload_bytes_ += bytes;
    record.payload.reserve(bytes);
  }
  SegmentRecord& stored = segments_[record.number];
  stored = std::move(record);
  current_ = &stored;
  return take_payload(view.payload);
}

std::optional<FrameFault> WaveformMemoryModel::take_payload(std::span<const std::uint8_t> payload) {
  SegmentRecord& record = *current_;
  const std::uint64_t expected = std::uint64_t{record.length_words} * 4;
  if (payload.size() > expected - record.bytes_received) {
    end_transfer();
    return FrameFault::kPayloadOverrun;
  }
  ++record.frames;
  record.bytes_received += payload.size();
  if (record.payload_kept) record.payload.insert(record.payload.end(), payload.begin(), payload.end());
  if (record.bytes_received == expected) {
    record.complete = true;
    end_transfer();
  }
  return std::nullopt;
}

void WaveformMemoryModel::release(const SegmentRecord& record) {
  if (!record.payload_kept) return;
  payload_bytes_ -= std::min(payload_bytes_, std::size_t{record.length_words} * 4);
}

std::vector<SegmentRecord> WaveformMemoryModel::segments() const {
  std::vector<SegmentRecord> out;
  out.reserve(segments_.size());
  for (const auto& [number, record] : segments_) out.push_back(record);
  return out;
}

const SegmentRecord* WaveformMemoryModel::find(std::uint32_t number) const {
  const auto it = segments_.find(number);
  return it == segments_.end() ? nullptr : &it->second;
}

}  // namespace zr::sim
