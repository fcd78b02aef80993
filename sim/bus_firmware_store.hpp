#pragma once
// The bus controller's firmware store behind the data request: the same request carries the
// identity record at open and a firmware image, told apart by length. The versions the instrument
// reports are configuration, not read from what is installed here.
// Not thread-safe: the model calls it under its lock.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zr::sim {

// The identity record's length travels in one byte; anything longer is a firmware image.
inline constexpr std::size_t kMaxIdentityRecord = 255;

struct BusFirmwareConfig {
  std::chrono::milliseconds duration{0};  // how long writing an image takes before the answer
  std::int32_t status = 0;                // the answer to an image
};

struct BusFirmwareRecord {
  std::uint32_t images = 0;            // images received (whatever the configured answer)
  std::vector<std::uint8_t> image;     // the last one
  std::uint32_t identity_writes = 0;
  std::vector<std::uint8_t> identity;  // the last identity record
};

class BusFirmwareStore {
 public:
  static bool is_image(std::span<const std::uint8_t> data) {
    return data.size() > kMaxIdentityRecord;
  }

  // Takes one data request; the status to answer it with.
  std::int32_t take(std::span<const std::uint8_t> data, const BusFirmwareConfig& config);

  const BusFirmwareRecord& record() const { return record_; }

 private:
  BusFirmwareRecord record_;
};

}  // namespace zr::sim
