#pragma once
// Shared by the exports of this folder: find the context behind the handle, run the call
// guarded, report a missing context as ZR_INVALID_HANDLE.
#include <cstdint>

#include "device/api_boundary.hpp"

namespace zr {

template <typename Handle, typename Call>
std::int32_t with_context(Handle handle, Call&& call) noexcept {
  return guarded([&]() -> std::int32_t {
    DeviceContext* context = context_of(handle);
    if (context == nullptr) return ZR_INVALID_HANDLE;
    return call(*context);
  });
}

}  // namespace zr
