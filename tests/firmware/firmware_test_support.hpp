#pragma once
// Shared by the firmware suites: image files written into a private temporary folder, a
// recording context on a fake clock with the console captured, and byte patterns that make a
// misplaced byte visible.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "tests/device/recording_bus.hpp"

namespace zr::testing {

// A temporary folder of image files, removed with the object.
class ImageFolder {
 public:
  ImageFolder() : base_(make_temp()) {}
  ~ImageFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }
  ImageFolder(const ImageFolder&) = delete;
  ImageFolder& operator=(const ImageFolder&) = delete;

  // Writes bytes to name (which may contain folders) and returns the full path.
  std::string write(const std::string& name, std::span<const std::uint8_t> bytes) const {
    const std::filesystem::path path = base_ / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  std::string path(const std::string& name) const { return (base_ / name).string(); }

 private:
  static std::filesystem::path make_temp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zr-fw-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }
  std::filesystem::path base_;
};

// Bytes that differ from their neighbours and from the fill values at nearly every offset, so
// that a shifted, dropped or repeated piece shows.
inline std::vector<std::uint8_t> pattern_bytes(std::size_t count, std::uint32_t seed = 1) {
  std::vector<std::uint8_t> bytes(count);
  std::uint32_t state = seed * 2654435761u + 12345u;
  for (std::size_t i = 0; i < count; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<std::uint8_t>(state >> 16);
  }
  return bytes;
}

// A recording context, a fake clock that moves a little on every reading and the console
// captured, as every firmware test needs them.
struct FirmwareFixture {
  FirmwareFixture() : installed_clock(clock), installed_console(console_text) {}

  RecordingBus& bus() { return *recording.bus; }
  DeviceContext& context() { return recording.context; }
  std::string transcript() const { return console_text.str(); }

  FakeClock clock{std::chrono::microseconds{1}};
  ScopedClock installed_clock;
  std::ostringstream console_text;
  ScopedConsole installed_console;
  ImageFolder folder;
  RecordingContext recording;
};

inline BusReply reply_bytes(std::vector<std::uint8_t> bytes, std::int32_t status = ZR_OK) {
  BusReply reply;
  reply.status = status;
  reply.bytes = std::move(bytes);
  return reply;
}

// A read that timed out: nothing moved.
inline BusReply silent_reply() { return reply_bytes({}, ZR_BUS_ETH_NO_REPLY); }

}  // namespace zr::testing
