#include "platform/paths.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace zr {
namespace {

TEST(Paths, ExecutableDirIsTheFolderOfThisTest) {
  const std::string folder = executable_dir();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_NE(folder.back(), '/');
  EXPECT_EQ(::access(join_path(folder, "platform_tests").c_str(), X_OK), 0);
  // Statically linked into the test, the library code lives in the executable itself.
  EXPECT_EQ(module_dir(), folder);
}

TEST(Paths, JoinPathAddsOneSeparator) {
  EXPECT_EQ(join_path("/a", "b"), "/a/b");
  EXPECT_EQ(join_path("/a/", "b"), "/a/b");
  EXPECT_EQ(join_path("", "b"), "b");
}

}  // namespace
}  // namespace zr
