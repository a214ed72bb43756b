// The address-book carvers on bytes SQLite itself wrote: the telephone-number
// recogniser, the number carver and the person carver read the records of a
// real page and must give back what SQLite returns for those rows; damaged or
// cut windows must neither crash nor read outside them. Also the label rule
// and the building of the deleted-contacts entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "fixtures/Fixtures.h"
#include "sources/Loaders.h"
#include "sources/contacts/ContactCarvers.h"
#include "sources/contacts/ContactLoader.h"
#include "sources/contacts/PhoneNumber.h"
#include "sqlite/Schema.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::Value;

ByteView View(const std::string& s) {
  return ByteView(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// The recogniser's verdict on a number written at the end of some record bytes.
size_t Recognise(const std::string& number) {
  const std::string block = std::string("\x07\x01\x03", 3) + number;
  return RecognisePhoneNumber(View(block), block.size() - 1);
}

TEST(PhoneNumberRecogniser, AcceptsNumbersAsTheAddressBookStoresThem) {
  EXPECT_EQ(Recognise("13800138000"), 11u);
  EXPECT_EQ(Recognise("+8613800138000"), 14u);
  EXPECT_EQ(Recognise("1380013"), 7u);                // shortest
  EXPECT_EQ(Recognise("12345678901234567890"), 20u);  // longest
  EXPECT_EQ(Recognise("010-6552-8888"), 13u);         // two dashes past the seventh byte
  EXPECT_EQ(Recognise("+86 13800138000"), 15u);       // a blank among the first seven bytes
  EXPECT_EQ(Recognise("10086,123#"), 0u);             // must end in three digits
  EXPECT_EQ(Recognise("*10086,1234"), 10u);           // starts with a digit or "+": not the "*"
  EXPECT_EQ(Recognise("- 13800138000"), 11u);         // leading blank and dash are not the number's
}

TEST(PhoneNumberRecogniser, RejectsWhatIsNoNumber) {
  EXPECT_EQ(Recognise("138001"), 0u);                 // six characters
  EXPECT_EQ(Recognise("123456789012345678901"), 0u);  // a run of 21 digits
  EXPECT_EQ(Recognise("555-0123"), 0u);               // 7 or 8 bytes: digits only
  EXPECT_EQ(Recognise("+86 138 0013 8000"), 0u);      // blanks past the seventh byte
  EXPECT_EQ(Recognise("1234567890-12-34-567"), 0u);   // three dashes past the seventh byte
  EXPECT_EQ(Recognise("1234567#89-0-12345"), 0u);     // "#" before two later dashes
  EXPECT_EQ(Recognise("1380013;8000"), 0u);           // ";" past the seventh byte
}

TEST(PhoneNumberRecogniser, StaysInsideItsBlock) {
  // A number at the very start of the block: nothing before it is read.
  const std::string atStart = "13800138000";
  EXPECT_EQ(RecognisePhoneNumber(View(atStart), atStart.size() - 1), 11u);
  // Candidates at the first bytes, and positions past the end.
  EXPECT_EQ(RecognisePhoneNumber(View(atStart), 0), 0u);
  EXPECT_EQ(RecognisePhoneNumber(View(atStart), 1), 0u);
  EXPECT_EQ(RecognisePhoneNumber(View(atStart), atStart.size()), 0u);
  EXPECT_EQ(RecognisePhoneNumber(ByteView(), 5), 0u);
  // The window ends inside a longer run: only the window's bytes count.
  const std::string longRun = "999999999999913800138000";
  EXPECT_EQ(RecognisePhoneNumber(View(longRun).Sub(13), 10), 11u);
}

// ---------------------------------------------------------------------------------------------
// Pages written by SQLite

// The CREATE TABLE statement of one table from an iOS schema file.
std::string CreateStatement(int ios, const std::string& table) {
  const std::string schema =
      fixtures::ReadSchemaFile("ios" + std::to_string(ios) + "_addressbook.sql");
  const std::string head = "CREATE TABLE " + table + " (";
  const size_t at = schema.find(head);
  if (at == std::string::npos) return {};
  return schema.substr(at, schema.find(";\n", at) - at);
}

std::vector<ColumnDef> Columns(const std::string& createSql) {
  SchemaTable table;
  ParseCreateTable(createSql, table);
  return table.columns;
}

// The bytes of the root page of a table (a leaf while the table is small).
std::string RootPage(Database& db, const std::string& table) {
  const int64_t root =
      db.QueryInt("SELECT rootpage FROM sqlite_master WHERE name = ?", {Value::Text(table)});
  const int64_t pageSize = db.QueryInt("PRAGMA page_size");
  const std::string file = fixtures::ReadFileBytes(db.path());
  return file.substr(static_cast<size_t>((root - 1) * pageSize), static_cast<size_t>(pageSize));
}

std::string Text(const Value& v) {
  return v.AsText();
}

class MultiValuePage : public ::testing::TestWithParam<int> {};

TEST_P(MultiValuePage, NumberCarverReadsTheRecordsOfARealPage) {
  const int ios = GetParam();
  fixtures::TempDir dir;
  Database db(dir.File("ab.db"), {});
  const std::string create = CreateStatement(ios, "ABMultiValue");
  db.Exec(create);
  struct Insert {
    int64_t person;
    int property;
    int identifier;
    std::optional<int64_t> label;
    std::string value;
  };
  const std::vector<Insert> inserts = {
      {1, 3, 0, 1, "13800138000"},
      {1, 3, 1, 2, "+8613911112222"},
      {1, 4, 0, 1, "li@example.com"},
      {2, 3, 0, std::nullopt, "010-6552-8888"},
      {300, 3, 7, 200, "02087654321"},
      {2, 3, 1, 3, "+86 138 0013 8000"},
      {40000, 3, 0, 1, "12345678901234567890"},
  };
  auto insert = db.Prepare(
      "INSERT INTO ABMultiValue (record_id, property, identifier, label, value) "
      "VALUES (?, ?, ?, ?, ?)");
  for (const Insert& in : inserts) {
    insert.Bind(1, in.person).Bind(2, in.property).Bind(3, in.identifier);
    if (in.label)
      insert.Bind(4, *in.label);
    else
      insert.BindNull(4);
    insert.Bind(5, in.value).Run();
  }
  const std::string page = RootPage(db, "ABMultiValue");
  const std::vector<ColumnDef> columns = Columns(create);

  RowList rows;
  CarvePhoneNumberRecords(View(page), columns, rows);

  // What SQLite holds for the telephone numbers: the one written with blanks,
  // which the recogniser refuses, is found by the shape of its record.
  std::set<RowValues> expected;
  for (const auto& r :
       db.Query("SELECT UID, record_id, property, identifier, label, value" +
                std::string(ios == 7 ? ", guid" : "") + " FROM ABMultiValue WHERE property = 3")) {
    RowValues row;
    row.push_back("");  // the UID is the rowid, which a carved record lacks
    for (size_t k = 1; k < r.size(); ++k) row.push_back(Text(r[k]));
    expected.insert(row);
  }
  EXPECT_EQ(std::set<RowValues>(rows.begin(), rows.end()), expected);
  EXPECT_EQ(rows.size(), expected.size());  // each record once
}

// The number carver visits only the places three digits end, found eight
// bytes at a time in 64-byte words, and the address carver steps from one
// property type byte to the next: whatever the alignment of a record against
// those strides, it is found. The same page is carved from each of 64 starts;
// the records all lie at the page's end, past every start.
TEST_P(MultiValuePage, RecordsAreFoundAtEveryAlignment) {
  const int ios = GetParam();
  fixtures::TempDir dir;
  Database db(dir.File("ab.db"), {});
  const std::string create = CreateStatement(ios, "ABMultiValue");
  db.Exec(create);
  auto insert = db.Prepare(
      "INSERT INTO ABMultiValue (record_id, property, identifier, label, value) "
      "VALUES (?, ?, 0, 1, ?)");
  // Numbers of every length the recogniser takes, as text and as blobs (only
  // the recogniser's pass reads a blob), one with blanks it refuses, and
  // addresses.
  for (int length = 7; length <= 20; ++length) {
    insert.Bind(1, int64_t{length}).Bind(2, int64_t{3}).Bind(3, std::string(length, '7')).Run();
    insert.Bind(1, int64_t{30 + length}).Bind(2, int64_t{3});
    insert.BindBlob(3, std::string(length, '3')).Run();
  }
  insert.Bind(1, int64_t{21}).Bind(2, int64_t{3}).Bind(3, std::string("+86 138 0013 8000")).Run();
  insert.Bind(1, int64_t{22}).Bind(2, int64_t{4}).Bind(3, std::string("a@b.cn")).Run();
  insert.Bind(1, int64_t{23}).Bind(2, int64_t{4}).Bind(3, std::string("li.lei@example.com")).Run();
  const std::string page = RootPage(db, "ABMultiValue");
  const std::vector<ColumnDef> columns = Columns(create);

  const auto expected = [&](int property) {
    std::set<RowValues> rows;
    for (const auto& r :
         db.Query("SELECT UID, record_id, property, identifier, label, value" +
                  std::string(ios == 7 ? ", guid" : "") +
                  " FROM ABMultiValue WHERE property = " + std::to_string(property))) {
      RowValues row{""};  // the UID is the rowid, which a carved record lacks
      for (size_t k = 1; k < r.size(); ++k) row.push_back(Text(r[k]));
      rows.insert(row);
    }
    return rows;
  };
  const std::set<RowValues> numbers = expected(3), addresses = expected(4);
  ASSERT_EQ(numbers.size(), 29u);
  for (size_t start = 0; start < 64; ++start) {
    RowList phones, emails;
    CarvePhoneNumberRecords(View(page).Sub(start), columns, phones);
    CarveEmailRecords(View(page).Sub(start), columns, emails);
    EXPECT_EQ(std::set<RowValues>(phones.begin(), phones.end()), numbers) << "start " << start;
    EXPECT_EQ(phones.size(), numbers.size()) << "start " << start;
    EXPECT_EQ(std::set<RowValues>(emails.begin(), emails.end()), addresses) << "start " << start;
  }
}

TEST_P(MultiValuePage, CarversNeverLeaveACutWindow) {
  const int ios = GetParam();
  fixtures::TempDir dir;
  Database db(dir.File("ab.db"), {});
  const std::string mvCreate = CreateStatement(ios, "ABMultiValue");
  const std::string personCreate = CreateStatement(ios, "ABPerson");
  db.Exec(mvCreate);
  db.Exec(personCreate);
  for (int i = 0; i < 30; ++i) {
    db.Exec("INSERT INTO ABMultiValue (record_id, property, identifier, label, value) VALUES (" +
            std::to_string(i) + ", 3, 0, 1, '1380013" + std::to_string(1000 + i) + "')");
    db.Exec(
        "INSERT INTO ABPerson (First, Last, FirstSort, LastSort, CreationDate, "
        "ModificationDate, Kind) VALUES ('F', 'L', 'F L', 'L F', 400000000, 400000001, 0)");
  }
  const std::vector<ColumnDef> mvColumns = Columns(mvCreate);
  const std::vector<ColumnDef> personColumns = Columns(personCreate);
  const std::string mvPage = RootPage(db, "ABMultiValue");
  const std::string personPage = RootPage(db, "ABPerson");

  // Every window of the page (cut anywhere at either end) is carved; rows
  // found in a window are a subset of the rows of the whole page, and values
  // may only be cut, never read past the window.
  RowList whole;
  CarvePhoneNumberRecords(View(mvPage), mvColumns, whole);
  ASSERT_EQ(whole.size(), 30u);
  const std::set<std::string> numbers = [&] {
    std::set<std::string> s;
    for (const RowValues& r : whole) s.insert(r.at(5));
    return s;
  }();
  for (size_t cut = 0; cut < mvPage.size(); cut += 7) {
    RowList head, tail;
    CarvePhoneNumberRecords(View(mvPage).Sub(0, cut), mvColumns, head);
    CarvePhoneNumberRecords(View(mvPage).Sub(cut), mvColumns, tail);
    CarvePhoneNumberIndexEntries(View(mvPage).Sub(0, cut), head);
    CarvePhoneNumberIndexEntries(View(mvPage).Sub(cut), tail);
    for (const RowList* list : {&head, &tail}) {
      for (const RowValues& r : *list) {
        ASSERT_GE(r.size(), 6u);
        EXPECT_TRUE(numbers.count(r[5])) << r[5];
      }
    }
    RowList persons;
    CarvePersonRecords(View(personPage).Sub(0, cut), personColumns, persons);
    CarvePersonRecords(View(personPage).Sub(cut), personColumns, persons);
    for (const RowValues& r : persons) EXPECT_LE(r.size(), personColumns.size());
  }
}

TEST_P(MultiValuePage, PersonCarverFindsPersonsWithTheirRowids) {
  const int ios = GetParam();
  fixtures::TempDir dir;
  Database db(dir.File("ab.db"), {});
  const std::string create = CreateStatement(ios, "ABPerson");
  db.Exec(create);
  auto insert = db.Prepare(
      "INSERT INTO ABPerson (ROWID, First, Last, Middle, Organization, FirstSort, LastSort, "
      "CreationDate, ModificationDate, Kind) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, 0)");
  const std::vector<std::vector<std::string>> people = {
      {"伟", "张", "", "Vantrel 公司"}, {"Anna", "Berg", "M", ""}, {"Li", "Wang", "", "X"}};
  int64_t rowid = 5;
  for (const auto& p : people) {
    const std::string sortKey = p[0] + " " + p[1];
    insert.Bind(1, rowid).Bind(2, p[0]).Bind(3, p[1]).Bind(4, p[2]).Bind(5, p[3]);
    insert.Bind(6, sortKey).Bind(7, sortKey);
    insert.Bind(8, int64_t{400000000} + rowid).Bind(9, int64_t{410000000} + rowid).Run();
    rowid += 150;  // two-byte rowids too
  }
  const std::string page = RootPage(db, "ABPerson");
  RowList rows;
  CarvePersonRecords(View(page), Columns(create), rows);

  std::set<RowValues> expected;
  const size_t columnCount = Columns(create).size();
  std::string select = "SELECT ROWID";
  for (size_t k = 1; k < columnCount; ++k)
    select += ", ifnull(" + Columns(create)[k].name + ", '')";
  for (const auto& r : db.Query(select + " FROM ABPerson")) {
    RowValues row;
    for (const Value& v : r) row.push_back(Text(v));
    expected.insert(row);
  }
  EXPECT_EQ(std::set<RowValues>(rows.begin(), rows.end()), expected);
}

// A device upgraded from iOS 6 keeps its six-value records in the table that
// iOS 7 widened by a guid column: they are read with six values, the newer
// ones with seven.
TEST(MultiValueUpgradedTable, SixValueRecordsBesideSevenValueOnes) {
  fixtures::TempDir dir;
  Database db(dir.File("ab.db"), {});
  db.Exec(CreateStatement(6, "ABMultiValue"));
  db.Exec(
      "INSERT INTO ABMultiValue (record_id, property, identifier, label, value) VALUES "
      "(1, 3, 0, 1, '13800138000'), (2, 3, 0, 2, '+86 138 0013 8001')");
  db.Exec("ALTER TABLE ABMultiValue ADD COLUMN guid TEXT");
  db.Exec(
      "INSERT INTO ABMultiValue (record_id, property, identifier, label, value, guid) VALUES "
      "(3, 3, 1, 1, '02087654321', 'A1B2C3D4-0000-1111-2222-333344445555')");
  const std::vector<ColumnDef> columns =
      Columns(db.QueryText("SELECT sql FROM sqlite_master WHERE name = 'ABMultiValue'"));
  ASSERT_EQ(columns.size(), 7u);
  RowList rows;
  CarvePhoneNumberRecords(View(RootPage(db, "ABMultiValue")), columns, rows);
  std::set<RowValues> expected;
  for (const auto& r : db.Query("SELECT record_id, property, identifier, label, value, guid "
                                "FROM ABMultiValue")) {
    RowValues row{""};
    for (size_t k = 0; k < 5; ++k) row.push_back(Text(r[k]));
    if (!r[5].IsNull()) row.push_back(Text(r[5]));  // old records end before the guid
    expected.insert(row);
  }
  EXPECT_EQ(std::set<RowValues>(rows.begin(), rows.end()), expected);
}

INSTANTIATE_TEST_SUITE_P(Ios6And7, MultiValuePage, ::testing::Values(6, 7),
                         [](const auto& info) { return "ios" + std::to_string(info.param); });

// ---------------------------------------------------------------------------------------------
// Labels and the deleted-contacts entry

TEST(ContactLabels, SystemLabelsShowTheirWordCustomLabelsStayWhole) {
  EXPECT_EQ(ResolveLabel("_$!<Mobile>!$_"), "Mobile");
  EXPECT_EQ(ResolveLabel("_$!<HomeFAX>!$_"), "HomeFAX");
  EXPECT_EQ(ResolveLabel("Boat phone"), "Boat phone");
  EXPECT_EQ(ResolveLabel("<Mobile>"), "<Mobile>");  // "<" at index 0 stays
  EXPECT_EQ(ResolveLabel("a>b<c"), "a>b<c");        // ">" before "<"
  EXPECT_EQ(ResolveLabel("x<open"), "x<open");      // no ">"
  EXPECT_EQ(ResolveLabel("家<手机>"), "手机");
  EXPECT_EQ(ResolveLabel(""), "");
}

TEST(DeletedContacts, EachDeletedNumberOnceWithItsOwnerWhereKnown) {
  // Carved multi-value rows: UID, record_id, property, identifier, label, value.
  const RowList numbers = {
      {"", "12", "3", "0", "1", "13800138000"},  // owner carved below
      {"", "12", "3", "0", "1", "13800138000"},  // the same record found again
      {"", "", "3", "0", "1", "13911112222"},    // owner unknown ...
      {"", "13", "3", "0", "1", "13911112222"},  // ... a later copy knows it
      {"", "14", "3", "0", "1", "13911112222"},  // another person with that number
      {"", "15", "3", "0", "1", "02087654321"},  // person not carved
      {"", "", "3", "0", "1", "02087654321"},    // ownerless copy of a listed number
      {"", "12", "3", "0", "1", "15000000000"},  // still live
      {"", "12", "5", "0", "2"},                 // an address: no value
      {"", "12"},                                // a short carved row
  };
  const RowList persons = {
      {"12", "伟", "张", ""},         {"13", "Anna", "Berg", "M"}, {"14", "Li", "Wang", ""},
      {"12", "Other", "Copy", ""},  // a later copy of rowid 12 does not rename it
      {"", "Nobody", "Template", ""},
  };
  const DeletedContactList listed = BuildDeletedContacts(numbers, persons, {"15000000000"});
  std::vector<std::tuple<std::string, std::string, uint32_t>> shown;
  for (const DeletedContact& c : listed) shown.emplace_back(c.number, c.owner, c.ownerRowid);
  EXPECT_EQ(shown, (std::vector<std::tuple<std::string, std::string, uint32_t>>{
                       {"13800138000", "张伟", 12},
                       {"13911112222", "BergMAnna", 13},
                       {"13911112222", "WangLi", 14},
                       {"02087654321", "", 15}}));
}

// A number without an owner that begins a longer one is the same record read
// short only when both were read from the same bytes; elsewhere, or beside a
// live number, it is a number of its own.
TEST(DeletedContacts, AShorterNumberIsDroppedOnlyWhenReadFromTheSameBytes) {
  const auto at = [](uint32_t page, uint64_t offset) {
    FoundAt f;
    f.file = "AddressBook.sqlitedb";
    f.page = page;
    f.offset = offset;
    f.place = Place::FreePage;
    return f;
  };
  const RowList numbers = {
      {"", "", "3", "0", "1", "13800138000"},  // whole
      {"", "", "3", "0", "1", "1380013800"},   // the same bytes, read short
      {"", "", "3", "0", "1", "138001"},       // another record elsewhere
      {"", "", "3", "0", "1", "1390000"},      // begins a live number
  };
  const std::vector<FoundAt> found = {at(5, 100), at(5, 100), at(6, 300), at(5, 900)};
  std::vector<std::string> listed;
  for (const DeletedContact& c : BuildDeletedContacts(numbers, {}, {"13900001111"}, &found))
    listed.push_back(c.number);
  EXPECT_EQ(listed, (std::vector<std::string>{"13800138000", "138001", "1390000"}));
}

// Copies of deleted persons: one line per person, the most complete copy, never a live one.
TEST(DeletedPersons, OneLinePerPersonFromItsMostCompleteCopy) {
  const auto person = [](std::string rowid, std::string first, std::string last,
                         std::string organization, std::string created) {
    RowValues row(20);
    row[0] = std::move(rowid);
    row[1] = std::move(first);
    row[2] = std::move(last);
    row[7] = std::move(organization);
    row[18] = std::move(created);
    return row;
  };
  RowList carved = {
      person("21", "Anna", "Berg", "", "400000021"),
      person("21", "Anna", "Berg", "Acme", "400000021"),  // more of the record: wins
      person("", "Anna", "Berg", "Acme", "400000021"),    // the same card, rowid lost
      person("", "伟", "张", "", "400000030"),            // a card known only by its record
      person("5", "Li", "Wang", "", "400000005"),         // a live person's copy
      person("", "Li", "Wang", "", "400000005"),          // the same, rowid lost
      person("22", "", "", "", "400000022"),              // nothing to show
      person("23", "", "", "Nameless Ltd", "400000023"),
  };
  FoundList found;
  for (size_t k = 0; k < carved.size(); ++k) {
    found.emplace_back();
    found.back().offset = 1000 * (k + 1);
  }
  const std::vector<DeletedPerson> chosen =
      ChooseDeletedPersons(carved, found, {5}, {400000005}, person_column::kCreationDate);
  DeletedContactList lines(1);
  lines[0].number = "13800138000";
  lines[0].owner = "BergAnna";
  lines[0].ownerRowid = 21;
  AddDeletedPersons(chosen, lines);
  std::vector<std::tuple<std::string, std::string, std::string, uint32_t, uint64_t>> shown;
  for (const DeletedContact& c : lines)
    shown.emplace_back(c.number, c.owner, c.organization, c.ownerRowid,
                       c.found ? c.found->offset : 0);
  EXPECT_EQ(shown,
            (std::vector<std::tuple<std::string, std::string, std::string, uint32_t, uint64_t>>{
                {"13800138000", "BergAnna", "Acme", 21, 0},  // a listed value names its person
                {"", "Nameless Ltd", "Nameless Ltd", 23, 8000},
                {"", "张伟", "", 0, 4000},  // persons without a rowid come last
            }));
}

// A person listed on a line of its own before another person whose numbers are listed: the
// second still gives its organisation to its numbers' lines (the list grows meanwhile).
TEST(DeletedPersons, OrganisationReachesItsLinesWhateverComesFirst) {
  const auto person = [](std::string rowid, std::string first, std::string organization) {
    RowValues row(20);
    row[0] = std::move(rowid);
    row[1] = std::move(first);
    row[7] = std::move(organization);
    return DeletedPerson{row, std::nullopt};
  };
  DeletedContactList lines(1);
  lines[0].number = "13800138000";
  lines[0].owner = "Li";
  lines[0].ownerRowid = 30;
  lines.shrink_to_fit();
  AddDeletedPersons({person("23", "", "Nameless Ltd"), person("30", "Li", "Acme")}, lines);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].organization, "Acme");
  EXPECT_EQ(lines[1].owner, "Nameless Ltd");
}

