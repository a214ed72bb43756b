// The loaders on the databases of iOS 8 and later, built by SQLite from device schemas: every
// live row as the fixture wrote it and SQLite returns it (dates across the change to
// nanoseconds and across 2001, words only in attributedBody, group chats, call types), columns
// found by name, and deleted rows that never include a live one.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fixtures/Modern.h"
#include "sources/Loaders.h"
#include "sources/calls/CallStore.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

namespace fx = fixtures;

class ModernMessages : public ::testing::TestWithParam<int> {};

TEST_P(ModernMessages, LiveRowsAreWhatSqliteHolds) {
  fx::TempDir dir;
  fx::ModernMessageOptions options;
  options.iosVersion = GetParam();
  const fx::ModernMessagesTruth truth = fx::BuildModernMessagesDb(dir.File("sms.db"), options);

  // The fixture is what it claims: SQLite sees the live rows, in the units written.
  fx::Database sql(truth.path, {.create = false, .readOnly = true});
  std::map<int64_t, fx::Row> stored;
  for (fx::Row& row :
       sql.Query("SELECT ROWID, text, date, date_read, service, is_sent, is_from_me FROM message"))
    stored[row[0].integer] = row;
  size_t live = 0, nanos = 0, bodyOnly = 0;
  for (const fx::ModernMessage& m : truth.messages) {
    if (m.deleted) {
      EXPECT_EQ(stored.count(m.rowid), 0u);
      continue;
    }
    ++live;
    ASSERT_EQ(stored.count(m.rowid), 1u);
    const fx::Row& row = stored[m.rowid];
    const int64_t scale = m.nanoseconds ? 1'000'000'000 : 1;
    EXPECT_EQ(row[2].integer - (m.nanoseconds ? (row[2].integer % scale + scale) % scale : 0),
              m.seconds * scale);
    EXPECT_EQ(row[1].AsText().empty(), m.textOnlyInBody);
    nanos += m.nanoseconds;
    bodyOnly += m.textOnlyInBody;
  }
  ASSERT_EQ(stored.size(), live);
  if (options.iosVersion >= 12) {
    EXPECT_GT(nanos, 0u);
  }
  if (options.iosVersion == 12) {
    EXPECT_LT(nanos, live);  // old rows stayed in seconds
  }
  if (options.iosVersion >= 12) {
    EXPECT_GT(bodyOnly, 0u);
  }

  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, truth.path), OpenStatus::Opened);
  MessageMap loaded;
  MessageList deleted;
  ASSERT_EQ(MessageLoader(file, loaded, deleted), LoaderStatus::Loaded);

  // What the user must see, from what was written: filed under the chat's identifier, in
  // rowid order, dates in whole seconds since 2001.
  MessageMap expected;
  for (const fx::ModernMessage& m : truth.messages) {
    if (m.deleted) continue;
    const fx::ModernChat& chat = truth.ChatOf(m);
    const fx::Row& row = stored[m.rowid];
    MessageRecord r;
    r.text = m.text;
    r.service = row[4].AsText();
    r.date = static_cast<int32_t>(m.seconds);
    r.readDate = static_cast<int32_t>(m.readSeconds);
    r.sent = row[5].integer != 0;
    r.fromMe = row[6].integer != 0;
    r.chat = std::make_shared<const ChatFacts>(
        ChatFacts{chat.account, chat.displayName,
                  chat.style == 43 ? chat.members : std::vector<std::string>{}});
    expected[chat.identifier].push_back(r);
  }
  ASSERT_EQ(loaded.size(), expected.size());
  for (const auto& [address, list] : expected) {
    SCOPED_TRACE(address);
    ASSERT_EQ(loaded.count(address), 1u);
    const MessageList& got = loaded.at(address);
    ASSERT_EQ(got.size(), list.size());
    for (size_t k = 0; k < list.size(); ++k) {
      SCOPED_TRACE(k);
      EXPECT_EQ(got[k].text, list[k].text);
      EXPECT_EQ(got[k].service, list[k].service);
      EXPECT_EQ(got[k].account(), list[k].account());
      EXPECT_EQ(got[k].date, list[k].date);
      EXPECT_EQ(got[k].readDate, list[k].readDate);
      EXPECT_EQ(got[k].sent, list[k].sent);
      EXPECT_EQ(got[k].fromMe, list[k].fromMe);
      EXPECT_EQ(got[k].chatName(), list[k].chatName());
      EXPECT_EQ(got[k].participants(), list[k].participants());
    }
  }

  // Deleted: never a live message, only texts of messages the fixture deleted,
  // including those whose words only their attributedBody held.
  std::set<std::string> liveTexts, deletedTexts, bodyOnlyTexts;
  size_t deletedWritten = 0;
  for (const fx::ModernMessage& m : truth.messages) {
    (m.deleted ? deletedTexts : liveTexts).insert(m.text);
    if (m.deleted && m.textOnlyInBody) bodyOnlyTexts.insert(m.text);
    deletedWritten += m.deleted;
  }
  size_t found = 0, foundFromBody = 0;
  for (const MessageRecord& r : deleted) {
    EXPECT_EQ(liveTexts.count(r.text), 0u) << r.text;
    found += deletedTexts.count(r.text);
    foundFromBody += bodyOnlyTexts.count(r.text);
  }
  EXPECT_EQ(found, deleted.size());
  std::cout << "iOS " << options.iosVersion << ": " << deleted.size() << " deleted found of "
            << deletedWritten << " written, " << foundFromBody << " from attributedBody\n";
  EXPECT_GT(deleted.size(), 0u);
  if (!bodyOnlyTexts.empty()) {
    EXPECT_GT(foundFromBody, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, ModernMessages, ::testing::Values(9, 12, 16));

class ModernCalls : public ::testing::TestWithParam<int> {};

TEST_P(ModernCalls, CallStoreRowsWithTypeDirectionAndParticipants) {
  fx::TempDir dir;
  const fx::ModernCallsTruth truth =
      fx::BuildModernCallsDb(dir.File("CallHistory.storedata"), GetParam());
  fx::Database sql(truth.path, {.create = false, .readOnly = true});
  size_t live = 0;
  for (const fx::ModernCall& c : truth.calls) live += !c.deleted;
  ASSERT_EQ(sql.QueryInt("SELECT count(*) FROM ZCALLRECORD"), static_cast<int64_t>(live));
  // The stored date is the whole second plus a fraction, from 2001.
  for (const fx::ModernCall& c : truth.calls) {
    if (c.deleted) continue;
    const double zdate =
        sql.QueryValue("SELECT ZDATE FROM ZCALLRECORD WHERE Z_PK = ?", {fx::Value::Int(c.pk)}).real;
    ASSERT_GT(zdate, static_cast<double>(c.unixSeconds - fx::kAppleEpochOffset));
    ASSERT_LT(zdate, static_cast<double>(c.unixSeconds - fx::kAppleEpochOffset + 1));
  }

  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, truth.path), OpenStatus::Opened);
  CallMap loaded, deleted;
  ASSERT_EQ(CallStoreLoader(file, loaded, deleted), LoaderStatus::Loaded);

  std::map<std::string, std::vector<const fx::ModernCall*>> expected;
  for (const fx::ModernCall& c : truth.calls)
    if (!c.deleted) expected[c.address.empty() ? c.participants.front() : c.address].push_back(&c);
  ASSERT_EQ(loaded.size(), expected.size());
  size_t groups = 0;
  for (const auto& [number, calls] : expected) {
    SCOPED_TRACE(number);
    ASSERT_EQ(loaded.count(number), 1u);
    // Live rows come in the table's order, which is Z_PK order here.
    const std::vector<CallRecord>& got = loaded.at(number);
    ASSERT_EQ(got.size(), calls.size());
    for (size_t k = 0; k < calls.size(); ++k) {
      const fx::ModernCall& c = *calls[k];
      EXPECT_EQ(got[k].date, c.unixSeconds);
      EXPECT_EQ(got[k].duration, c.duration);
      EXPECT_EQ(got[k].flags & 1, c.outgoing ? 1 : 0);
      EXPECT_EQ(got[k].answered, c.answered ? 1 : 0);
      EXPECT_EQ(got[k].type, CallTypeFromStored(c.callType));
      EXPECT_EQ(got[k].participants, c.participants);
      groups += !c.participants.empty();
    }
  }
  if (GetParam() == 17) {
    EXPECT_GT(groups, 0u);
  }

  // Deleted calls are calls the fixture deleted, never a live one.
  std::set<std::tuple<std::string, int64_t, int64_t>> written;
  size_t deletedWritten = 0;
  for (const fx::ModernCall& c : truth.calls)
    if (c.deleted) {
      written.insert({c.address, c.unixSeconds, c.duration});
      ++deletedWritten;
    }
  size_t found = 0;
  for (const auto& [number, calls] : deleted)
    for (const CallRecord& r : calls) {
      EXPECT_EQ(written.count({number, r.date, r.duration}), 1u) << number << " " << r.date;
      ++found;
    }
  std::cout << "iOS " << GetParam() << " calls: " << found << " deleted found of " << deletedWritten
            << " written\n";
}

