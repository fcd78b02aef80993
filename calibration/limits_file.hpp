#pragma once
// Reader of the limits file CalFile/132.ini: INI sections of min/max keys.
#include <cstdint>
#include <span>

namespace zr {

inline constexpr std::int32_t kIniFound = 0;
inline constexpr std::int32_t kIniNoFile = -1;
inline constexpr std::int32_t kIniNotFound = -2;

inline constexpr std::size_t kIniValueSize = 64;  // at most 63 characters and the NUL

// Looks key up in [section] of the limits file, which is opened and scanned anew on every call.
// Returns kIniFound with the NUL-terminated value (cut to 63 characters) in value, kIniNoFile when
// the file does not open, kIniNotFound when the section or key is absent.
std::int32_t ini_get(const char* section, const char* key, std::span<char, kIniValueSize> value);

}  // namespace zr
