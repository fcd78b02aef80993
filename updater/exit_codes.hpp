#pragma once
// Exit codes of the updater program that are its own rather than a transport status.
#include <sysexits.h>

namespace zr::updater {

// The connection settings could not be used (a number that is not one, or a Settings.ini short of
// the values its interface needs). EX_CONFIG, so that it can never be mistaken for -1 (255) or
// for a transport status handed through as the exit code.
inline constexpr int kExitInvalidSettings = 78;
static_assert(kExitInvalidSettings == EX_CONFIG);

}  // namespace zr::updater
