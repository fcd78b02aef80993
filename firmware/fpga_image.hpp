#pragma once
// The FPGA flash image: always the full flash size, filled from a raw image or from the image
// inside a configuration container.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zr {

inline constexpr std::size_t kFlashImageSize = 3932160;         // 0x3C0000
inline constexpr std::uint64_t kContainerImageOffset = 4194464;  // 0x4000A0
inline constexpr std::string_view kRawImageMarker = ".rpd";

struct FlashImage {
  std::vector<std::uint8_t> buffer;  // kFlashImageSize bytes once loaded
  std::uint32_t image_length = 0;    // bytes taken from the file, as reported to the user
};

// Raw when the path (any part of it, case-sensitive) contains ".rpd".
bool is_raw_image_path(std::string_view path);

// Raw image: the file from offset 0, the rest of the buffer 0xFF; a file longer than the flash
// is refused. Container: kFlashImageSize bytes from kContainerImageOffset, a missing tail
// staying zero. ZR_OK, or ZR_FW_IMAGE_UNREADABLE with image untouched.
std::int32_t load_flash_image(const char* path, FlashImage& image);

}  // namespace zr
