// The column rule book against SQLite itself: the affinity of each declared
// type as SQLite shows it by how it stores a text '12' and an integer 12, and
// the rowid alias as SQLite shows it by which value becomes the rowid. The
// declared types come through Vantrel's own schema reader.
#include "sqlite/ColumnRules.h"

#include <gtest/gtest.h>

#include "sqlite/ReaderCheck.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::TempDir;

// SQLite cannot tell INTEGER from NUMERIC affinity by storage alone: both keep
// numbers as integers.
enum class Storage { IntegerOrNumeric, Real, Text, Blob };

Storage StorageOf(Affinity affinity) {
  switch (affinity) {
    case Affinity::Integer:
    case Affinity::Numeric:
      return Storage::IntegerOrNumeric;
    case Affinity::Real:
      return Storage::Real;
    case Affinity::Text:
      return Storage::Text;
    case Affinity::Blob:
      return Storage::Blob;
  }
  return Storage::Blob;
}

// What SQLite made of a text '12' and an integer 12 stored in the column.
Storage SqliteStorage(const std::string& fromText, const std::string& fromInteger) {
  if (fromText == "real") return Storage::Real;
  if (fromText == "integer") return Storage::IntegerOrNumeric;
  return fromInteger == "integer" ? Storage::Blob : Storage::Text;
}

TEST(ColumnRules, AffinityIsWhatSqliteStores) {
  const std::vector<std::string> types = {"INTEGER",
                                          "int",
                                          "TINYINT",
                                          "BIGINT UNSIGNED",
                                          "VARCHAR(255)",
                                          "NCHAR(55)",
                                          "clob",
                                          "TEXT",
                                          "BLOB",
                                          "",
                                          "REAL",
                                          "FLOAT",
                                          "DOUBLE PRECISION",
                                          "NUMERIC",
                                          "DECIMAL(10,5)",
                                          "BOOLEAN",
                                          "DATE",
                                          "CHARINT",
                                          "FLOATING POINT",
                                          "BLOB REAL",
                                          "TEXTBLOB",
                                          "STRINGINT"};
  TempDir dir;
  const std::string path = dir.File("a.db");
  std::string create = "CREATE TABLE t (";
  for (size_t i = 0; i < types.size(); ++i)
    create += (i ? ", c" : "c") + std::to_string(i) + " " + types[i];
  create += ")";
  std::vector<std::string> fromText, fromInteger;
  {
    Database db(path);
    db.Exec(create);
    std::string texts, integers;
    for (size_t i = 0; i < types.size(); ++i) {
      texts += i ? ", '12'" : "'12'";
      integers += i ? ", 12" : "12";
    }
    db.Exec("INSERT INTO t VALUES (" + texts + ")");
    db.Exec("INSERT INTO t VALUES (" + integers + ")");
    for (size_t i = 0; i < types.size(); ++i) {
      const std::string c = "c" + std::to_string(i);
      fromText.push_back(db.QueryText("SELECT typeof(" + c + ") FROM t WHERE rowid = 1"));
      fromInteger.push_back(db.QueryText("SELECT typeof(" + c + ") FROM t WHERE rowid = 2"));
    }
  }
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  const TableInfo* table = FindTable(file, "t");
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->columns.size(), types.size());
  for (size_t i = 0; i < types.size(); ++i) {
    SCOPED_TRACE("declared type '" + types[i] + "'");
    EXPECT_EQ(StorageOf(AffinityOf(table->columns[i].type)),
              SqliteStorage(fromText[i], fromInteger[i]));
  }
}

