#pragma once
// Every text the simulator prints or reports, in one place: the program's console lines, the
// service's log lines and the fault plan's error messages.
#include <string_view>

namespace zr::sim::text {

// zr-sim console (the listening line is parsed by scripts: keep it exact).
inline constexpr std::string_view kListening = "zr-sim: listening on ";
inline constexpr std::string_view kProgramPrefix = "zr-sim: ";
inline constexpr std::string_view kUsageHint = "zr-sim: try 'zr-sim --help'";
inline constexpr std::string_view kUnknownOption = "unknown option '";
inline constexpr std::string_view kMissingValue = "missing value for '";
inline constexpr std::string_view kBadNumber = "bad number '";
inline constexpr std::string_view kBadPort = "bad port '";
inline constexpr std::string_view kCannotReadPlan = "cannot read fault plan '";
inline constexpr std::string_view kInPlan = "fault plan '";
inline constexpr std::string_view kInRule = "rule '";
inline constexpr std::string_view kCannotListen = "cannot listen on ";
inline constexpr std::string_view kStopping = "zr-sim: stopping";

inline constexpr std::string_view kHelp =
    "Usage: zr-sim [options]\n"
    "Simulated instrument reached over TCP (the Ethernet bus protocol).\n"
    "\n"
    "Options:\n"
    "  --address A        address to listen on (default 127.0.0.1)\n"
    "  --port N           TCP port (default 5000; 0 picks a free port)\n"
    "  --fault-plan FILE  read faults to inject from FILE\n"
    "  --ignore-greeting  read the greeting of each connection but never answer it\n"
    "  --close-after N    close each connection after answering N requests\n"
    "  --rule \"OPTIONS\"   add a fault rule (repeatable), e.g. --rule \"opcode=5 delay-ms=50\"\n"
    "  --help             show this text\n"
    "\n"
    "Fault plan file, one directive per line, '#' starts a comment:\n"
    "  ignore-greeting\n"
    "  close-after N\n"
    "  drop-in-payload REQUEST BYTES\n"
    "  rule [opcode=N] [first=N] [count=N] [delay-ms=N] [side=N] [side-interval-ms=N]\n"
    "       [status=N] [reply-length=N] [no-reply] [cut-reply]\n"
    "  unanswered-query [OPCODE...]\n"
    "  never-ready\n"
    "  fpga-no-start-ack | fpga-no-erase-done | fpga-no-commit-echo [N]\n"
    "  mcu-no-ack COMMAND... (begin, erase, data, finish) | mcu-late-erase-ack N\n"
    "A rule applies to requests first..first+count-1 of each connection (numbered from 1) with\n"
    "that opcode (0 or none: every opcode).\n"
    "unanswered-query makes the instrument leave queries with those frame opcodes (decimal or\n"
    "0x-prefixed; none named: every one) unanswered: the query request fails at once with\n"
    "status -3. never-ready keeps mcu_ready at 0 after each acknowledged calibration frame.\n"
    "The fpga- directives leave out answers of the FPGA remote-update service: the 0x01 to the\n"
    "start, the 0x55 at the end of the erase, or the echo of the first N commits of each update\n"
    "(none given: every one). mcu-no-ack leaves those bootloader commands unacknowledged on both\n"
    "MCUs; mcu-late-erase-ack N answers the erase without 0x06 and acknowledges it with the Nth\n"
    "read after it. A connection that drops mid-image: close-after N, with N counted over the\n"
    "requests of the update's connection (its open is request 1); inside one request (the bus\n"
    "firmware image): drop-in-payload REQUEST BYTES closes it once BYTES of that request's\n"
    "payload have arrived.\n"
    "\n"
    "Prints 'zr-sim: listening on ADDRESS:PORT' once bound and serves until SIGINT or SIGTERM.\n"
    "Exit status: 0 after a signal, 1 when the address cannot be bound, 2 on bad options.\n";

// Network service log lines (standard error), each preceded by "zr-sim: connection N: ".
inline constexpr std::string_view kConnection = "zr-sim: connection ";
inline constexpr std::string_view kUnknownOpcode = "unknown opcode ";
inline constexpr std::string_view kLengthTooLarge = "length too large: ";
inline constexpr std::string_view kClosing = "; closing the connection";

// Instrument model log lines (standard error). Bad checksums are logged when their count reaches
// a power of two, so that a flood of them cannot slow the write path down.
inline constexpr std::string_view kBadChecksum = "zr-sim: frame with a bad checksum, opcode 0x";
inline constexpr std::string_view kBadChecksumCount = " (bad checksums so far: ";

// Frames the instrument refused (standard error), logged when their count reaches a power of two:
// "zr-sim: command frame N (opcode 0xNN) rejected: REASON (rejected so far: K)" and
// "zr-sim: transfer frame N rejected: REASON (rejected so far: K)".
inline constexpr std::string_view kCommandFrame = "zr-sim: command frame ";
inline constexpr std::string_view kTransferFrame = "zr-sim: transfer frame ";
inline constexpr std::string_view kOpcodeOpen = " (opcode 0x";
inline constexpr std::string_view kRejected = " rejected: ";
inline constexpr std::string_view kRejectedCount = " (rejected so far: ";

// Why a frame was refused.
inline constexpr std::string_view kFaultListCount = "channel count out of range";
inline constexpr std::string_view kFaultChannelIndex = "channel index out of range";
inline constexpr std::string_view kFaultTriggerConfig = "trigger configuration out of range";
inline constexpr std::string_view kFaultPlaybackPage = "bad playback page or entry count";
inline constexpr std::string_view kFaultPlaybackOrder = "playback page out of order";
inline constexpr std::string_view kFaultPlaybackEntry = "playback entry padding not zero";
inline constexpr std::string_view kFaultFrameSize = "bad transfer frame size";
inline constexpr std::string_view kFaultSyncWord = "sync word missing";
inline constexpr std::string_view kFaultEndWord = "end word missing";
inline constexpr std::string_view kFaultUnitHighHalf = "unit with a nonzero high half";
inline constexpr std::string_view kFaultUnitsDisagree = "unit counts do not add up to the frame";
inline constexpr std::string_view kFaultHeaderTooShort = "header shorter than 256 bytes";
inline constexpr std::string_view kFaultHeaderNotZero = "header area not zero";
inline constexpr std::string_view kFaultPaddingNotZero = "padding not zero";
inline constexpr std::string_view kFaultDescriptor = "bad segment descriptor";
inline constexpr std::string_view kFaultOutsideMemory = "segment outside the waveform memory";
inline constexpr std::string_view kFaultNoTransfer = "no transfer under way";
inline constexpr std::string_view kFaultFrameSizeChanged = "frame size changed within a transfer";
inline constexpr std::string_view kFaultNotAnnounced = "download frame without an announcement";
inline constexpr std::string_view kFaultPayloadOverrun = "more payload than the segment length";

// Protocol errors the firmware-update services record.
inline constexpr std::string_view kFpgaPacketSize = "remote-update packet not 256 bytes";
inline constexpr std::string_view kFpgaZeroLength = "data packet with length 0";
inline constexpr std::string_view kFpgaLengthTooLong = "data packet longer than 197 bytes";
inline constexpr std::string_view kFpgaMissingCommit = "data packet without its commit";
inline constexpr std::string_view kFpgaCommitMismatch = "commit length differs from its data";
inline constexpr std::string_view kFpgaUnknownControl = "unknown control packet";
inline constexpr std::string_view kFpgaNotStarted = "packet outside an update";
inline constexpr std::string_view kFpgaImageOverflow = "data beyond the flash size";
inline constexpr std::string_view kFpgaPaddingNotFf = "packet padding not 0xFF";
inline constexpr std::string_view kMcuUnknownCommand = "unknown bootloader command";
inline constexpr std::string_view kMcuNotBegun = "bootloader command without a begin";
inline constexpr std::string_view kMcuNotErased = "data frame before the erase";
inline constexpr std::string_view kMcuReservedNotZero = "reserved frame bytes not zero";
inline constexpr std::string_view kMcuImageOverflow = "more data than the bootloader keeps";

// Fault plan errors, preceded by "line N: ".
inline constexpr std::string_view kLine = "line ";
inline constexpr std::string_view kUnknownDirective = "unknown directive '";
inline constexpr std::string_view kNoArguments = " takes no arguments, got '";
inline constexpr std::string_view kOneNumber = "close-after takes one number";
inline constexpr std::string_view kTwoNumbers =
    "drop-in-payload takes a request number (from 1) and a byte count";
inline constexpr std::string_view kUnknownRuleOption = "unknown rule option '";
inline constexpr std::string_view kBadValue = "bad value in '";
inline constexpr std::string_view kBadFrameOpcode = "bad frame opcode '";
inline constexpr std::string_view kAtMostOneNumber = " takes at most one number, got '";
inline constexpr std::string_view kUnknownMcuCommand = "unknown bootloader command '";
inline constexpr std::string_view kNeedsMcuCommand =
    "mcu-no-ack takes one or more of begin, erase, data, finish";
inline constexpr std::string_view kLateAckNumber = "mcu-late-erase-ack takes one number above 0";

}  // namespace zr::sim::text
