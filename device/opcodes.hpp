#pragma once
// Every opcode the library sends in byte 0 of a command frame.
#include <cstdint>

namespace zr {

// Commands (no reply).
inline constexpr std::uint8_t kOpStopChannels = 0x11;
inline constexpr std::uint8_t kOpStartChannels = 0x12;
inline constexpr std::uint8_t kOpCalDownloadDirection = 0x13;
inline constexpr std::uint8_t kOpResetClockMonitor = 0x14;
inline constexpr std::uint8_t kOpConfigFan = 0x15;
inline constexpr std::uint8_t kOpTriggerBus = 0x19;
inline constexpr std::uint8_t kOpStopStep2 = 0x1a;  // before the bus's stream_stop
inline constexpr std::uint8_t kOpStopStep3 = 0x1b;  // after the bus's stream_stop
inline constexpr std::uint8_t kOpPowerSource = 0x28;
inline constexpr std::uint8_t kOpConfigPlayback = 0x32;
inline constexpr std::uint8_t kOpClose = 0x34;
inline constexpr std::uint8_t kOpConfigGnss = 0x36;
inline constexpr std::uint8_t kOpConfigClock = 0x37;
inline constexpr std::uint8_t kOpClearWaveform = 0x38;
inline constexpr std::uint8_t kOpDownloadWaveform = 0x39;
inline constexpr std::uint8_t kOpPresetChannels = 0x3a;
inline constexpr std::uint8_t kOpConfigLoMode = 0x3b;
inline constexpr std::uint8_t kOpConfigDataBlock = 0x3c;
inline constexpr std::uint8_t kOpConfigTriggerOut = 0x3d;
inline constexpr std::uint8_t kOpConfigPort = 0x3e;
inline constexpr std::uint8_t kOpRxConfigFfm = 0x3f;
inline constexpr std::uint8_t kOpConfigTrigger = 0x49;
inline constexpr std::uint8_t kOpTxConfigFfm = 0x4a;
inline constexpr std::uint8_t kOpTxConfigFscan = 0x4b;
inline constexpr std::uint8_t kOpTxConfigLscan = 0x4c;
inline constexpr std::uint8_t kOpTxConfigMscan = 0x4d;  // one page of up to 8 list points
inline constexpr std::uint8_t kOpTxConfigOutput = 0x4e;
inline constexpr std::uint8_t kOpTxConfigCw = 0x4f;
inline constexpr std::uint8_t kOpTxConfigStream = 0x50;
inline constexpr std::uint8_t kOpCalConfigTx = 0x53;
inline constexpr std::uint8_t kOpCalStrategyTable = 0x54;  // chunked
inline constexpr std::uint8_t kOpCalRfHeader = 0x55;       // acknowledged
inline constexpr std::uint8_t kOpCalRfData = 0x56;         // chunked
inline constexpr std::uint8_t kOpCalIqHeader = 0x57;       // acknowledged
inline constexpr std::uint8_t kOpCalIqData = 0x58;         // chunked
inline constexpr std::uint8_t kOpCalMode = 0x59;
inline constexpr std::uint8_t kOpReadTable = 0x5b;  // followed by a bus read of the page
inline constexpr std::uint8_t kOpXtalVoltage = 0x5d;
inline constexpr std::uint8_t kOpCalFreqTable = 0x5e;  // chunked

// Queries (reply of up to 128 bytes).
inline constexpr std::uint8_t kOpQueryReady = 0x16;
inline constexpr std::uint8_t kOpQueryIdentity = 0x89;
inline constexpr std::uint8_t kOpQueryTemperature = 0x95;
inline constexpr std::uint8_t kOpQueryGnss = 0x9c;
inline constexpr std::uint8_t kOpQueryClockMonitor = 0xa1;
inline constexpr std::uint8_t kOpQuerySupply = 0xc2;
inline constexpr std::uint8_t kOpQueryClock = 0xca;

// MCU bootloader frames: byte 0 names the MCU, byte 1 carries the bootloader command. They go out
// through the bus's query operation and a reply whose byte 0 is kMcuAck acknowledges.
inline constexpr std::uint8_t kMcuRoot = 0xfc;
inline constexpr std::uint8_t kMcuNode = 0xfd;
inline constexpr std::uint8_t kMcuBegin = 0x31;
inline constexpr std::uint8_t kMcuFinish = 0x33;
inline constexpr std::uint8_t kMcuErase = 0x34;
inline constexpr std::uint8_t kMcuData = 0x35;
inline constexpr std::uint8_t kMcuAck = 0x06;

}  // namespace zr
