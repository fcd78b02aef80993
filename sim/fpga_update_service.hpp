#pragma once
// The FPGA's remote-update service: takes the raw 256-byte packets written to the instrument,
// answers the client's one-byte reads (0x01 to the start, 0x55 once the flash is erased, the
// length of each commit) and reassembles the flash image the data packets carry. Packets have no
// type field beyond the marker, so a control packet right after a data packet is its commit.
// Not thread-safe: the model calls it under its lock.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/clock.hpp"
#include "sim/firmware_faults.hpp"

namespace zr::sim {

struct FpgaServiceConfig {
  // From the start packet to the 0x55. Reads before then come back empty at once, as the client
  // polls with a fixed number of reads rather than waiting out its time-out.
  std::chrono::milliseconds erase_time{0};
};

enum class FpgaProtocolError : std::uint8_t {
  kPacketSize,      // not 256 bytes
  kZeroLength,      // a data packet with n = 0
  kLengthTooLong,   // a data packet with n above 197
  kMissingCommit,   // a data packet not followed by its commit
  kCommitMismatch,  // a commit whose length is not that of its data packet
  kUnknownControl,  // a control packet that is no start, finish or commit
  kNotStarted,      // a data or finish packet outside an update
  kImageOverflow,   // data beyond the flash size (dropped)
  kPaddingNotFf,    // a byte after the payload or control code that is not 0xFF
};

std::string_view describe(FpgaProtocolError error);

inline constexpr std::size_t kMaxFpgaErrors = 1024;

// The current update, or the last one when none is under way. Only one image is kept: a new
// start drops the previous one.
struct FpgaUpdateRecord {
  std::uint32_t starts = 0;  // start packets since the instrument came up
  bool finished = false;     // the update ended with its finish packet
  std::uint64_t data_packets = 0;
  std::uint64_t commits = 0;
  std::uint64_t echoes = 0;         // commit lengths the client read back
  std::vector<std::uint8_t> image;  // the data payloads in arrival order
  std::vector<FpgaProtocolError> errors;  // since the instrument came up, the first kMaxFpgaErrors
  std::uint64_t error_count = 0;
};

class FpgaUpdateService {
 public:
  // Byte 0 of every remote-update packet is one of the two markers; command frames never use them.
  static bool is_packet(std::span<const std::uint8_t> bytes);

  void take(std::span<const std::uint8_t> packet, SteadyTime now,
            const FpgaServiceConfig& config, const FpgaFaults& faults);
  // The byte the next read delivers, or nothing yet.
  std::optional<std::uint8_t> answer(SteadyTime now, const FpgaFaults& faults);

  const FpgaUpdateRecord& record() const { return record_; }

 private:
  void note(FpgaProtocolError error);
  void take_data(std::span<const std::uint8_t> packet);
  void take_control(std::uint8_t code, SteadyTime now, const FpgaServiceConfig& config,
                    const FpgaFaults& faults);
  void start(SteadyTime now, const FpgaServiceConfig& config);

  FpgaUpdateRecord record_;
  bool under_way_ = false;
  bool start_ack_due_ = false;
  bool erase_due_ = false;
  SteadyTime erased_at_{};
  std::optional<std::uint8_t> awaiting_commit_;  // length of the data packet just taken
  std::optional<std::uint8_t> echo_;
};

}  // namespace zr::sim
