#pragma once
// Console texts of the device primitives (UTF-8).
namespace zr {

// The MCU does not answer the acknowledgement poll; the transfer is retried.
inline constexpr char kMcuNotResponding[] = "MCU\u672a\u54cd\u5e94\uff0c\u7b49\u5f85\u4e2d";

}  // namespace zr
