// The address-book loader on iOS 6 and iOS 7 address books written by the real
// SQLite engine, on 4096- and 1024-byte pages: live contacts must equal what
// SQLite returns for the live rows; deleted telephone numbers whose bytes
// survive must come back once each, never a live one. Recall per place (the
// ABMultiValue pages, the other pages) is printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "carve/RowReader.h"
#include "fixtures/Fixtures.h"
#include "sources/Loaders.h"
#include "sources/contacts/ContactCarvers.h"
#include "sources/contacts/ContactLoader.h"
#include "sources/contacts/PhoneNumber.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::Value;

// How the address book's system labels are written: a word between "_$!<" and ">!$_".
std::string ShownLabel(const std::string& stored) {
  const std::string open = "_$!<", close = ">!$_";
  if (stored.size() > open.size() + close.size() && stored.rfind(open, 0) == 0 &&
      stored.compare(stored.size() - close.size(), close.size(), close) == 0)
    return stored.substr(open.size(), stored.size() - open.size() - close.size());
  return stored;
}

// The contacts SQLite shows for the fixture, built the way the user sees them.
ContactMap ExpectedLiveContacts(Database& sql) {
  ContactMap expected;
  for (const auto& p :
       sql.Query("SELECT ROWID, ifnull(First,''), ifnull(Last,''), ifnull(Middle,''), "
                 "ifnull(FirstPhonetic,''), ifnull(MiddlePhonetic,''), ifnull(LastPhonetic,''), "
                 "ifnull(Organization,'') FROM ABPerson ORDER BY ROWID")) {
    ContactRecord r;
    r.name = p[2].AsText() + p[3].AsText() + p[1].AsText();
    r.phonetic = p[6].AsText() + " " + p[5].AsText() + " " + p[4].AsText();
    r.organization = p[7].AsText();
    for (const auto& mv :
         sql.Query("SELECT UID, property, label, ifnull(value,'') FROM ABMultiValue "
                   "WHERE record_id = ? ORDER BY UID",
                   {p[0]})) {
      std::string label, value;
      if (mv[1].AsInt() == 5) {
        const auto entry = sql.Query(
            "SELECT ifnull(k.value,''), ifnull(e.value,'') FROM ABMultiValueEntry e "
            "LEFT JOIN ABMultiValueEntryKey k ON k.rowid = e.key WHERE e.parent_id = ? "
            "ORDER BY e.rowid LIMIT 1",
            {mv[0]});
        if (entry.empty()) continue;
        label = entry[0][0].AsText();
        value = entry[0][1].AsText();
      } else {
        if (mv[2].IsNull()) continue;
        label = ShownLabel(
            sql.QueryText("SELECT value FROM ABMultiValueLabel WHERE rowid = ?", {mv[2]}));
        value = mv[3].AsText();
      }
      r.propertyCodes.push_back(static_cast<int32_t>(mv[1].AsInt()));
      r.labels.push_back(label);
      if (r.name.empty()) r.name = value;
      r.values.push_back(value);
    }
    expected.emplace(static_cast<uint32_t>(p[0].AsInt()), r);
  }
  return expected;
}

struct Layout {
  int ios;
  int pageSize;
  fixtures::JournalMode journal = fixtures::JournalMode::Rollback;
};

std::string LayoutName(const ::testing::TestParamInfo<Layout>& info) {
  return "ios" + std::to_string(info.param.ios) + "_page" + std::to_string(info.param.pageSize) +
         (info.param.journal == fixtures::JournalMode::Wal ? "_wal" : "");
}

