#pragma once
// The C boundary: every exported call is a thin shim that finds its context and runs the C++
// implementation inside guarded(), so that nothing thrown ever crosses into the caller.
#include <cstdint>
#include <exception>
#include <new>

#include "device/device_context.hpp"
#include "zr_api.h"

namespace zr {

// Runs body and returns its status; an escaping exception becomes ZR_INTERNAL_ERROR.
template <typename Body>
std::int32_t guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return ZR_INTERNAL_ERROR;
  }
}

// The context behind a device handle, or null when the handle or the context is missing.
inline DeviceContext* context_of(DeviceContext** handle) {
  return handle != nullptr ? *handle : nullptr;
}

// The context behind a channel handle, or null.
inline DeviceContext* context_of(const ChannelHandle* channel) {
  return channel != nullptr ? context_of(channel->device) : nullptr;
}

}  // namespace zr
