// The real program finds Settings.ini beside its own executable file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/updater/temp_folder.hpp"
#include "updater/exit_codes.hpp"

namespace zr::updater {
namespace {

struct ProbeRun {
  int exit_code;
  std::string output;  // standard output and standard error together
};

// A copy, not a link: the program's location is where its file really is.
ProbeRun run_copy_in(const testing::TempFolder& folder) {
  const std::string copy = folder.file("settings_probe");
  std::filesystem::copy_file(ZR_SETTINGS_PROBE, copy);
  const std::string command = "'" + copy + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, "popen failed"};
  std::string output;
  std::array<char, 256> chunk{};
  while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe) != nullptr) {
    output += chunk.data();
  }
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(SettingsBesideExecutable, ProgramReadsTheFileInItsOwnFolder) {
  testing::TempFolder folder;
  folder.write("Settings.ini",
               "[Settings]\ninterface = ETH\ndevicenum = 2\nip = 10.1.2.3\nport = 6000\n"
               "timeout = 3000\n");
  const ProbeRun run = run_copy_in(folder);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, "interface=3 devicenum=2 ip=10.1.2.3 port=6000 timeout=3000 given=1\n");
}

TEST(SettingsBesideExecutable, ProgramWithoutFileInItsFolderPrintsTheNotice) {
  testing::TempFolder folder;
  const ProbeRun run = run_copy_in(folder);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output,
            "Please note that there is currently no Settings.ini file, so please do not update "
            "multiple devices simultaneously.\n\n"
            "interface=0 devicenum=0 ip=192.168.1.100 port=5000 timeout=10000 given=0\n");
}

TEST(SettingsBesideExecutable, InvalidFileEndsTheProgramWithItsOwnExitCode) {
  testing::TempFolder folder;
  const std::string path = folder.write("Settings.ini", "interface=USB\ndevicenum=abc\n");
  const ProbeRun run = run_copy_in(folder);
  EXPECT_EQ(run.exit_code, kExitInvalidSettings);
  EXPECT_EQ(run.output, "Invalid settings in " + path +
                            " line 2: value 2 (devicenum) \"abc\" is not a number.\n");
}

}  // namespace
}  // namespace zr::updater
