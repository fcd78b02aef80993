#pragma once
// A temporary folder with a CalFile/ subfolder, installed as the calibration base folder for the
// lifetime of the object. Never the build folder: every test gets its own, removed afterwards.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "calibration/cal_folder.hpp"

namespace zr::testing {

class CalTestFolder {
 public:
  CalTestFolder() : base_(make_temp()), scoped_(base_.string()) {
    std::filesystem::create_directories(cal_dir());
  }
  ~CalTestFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }
  CalTestFolder(const CalTestFolder&) = delete;
  CalTestFolder& operator=(const CalTestFolder&) = delete;

  std::filesystem::path base() const { return base_; }
  std::filesystem::path cal_dir() const { return base_ / kCalFolderName; }

  // Writes a file of CalFile/ byte for byte.
  void write(const std::string& name, std::string_view content) const {
    std::ofstream out(cal_dir() / name, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  void write_limits(std::string_view content) const { write(kLimitsFileName, content); }
  void remove(const std::string& name) const { std::filesystem::remove(cal_dir() / name); }

 private:
  static std::filesystem::path make_temp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zr-cal-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }

  std::filesystem::path base_;
  ScopedCalBaseFolder scoped_;
};

}  // namespace zr::testing
