#include "platform/ReadOnlyFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace vantrel;

TEST(ReadOnlyFile, ReadsAtOffsetsAndReportsShortReads) {
  auto dir = std::filesystem::temp_directory_path() / "vantrel_rof_test";
  std::filesystem::create_directories(dir);
  auto path = (dir / "data.bin").string();
  { std::ofstream(path, std::ios::binary) << "0123456789"; }

  ReadOnlyFile f;
  ASSERT_TRUE(f.Open(path));
  EXPECT_EQ(f.Size(), 10u);
  char buf[8] = {};
  EXPECT_TRUE(f.ReadExact(3, buf, 4));
  EXPECT_EQ(std::string(buf, 4), "3456");
  EXPECT_EQ(f.ReadAt(8, buf, 8), 2u);  // only two bytes remain
  EXPECT_FALSE(f.ReadExact(8, buf, 8));
  EXPECT_EQ(f.ReadAt(100, buf, 8), 0u);

  EXPECT_FALSE(f.Open((dir / "missing").string()));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(f.lastError().empty());
  EXPECT_FALSE(f.Open(dir.string()));  // a directory is not a database file
  EXPECT_TRUE(IsDirectory(dir.string()));
  EXPECT_TRUE(IsRegularFile(path));
  EXPECT_FALSE(PathExists((dir / "missing").string()));
  std::filesystem::remove_all(dir);
}
