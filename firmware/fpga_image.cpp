#include "firmware/fpga_image.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <utility>

#include "firmware/image_file.hpp"
#include "zr_api.h"

namespace zr {
namespace {
constexpr std::uint8_t kErasedFlashByte = 0xFF;
}

bool is_raw_image_path(std::string_view path) {
  return path.find(kRawImageMarker) != std::string_view::npos;
}

std::int32_t load_flash_image(const char* path, FlashImage& image) {
  ImageFile file;
  if (!file.open(path)) return ZR_FW_IMAGE_UNREADABLE;

  const bool raw = is_raw_image_path(path);
  // Cutting an oversized raw image would flash something that was never built: refuse it.
  if (raw && file.size() > kFlashImageSize) return ZR_FW_IMAGE_UNREADABLE;
  const std::uint64_t offset = raw ? 0 : kContainerImageOffset;
  const auto length = raw ? static_cast<std::size_t>(file.size()) : kFlashImageSize;

  std::vector<std::uint8_t> buffer(kFlashImageSize, 0);
  const std::optional<std::size_t> got =
      file.read_at(offset, std::span<std::uint8_t>(buffer).first(length));
  // A raw image is read whole; a short container keeps its zero tail.
  if (!got || (raw && *got != length)) return ZR_FW_IMAGE_UNREADABLE;
  if (length < kFlashImageSize) {
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(length), buffer.end(),
              kErasedFlashByte);
  }
  image.buffer = std::move(buffer);
  image.image_length = static_cast<std::uint32_t>(length);
  return ZR_OK;
}

}  // namespace zr