class ContactLoaderOnFixture : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    fixtures::ContactOptions options;
    options.iosVersion = GetParam().ios;
    options.pageSize = GetParam().pageSize;
    options.personCount = 120;
    options.deleteFraction = 0.3;
    options.seed = 7;
    options.journal = GetParam().journal;
    truth_ = fixtures::BuildContactsDb(dir_.File("AddressBook.sqlitedb"), options);
    const bool wal = GetParam().journal == fixtures::JournalMode::Wal;
    ASSERT_EQ(OpenDatabase(wal ? truth_.path + "-wal" : std::string(), db_, truth_.path),
              OpenStatus::Opened);
  }

  // Values of live multi-values of live persons: never a deleted line.
  std::set<std::string> LiveValues() const {
    std::set<std::string> live;
    for (const auto& p : truth_.persons) {
      if (!p.Live()) continue;
      for (const auto& mv : p.multiValues)
        if (mv.Live() && mv.value) live.insert(*mv.value);
    }
    return live;
  }

  // Deleted telephone numbers that are not also live somewhere (a row that
  // never committed was never there to delete).
  std::vector<fixtures::MultiValueTruth> DeletedPhones() const {
    const std::set<std::string> live = LiveValues();
    std::vector<fixtures::MultiValueTruth> phones;
    std::set<std::string> seen;
    for (const auto& p : truth_.persons) {
      for (const auto& mv : p.multiValues) {
        if (!(mv.deleted || p.deleted) || mv.property != 3 || !mv.value) continue;
        if (mv.insertedIn == fixtures::Stage::WalUncommitted) continue;
        if (live.count(*mv.value) || !seen.insert(*mv.value).second) continue;
        phones.push_back(mv);
      }
    }
    return phones;
  }

  // A number survives when its bytes are still somewhere in the database
  // file (its record, or an index entry) or in the log.
  bool Survives(const std::string& number) {
    if (fileBytes_.empty()) {
      fileBytes_ = fixtures::ReadFileBytes(truth_.path);
      fileBytes_ += fixtures::ReadFileBytes(truth_.path + "-wal");
    }
    return fileBytes_.find(number) != std::string::npos;
  }

  std::string fileBytes_;

  fixtures::TempDir dir_;
  fixtures::ContactsTruth truth_;
  SqliteFile db_;
};

TEST_P(ContactLoaderOnFixture, LiveContactsEqualWhatSqliteHolds) {
  ContactMap contacts;
  std::optional<DeletedContactList> deleted;
  ASSERT_EQ(ContactLoader(db_, contacts, deleted), LoaderStatus::Loaded);
  Database sql(truth_.path, {.create = false, .readOnly = true});
  const ContactMap expected = ExpectedLiveContacts(sql);
  ASSERT_FALSE(expected.empty());
  for (const auto& [id, want] : expected) {
    auto found = contacts.find(id);
    ASSERT_NE(found, contacts.end()) << "person " << id;
    const ContactRecord& got = found->second;
    EXPECT_EQ(got.name, want.name) << "person " << id;
    EXPECT_EQ(got.phonetic, want.phonetic) << "person " << id;
    EXPECT_EQ(got.organization, want.organization) << "person " << id;
    EXPECT_EQ(got.propertyCodes, want.propertyCodes) << "person " << id;
    EXPECT_EQ(got.labels, want.labels) << "person " << id;
    EXPECT_EQ(got.values, want.values) << "person " << id;
  }
  // Nothing but the live persons.
  EXPECT_EQ(contacts.size(), expected.size());
}

