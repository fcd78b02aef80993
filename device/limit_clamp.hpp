#pragma once
// Clamping of command values to the limits file: each key names a section holding min and max.
#include <cstdint>
#include <optional>

namespace zr {

inline constexpr char kLimitFreqFixed[] = "TX_FREQ_FIXED";    // every frequency
inline constexpr char kLimitLevelFixed[] = "TX_LEVEL_FIXED";  // every level
inline constexpr char kLimitFreqStep[] = "TX_FREQ_STEP";      // frequency-sweep step
inline constexpr char kLimitLevelStep[] = "TX_LEVEL_STEP";    // level-sweep step
inline constexpr char kLimitDwellTime[] = "TX_DWELLTIME";     // every dwell time

struct LimitBounds {
  std::optional<double> min;  // absent: that side is unbounded
  std::optional<double> max;
};

// Reads [key] min and max from the limits file (scanned anew on every call). A missing file,
// section or key leaves that side unbounded; a value is converted like strtod in the C locale
// (leading blanks skipped, 0 when nothing converts).
LimitBounds read_limit(const char* key);

// Clamps value into the bounds of key. Returns ZR_CLAMPED when value was changed, else 0; NaN
// passes unchanged. A float is compared with the bounds converted to float.
std::int32_t clamp_to_limit(const char* key, double& value);
std::int32_t clamp_to_limit(const char* key, float& value);

}  // namespace zr