// Company cards (Kind 1: an organisation, no names) deleted with their numbers, one alone and
// a run of neighbours: each comes back by its organisation, as SQLite had it.
TEST(DeletedPersons, CompanyCardsComeBackByTheirOrganisation) {
  for (int pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    fixtures::TempDir dir;
    fixtures::ContactOptions options;
    options.pageSize = pageSize;
    options.personCount = 40;
    options.deleteFraction = 0;
    options.deleteSinglePhones = false;
    options.computeSurvival = false;
    const std::string path = dir.File("AddressBook.sqlitedb");
    fixtures::BuildContactsDb(path, options);
    std::set<std::string> companies;  // organisations of the deleted company cards
    {
      fixtures::Database db(path, {.create = false});
      // Persons 10 to 13 and 25 become companies, as a card edited to one does.
      const std::string which = "(ROWID BETWEEN 10 AND 13 OR ROWID = 25)";
      db.Exec(
          "UPDATE ABPerson SET Kind = 1, First = NULL, Last = NULL, Middle = NULL, "
          "Organization = 'Company ' || ROWID || ' Ltd' WHERE " +
          which);
      for (const auto& row : db.Query("SELECT Organization FROM ABPerson WHERE Kind = 1"))
        companies.insert(row[0].AsText());
      db.Exec("DELETE FROM ABMultiValue WHERE record_id IN (SELECT ROWID FROM ABPerson WHERE " +
              which + ")");
      db.Exec("DELETE FROM ABPerson WHERE " + which);
    }
    ASSERT_EQ(companies.size(), 5u);
    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    ContactMap contacts;
    std::optional<DeletedContactList> deleted;
    ASSERT_EQ(ContactLoader(file, contacts, deleted), LoaderStatus::Loaded);
    ASSERT_TRUE(deleted.has_value());
    std::set<std::string> back;
    for (const DeletedContact& line : *deleted)
      if (companies.count(line.organization)) back.insert(line.organization);
    EXPECT_EQ(back, companies);
  }
}

TEST(DeletedContacts, EntryExistsWhenEveryCarvedNumberIsLive) {
  EXPECT_TRUE(
      BuildDeletedContacts({{"", "1", "3", "0", "1", "13800138000"}}, {}, {"13800138000"}).empty());
}

}  // namespace
}  // namespace vantrel