TEST_P(ContactLoaderOnFixture, DeletedNumbersComeBackOnceNeverALiveOne) {
  ContactMap contacts;
  std::optional<DeletedContactList> carved;
  ASSERT_EQ(ContactLoader(db_, contacts, carved), LoaderStatus::Loaded);
  ASSERT_TRUE(carved.has_value());
  const DeletedContactList& deleted = *carved;

  const std::set<std::string> live = LiveValues();
  std::map<std::string, int> lines;
  for (const DeletedContact& line : deleted) {
    if (line.number.empty()) continue;  // a deleted person found without its values
    EXPECT_FALSE(live.count(line.number)) << "live number listed: " << line.number;
    ++lines[line.number];
  }

  const auto phones = DeletedPhones();
  ASSERT_FALSE(phones.empty());
  int found = 0, surviving = 0, foundSurviving = 0, named = 0;
  for (const auto& mv : phones) {
    const int n = lines.count(*mv.value) ? lines[*mv.value] : 0;
    EXPECT_LE(n, 1) << "listed more than once: " << *mv.value;
    const bool survives = Survives(*mv.value);
    surviving += survives;
    if (n == 0) continue;
    ++found;
    foundSurviving += survives;
    // A name, when one is given, is the owner's.
    for (const DeletedContact& line : deleted) {
      if (line.number != *mv.value || line.owner.empty()) continue;
      ++named;
      EXPECT_EQ(line.owner, truth_.PersonByRowid(mv.recordId)->JoinedName()) << *mv.value;
    }
  }
  // Every line is a value some deleted multi-value held: nothing made up.
  std::set<std::string> deletedValues;
  for (const auto& p : truth_.persons)
    for (const auto& mv : p.multiValues)
      if ((mv.deleted || p.deleted) && mv.value) deletedValues.insert(*mv.value);
  int invented = 0;
  for (const DeletedContact& line : deleted) {
    if (line.number.empty() || deletedValues.count(line.number)) continue;
    ++invented;
    ADD_FAILURE() << "not a deleted value: " << line.number << " in " << line.found->file
                  << " page " << line.found->page << " frame " << line.found->frame << " at "
                  << line.found->offset << " place " << static_cast<int>(line.found->place);
  }
  const double recall = 100.0 * found / phones.size();
  const double survivingRecall = surviving ? 100.0 * foundSurviving / surviving : 100.0;
  std::printf(
      "[ recall ] ios%d page %d: %d of %zu deleted numbers (%.1f%%), %d of %d surviving "
      "(%.1f%%), %d named, %zu lines, %d invented\n",
      GetParam().ios, GetParam().pageSize, found, phones.size(), recall, foundSurviving, surviving,
      survivingRecall, named, deleted.size(), invented);
  EXPECT_GE(survivingRecall, 95.0);
  EXPECT_GE(named * 3, found);  // a third of them at least with their owner's name
  EXPECT_GE(recall, GetParam().pageSize >= 4096 ? 90.0 : 80.0);
}

// Where the numbers come from: template carving of the ABMultiValue pages
// and the number carver on every other page, each measured on its own.
TEST_P(ContactLoaderOnFixture, RecallPerPlace) {
  const TableInfo* table = FindTable(db_, "ABMultiValue");
  ASSERT_NE(table, nullptr);
  RowList live, templ, others;
  for (const PageSet& set : table->pageSets)
    ReadPageSetRows(db_, set, live, templ, table->columns, CarveMultiValuePage);
  TelephoneNumberCarver(db_, others);
  auto values = [](const RowList& rows) {
    std::set<std::string> s;
    for (const RowValues& r : rows)
      if (r.size() > 5) s.insert(r[5]);
    return s;
  };
  const std::set<std::string> fromTemplate = values(templ), fromOthers = values(others);
  const auto phones = DeletedPhones();
  int inTemplate = 0, inOthers = 0, either = 0;
  for (const auto& mv : phones) {
    const bool a = fromTemplate.count(*mv.value) > 0, b = fromOthers.count(*mv.value) > 0;
    inTemplate += a;
    inOthers += b;
    either += a || b;
  }
  std::printf(
      "[ places ] ios%d page %d: %zu deleted numbers; ABMultiValue pages %d, other "
      "pages %d, together %d\n",
      GetParam().ios, GetParam().pageSize, phones.size(), inTemplate, inOthers, either);
  EXPECT_GT(inTemplate, 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ContactLoaderOnFixture,
                         ::testing::Values(Layout{6, 4096}, Layout{7, 4096}, Layout{6, 1024},
                                           Layout{7, 1024},
                                           Layout{7, 4096, fixtures::JournalMode::Wal}),
                         LayoutName);

// ---------------------------------------------------------------------------------------------
// Deleted persons: a run of neighbouring cards and scattered single ones deleted with their
// values, and e-mail addresses deleted from cards that stay

class DeletedPersonsOnFixture : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    fixtures::ContactOptions options;
    options.iosVersion = GetParam().ios;
    options.pageSize = GetParam().pageSize;
    options.personCount = 150;
    options.deleteFraction = 0.12;
    options.deletedRun = 9;
    options.deleteSingleEmails = true;
    options.seed = 23;
    options.journal = GetParam().journal;
    truth_ = fixtures::BuildContactsDb(dir_.File("AddressBook.sqlitedb"), options);
    const bool wal = GetParam().journal == fixtures::JournalMode::Wal;
    ASSERT_EQ(OpenDatabase(wal ? truth_.path + "-wal" : std::string(), db_, truth_.path),
              OpenStatus::Opened);
    ContactMap contacts;
    ASSERT_EQ(ContactLoader(db_, contacts, deleted_), LoaderStatus::Loaded);
    ASSERT_TRUE(deleted_.has_value());
    columnCount_ = FindTable(db_, "ABPerson")->columns.size();
  }

  // Persons deleted after they were committed: SQLite once held them.
  std::vector<fixtures::PersonTruth> DeletedPersons() const {
    std::vector<fixtures::PersonTruth> persons;
    for (const auto& p : truth_.persons)
      if (p.deleted && p.insertedIn != fixtures::Stage::WalUncommitted) persons.push_back(p);
    return persons;
  }

  // What a person line shows as owner: the name, else the organisation.
  static std::string Shown(const fixtures::PersonTruth& p) {
    return p.JoinedName().empty() ? p.organization : p.JoinedName();
  }

  fixtures::TempDir dir_;
  fixtures::ContactsTruth truth_;
  SqliteFile db_;
  std::optional<DeletedContactList> deleted_;
  size_t columnCount_ = 0;
};

