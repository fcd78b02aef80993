#include "firmware/image_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zr {
namespace {
constexpr int kMaxInterrupts = 100;
}

ImageFile::~ImageFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool ImageFile::open(const char* path) {
  if (path == nullptr || fd_ >= 0) return false;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  size_ = static_cast<std::uint64_t>(info.st_size);
  return true;
}

std::optional<std::size_t> ImageFile::read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> dest) const {
  if (fd_ < 0) return std::nullopt;
  std::size_t done = 0;
  int interrupts = 0;
  // Each pass moves at least one byte or ends the loop, so it is bounded by dest.size().
  while (done < dest.size() && offset + done < size_) {
    const ssize_t got = ::pread(fd_, dest.data() + done, dest.size() - done,
                                static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR && ++interrupts < kMaxInterrupts) continue;
      return std::nullopt;
    }
    if (got == 0) break;  // the file shrank under us: what is there is all there is
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::optional<std::vector<std::uint8_t>> read_image_tail(const char* path, std::uint64_t offset,
                                                         std::size_t max_length) {
  ImageFile file;
  if (!file.open(path) || file.size() < offset) return std::nullopt;
  const std::uint64_t length = file.size() - offset;
  if (length > max_length) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
  const std::optional<std::size_t> got = file.read_at(offset, bytes);
  if (!got || *got != bytes.size()) return std::nullopt;
  return bytes;
}

}  // namespace zr
