#pragma once
// Where files beside a program are looked up.
#include <string>

namespace zr {

// Folder of the running executable, from /proc/self/exe, without a trailing '/'.
// Empty when the link cannot be read.
std::string executable_dir();

// Folder of the module (shared library or executable) that holds this code, found with dladdr;
// the executable's folder when that fails.
std::string module_dir();

// a + '/' + b, without doubling a separator.
std::string join_path(const std::string& folder, const std::string& name);

}  // namespace zr