TEST_P(DeletedPersonsOnFixture, EachSurvivingPersonOnceNeverALiveOne) {
  const DeletedContactList& lines = *deleted_;
  std::set<int64_t> deletedRowids;
  std::set<std::pair<std::string, std::string>> deletedCards;  // shown owner, organisation
  for (const auto& p : DeletedPersons()) {
    deletedRowids.insert(p.rowid);
    deletedCards.insert({Shown(p), p.organization});
  }
  // Rowids of the persons a line stands for: its own line or its values' lines.
  std::map<int64_t, int> personLines;
  std::set<int64_t> withValues;
  int unlinked = 0;
  for (const DeletedContact& line : lines) {
    if (!line.number.empty()) {
      if (line.ownerRowid != 0) withValues.insert(line.ownerRowid);
      continue;
    }
    if (line.ownerRowid == 0) {
      // A card whose rowid was lost: it must be a deleted card, by what it shows.
      ++unlinked;
      EXPECT_TRUE(deletedCards.count({line.owner, line.organization}))
          << "not a deleted person: " << line.owner;
      continue;
    }
    const fixtures::PersonTruth* p = truth_.PersonByRowid(line.ownerRowid);
    ASSERT_NE(p, nullptr) << line.ownerRowid;
    EXPECT_FALSE(p->Live()) << "live person listed as deleted: " << line.owner;
    EXPECT_EQ(line.owner, Shown(*p));
    EXPECT_EQ(line.organization, p->organization);
    ++personLines[line.ownerRowid];
  }
  for (const auto& [rowid, count] : personLines) {
    EXPECT_EQ(count, 1) << "person " << rowid << " listed " << count << " times";
    EXPECT_FALSE(withValues.count(rowid)) << "person " << rowid << " listed beside its values";
  }
  // A value's line names its deleted owner's organisation when the owner was found.
  for (const DeletedContact& line : lines) {
    if (line.number.empty() || line.ownerRowid == 0 || line.owner.empty()) continue;
    const fixtures::PersonTruth* p = truth_.PersonByRowid(line.ownerRowid);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(line.owner, p->JoinedName());
    if (!p->Live()) {
      EXPECT_EQ(line.organization, p->organization) << line.number;
    }
  }
  // Recall: a surviving deleted person shows, on its own line or as the owner of its values.
  int surviving = 0, found = 0, inRun = 0;
  std::set<std::string> owners;
  for (const DeletedContact& line : lines) owners.insert(line.owner);
  for (const auto& p : DeletedPersons()) {
    if (!(p.inMainFile || p.inWal) || Shown(p).empty()) continue;
    ++surviving;
    const bool shown =
        personLines.count(p.rowid) || withValues.count(p.rowid) || owners.count(Shown(p));
    found += shown;
    inRun += shown && p.rowid > 50 && p.rowid <= 59;
  }
  std::printf(
      "[ persons ] ios%d page %d%s: %zu deleted, %d surviving, %d shown (%d of the run), %zu own "
      "lines, %d without rowid\n",
      GetParam().ios, GetParam().pageSize,
      GetParam().journal == fixtures::JournalMode::Wal ? " wal" : "", DeletedPersons().size(),
      surviving, found, inRun, personLines.size() + unlinked, unlinked);
  ASSERT_GT(surviving, 0);
  EXPECT_GE(found * 10, surviving * 9);
}

