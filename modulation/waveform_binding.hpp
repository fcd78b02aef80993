#pragma once
// Binding of a context to the waveform library libgenSignalWave.so: loading it from beside the
// control library, looking up its entry points, creating and releasing the generator object.
#include <cstdint>
#include <string>

#include "device/device_context.hpp"

namespace zr {

inline constexpr char kWaveformLibraryName[] = "libgenSignalWave.so";

// The folder in which the library must exist: beside the control library (the executable's
// folder when that cannot be found), or the folder a test installed.
std::string waveform_library_folder();

// Points the binding at a library in another folder for its lifetime: the existence check looks
// there and the library is loaded by that full path instead of by its plain name. Lets tests
// bind test-double libraries. Not thread-safe: install it before the calls that load.
class ScopedWaveformLibraryFolder {
 public:
  explicit ScopedWaveformLibraryFolder(std::string folder);
  ~ScopedWaveformLibraryFolder();
  ScopedWaveformLibraryFolder(const ScopedWaveformLibraryFolder&) = delete;
  ScopedWaveformLibraryFolder& operator=(const ScopedWaveformLibraryFolder&) = delete;

 private:
  std::string previous_;
  bool had_previous_;
};

// mod_open and mod_close of the context.
std::int32_t open_waveform_library(DeviceContext& context, void* version);
std::int32_t close_waveform_library(DeviceContext& context);

}  // namespace zr
