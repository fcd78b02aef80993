#include "calibration/cal_folder.hpp"

#include <cinttypes>
#include <cstdio>
#include <optional>

#include "platform/paths.hpp"

namespace zr {
namespace {

std::optional<std::string>& folder_override() {
  static std::optional<std::string> folder;
  return folder;
}

}  // namespace

std::string cal_base_folder() {
  if (folder_override()) return *folder_override();
  return module_dir();
}

ScopedCalBaseFolder::ScopedCalBaseFolder(std::string folder)
    : previous_(folder_override().value_or(std::string{})),
      had_previous_(folder_override().has_value()) {
  folder_override() = std::move(folder);
}

ScopedCalBaseFolder::~ScopedCalBaseFolder() {
  if (had_previous_) {
    folder_override() = previous_;
  } else {
    folder_override().reset();
  }
}

std::string cal_file_name(std::int16_t model, CalFileKind kind, std::uint64_t uid) {
  if (kind == CalFileKind::Limits) return kLimitsFileName;
  // Integer formatting does not depend on the locale, so snprintf gives the classic form.
  char uid_part[24] = "";
  if (uid != 0) std::snprintf(uid_part, sizeof uid_part, "_%" PRIx64, uid);
  char name[64];
  std::snprintf(name, sizeof name, "%03d%s%s", static_cast<int>(model), uid_part,
                kind == CalFileKind::Rf ? "_txcal_rf.txt" : "_txcal_iq.txt");
  return name;
}

std::string cal_file_path(std::int16_t model, CalFileKind kind, std::uint64_t uid) {
  return join_path(join_path(cal_base_folder(), kCalFolderName), cal_file_name(model, kind, uid));
}

}  // namespace zr