TEST(ModernCalls, TypesAndDatesAsStored) {
  EXPECT_EQ(CallTypeFromStored(1), CallType::Phone);
  EXPECT_EQ(CallTypeFromStored(8), CallType::FaceTimeVideo);
  EXPECT_EQ(CallTypeFromStored(16), CallType::FaceTimeAudio);
  EXPECT_EQ(CallTypeFromStored(0), CallType::Other);
  // A fraction never rounds a call into the next second; 2001 itself is the epoch offset.
  EXPECT_EQ(UnixSecondsFromCallStoreDate("0"), fx::kAppleEpochOffset);
  EXPECT_EQ(UnixSecondsFromCallStoreDate("719999999.999"), 719999999 + fx::kAppleEpochOffset);
  EXPECT_EQ(UnixSecondsFromCallStoreDate("-0.5"), fx::kAppleEpochOffset - 1);
  EXPECT_EQ(UnixSecondsFromCallStoreDate(""), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, ModernCalls, ::testing::Values(9, 17));

class ModernContacts : public ::testing::TestWithParam<int> {};

TEST_P(ModernContacts, PersonsByColumnName) {
  fx::TempDir dir;
  const fx::ModernContactsTruth truth =
      fx::BuildModernContactsDb(dir.File("AddressBook.sqlitedb"), GetParam());
  fx::Database sql(truth.path, {.create = false, .readOnly = true});
  ASSERT_EQ(sql.QueryInt("SELECT count(*) FROM ABPerson"),
            static_cast<int64_t>(truth.persons.size()));
  // The later tables are wider: the reader must not lean on iOS 7's column count.
  EXPECT_GT(sql.Query("PRAGMA table_info(ABPerson)").size(), 36u);

  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, truth.path), OpenStatus::Opened);
  ContactMap contacts;
  std::optional<DeletedContactList> deleted;
  ASSERT_EQ(ContactLoader(file, contacts, deleted), LoaderStatus::Loaded);
  ASSERT_EQ(contacts.size(), truth.persons.size());
  for (const fx::ModernPerson& p : truth.persons) {
    SCOPED_TRACE(p.rowid);
    ASSERT_EQ(contacts.count(static_cast<uint32_t>(p.rowid)), 1u);
    const ContactRecord& c = contacts.at(static_cast<uint32_t>(p.rowid));
    EXPECT_EQ(c.name, p.last + p.middle + p.first);
    EXPECT_EQ(c.phonetic, p.lastPhonetic + "  " + p.firstPhonetic);
    EXPECT_EQ(c.organization, p.organization);
    EXPECT_EQ(c.labels, p.labels);
    EXPECT_EQ(c.values, p.values);
  }
  if (deleted) {
    EXPECT_TRUE(deleted->empty());
  }
}