// Every deleted person the loader chooses, whether it shows on a line of its own or names its
// values: where it was found holds its record, the names in the body right after the header.
TEST_P(DeletedPersonsOnFixture, OffsetPointsAtThePersonsRecord) {
  RowList carved;
  FoundList found;
  PersonCarver(db_, carved, &found);
  PersonCarverOnTablePages(db_, carved, &found);
  ASSERT_EQ(found.size(), carved.size());
  std::set<uint32_t> live;
  std::set<int64_t> liveCreated;
  for (const auto& p : truth_.persons) {
    if (!p.Live()) continue;
    live.insert(static_cast<uint32_t>(p.rowid));
    liveCreated.insert(p.creationDate);
  }
  const std::vector<DeletedPerson> chosen =
      ChooseDeletedPersons(carved, found, live, liveCreated, person_column::kCreationDate);
  const std::string main = fixtures::ReadFileBytes(truth_.path);
  const std::string log = fixtures::ReadFileBytes(truth_.path + "-wal");
  // The body starts after the header: its size byte and one or two bytes per serial type.
  const size_t headerBound = 1 + 2 * columnCount_;
  std::set<int64_t> seen;
  for (const DeletedPerson& person : chosen) {
    // The person it is: by rowid, or by creation date when the rowid was lost.
    const fixtures::PersonTruth* p = nullptr;
    const int64_t rowid = TextToInt(person.row.at(person_column::kRowid));
    const int64_t created = TextToInt(person.row.at(person_column::kCreationDate));
    for (const auto& candidate : truth_.persons)
      if (rowid != 0 ? candidate.rowid == rowid : candidate.creationDate == created) p = &candidate;
    ASSERT_NE(p, nullptr) << person.row.at(person_column::kFirst);
    EXPECT_FALSE(p->Live()) << "live person chosen: " << p->rowid;
    EXPECT_TRUE(seen.insert(p->rowid).second) << "person " << p->rowid << " chosen twice";
    EXPECT_EQ(person.row.at(person_column::kFirst), p->first);
    EXPECT_EQ(person.row.at(person_column::kLast), p->last);
    EXPECT_EQ(person.row.at(person_column::kOrganization), p->organization);
    ASSERT_TRUE(person.found.has_value());
    const FoundAt& at = *person.found;
    const bool inLog = at.place == Place::LogFrame ||
                       (at.file.size() > 4 && at.file.compare(at.file.size() - 4, 4, "-wal") == 0);
    const std::string& file = inLog ? log : main;
    ASSERT_LT(at.offset, file.size());
    // The body holds First ... Organization back to back (NULL takes no bytes).
    const std::string names = p->first + p->last + p->middle + p->firstPhonetic +
                              p->middlePhonetic + p->lastPhonetic + p->organization;
    const size_t body = file.find(names, at.offset);
    EXPECT_NE(body, std::string::npos) << p->rowid;
    EXPECT_LE(body, at.offset + headerBound) << p->rowid;
  }
  EXPECT_FALSE(seen.empty());
}

TEST_P(DeletedPersonsOnFixture, DeletedEmailsOnceEach) {
  std::set<std::string> live, deleted;
  for (const auto& p : truth_.persons)
    for (const auto& mv : p.multiValues) {
      if (mv.property != 4 || !mv.value) continue;
      if (p.Live() && mv.Live()) live.insert(*mv.value);
      if ((p.deleted || mv.deleted) && mv.insertedIn != fixtures::Stage::WalUncommitted)
        deleted.insert(*mv.value);
    }
  std::map<std::string, int> listed;
  for (const DeletedContact& line : *deleted_)
    if (line.number.find('@') != std::string::npos) ++listed[line.number];
  for (const auto& [value, count] : listed) {
    EXPECT_EQ(count, 1) << value;
    EXPECT_TRUE(deleted.count(value)) << "not a deleted address: " << value;
    EXPECT_FALSE(live.count(value)) << "live address listed: " << value;
  }
  const std::string bytes =
      fixtures::ReadFileBytes(truth_.path) + fixtures::ReadFileBytes(truth_.path + "-wal");
  int surviving = 0, found = 0;
  for (const std::string& value : deleted) {
    if (live.count(value) || bytes.find(value) == std::string::npos) continue;
    ++surviving;
    found += listed.count(value) > 0;
    if (!listed.count(value)) std::printf("[ missing ] %s\n", value.c_str());
  }
  std::printf("[ e-mails ] ios%d page %d: %zu deleted, %d surviving, %d listed\n", GetParam().ios,
              GetParam().pageSize, deleted.size(), surviving, found);
  ASSERT_GT(surviving, 0);
  EXPECT_GE(found * 10, surviving * 9);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeletedPersonsOnFixture,
                         ::testing::Values(Layout{6, 4096}, Layout{7, 4096}, Layout{7, 1024},
                                           Layout{7, 4096, fixtures::JournalMode::Wal}),
                         LayoutName);

