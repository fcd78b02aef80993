#pragma once
// The simulated instrument, independent of the transport that reaches it. The network service
// (and later the virtual USB device) turn their requests into calls of this model, so every test
// meets the same instrument. It is safe to call from several threads.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bus/abus.hpp"
#include "device/opcodes.hpp"
#include "platform/clock.hpp"
#include "sim/bus_firmware_store.hpp"
#include "sim/command_interpreter.hpp"
#include "sim/fault_plan.hpp"
#include "sim/fpga_update_service.hpp"
#include "sim/frame_fault.hpp"
#include "sim/instrument_config.hpp"
#include "sim/mcu_bootloader.hpp"
#include "zr_api.h"

namespace zr::sim {

struct ModelConfig {
  BusInfo bus_info;                       // reported by open
  std::vector<std::uint8_t> device_list;  // payload of list_devices
  std::string kernel_info;                // text answering the kernel-information query
  InstrumentConfig instrument;            // what the command interpreter reports
  FpgaServiceConfig fpga;                 // the remote-update service's erase time
  BusFirmwareConfig bus_firmware;         // how the bus controller answers an image
};

// Defaults of the simulated instrument: a signal generator with made-up identity strings, a
// kernel-information text that reports PGA_PowerSourceType 0, the interpreter's defaults and a
// device list entry naming the same model and uid.
ModelConfig default_model_config();

// The text that asks for the kernel information; any other text command is refused.
inline constexpr std::string_view kKernelInfoCommand = "tvx --device-kernel-info-all";

inline constexpr std::int32_t kModelOk = 0;
// Status of a text command the instrument does not know (the reply text is empty).
inline constexpr std::int32_t kUnknownTextCommand = -1;
// Status of a read_block longer than kMaxReadBlock (no bytes are delivered).
inline constexpr std::int32_t kReadBlockTooLong = -2;
// Status of a query the instrument leaves unanswered (unanswered-query fault): the network
// service reports it at once, as an instrument whose MCU did not answer in time.
inline constexpr std::int32_t kQueryUnanswered = -3;

// Status of a transfer frame the instrument refused (the frame is logged and recorded as refused).
inline constexpr std::int32_t kTransferFrameRejected = ZR_BUS_USB_TRANSFER_FAILED;

inline constexpr std::size_t kMaxReadBlock = 4u * 1024u * 1024u;
inline constexpr std::size_t kDefaultQueryReplySize = 128;
// Copies of received payloads are kept up to this many bytes in total; counters go on beyond it.
inline constexpr std::size_t kDefaultModelRecordLimit = 128u * 1024u * 1024u;

// Received bytes that a transport keeps anyway (the network service's request record): the model
// records them by holding on to the same buffer instead of copying, so that a long stream costs
// one copy of memory, not two. The buffer must not change once shared.
struct SharedBytes {
  std::shared_ptr<const std::vector<std::uint8_t>> buffer;
  std::size_t offset = 0;
  std::size_t size = 0;

  std::span<const std::uint8_t> view() const {
    return std::span<const std::uint8_t>(buffer->data() + offset, size);
  }
};

// Byte and call counts of everything received, kept whether or not copies were recorded.
struct ModelCounters {
  std::uint64_t frames = 0;  // write() and query() frames
  std::uint64_t frame_bytes = 0;
  std::uint64_t stream_blocks = 0;
  std::uint64_t stream_bytes = 0;
  std::uint64_t data_writes = 0;
  std::uint64_t data_bytes = 0;
  std::uint64_t stream_stops = 0;
  std::uint64_t bad_checksums = 0;       // command frames ignored for their checksum
  std::uint64_t unanswered_queries = 0;  // queries left unanswered by the fault plan
  std::uint64_t rejected_frames = 0;     // command frames the interpreter refused
  std::uint64_t rejected_transfer_frames = 0;
};

enum class FrameRoute : std::uint8_t { kWrite, kQuery };

// One received frame as the interpreter saw it.
struct FrameRecord {
  FrameRoute route = FrameRoute::kWrite;
  std::uint8_t opcode = 0;
  FrameCheck check = FrameCheck::kUnchecked;
  std::vector<std::uint8_t> bytes;
};

// The event log: what arrived, in arrival order, across the paths that must stay in step (command
// frames, the stream path reset between the stop steps, the sample transfer frames).
enum class EventKind : std::uint8_t { kFrame, kStreamStop, kTransferFrame };

struct ModelEvent {
  EventKind kind = EventKind::kFrame;
  FrameRoute route = FrameRoute::kWrite;      // frames
  std::uint8_t opcode = 0;                    // frames
  FrameCheck check = FrameCheck::kUnchecked;  // frames
  std::size_t size = 0;                       // bytes of a frame or a transfer frame
  std::optional<FrameFault> fault;            // set when the instrument refused it
};

// One refused frame. index counts from 0 over what arrived since clear_records: the command
// frames (write and query) for kFrame, the transfer frames for kTransferFrame.
struct Rejection {
  EventKind kind = EventKind::kFrame;
  std::uint64_t index = 0;
  std::uint8_t opcode = 0;  // command frames
  FrameFault fault = FrameFault::kFrameSize;
};

// Events and rejections are kept up to these counts (the counters go on).
inline constexpr std::size_t kMaxModelEvents = 1u << 20;
inline constexpr std::size_t kMaxRejections = 1024;

class InstrumentModel {
 public:
  explicit InstrumentModel(ModelConfig config = default_model_config());

