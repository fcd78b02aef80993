#pragma once
// Read-only access to a firmware image file: its size and bounded reads at an offset.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zr {

class ImageFile {
 public:
  ImageFile() = default;
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  // False when path is null, cannot be opened or is not a regular file (a directory or a pipe
  // has no length to check against).
  bool open(const char* path);
  std::uint64_t size() const { return size_; }
  // Reads up to dest.size() bytes from offset: the count read, fewer only at the end of the
  // file; nullopt on a read error.
  std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> dest) const;

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// Reads the bytes of path from offset to the end into a new buffer, refusing files whose part
// from offset is longer than max_length or that end before offset. nullopt when refused or
// unreadable.
std::optional<std::vector<std::uint8_t>> read_image_tail(const char* path, std::uint64_t offset,
                                                         std::size_t max_length);

}  // namespace zr