// ---------------------------------------------------------------------------------------------
// Small address books made for one rule each

std::string CreateStatement(int ios, const std::string& table) {
  const std::string schema =
      fixtures::ReadSchemaFile("ios" + std::to_string(ios) + "_addressbook.sql");
  const std::string head = "CREATE TABLE " + table + " (";
  const size_t at = schema.find(head);
  return at == std::string::npos ? std::string() : schema.substr(at, schema.find(";\n", at) - at);
}

class SmallAddressBook : public ::testing::Test {
 protected:
  void Create(const std::vector<std::string>& tables) {
    Database db(path_, {});
    for (const std::string& t : tables) db.Exec(CreateStatement(6, t));
  }
  std::optional<LoaderStatus> Load(ContactMap& contacts) {
    SqliteFile file;
    if (OpenDatabase("", file, path_) == OpenStatus::NotOpened) return std::nullopt;
    return ContactLoader(file, contacts, deleted_);
  }
  std::optional<DeletedContactList> deleted_;
  fixtures::TempDir dir_;
  std::string path_ = dir_.File("ab.db");
};

TEST_F(SmallAddressBook, MissingKeyTablesLeaveTheMapUntouched) {
  Create({"ABMultiValue", "ABMultiValueLabel"});
  {
    Database db(path_, {});
    db.Exec(
        "INSERT INTO ABMultiValue (record_id, property, identifier, label, value) "
        "VALUES (1, 3, 0, 1, '13800138000')");
  }
  ContactMap contacts;
  contacts[77].name = "kept";
  EXPECT_EQ(Load(contacts), LoaderStatus::TableAbsent);  // no ABPerson
  ASSERT_EQ(contacts.size(), 1u);
  EXPECT_EQ(contacts[77].name, "kept");

  fixtures::TempDir other;
  path_ = other.File("ab.db");
  Create({"ABPerson", "ABMultiValueLabel"});
  EXPECT_EQ(Load(contacts), LoaderStatus::TableAbsent);  // no ABMultiValue
  EXPECT_EQ(contacts.size(), 1u);
  EXPECT_FALSE(deleted_.has_value());
}

