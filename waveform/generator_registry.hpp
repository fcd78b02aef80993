#pragma once
// The generator objects handed out by GenSignalObjCreatSelfEncode, with the identity of the
// instrument each was created for.
#include <cstdint>

namespace zr::wave {

struct GeneratorIdentity {
  std::uint32_t model = 0;
  std::uint32_t uid_high = 0;
  std::uint64_t uid_low = 0;
};

// A positive handle, or GSW_INVALID when every slot is taken.
std::int32_t create_generator(const GeneratorIdentity& identity);
// GSW_OK, or GSW_INVALID when the handle is not alive.
std::int32_t release_generator(std::int32_t handle);
bool generator_alive(std::int32_t handle);

}  // namespace zr::wave
