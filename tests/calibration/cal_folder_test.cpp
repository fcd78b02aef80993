// Calibration folder, file names and the loading of calibration files with their fallback.
#include "calibration/cal_folder.hpp"

#include <gtest/gtest.h>

#include <string>

#include "calibration/cal_file_loader.hpp"
#include "platform/paths.hpp"
#include "tests/calibration/cal_test_folder.hpp"

namespace zr {
namespace {

TEST(CalFolder, DefaultsToTheFolderOfTheLibraryModule) {
  EXPECT_EQ(cal_base_folder(), module_dir());
  EXPECT_EQ(cal_file_path(0, CalFileKind::Limits, 0), module_dir() + "/CalFile/132.ini");
}

TEST(CalFolder, OverrideIsUndoneWhenItEnds) {
  {
    testing::CalTestFolder folder;
    EXPECT_EQ(cal_base_folder(), folder.base().string());
  }
  EXPECT_EQ(cal_base_folder(), module_dir());
}

struct NameCase {
  std::int16_t model;
  CalFileKind kind;
  std::uint64_t uid;
  const char* name;
};

TEST(CalFolder, FileNames) {
  const NameCase cases[] = {
      {7, CalFileKind::Rf, 0x1a2b3c, "007_1a2b3c_txcal_rf.txt"},
      {7, CalFileKind::Rf, 0, "007_txcal_rf.txt"},
      {7, CalFileKind::Iq, 0xFF00AA00u, "007_ff00aa00_txcal_iq.txt"},
      {132, CalFileKind::Iq, 0xABCDEF0123456789u, "132_abcdef0123456789_txcal_iq.txt"},
      {1234, CalFileKind::Rf, 1, "1234_1_txcal_rf.txt"},
      {7, CalFileKind::Limits, 0x55, "132.ini"},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(cal_file_name(c.model, c.kind, c.uid), c.name);
  }
}

TEST(CalFolder, PathIsInTheCalFileSubfolder) {
  testing::CalTestFolder folder;
  EXPECT_EQ(cal_file_path(7, CalFileKind::Rf, 0x1a2b3c),
            (folder.cal_dir() / "007_1a2b3c_txcal_rf.txt").string());
}

class CalFileLoadTest : public ::testing::Test {
 protected:
  testing::CalTestFolder folder;
  std::vector<std::uint8_t> data{9, 9, 9};
};

// Bytes that text-mode reading would alter.
const std::string kOwnContent("own\r\nfile\0\x1a", 11);

TEST_F(CalFileLoadTest, OwnFileIsReadAsIs) {
  folder.write("007_txcal_rf.txt", kOwnContent);
  folder.write("007_ff00aa00_txcal_rf.txt", "default");
  const CalFileLoad load = load_cal_file(7, CalFileKind::Rf, 0, data);
  EXPECT_EQ(load.status, kCalLoadOwn);
  EXPECT_EQ(load.source, CalFileSource::Own);
  EXPECT_EQ(std::string(data.begin(), data.end()), kOwnContent);
}

TEST_F(CalFileLoadTest, DefaultFileWhenTheOwnOneIsMissing) {
  folder.write("007_ff00aa00_txcal_iq.txt", "default");
  const CalFileLoad load = load_cal_file(7, CalFileKind::Iq, 0x1a2b3c, data);
  EXPECT_EQ(load.status, kCalLoadDefault);
  EXPECT_EQ(load.source, CalFileSource::Default);
  EXPECT_EQ(std::string(data.begin(), data.end()), "default");
}

TEST_F(CalFileLoadTest, NeitherFileLeavesTheDataEmpty) {
  folder.write("007_ff00aa00_txcal_iq.txt", "the other kind");
  const CalFileLoad load = load_cal_file(7, CalFileKind::Rf, 0, data);
  EXPECT_EQ(load.status, kCalLoadFailed);
  EXPECT_EQ(load.source, CalFileSource::None);
  EXPECT_TRUE(data.empty());
}

TEST_F(CalFileLoadTest, UnreadableOwnFileFailsWithoutFallingBack) {
  // A folder by the file's name opens but cannot be read.
  std::filesystem::create_directory(folder.cal_dir() / "007_txcal_rf.txt");
  folder.write("007_ff00aa00_txcal_rf.txt", "default");
  const CalFileLoad load = load_cal_file(7, CalFileKind::Rf, 0, data);
  EXPECT_EQ(load.status, kCalLoadFailed);
  EXPECT_TRUE(data.empty());
}

TEST_F(CalFileLoadTest, EmptyFileLoads) {
  folder.write("007_txcal_rf.txt", "");
  EXPECT_EQ(load_cal_file(7, CalFileKind::Rf, 0, data).status, kCalLoadOwn);
  EXPECT_TRUE(data.empty());
}

}  // namespace
}  // namespace zr
