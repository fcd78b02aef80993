#pragma once
// Loads a calibration file of an instrument, falling back to the default file.
#include <cstdint>
#include <vector>

#include "calibration/cal_folder.hpp"

namespace zr {

enum class CalFileSource : std::uint8_t { Own = 1, Default = 2, None = 3 };

struct CalFileLoad {
  std::int32_t status;  // 0 own file, -1 default file, -2 neither
  CalFileSource source;
};

inline constexpr std::int32_t kCalLoadOwn = 0;
inline constexpr std::int32_t kCalLoadDefault = -1;
inline constexpr std::int32_t kCalLoadFailed = -2;

// Larger files are not calibration files; refusing them keeps a stray file from exhausting memory.
inline constexpr std::uint64_t kMaxCalFileBytes = 16u << 20;

// Reads the instrument's own file, or the default file (uid kDefaultCalUid) when the own one does
// not open, into data (replacing its contents). On failure data is left empty.
CalFileLoad load_cal_file(std::int16_t model, CalFileKind kind, std::uint64_t uid,
                          std::vector<std::uint8_t>& data);

}  // namespace zr
