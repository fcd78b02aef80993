#pragma once
// A context on a recording bus that answers the identity query, the test-double libraries the
// binding can be pointed at, and temporary folders for missing or broken libraries.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "modulation/waveform_binding.hpp"
#include "tests/device/recording_bus.hpp"
#include "tests/modulation/waveform_double.hpp"
#include "zr_api.h"

namespace zr::testing {

inline constexpr std::uint64_t kUidLow = 0x1122334455667788u;
inline constexpr std::uint32_t kUidHigh = 0xAABBCCDDu;
inline constexpr std::uint16_t kModel = 132;

// One loaded instance of a double, reached through the same file the binding loads.
class DoubleLibrary {
 public:
  explicit DoubleLibrary(const std::string& file) {
    handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle_, nullptr) << ::dlerror();
    if (handle_ == nullptr) return;
    auto entry =
        reinterpret_cast<DoubleControlEntry>(::dlsym(handle_, "waveform_double_control"));
    EXPECT_NE(entry, nullptr);
    if (entry != nullptr) control_ = entry();
    if (control_ != nullptr) control_->reset();
  }
  ~DoubleLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  DoubleLibrary(const DoubleLibrary&) = delete;
  DoubleLibrary& operator=(const DoubleLibrary&) = delete;

  DoubleControl& control() { return *control_; }
  bool loaded() const { return control_ != nullptr; }

 private:
  void* handle_ = nullptr;
  DoubleControl* control_ = nullptr;
};

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zr-mod-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  void write_library(const std::string& contents) const {
    std::ofstream(path_ + "/" + kWaveformLibraryName, std::ios::binary) << contents;
  }
  void copy_library_from(const std::string& folder) const {
    std::filesystem::copy_file(folder + "/" + kWaveformLibraryName,
                               path_ + "/" + kWaveformLibraryName);
  }

 private:
  std::string path_;
};

class ModulationFixture : public ::testing::Test {
 protected:
  ModulationFixture() {
    rc_.bus->query_handler = [](std::span<const std::uint8_t>) {
      BusReply reply;
      reply.bytes.assign(128, 0);
      for (int i = 0; i < 8; ++i) reply.bytes[i] = static_cast<std::uint8_t>(kUidLow >> (8 * i));
      reply.bytes[8] = static_cast<std::uint8_t>(kModel);
      reply.bytes[9] = static_cast<std::uint8_t>(kModel >> 8);
      for (int i = 0; i < 4; ++i) {
        reply.bytes[76 + i] = static_cast<std::uint8_t>(kUidHigh >> (8 * i));
      }
      return reply;
    };
  }

  DeviceContext** device() { return &handle_; }
  RecordingBus& bus() { return *rc_.bus; }

  RecordingContext rc_;
  DeviceContext* handle_ = &rc_.context;
};

// A fixture bound to the full double through an injected folder.
class BoundFixture : public ModulationFixture {
 protected:
  BoundFixture() : folder_(ZR_FULL_DOUBLE_DIR), library_(std::string(ZR_FULL_DOUBLE_DIR) + "/" +
                                                         kWaveformLibraryName) {}
  void SetUp() override {
    ASSERT_TRUE(library_.loaded());
    ASSERT_EQ(mod_open(device(), nullptr), ZR_OK);
  }
  DoubleControl& lib() { return library_.control(); }

  ScopedWaveformLibraryFolder folder_;
  DoubleLibrary library_;
};

}  // namespace zr::testing
