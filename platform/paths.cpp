#include "platform/paths.hpp"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace zr {
namespace {

std::string parent_folder(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

std::string executable_dir() {
  std::vector<char> buffer(PATH_MAX + 1);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return {};
  return parent_folder(std::string(buffer.data(), static_cast<std::size_t>(length)));
}

std::string module_dir() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<const void*>(&module_dir), &info) != 0 &&
      info.dli_fname != nullptr && info.dli_fname[0] == '/') {
    char* resolved = ::realpath(info.dli_fname, nullptr);
    if (resolved != nullptr) {
      std::string folder = parent_folder(resolved);
      std::free(resolved);
      if (!folder.empty()) return folder;
    }
  }
  return executable_dir();
}

std::string join_path(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace zr
