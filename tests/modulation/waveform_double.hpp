#pragma once
// What the test-double waveform libraries record and answer. Each double exports
// waveform_double_control(); a test reaches it by opening the same library file.
#include <cstdint>
#include <string>
#include <vector>

namespace zr::testing {

struct DoubleCall {
  std::string entry;
  std::int32_t generator = 0;
  std::vector<std::uint8_t> record;
  double rate = 0.0;
  std::int32_t count = 0;
  void* output = nullptr;
  void* output_size = nullptr;
};

struct DoubleControl {
  std::int32_t create_result = 7;
  std::int32_t release_result = 0;
  std::int32_t generate_result = 0;  // every Generate* entry
  void* version_argument = nullptr;
  std::int32_t version_calls = 0;
  std::uint32_t create_arguments[4] = {};
  std::int32_t released_generator = 0;
  std::vector<DoubleCall> calls;  // Generate* calls, in order

  void reset() { *this = DoubleControl{}; }
};

using DoubleControlEntry = DoubleControl* (*)();

}  // namespace zr::testing
