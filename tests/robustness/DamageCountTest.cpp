// The damage tally of an opened database: a sound file, read through all three
// loaders, counts nothing (carving free space is no damage), and each kind of
// damage the reader skips shows in the counts, so a missing record can be
// traced to the cells and pages that were passed over.
#include <gtest/gtest.h>

#include "DamageSupport.h"
#include "export/CategoryNames.h"
#include "sources/Loaders.h"

namespace vantrel::robust {
namespace {

class DamageTally : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fx::TempDir("vantrel-damage-counts");
    fixtures_ = new std::vector<Fixture>(BuildDamageFixtures(*dir_, 31, 200, 40));
  }
  static void TearDownTestSuite() {
    delete fixtures_;
    delete dir_;
  }

  static const std::vector<Fixture>& Fixtures() { return *fixtures_; }
  static std::string Path(const std::string& name) { return dir_->File(name); }

  static fx::TempDir* dir_;
  static std::vector<Fixture>* fixtures_;
};

fx::TempDir* DamageTally::dir_ = nullptr;
std::vector<Fixture>* DamageTally::fixtures_ = nullptr;

// Runs the loader of the fixture's kind on an opened file, as a load does.
void RunLoader(const SqliteFile& file, Kind kind) {
  Collections c;
  if (kind == Kind::Messages) MessageLoader(file, c.liveMessages, c.deletedMessages);
  if (kind == Kind::Contacts) ContactLoader(file, c.contacts, c.deletedContacts);
  if (kind == Kind::Calls) CallLoader(file, c.liveCalls, c.deletedCalls);
}

// The counts after opening the image and reading its key table once.
DamageCounts CountsAfterReading(const std::string& path, const std::string& bytes, Kind kind) {
  WriteBytes(path, bytes);
  SqliteFile file;
  EXPECT_NE(OpenDatabase("", file, path), OpenStatus::NotOpened);
  RowList live, carved;
  ReadTable(file, KeyTable(kind), live, carved);
  return Damage(file);
}

TEST_F(DamageTally, SoundFilesCountNothingThroughEveryLoader) {
  for (const Fixture& f : Fixtures()) {
    for (const std::string tag : {"", "-wal"}) {
      SCOPED_TRACE(f.name + tag);
      const std::string path = Path(f.name + tag + ".db");
      SqliteFile file;
      ASSERT_EQ(OpenDatabase(tag.empty() ? "" : path + "-wal", file, path), OpenStatus::Opened);
      RunLoader(file, f.kind);
      const DamageCounts counts = Damage(file);
      EXPECT_EQ(counts.cells, 0u);
      EXPECT_EQ(counts.pages, 0u);
    }
  }
}

TEST_F(DamageTally, RefusedCellPointersCountOneCellEach) {
  for (const Fixture& f : Fixtures()) {
    SCOPED_TRACE(KeyTable(f.kind));
    const size_t pageSize = f.layout.pageSize;
    // On every leaf the first pointer goes past the page and the second into the header.
    std::string pointers = f.bytes;
    uint64_t refused = 0;
    for (uint32_t leaf : f.layout.leaves) {
      const size_t at = (leaf - 1) * pageSize;
      if (Get16(f.bytes, at + 3) < 2) continue;
      Put16(pointers, at + 8, 0xFFF0);
      Put16(pointers, at + 10, 3);
      refused += 2;
    }
    ASSERT_GT(refused, 0u);
    const DamageCounts counts = CountsAfterReading(Path("pointers.db"), pointers, f.kind);
    EXPECT_EQ(counts.cells, refused);
    EXPECT_EQ(counts.pages, 0u);
  }
}

TEST_F(DamageTally, SkippedPagesAreCounted) {
  for (const Fixture& f : Fixtures()) {
    SCOPED_TRACE(KeyTable(f.kind));
    const size_t pageSize = f.layout.pageSize;
    ASSERT_FALSE(f.layout.interiors.empty());
    // Every interior page names itself as its right-most child: each is entered
    // again once, and that is refused.
    std::string cycles = f.bytes;
    for (uint32_t interior : f.layout.interiors)
      Put32(cycles, (interior - 1) * pageSize + 8, interior);
    const DamageCounts cyclic = CountsAfterReading(Path("cycles.db"), cycles, f.kind);
    EXPECT_GE(cyclic.pages, 1u);
    EXPECT_LE(cyclic.pages, f.layout.interiors.size());

    // Cut inside the last leaf: that leaf is read short and counted.
    const uint32_t last = *std::max_element(f.layout.leaves.begin(), f.layout.leaves.end());
    const DamageCounts cut =
        CountsAfterReading(Path("cut.db"), f.bytes.substr(0, (last - 1) * pageSize + 100), f.kind);
    EXPECT_GE(cut.pages, 1u);
  }
  // Overflow pages that name themselves break the chains of the long messages.
  const Fixture& messages = Fixtures()[0];
  ASSERT_FALSE(messages.layout.overflows.empty());
  std::string selfLoop = messages.bytes;
  for (uint32_t page : messages.layout.overflows)
    Put32(selfLoop, (page - 1) * messages.layout.pageSize, page);
  const DamageCounts loops = CountsAfterReading(Path("loops.db"), selfLoop, Kind::Messages);
  EXPECT_GT(loops.pages, 0u);
  EXPECT_EQ(loops.cells, 0u);
}

// The whole load hands the tally on, so the window and `summary` can say which
// database lost what; a sound file says nothing.
TEST_F(DamageTally, TheLoadReportsEachDatabasesDamage) {
  const Fixture& f = Fixtures()[0];
  ASSERT_EQ(f.kind, Kind::Messages);
  QuietObserver observer;
  LoadResult sound = LoadBackup(Path(f.name + ".db"), observer);
  ASSERT_EQ(sound.status, LoadStatus::Loaded);
  EXPECT_TRUE(DamageLines(sound.databaseDamage).empty());

  std::string pointers = f.bytes;
  uint64_t refused = 0;
  for (uint32_t leaf : f.layout.leaves) {
    const size_t at = (leaf - 1) * f.layout.pageSize;
    if (Get16(f.bytes, at + 3) < 1) continue;
    Put16(pointers, at + 8, 0xFFF0);
    ++refused;
  }
  WriteBytes(Path("load-pointers.db"), pointers);
  LoadResult damaged = LoadBackup(Path("load-pointers.db"), observer);
  ASSERT_EQ(damaged.status, LoadStatus::Loaded);
  const DamageCounts& counts = damaged.databaseDamage[static_cast<size_t>(RecordKind::Messages)];
  EXPECT_EQ(counts.cells, refused);
  const std::vector<std::string> lines = DamageLines(damaged.databaseDamage);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "短信数据库有损坏：跳过了 " + std::to_string(refused) + " 个记录单元");
}

}  // namespace
}  // namespace vantrel::robust
