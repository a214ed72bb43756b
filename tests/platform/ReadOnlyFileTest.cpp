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

// A memory file reads back through its path like a file on disk, refuses
// writes once sealed, and is gone (its path no longer opens) once closed.
TEST(MemoryFile, ReadsBackThroughItsPathAndVanishesWhenClosed) {
  MemoryFile m;
  ASSERT_TRUE(m.Create("sms.db")) << m.lastError();
  const std::string bytes = "SQLite format 3" + std::string(5000, '\x7f');
  ASSERT_TRUE(m.Append(bytes.data(), 3000));
  ASSERT_TRUE(m.Append(bytes.data() + 3000, bytes.size() - 3000));
  ASSERT_TRUE(m.Seal());
  EXPECT_EQ(m.Size(), bytes.size());
  EXPECT_FALSE(m.Append("x", 1));  // sealed
  ReadOnlyFile f;
  ASSERT_TRUE(f.Open(m.path())) << f.lastError();
  EXPECT_EQ(f.Size(), bytes.size());
  std::string back(bytes.size(), '\0');
  EXPECT_TRUE(f.ReadExact(0, back.data(), back.size()));
  EXPECT_EQ(back, bytes);
  const std::string path = m.path();
  m.Close();
  // The reader's own descriptor keeps the memory while it is open.
  EXPECT_TRUE(f.ReadExact(0, back.data(), 15));
  f.Close();
  ReadOnlyFile again;
  EXPECT_FALSE(again.Open(path) && again.Size() == bytes.size());
}