  // Bus operations as the instrument carries them out. Outputs are appended to the vectors.
  std::int32_t list_devices(std::vector<std::uint8_t>& data);
  std::int32_t open(BusInfo& info);
  std::int32_t close();
  std::int32_t set_timeout(std::uint32_t requested_ms, std::uint32_t& applied_ms);
  // A 256-byte command frame goes to the command interpreter when its checksum holds; a bad one
  // is counted, logged now and then, and otherwise ignored. Writes always report kModelOk.
  std::int32_t write(std::span<const std::uint8_t> frame);
  // The reply is the next queued query reply (cut to room); else the interpreter's reply to a
  // sound command frame, min(room, 128) bytes, or kQueryUnanswered and no bytes under the
  // unanswered-query fault; else (bad checksum, not a command frame) min(room, 128) zero bytes.
  std::int32_t query(std::span<const std::uint8_t> frame, std::uint32_t room,
                     std::uint32_t timeout_ms, std::vector<std::uint8_t>& reply);
  // Delivers queued read bytes (test data first, then what the interpreter left, such as a table
  // page after 0x5b) up to room; with nothing queued, status 0 and no bytes at once.
  std::int32_t read(std::uint32_t room, std::vector<std::uint8_t>& data);
  // A sample transfer frame for the waveform memory: kModelOk, or kTransferFrameRejected when the
  // frame is malformed or out of place (logged, and it ends the transfer under way).
  std::int32_t stream_write(std::span<const std::uint8_t> data);
  std::int32_t notify_device();
  // Resets the stream path: a transfer under way ends incomplete.
  std::int32_t stream_stop();
  // The identity record, or (longer than kMaxIdentityRecord) a bus firmware image, answered
  // with the configured status after the configured duration.
  std::int32_t write_data(std::span<const std::uint8_t> data);
  // The same operations on bytes the caller keeps; recorded without a copy.
  std::int32_t write(const SharedBytes& frame);
  std::int32_t query(const SharedBytes& frame, std::uint32_t room, std::uint32_t timeout_ms,
                     std::vector<std::uint8_t>& reply);
  std::int32_t stream_write(const SharedBytes& data);
  std::int32_t write_data(const SharedBytes& data);
  std::int32_t reserved(std::uint32_t opcode);
  // length bytes of the pattern i & 0xFF; longer than kMaxReadBlock is refused.
  std::int32_t read_block(std::uint32_t length, std::vector<std::uint8_t>& data);
  std::int32_t read_bus_info(std::uint32_t& link_kind, std::uint32_t& link_bandwidth,
                             std::uint32_t& firmware_version);
  // Answers kKernelInfoCommand with the kernel_info text, anything else with
  // kUnknownTextCommand and no text.
  std::int32_t text_command(std::string_view text, std::vector<std::uint8_t>& reply);

