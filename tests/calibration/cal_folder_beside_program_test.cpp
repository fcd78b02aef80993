// Without an override the limits file is found beside the program's own file. The test copies
// this binary into a temporary folder (a link would resolve back to the build folder), puts a
// CalFile/132.ini beside the copy and runs the copy's disabled child test there.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "calibration/cal_folder.hpp"
#include "calibration/limits_file.hpp"
#include "platform/paths.hpp"

namespace zr {
namespace {

namespace fs = std::filesystem;

// Runs only inside the copy.
TEST(CalFolderBesideProgram, DISABLED_ChildReadsTheLimitsFileBesideItself) {
  std::array<char, kIniValueSize> value{};
  ASSERT_EQ(ini_get("TX_LEVEL_FIXED", "max", value), kIniFound);
  EXPECT_STREQ(value.data(), "17.5");
}

TEST(CalFolderBesideProgram, LimitsFileIsLookedUpBesideTheProgram) {
  std::string pattern = (fs::temp_directory_path() / "zr-cal-exe-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  const fs::path copy = folder / "calibration_tests";
  fs::copy_file(join_path(executable_dir(), "calibration_tests"), copy);
  fs::create_directories(folder / kCalFolderName);
  std::ofstream(folder / kCalFolderName / kLimitsFileName) << "[TX_LEVEL_FIXED]\nmax=17.5\n";

  const std::string command = "'" + copy.string() +
                              "' --gtest_also_run_disabled_tests"
                              " --gtest_filter=CalFolderBesideProgram.DISABLED_* > /dev/null 2>&1";
  const int status = std::system(command.c_str());
  fs::remove_all(folder);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace zr
