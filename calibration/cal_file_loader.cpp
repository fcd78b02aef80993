#include "calibration/cal_file_loader.hpp"

#include <cstdio>
#include <memory>

namespace zr {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads the whole file; false when it is unreadable or too large.
bool read_whole(std::FILE* file, std::vector<std::uint8_t>& data) {
  if (std::fseek(file, 0, SEEK_END) != 0) return false;
  const long size = std::ftell(file);
  if (size < 0 || static_cast<std::uint64_t>(size) > kMaxCalFileBytes) return false;
  if (std::fseek(file, 0, SEEK_SET) != 0) return false;
  data.resize(static_cast<std::size_t>(size));
  if (size == 0) return true;
  return std::fread(data.data(), 1, data.size(), file) == data.size();
}

}  // namespace

CalFileLoad load_cal_file(std::int16_t model, CalFileKind kind, std::uint64_t uid,
                          std::vector<std::uint8_t>& data) {
  data.clear();
  CalFileLoad result{kCalLoadOwn, CalFileSource::Own};
  File file(std::fopen(cal_file_path(model, kind, uid).c_str(), "rb"));
  if (!file) {
    result = {kCalLoadDefault, CalFileSource::Default};
    file.reset(std::fopen(cal_file_path(model, kind, kDefaultCalUid).c_str(), "rb"));
  }
  if (!file || !read_whole(file.get(), data)) {
    data.clear();
    return {kCalLoadFailed, CalFileSource::None};
  }
  return result;
}

}  // namespace zr
