// The registry is what the load, the tree and the exports walk: a category no source
// lists would never be loaded or shown, and two sources sharing a word or a file stem
// would overwrite each other's files.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "sources/Source.h"

namespace vantrel {
namespace {

TEST(Registry, EveryCategoryBelongsToOneSourceOfItsKindAndNamesAreUnique) {
  std::set<std::string> words, stems;
  std::set<Category> listed;
  for (const Source& source : Sources()) {
    EXPECT_TRUE(words.insert(source.word).second) << source.word;
    EXPECT_TRUE(stems.insert(source.fileStem).second) << source.fileStem;
    EXPECT_FALSE(source.backupFiles.empty()) << source.word;
    EXPECT_NE(source.load, nullptr) << source.word;
    EXPECT_EQ(&SourceOf(source.kind), &source) << source.word;
    for (const CategoryNode& node : source.nodes) {
      EXPECT_TRUE(listed.insert(node.category).second) << source.word;
      EXPECT_EQ(KindOf(node.category), source.kind) << source.word;
    }
  }
  for (Category category : kAllCategories) EXPECT_TRUE(listed.count(category)) << int(category);
  EXPECT_EQ(Sources().size(), kRecordKindCount);
}

}  // namespace
}  // namespace vantrel