TEST(ColumnRules, RowidAliasIsTheSingleIntegerPrimaryKey) {
  // Each table gets the values 1001 and 1002 in its two columns; SQLite makes
  // the alias column's value the rowid, and a table without one numbers from 1.
  const std::vector<std::string> tables = {
      "a (id INTEGER PRIMARY KEY, x)",
      "b (id integer primary key autoincrement, x)",
      "c (id INT PRIMARY KEY, x)",
      "d (id INTEGER, x, PRIMARY KEY (id))",
      "e (id INTEGER, x INTEGER, PRIMARY KEY (id, x))",
      "f (x, id INTEGER NOT NULL PRIMARY KEY)",
      "g (id INTEGER UNIQUE, x)",
  };
  TempDir dir;
  const std::string path = dir.File("k.db");
  std::vector<int64_t> rowids;
  {
    Database db(path);
    for (const std::string& t : tables) {
      db.Exec("CREATE TABLE " + t);
      const std::string name = t.substr(0, 1);
      db.Exec("INSERT INTO " + name + " VALUES (1001, 1002)");
      rowids.push_back(db.QueryInt("SELECT rowid FROM " + name));
    }
  }
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  for (size_t k = 0; k < tables.size(); ++k) {
    SCOPED_TRACE(tables[k]);
    const TableInfo* table = FindTable(file, tables[k].substr(0, 1));
    ASSERT_NE(table, nullptr);
    for (size_t i = 0; i < 2; ++i)
      EXPECT_EQ(IsRowidAlias(table->columns[i]), rowids[k] == static_cast<int64_t>(1001 + i)) << i;
  }
}

TEST(ColumnRules, NamedVariantsDifferFromSqlitesRulesWhereTheySay) {
  const ColumnDef integer{"n", "INTEGER", ""};
  const ColumnDef text{"t", "text", ""};
  const ColumnDef varchar{"v", "VARCHAR(20)", ""};
  const ColumnDef key{"ROWID", "INTEGER", "PRIMARY KEY AUTOINCREMENT"};
  const ColumnDef laterKey{"id", "INTEGER", "NOT NULL PRIMARY KEY"};
  const ColumnDef untypedKey{"id", "", "primary key"};

  // The declared word is taken exactly: VARCHAR has TEXT affinity but is no TEXT word.
  EXPECT_EQ(DeclaredWordOf(integer), DeclaredWord::Integer);
  EXPECT_EQ(DeclaredWordOf(text), DeclaredWord::Text);
  EXPECT_EQ(DeclaredWordOf(varchar), DeclaredWord::Other);
  EXPECT_EQ(AffinityOf(varchar.type), Affinity::Text);

  // The key by prefix agrees with the alias on iOS's own declaration only.
  EXPECT_TRUE(IsRowidAlias(key) && ConstraintStartsWithPrimaryKey(key));
  EXPECT_TRUE(IsRowidAlias(laterKey));
  EXPECT_FALSE(ConstraintStartsWithPrimaryKey(laterKey));
  EXPECT_FALSE(IsRowidAlias(untypedKey));
  EXPECT_TRUE(ConstraintStartsWithPrimaryKey(untypedKey));

  // Serial types: 0 NULL, 1 one-byte integer, 7 real, 8 and 9 the constants,
  // 10 reserved, 12 empty blob, 13 empty text, 14 one-byte blob, 15 one-byte text.
  struct Fit {
    uint64_t serialType;
    bool textAffinity, integerWord, textWord, addressBookInteger, addressBookText;
  };
  for (const Fit& f :
       {Fit{0, true, true, true, true, true}, Fit{1, false, true, false, true, false},
        Fit{7, false, true, false, false, false}, Fit{9, false, true, false, true, false},
        Fit{10, false, false, false, false, false}, Fit{12, true, false, true, false, false},
        Fit{14, true, false, true, false, false}, Fit{15, true, false, true, false, true}}) {
    SCOPED_TRACE(f.serialType);
    EXPECT_EQ(FitsAffinity(Affinity::Text, f.serialType), f.textAffinity);
    EXPECT_EQ(FitsDeclaredWord(DeclaredWord::Integer, f.serialType), f.integerWord);
    EXPECT_EQ(FitsDeclaredWord(DeclaredWord::Text, f.serialType), f.textWord);
    EXPECT_EQ(FitsAddressBookWord(DeclaredWord::Integer, f.serialType), f.addressBookInteger);
    EXPECT_EQ(FitsAddressBookWord(DeclaredWord::Text, f.serialType), f.addressBookText);
  }
  // Reserved serial types fit no column by SQLite's rules or the scanners'; the
  // address-book fit leaves undeclared columns unchecked.
  EXPECT_FALSE(FitsAffinity(Affinity::Blob, 11));
  EXPECT_FALSE(FitsDeclaredWord(DeclaredWord::Other, 11));
  EXPECT_TRUE(FitsAddressBookWord(DeclaredWord::Other, 11));
}

}  // namespace
}  // namespace vantrel
