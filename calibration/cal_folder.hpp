#pragma once
// Where the limits file and the calibration files live: the CalFile folder beside the control
// library (beside the executable when the library cannot be located).
#include <cstdint>
#include <string>

namespace zr {

enum class CalFileKind { Rf, Iq, Limits };

inline constexpr char kCalFolderName[] = "CalFile";
inline constexpr char kLimitsFileName[] = "132.ini";
// Instruments without a file of their own use the one of this uid.
inline constexpr std::uint64_t kDefaultCalUid = 0xFF00AA00u;

// The folder holding CalFile/, without a trailing '/'.
std::string cal_base_folder();

// Points cal_base_folder() at another folder for its lifetime, so tests need not put files
// beside the test binary. Not thread-safe: install it before the calls that read the files.
class ScopedCalBaseFolder {
 public:
  explicit ScopedCalBaseFolder(std::string folder);
  ~ScopedCalBaseFolder();
  ScopedCalBaseFolder(const ScopedCalBaseFolder&) = delete;
  ScopedCalBaseFolder& operator=(const ScopedCalBaseFolder&) = delete;

 private:
  std::string previous_;
  bool had_previous_;
};

// "132.ini", or model (at least three digits) + "_" + uid in lowercase hex (nothing when the
// uid is 0) + "_txcal_rf.txt" / "_txcal_iq.txt".
std::string cal_file_name(std::int16_t model, CalFileKind kind, std::uint64_t uid);

// cal_base_folder() + "/CalFile/" + cal_file_name(...).
std::string cal_file_path(std::int16_t model, CalFileKind kind, std::uint64_t uid);

}  // namespace zr
