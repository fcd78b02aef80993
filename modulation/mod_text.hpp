#pragma once
// Console text of the modulation calls.

namespace zr {

inline constexpr char kInvalidModText[] = "InvalidMod\n";

}  // namespace zr
