#include "sim/instrument_model.hpp"

#include <algorithm>
#include <bit>
#include <iomanip>
#include <iostream>
#include <utility>

#include "device/command_frame.hpp"
#include "platform/le_codec.hpp"
#include "sim/sim_text.hpp"

namespace zr::sim {
namespace {

constexpr std::string_view kProduct = "Signal Generator";
constexpr std::string_view kSerial = "ZRSIM-0000-0001";
constexpr std::string_view kManufacturer = "Simulated Instrument Works";
constexpr std::size_t kProductOffset = 0;
constexpr std::size_t kSerialOffset = 30;
constexpr std::size_t kManufacturerOffset = 60;
constexpr std::size_t kIdentityFieldSize = 30;

constexpr std::string_view kKernelInfo =
    "PGA_Model: SG-SIM\n"
    "PGA_KernelVersion: 1.2.3\n"
    "PGA_PowerSourceType: 0\n"
    "PGA_Uptime: 42\n";

void put_text(std::array<std::uint8_t, 256>& identity, std::size_t offset, std::string_view text) {
  std::size_t count = std::min(text.size(), kIdentityFieldSize);
  std::copy_n(text.begin(), count, identity.begin() + static_cast<std::ptrdiff_t>(offset));
}

// A bootloader's reply: a whole reply block, 0x06 in byte 0 when it acknowledges.
void append_bootloader_reply(std::vector<std::uint8_t>& out, std::uint32_t room,
                             bool acknowledged) {
  const std::size_t count = std::min<std::size_t>(room, kReplySize);
  if (count == 0) return;
  out.push_back(acknowledged ? kMcuAck : 0);
  out.resize(out.size() + count - 1, 0);
}

}  // namespace

ModelConfig default_model_config() {
  ModelConfig config;
  BusInfo& info = config.bus_info;
  info.firmware_version = 0x00010203;
  info.link_kind = 3;
  info.link_bandwidth = link_bandwidth_for(info.link_kind);
  info.transfer_timeout_ms = 2000;
  info.timeout2_ms = 2000;
  info.timeout3_ms = 2000;
  put_text(info.identity_text, kProductOffset, kProduct);
  put_text(info.identity_text, kSerialOffset, kSerial);
  put_text(info.identity_text, kManufacturerOffset, kManufacturer);
  info.device_release = 0x0100;

  config.instrument = default_instrument_config();
  // One list entry: model, 6 zero bytes, uid low, uid high, 36 zero bytes.
  const InstrumentIdentity& identity = config.instrument.identity;
  LeWriter entry(config.device_list);
  entry.u16(identity.model).zeros(6).u64(identity.uid_low).u32(identity.uid_high).zeros(36);
  config.kernel_info = std::string(kKernelInfo);
  return config;
}

InstrumentModel::InstrumentModel(ModelConfig config)
    : config_(std::move(config)), interpreter_(config_.instrument), log_(&std::cerr) {
  interpreter_.set_payload_limit(record_limit_);
}

std::int32_t InstrumentModel::list_devices(std::vector<std::uint8_t>& data) {
  std::lock_guard lock(mutex_);
  data.insert(data.end(), config_.device_list.begin(), config_.device_list.end());
  return kModelOk;
}

std::int32_t InstrumentModel::open(BusInfo& info) {
  std::lock_guard lock(mutex_);
  info = config_.bus_info;
  return kModelOk;
}

std::int32_t InstrumentModel::close() { return kModelOk; }

std::int32_t InstrumentModel::set_timeout(std::uint32_t requested_ms, std::uint32_t& applied_ms) {
  std::lock_guard lock(mutex_);
  config_.bus_info.transfer_timeout_ms = requested_ms;
  applied_ms = requested_ms;
  return kModelOk;
}

std::int32_t InstrumentModel::write(std::span<const std::uint8_t> frame) {
  std::lock_guard lock(mutex_);
  carry_out_write(frame, nullptr);
  return kModelOk;
}

std::int32_t InstrumentModel::write(const SharedBytes& frame) {
  std::lock_guard lock(mutex_);
  carry_out_write(frame.view(), &frame);
  return kModelOk;
}

std::int32_t InstrumentModel::query(std::span<const std::uint8_t> frame, std::uint32_t room,
                                    std::uint32_t /*timeout_ms*/,
                                    std::vector<std::uint8_t>& reply) {
  std::lock_guard lock(mutex_);
  return answer_query(frame, nullptr, room, reply);
}

std::int32_t InstrumentModel::query(const SharedBytes& frame, std::uint32_t room,
                                    std::uint32_t /*timeout_ms*/,
                                    std::vector<std::uint8_t>& reply) {
  std::lock_guard lock(mutex_);
  return answer_query(frame.view(), &frame, room, reply);
}

std::int32_t InstrumentModel::read(std::uint32_t room, std::vector<std::uint8_t>& data) {
  std::lock_guard lock(mutex_);
  if (read_data_.empty() && room > 0) {
    // Otherwise the answers of the update services, which are due only now and then.
    const FirmwareFaults& faults = interpreter_.faults().firmware;
    if (const auto answer = fpga_.answer(clock_->now(), faults.fpga)) {
      data.push_back(*answer);
      return kModelOk;
    }
    if (root_mcu_.take_read(faults.mcu) || node_mcu_.take_read(faults.mcu)) {
      append_bootloader_reply(data, room, true);
    }
    return kModelOk;
  }
  std::size_t count = std::min<std::size_t>(room, read_data_.size());
  auto first = read_data_.begin();
  auto last = first + static_cast<std::ptrdiff_t>(count);
  data.insert(data.end(), first, last);
  read_data_.erase(first, last);
  return kModelOk;
}

std::int32_t InstrumentModel::stream_write(std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  return take_stream(data, nullptr);
}

std::int32_t InstrumentModel::stream_write(const SharedBytes& data) {
  std::lock_guard lock(mutex_);
  return take_stream(data.view(), &data);
}

std::int32_t InstrumentModel::notify_device() { return kModelOk; }

std::int32_t InstrumentModel::stream_stop() {
  std::lock_guard lock(mutex_);
  ++counters_.stream_stops;
  interpreter_.reset_stream_path();
  ModelEvent event;
  event.kind = EventKind::kStreamStop;
  note_event(event);
  return kModelOk;
}

std::int32_t InstrumentModel::write_data(std::span<const std::uint8_t> data) {
  return answer_data(data, nullptr);
}

std::int32_t InstrumentModel::write_data(const SharedBytes& data) {
  return answer_data(data.view(), &data);
}

std::int32_t InstrumentModel::answer_data(std::span<const std::uint8_t> data,
                                          const SharedBytes* shared) {
  std::chrono::milliseconds wait{0};
  Clock* clock = nullptr;
  std::int32_t status = kModelOk;
  {
    std::lock_guard lock(mutex_);
    status = take_data(data, shared, wait);
    clock = clock_;
  }
  // Outside the lock: the rest of the instrument keeps answering meanwhile.
  if (wait.count() != 0) clock->sleep_for(wait);
  return status;
}

std::int32_t InstrumentModel::reserved(std::uint32_t /*opcode*/) { return kModelOk; }

std::int32_t InstrumentModel::read_block(std::uint32_t length, std::vector<std::uint8_t>& data) {
  if (length > kMaxReadBlock) return kReadBlockTooLong;
  std::size_t start = data.size();
  data.resize(start + length);
  for (std::size_t i = 0; i < length; ++i) data[start + i] = static_cast<std::uint8_t>(i);
  return kModelOk;
}

std::int32_t InstrumentModel::read_bus_info(std::uint32_t& link_kind,
                                            std::uint32_t& link_bandwidth,
                                            std::uint32_t& firmware_version) {
  std::lock_guard lock(mutex_);
  link_kind = config_.bus_info.link_kind;
  link_bandwidth = config_.bus_info.link_bandwidth;
  firmware_version = config_.bus_info.firmware_version;
  return kModelOk;
}

std::int32_t InstrumentModel::text_command(std::string_view text,
                                           std::vector<std::uint8_t>& reply) {
  if (text != kKernelInfoCommand) return kUnknownTextCommand;
  std::lock_guard lock(mutex_);
  reply.insert(reply.end(), config_.kernel_info.begin(), config_.kernel_info.end());
  return kModelOk;
}

void InstrumentModel::set_config(ModelConfig config) {
  std::lock_guard lock(mutex_);
  config_ = std::move(config);
  interpreter_.set_config(config_.instrument);
}

ModelConfig InstrumentModel::config() const {
  std::lock_guard lock(mutex_);
  return config_;
}

void InstrumentModel::set_faults(const InstrumentFaults& faults) {
  std::lock_guard lock(mutex_);
  interpreter_.set_faults(faults);
}

InstrumentFaults InstrumentModel::faults() const {
  std::lock_guard lock(mutex_);
  return interpreter_.faults();
}

void InstrumentModel::set_clock(Clock& clock) {
  std::lock_guard lock(mutex_);
  clock_ = &clock;
  interpreter_.set_clock(clock);
}

void InstrumentModel::set_log(std::ostream& log) {
  std::lock_guard lock(mutex_);
  log_ = &log;
}

void InstrumentModel::queue_read_data(std::vector<std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  read_data_.insert(read_data_.end(), data.begin(), data.end());
}

void InstrumentModel::queue_query_reply(std::vector<std::uint8_t> reply) {
  std::lock_guard lock(mutex_);
  query_replies_.push_back(std::move(reply));
}

std::vector<std::vector<std::uint8_t>> InstrumentModel::frames() const {
  std::lock_guard lock(mutex_);
  return copies(frames_);
}

std::vector<FrameRecord> InstrumentModel::frame_records() const {
  std::lock_guard lock(mutex_);
  std::vector<FrameRecord> out;
  out.reserve(frames_.size());
  for (std::size_t i = 0; i < frames_.size(); ++i) {
    auto bytes = frames_[i].view();
    const FrameNote& note = frame_notes_[i];
    out.push_back(FrameRecord{note.route, note.verdict.opcode, note.verdict.check,
                              std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
  }
  return out;
}

std::vector<std::vector<std::uint8_t>> InstrumentModel::stream_blocks() const {
  std::lock_guard lock(mutex_);
  return copies(stream_blocks_);
}

std::vector<std::vector<std::uint8_t>> InstrumentModel::data_writes() const {
  std::lock_guard lock(mutex_);
  return copies(data_writes_);
}

ModelCounters InstrumentModel::counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

std::vector<ModelEvent> InstrumentModel::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<Rejection> InstrumentModel::rejections() const {
  std::lock_guard lock(mutex_);
  return rejections_;
}

std::vector<SimChannelState> InstrumentModel::channel_states() const {
  std::lock_guard lock(mutex_);
  return interpreter_.channels().channels();
}

std::vector<SegmentRecord> InstrumentModel::waveform_segments() const {
  std::lock_guard lock(mutex_);
  return interpreter_.waveform().segments();
}

std::optional<SegmentRecord> InstrumentModel::waveform_segment(std::uint32_t number) const {
  std::lock_guard lock(mutex_);
  const SegmentRecord* record = interpreter_.waveform().find(number);
  if (record == nullptr) return std::nullopt;
  return *record;
}

bool InstrumentModel::download_announced() const {
  std::lock_guard lock(mutex_);
  return interpreter_.waveform().download_announced();
}

bool InstrumentModel::transfer_under_way() const {
  std::lock_guard lock(mutex_);
  return interpreter_.waveform().transfer_under_way();
}

std::optional<PlaybackList> InstrumentModel::playback_list(std::int16_t channel) const {
  std::lock_guard lock(mutex_);
  return interpreter_.playback().list(channel);
}

FpgaUpdateRecord InstrumentModel::fpga_update() const {
  std::lock_guard lock(mutex_);
  return fpga_.record();
}

McuUpdateRecord InstrumentModel::mcu_update(std::uint8_t target) const {
  std::lock_guard lock(mutex_);
  return target == kMcuRoot ? root_mcu_.record() : node_mcu_.record();
}

BusFirmwareRecord InstrumentModel::bus_firmware() const {
  std::lock_guard lock(mutex_);
  return bus_firmware_.record();
}

McuBootloader* InstrumentModel::bootloader(std::uint8_t target) {
  if (target == kMcuRoot) return &root_mcu_;
  if (target == kMcuNode) return &node_mcu_;
  return nullptr;
}

void InstrumentModel::set_record_limit(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  record_limit_ = bytes;
  interpreter_.set_payload_limit(bytes);
}

void InstrumentModel::clear_records() {
  std::lock_guard lock(mutex_);
  frames_.clear();
  frame_notes_.clear();
  stream_blocks_.clear();
  data_writes_.clear();
  counters_ = {};
  events_.clear();
  rejections_.clear();
  recorded_bytes_ = 0;
}

FrameVerdict InstrumentModel::take_frame(std::span<const std::uint8_t> frame,
                                         const SharedBytes* shared, FrameRoute route) {
  const FrameVerdict verdict = CommandInterpreter::check(frame);
  ++counters_.frames;
  counters_.frame_bytes += frame.size();
  if (keep(frames_, frame, shared)) frame_notes_.push_back(FrameNote{route, verdict});
  if (verdict.check == FrameCheck::kBadChecksum) note_bad_checksum(verdict.opcode);
  return verdict;
}

void InstrumentModel::carry_out_write(std::span<const std::uint8_t> frame,
                                      const SharedBytes* shared) {
  const FrameVerdict verdict = take_frame(frame, shared, FrameRoute::kWrite);
  std::optional<FrameFault> fault;
  if (verdict.check == FrameCheck::kValid) fault = interpreter_.take_write(frame, read_data_);
  if (verdict.check == FrameCheck::kUnchecked && FpgaUpdateService::is_packet(frame)) {
    fpga_.take(frame, clock_->now(), config_.fpga, interpreter_.faults().firmware.fpga);
  }
  note_event(ModelEvent{EventKind::kFrame, FrameRoute::kWrite, verdict.opcode, verdict.check,
                        frame.size(), fault});
  if (fault) {
    ++counters_.rejected_frames;
    note_rejection(Rejection{EventKind::kFrame, counters_.frames - 1, verdict.opcode, *fault});
  }
}

std::int32_t InstrumentModel::answer_query(std::span<const std::uint8_t> frame,
                                           const SharedBytes* shared, std::uint32_t room,
                                           std::vector<std::uint8_t>& reply) {
  const FrameVerdict verdict = take_frame(frame, shared, FrameRoute::kQuery);
  note_event(ModelEvent{EventKind::kFrame, FrameRoute::kQuery, verdict.opcode, verdict.check,
                        frame.size(), std::nullopt});
  if (!query_replies_.empty()) {
    const std::vector<std::uint8_t>& queued = query_replies_.front();
    std::size_t count = std::min<std::size_t>(room, queued.size());
    reply.insert(reply.end(), queued.begin(), queued.begin() + static_cast<std::ptrdiff_t>(count));
    query_replies_.pop_front();
    return kModelOk;
  }
  if (verdict.check == FrameCheck::kValid) {
    if (McuBootloader* mcu = bootloader(verdict.opcode)) {
      const bool acknowledged = mcu->take(frame, interpreter_.faults().firmware.mcu);
      append_bootloader_reply(reply, room, acknowledged);
      return kModelOk;
    }
    if (interpreter_.answer_query(frame, room, reply)) return kModelOk;
    ++counters_.unanswered_queries;
    return kQueryUnanswered;
  }
  // The frame is not acted on, but the transport still gets an answer of the usual size.
  reply.resize(reply.size() + std::min<std::size_t>(room, kDefaultQueryReplySize), 0);
  return kModelOk;
}

void InstrumentModel::note_bad_checksum(std::uint8_t opcode) {
  const std::uint64_t count = ++counters_.bad_checksums;
  if (!std::has_single_bit(count)) return;
  std::ostream& log = *log_;
  const auto flags = log.flags();
  log << text::kBadChecksum << std::hex << std::setw(2) << std::setfill('0')
      << static_cast<unsigned>(opcode);
  log.flags(flags);
  log << text::kBadChecksumCount << count << ')' << std::endl;
}

std::int32_t InstrumentModel::take_stream(std::span<const std::uint8_t> data,
                                          const SharedBytes* shared) {
  ++counters_.stream_blocks;
  counters_.stream_bytes += data.size();
  keep(stream_blocks_, data, shared);
  const std::optional<FrameFault> fault = interpreter_.take_transfer_frame(data);
  note_event(ModelEvent{EventKind::kTransferFrame, FrameRoute::kWrite, 0, FrameCheck::kUnchecked,
                        data.size(), fault});
  if (!fault) return kModelOk;
  ++counters_.rejected_transfer_frames;
  note_rejection(Rejection{EventKind::kTransferFrame, counters_.stream_blocks - 1, 0, *fault});
  return kTransferFrameRejected;
}

void InstrumentModel::note_event(const ModelEvent& event) {
  if (events_.size() < kMaxModelEvents) events_.push_back(event);
}

void InstrumentModel::note_rejection(const Rejection& rejection) {
  if (rejections_.size() < kMaxRejections) rejections_.push_back(rejection);
  // Logged at powers of two of the count, as bad checksums are, so that a flood stays cheap.
  const std::uint64_t count = counters_.rejected_frames + counters_.rejected_transfer_frames;
  if (!std::has_single_bit(count)) return;
  std::ostream& log = *log_;
  if (rejection.kind == EventKind::kTransferFrame) {
    log << text::kTransferFrame << rejection.index;
  } else {
    const auto flags = log.flags();
    log << text::kCommandFrame << rejection.index << text::kOpcodeOpen << std::hex << std::setw(2)
        << std::setfill('0') << static_cast<unsigned>(rejection.opcode);
    log.flags(flags);
    log << ')';
  }
  log << text::kRejected << describe(rejection.fault) << text::kRejectedCount << count << ')'
      << std::endl;
}

std::int32_t InstrumentModel::take_data(std::span<const std::uint8_t> data,
                                        const SharedBytes* shared,
                                        std::chrono::milliseconds& wait) {
  ++counters_.data_writes;
  counters_.data_bytes += data.size();
  keep(data_writes_, data, shared);
  if (BusFirmwareStore::is_image(data)) wait = config_.bus_firmware.duration;
  return bus_firmware_.take(data, config_.bus_firmware);
}

bool InstrumentModel::keep(Records& into, std::span<const std::uint8_t> data,
                           const SharedBytes* shared) {
  if (data.size() > record_limit_ - std::min(recorded_bytes_, record_limit_)) return false;
  recorded_bytes_ += data.size();
  if (shared != nullptr) {
    into.push_back(*shared);
    return true;
  }
  auto copy = std::make_shared<const std::vector<std::uint8_t>>(data.begin(), data.end());
  into.push_back(SharedBytes{std::move(copy), 0, data.size()});
  return true;
}

std::vector<std::vector<std::uint8_t>> InstrumentModel::copies(const Records& records) {
  std::vector<std::vector<std::uint8_t>> out;
  out.reserve(records.size());
  for (const SharedBytes& record : records) {
    auto bytes = record.view();
    out.emplace_back(bytes.begin(), bytes.end());
  }
  return out;
}

}  // namespace zr::sim
