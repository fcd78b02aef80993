#pragma once
// A private folder under /tmp for one test, removed with everything in it afterwards.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace zr::updater::testing {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = "/tmp/zr_updater_XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    EXPECT_FALSE(path_.empty()) << "mkdtemp failed";
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

  // Written in binary so that CR bytes reach the reader as given.
  std::string write(std::string_view name, std::string_view contents) const {
    const std::string target = file(name);
    std::ofstream out(target, std::ios::binary);
    out << contents;
    EXPECT_TRUE(out.good()) << "cannot write " << target;
    return target;
  }

 private:
  std::string path_;
};

}  // namespace zr::updater::testing