// Numbers deleted from the wider tables: the carvers run on them without listing a live value.
TEST_P(ModernContacts, DeletedNumbersNeverLive) {
  fx::TempDir dir;
  const fx::ModernContactsTruth truth =
      fx::BuildModernContactsDb(dir.File("AddressBook.sqlitedb"), GetParam());
  std::set<std::string> removed, kept;
  {
    fx::Database sql(truth.path, {.create = false});
    fx::RegisterAppleFunctionStubs(sql);
    for (const fx::ModernPerson& p : truth.persons) {
      const bool drop = p.rowid % 3 == 0;
      for (const std::string& value : p.values) (drop ? removed : kept).insert(value);
      if (drop)
        sql.Query("DELETE FROM ABMultiValue WHERE record_id = ?", {fx::Value::Int(p.rowid)});
    }
  }
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, truth.path), OpenStatus::Opened);
  ContactMap contacts;
  std::optional<DeletedContactList> deleted;
  ASSERT_EQ(ContactLoader(file, contacts, deleted), LoaderStatus::Loaded);
  size_t found = 0;
  if (deleted)
    for (const DeletedContact& c : *deleted) {
      EXPECT_EQ(kept.count(c.number), 0u) << c.number;
      found += removed.count(c.number);
    }
  std::cout << "iOS " << GetParam() << " contacts: " << found << " deleted values found of "
            << removed.size() << " written\n";
}

INSTANTIATE_TEST_SUITE_P(Versions, ModernContacts, ::testing::Values(9, 15, 16));

}  // namespace
}  // namespace vantrel