  // Test hooks.
  // Replaces the configuration; the interpreter's state (an outstanding mcu_ready) stays.
  void set_config(ModelConfig config);
  ModelConfig config() const;
  void set_faults(const InstrumentFaults& faults);
  InstrumentFaults faults() const;
  // The clock of the instrument's own timings; the real one unless a test passes another.
  void set_clock(Clock& clock);
  // Where bad checksums are logged (standard error by default).
  void set_log(std::ostream& log);
  // Bytes the next read() calls deliver, at most the requested room per call.
  void queue_read_data(std::vector<std::uint8_t> data);
  // Reply bytes of the next query() calls, one entry per query.
  void queue_query_reply(std::vector<std::uint8_t> reply);

  std::vector<std::vector<std::uint8_t>> frames() const;          // write() and query() frames
  std::vector<FrameRecord> frame_records() const;                 // the same with opcode and check
  std::vector<std::vector<std::uint8_t>> stream_blocks() const;   // stream_write() payloads
  std::vector<std::vector<std::uint8_t>> data_writes() const;     // write_data() payloads
  ModelCounters counters() const;
  std::vector<ModelEvent> events() const;
  std::vector<Rejection> rejections() const;

  // The instrument's own state, as the frames left it.
  std::vector<SimChannelState> channel_states() const;
  std::vector<SegmentRecord> waveform_segments() const;  // in number order
  std::optional<SegmentRecord> waveform_segment(std::uint32_t number) const;
  bool download_announced() const;
  bool transfer_under_way() const;
  std::optional<PlaybackList> playback_list(std::int16_t channel) const;
  // What the firmware-update services received (kept across clear_records).
  FpgaUpdateRecord fpga_update() const;
  McuUpdateRecord mcu_update(std::uint8_t target) const;  // kMcuRoot or kMcuNode
  BusFirmwareRecord bus_firmware() const;

  // Bounds the bytes kept by frames(), stream_blocks() and data_writes() together. A payload is
  // kept whole or not at all. The same bound applies, separately, to the payloads the waveform
  // segment records keep.
  void set_record_limit(std::size_t bytes);
  // Forgets recorded payloads, events, rejections and counters (queued replies and the
  // instrument's channel and waveform state stay).
  void clear_records();

 private:
  using Records = std::vector<SharedBytes>;

  // Checks, counts and records a frame; shared is the caller's buffer holding the bytes, or null
  // when they must be copied to be kept.
  FrameVerdict take_frame(std::span<const std::uint8_t> frame, const SharedBytes* shared,
                          FrameRoute route);
  void carry_out_write(std::span<const std::uint8_t> frame, const SharedBytes* shared);
  std::int32_t answer_query(std::span<const std::uint8_t> frame, const SharedBytes* shared,
                            std::uint32_t room, std::vector<std::uint8_t>& reply);
  void note_bad_checksum(std::uint8_t opcode);
  void note_event(const ModelEvent& event);
  void note_rejection(const Rejection& rejection);
  std::int32_t take_stream(std::span<const std::uint8_t> data, const SharedBytes* shared);
  // The status to answer with, and in wait how long the bus controller takes before it.
  std::int32_t take_data(std::span<const std::uint8_t> data, const SharedBytes* shared,
                         std::chrono::milliseconds& wait);
  std::int32_t answer_data(std::span<const std::uint8_t> data, const SharedBytes* shared);
  McuBootloader* bootloader(std::uint8_t target);
  bool keep(Records& into, std::span<const std::uint8_t> data, const SharedBytes* shared);
  static std::vector<std::vector<std::uint8_t>> copies(const Records& records);

  mutable std::mutex mutex_;
  ModelConfig config_;
  std::deque<std::uint8_t> read_data_;
  std::deque<std::vector<std::uint8_t>> query_replies_;
  Records frames_;
  struct FrameNote {
    FrameRoute route;
    FrameVerdict verdict;
  };
  std::vector<FrameNote> frame_notes_;  // one per kept frame
  CommandInterpreter interpreter_;
  std::ostream* log_;
  Records stream_blocks_;
  Records data_writes_;
  ModelCounters counters_;
  std::vector<ModelEvent> events_;
  std::vector<Rejection> rejections_;
  std::size_t record_limit_ = kDefaultModelRecordLimit;
  std::size_t recorded_bytes_ = 0;
  Clock* clock_ = &real_clock();  // the firmware services' timings
  FpgaUpdateService fpga_;
  McuBootloader root_mcu_{kMcuRoot};
  McuBootloader node_mcu_{kMcuNode};
  BusFirmwareStore bus_firmware_;
};

}  // namespace zr::sim
