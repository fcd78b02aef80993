#pragma once
// One MCU's bootloader (root 0xFC or node 0xFD): takes the sealed 256-byte frames addressed to it
// through the query path, acknowledges begin, erase, data and finish with 0x06 in reply byte 0 and
// reassembles the application image. The payload length is not on the wire, so every data frame
// adds a whole 192-byte piece; the client's short last piece arrives zero-padded.
// Not thread-safe: the model calls it under its lock.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "sim/firmware_faults.hpp"

namespace zr::sim {

enum class McuProtocolError : std::uint8_t {
  kUnknownCommand,
  kNotBegun,         // erase, data or finish without a begin
  kNotErased,        // data before the erase
  kReservedNotZero,  // bytes 2 and 3, or those after the payload area, not zero
  kImageOverflow,    // more data than kMaxMcuImage (dropped)
};

std::string_view describe(McuProtocolError error);

// Far above any MCU's flash; a client that never stops cannot grow the image without end.
inline constexpr std::size_t kMaxMcuImage = 4u * 1024u * 1024u;
inline constexpr std::size_t kMaxMcuErrors = 1024;
inline constexpr std::size_t kMaxMcuCommands = 1u << 16;

// The current update, or the last one; a begin starts a new record of commands and image.
struct McuUpdateRecord {
  std::uint32_t begins = 0;    // since the instrument came up
  bool erased = false;
  bool finished = false;       // the update ended with its finish frame
  std::uint64_t data_frames = 0;
  std::vector<std::uint8_t> commands;  // command bytes of this update, the first kMaxMcuCommands
  std::vector<std::uint8_t> image;     // 192 bytes per data frame
  std::vector<McuProtocolError> errors;  // since the instrument came up, the first kMaxMcuErrors
  std::uint64_t error_count = 0;
};

class McuBootloader {
 public:
  explicit McuBootloader(std::uint8_t target) : target_(target) {}

  std::uint8_t target() const { return target_; }
  // Carries out a frame whose checksum holds and whose byte 0 is this target; true when the
  // reply acknowledges it.
  bool take(std::span<const std::uint8_t> frame, const McuFaults& faults);
  // Counts a read of the client's; true when it is the one that brings a withheld erase
  // acknowledgement.
  bool take_read(const McuFaults& faults);

  const McuUpdateRecord& record() const { return record_; }

 private:
  void note(McuProtocolError error);
  void begin();

  std::uint8_t target_;
  McuUpdateRecord record_;
  bool begun_ = false;  // a begin since the last finish
  bool erase_ack_withheld_ = false;
  std::uint32_t reads_since_erase_ = 0;
};

}  // namespace zr::sim
