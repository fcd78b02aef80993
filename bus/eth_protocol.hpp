#pragma once
// The TCP protocol of the instrument's network service, shared by bus_eth and the simulator.
//
// After connecting, the client sends a 36-byte greeting (the 28-byte connection record, the
// device index and an extra word) and the service answers with 4 bytes. Then every bus
// operation is one request: a u32 opcode and its fields. The service answers each request with
// any number of side messages and exactly one final reply; a message is a type byte (1 = final),
// a u32 payload length and the payload. All values are little-endian.
#include <cstddef>
#include <cstdint>

namespace zr::eth {

enum class Opcode : std::uint32_t {
  kListDevices = 1,    // -> i32 status, u32 n, n bytes
  kOpen = 2,           // -> bus information reply
  kClose = 3,          // -> i32 status
  kSetTimeout = 4,     // u32 ms -> i32 status, u32 applied ms
  kWrite = 5,          // u32 n, n bytes -> i32 status
  kQuery = 6,          // u32 n, n bytes, u32 room, u32 ms -> i32 status, u32 n, n bytes
  kRead = 7,           // u32 room -> i32 status, u32 n, n bytes
  kStreamWrite = 8,    // u32 n, n bytes -> i32 status
  kNotifyDevice = 10,  // -> i32 status
  kStreamStop = 11,    // -> i32 status
  kWriteData = 12,     // u32 n, n bytes (identity record or bus firmware) -> i32 status
  kReserved13 = 13,    // -> i32 status
  kReserved14 = 14,    // -> i32 status
  kReadBlock = 16,     // u32 n -> i32 status, n bytes (no length field)
  kReserved17 = 17,    // -> i32 status
  kReadBusInfo = 18,   // -> i32 status, u32 link kind, u32 bandwidth, u32 firmware version
  kTextCommand = 19,   // u32 n, n bytes of text -> i32 status, u32 n, n bytes of text
};

constexpr std::size_t kConnectionRecordSize = 28;
constexpr std::size_t kGreetingSize = kConnectionRecordSize + 4 + 4;
constexpr std::size_t kGreetingAnswerSize = 4;

constexpr std::uint8_t kFinalReply = 1;
constexpr std::uint8_t kSideMessage = 0;
constexpr std::size_t kMessageHeadSize = 5;  // type byte + u32 length

// Bus information reply to kOpen: status, link kind, bandwidth, firmware version, the three
// time-outs, 256 bytes of identity text and the u16 device release.
constexpr std::size_t kBusInfoReplySize = 286;
constexpr std::size_t kBusInfoIdentityOffset = 28;
constexpr std::size_t kBusInfoReleaseOffset = 284;

// The client's buffer for a final reply payload; longer replies are refused.
constexpr std::size_t kReplyBufferSize = 4u * 1024u * 1024u;

// Large request fields go to the socket in pieces of at most this many bytes.
constexpr std::size_t kMaxSendPiece = 65536;

}  // namespace zr::eth