TEST_F(SmallAddressBook, JoinRulesForNamesLabelsAndAddresses) {
  Create({"ABPerson", "ABMultiValue", "ABMultiValueLabel", "ABMultiValueEntry",
          "ABMultiValueEntryKey"});
  {
    Database db(path_, {});
    db.Exec(
        "INSERT INTO ABMultiValueLabel (value) VALUES ('_$!<Mobile>!$_'), ('Boat phone'), "
        "('<Work>');"
        "INSERT INTO ABMultiValueEntryKey (value) VALUES ('Street'), ('City');"
        "INSERT INTO ABPerson (ROWID, First, Last, Organization) VALUES (3, '伟', '张', 'Org');"
        "INSERT INTO ABPerson (ROWID, Organization) VALUES (4, 'Nameless Ltd');"
        "INSERT INTO ABPerson (ROWID, First) VALUES (5, 'Alone');"
        "INSERT INTO ABMultiValue (record_id, property, identifier, label, value) VALUES "
        "(3, 3, 0, 1, '13800138000'), (3, 3, 1, NULL, '13900000000'), "
        "(3, 3, 2, 2, '02087654321'), (3, 3, 3, 3, '075512345678'), "
        "(4, 4, 0, 2, 'x@example.com'), (4, 5, 0, 1, NULL), (3, 5, 1, 1, NULL);"
        "INSERT INTO ABMultiValueEntry (parent_id, key, value) VALUES "
        "(6, 2, 'Springfield'), (6, 1, '1 Main St');");
  }
  ContactMap contacts;
  ASSERT_EQ(Load(contacts), LoaderStatus::Loaded);
  ASSERT_EQ(contacts.size(), 3u);
  EXPECT_FALSE(deleted_.has_value());  // nothing deleted: no deleted contacts at all
  const ContactRecord& zhang = contacts.at(3);
  EXPECT_EQ(zhang.name, "张伟");
  EXPECT_EQ(zhang.organization, "Org");
  EXPECT_EQ(zhang.phonetic, "  ");
  // The NULL label is left out; "<Work>" keeps its brackets; the address of
  // person 3 has no entries and adds nothing.
  EXPECT_EQ(zhang.labels, (std::vector<std::string>{"Mobile", "Boat phone", "<Work>"}));
  EXPECT_EQ(zhang.values, (std::vector<std::string>{"13800138000", "02087654321", "075512345678"}));
  EXPECT_EQ(zhang.propertyCodes, (std::vector<int32_t>{3, 3, 3}));
  // No name: the first value added names the person, whatever the organisation.
  const ContactRecord& nameless = contacts.at(4);
  EXPECT_EQ(nameless.name, "x@example.com");
  // An address shows its first entry with that entry's key.
  EXPECT_EQ(nameless.labels, (std::vector<std::string>{"Boat phone", "City"}));
  EXPECT_EQ(nameless.values, (std::vector<std::string>{"x@example.com", "Springfield"}));
  EXPECT_EQ(nameless.propertyCodes, (std::vector<int32_t>{4, 5}));
  // A person without multi-values still gets a record.
  EXPECT_EQ(contacts.at(5).name, "Alone");
  EXPECT_TRUE(contacts.at(5).values.empty());
}

TEST_F(SmallAddressBook, NoMultiValuesAnywhereMeansNoContacts) {
  Create({"ABPerson", "ABMultiValue"});
  {
    Database db(path_, {});
    db.Exec("INSERT INTO ABPerson (First) VALUES ('Only')");
  }
  ContactMap contacts;
  EXPECT_EQ(Load(contacts), LoaderStatus::Loaded);
  EXPECT_TRUE(contacts.empty());
}

// Damaged bytes are ordinary input: an address book with bytes overwritten
// anywhere past its header loads without crashing or hanging, every time.
TEST(DamagedAddressBook, LoadsWhateverItsBytesSay) {
  fixtures::TempDir dir;
  fixtures::ContactOptions options;
  options.iosVersion = 7;
  options.pageSize = 1024;
  options.personCount = 30;
  options.seed = 3;
  const fixtures::ContactsTruth truth = fixtures::BuildContactsDb(dir.File("ab.db"), options);
  const std::string original = fixtures::ReadFileBytes(truth.path);
  ASSERT_GT(original.size(), 4096u);
  std::mt19937 random(11);
  for (int round = 0; round < 150; ++round) {
    std::string bytes = original;
    // A few runs of random bytes, and a few single bytes set to 0x00 or 0xFF,
    // which turn lengths and offsets into their extremes.
    std::uniform_int_distribution<size_t> where(100, bytes.size() - 1);
    for (int k = 0; k < 6; ++k) {
      const size_t at = where(random);
      const size_t length = std::min<size_t>(1 + random() % 64, bytes.size() - at);
      for (size_t i = 0; i < length; ++i) bytes[at + i] = static_cast<char>(random());
    }
    for (int k = 0; k < 20; ++k) bytes[where(random)] = (random() & 1) ? '\xFF' : '\0';
    const std::string path = dir.File("damaged" + std::to_string(round) + ".db");
    {
      std::ofstream out(path, std::ios::binary);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    SqliteFile db;
    ASSERT_EQ(OpenDatabase("", db, path), OpenStatus::Opened);
    ContactMap contacts;
    std::optional<DeletedContactList> deleted;
    ContactLoader(db, contacts, deleted);
    if (deleted) {
      for (const DeletedContact& line : *deleted)
        EXPECT_FALSE(line.number.empty() && line.owner.empty());
    }
  }
}

}  // namespace
}  // namespace vantrel
