#pragma once
// Little-endian encoding and decoding of wire records. Every byte that goes to or comes from an
// instrument passes through these two classes; nothing casts byte buffers to structs.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace zr {

// Appends little-endian values to a growing byte vector.
class LeWriter {
 public:
  explicit LeWriter(std::vector<std::uint8_t>& out) : out_(out) {}

  LeWriter& u8(std::uint8_t value) {
    out_.push_back(value);
    return *this;
  }
  LeWriter& u16(std::uint16_t value) { return put(value, 2); }
  LeWriter& u32(std::uint32_t value) { return put(value, 4); }
  LeWriter& i32(std::int32_t value) { return put(static_cast<std::uint32_t>(value), 4); }
  LeWriter& u64(std::uint64_t value) { return put(value, 8); }
  LeWriter& bytes(std::span<const std::uint8_t> data) {
    out_.insert(out_.end(), data.begin(), data.end());
    return *this;
  }
  LeWriter& zeros(std::size_t count) {
    out_.insert(out_.end(), count, 0);
    return *this;
  }

 private:
  LeWriter& put(std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return *this;
  }
  std::vector<std::uint8_t>& out_;
};

// Stores little-endian values at fixed offsets of a caller's buffer (fixed-layout records).
inline void store_u16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void store_u32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline std::uint16_t load_u16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}
inline std::uint32_t load_u32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
         (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// Reads little-endian values from a byte span. A read past the end fails, leaves the output
// untouched and makes every later read fail too, so a caller can check ok() once at the end.
class LeReader {
 public:
  explicit LeReader(std::span<const std::uint8_t> data) : data_(data) {}

  bool u8(std::uint8_t& out) {
    if (!need(1)) return false;
    out = data_[pos_++];
    return true;
  }
  bool u16(std::uint16_t& out) {
    if (!need(2)) return false;
    out = load_u16(data_.data() + pos_);
    pos_ += 2;
    return true;
  }
  bool u32(std::uint32_t& out) {
    if (!need(4)) return false;
    out = load_u32(data_.data() + pos_);
    pos_ += 4;
    return true;
  }
  bool i32(std::int32_t& out) {
    std::uint32_t raw = 0;
    if (!u32(raw)) return false;
    out = static_cast<std::int32_t>(raw);
    return true;
  }
  bool bytes(std::uint8_t* out, std::size_t count) {
    if (!need(count)) return false;
    if (count != 0) std::memcpy(out, data_.data() + pos_, count);
    pos_ += count;
    return true;
  }
  // A view of the next count bytes, or an empty span (and failure) when fewer remain.
  std::span<const std::uint8_t> view(std::size_t count) {
    if (!need(count)) return {};
    auto piece = data_.subspan(pos_, count);
    pos_ += count;
    return piece;
  }
  bool skip(std::size_t count) {
    if (!need(count)) return false;
    pos_ += count;
    return true;
  }

  bool ok() const { return ok_; }
  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }

 private:
  bool need(std::size_t count) {
    if (!ok_ || count > data_.size() - pos_) {
      ok_ = false;
      return false;
    }
    return true;
  }
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace zr
