#pragma once
// Compact expectations on a ResolvedSettings, shared by the settings suites.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "updater/settings.hpp"

namespace zr::updater::testing {

struct Expected {
  std::uint8_t interface;
  std::array<std::uint8_t, 4> address;
  std::uint16_t port;
  std::uint32_t timeout_ms;
  std::uint8_t device_number;
  bool settings_given;
};

inline constexpr std::array<std::uint8_t, 4> kDefaultAddress = {192, 168, 1, 100};

inline void expect_settings(const ResolvedSettings& actual, const Expected& expected) {
  EXPECT_EQ(actual.params.interface, expected.interface);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(actual.params.address[i], expected.address[i]) << "octet " << i;
  }
  EXPECT_EQ(actual.params.port, expected.port);
  EXPECT_EQ(actual.params.timeout_ms, expected.timeout_ms);
  EXPECT_EQ(actual.device_number, expected.device_number);
  EXPECT_EQ(actual.settings_given, expected.settings_given);
  // Never touched by the settings.
  EXPECT_EQ(actual.params.address_family, 0);
  EXPECT_EQ(actual.params.reserved, 0u);
  for (std::size_t i = 4; i < 16; ++i) EXPECT_EQ(actual.params.address[i], 0) << "byte " << i;
}

// A state unlike the defaults, to show that a failed resolution leaves everything as it was.
inline ResolvedSettings sentinel_settings() {
  ResolvedSettings settings;
  settings.params.interface = ZR_INTERFACE_PCIE;
  settings.params.address[0] = 1;
  settings.params.address[1] = 2;
  settings.params.address[2] = 3;
  settings.params.address[3] = 4;
  settings.params.port = 1234;
  settings.params.timeout_ms = 42;
  settings.device_number = 9;
  settings.settings_given = false;
  return settings;
}

inline constexpr Expected kSentinel = {ZR_INTERFACE_PCIE, {1, 2, 3, 4}, 1234, 42, 9, false};

}  // namespace zr::updater::testing
