#include "device/limit_clamp.hpp"

#include <locale.h>

#include <array>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "calibration/limits_file.hpp"
#include "zr_api.h"

namespace zr {
namespace {

// The limits file uses '.' whatever locale the host program has set.
locale_t c_locale() {
  static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", locale_t{});
  return locale;
}

std::optional<double> lookup(const char* section, const char* key) {
  std::array<char, kIniValueSize> text{};
  if (ini_get(section, key, text) != kIniFound) return std::nullopt;
  return ::strtod_l(text.data(), nullptr, c_locale());
}

// A double bound outside the float range becomes an infinity rather than an undefined conversion.
float to_float_bound(double bound) {
  if (bound > FLT_MAX) return std::numeric_limits<float>::infinity();
  if (bound < -FLT_MAX) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(bound);
}

template <typename T>
std::int32_t clamp(T& value, std::optional<T> min, std::optional<T> max) {
  if (std::isnan(value)) return ZR_OK;
  if (min && value < *min) {
    value = *min;
    return ZR_CLAMPED;
  }
  if (max && value > *max) {
    value = *max;
    return ZR_CLAMPED;
  }
  return ZR_OK;
}

}  // namespace

LimitBounds read_limit(const char* key) { return {lookup(key, "min"), lookup(key, "max")}; }

std::int32_t clamp_to_limit(const char* key, double& value) {
  const LimitBounds bounds = read_limit(key);
  return clamp(value, bounds.min, bounds.max);
}

std::int32_t clamp_to_limit(const char* key, float& value) {
  const LimitBounds bounds = read_limit(key);
  std::optional<float> min;
  std::optional<float> max;
  if (bounds.min) min = to_float_bound(*bounds.min);
  if (bounds.max) max = to_float_bound(*bounds.max);
  return clamp(value, min, max);
}

}  // namespace zr
