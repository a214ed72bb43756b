// Conversations over a message database written by the real SQLite engine:
// every live message SQLite holds sits once in its chat's conversation, in
// time order, with the recovered ones beside them; groups are named as the
// device names them, other conversations by the address book.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "fixtures/Fixtures.h"
#include "fixtures/Modern.h"
#include "model/Conversations.h"
#include "sources/Loaders.h"
#include "sources/messages/MessageFiling.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

namespace fx = fixtures;

bool InTimeOrder(const Conversation& c) {
  bool undatedSeen = false;
  std::optional<int32_t> last;
  for (const ConversationMessage& m : c.messages) {
    if (!m.record->date) {
      undatedSeen = true;
      continue;
    }
    if (undatedSeen || (last && *m.record->date < *last)) return false;
    last = m.record->date;
  }
  return true;
}

TEST(Conversations, FixtureChatsGroupedNamedAndOrdered) {
  fx::TempDir dir;
  fx::ModernMessageOptions options;
  options.iosVersion = 12;
  options.secondNamedGroup = true;
  const fx::ModernMessagesTruth truth = fx::BuildModernMessagesDb(dir.File("sms.db"), options);
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, truth.path), OpenStatus::Opened);
  Collections data;
  ASSERT_EQ(MessageLoader(file, data.liveMessages, data.deletedMessages), LoaderStatus::Loaded);

  // A name for every member of every chat, one of them under two contacts.
  ContactNames names;
  std::map<std::string, std::string> nameOf;
  for (const fx::ModernChat& chat : truth.chats) {
    for (const std::string& member : chat.members) {
      if (nameOf.count(member)) continue;
      nameOf[member] = "联系人" + std::to_string(nameOf.size() + 1);
      names.Add(member, nameOf[member]);
    }
  }
  ASSERT_GE(nameOf.size(), 2u);
  const std::string twice = nameOf.begin()->first;
  names.Add(twice, "Second Name");
  nameOf[twice] += std::string(kNameSeparator) + "Second Name";

  const std::vector<Conversation> conversations = GroupConversations(data, names);

  // SQLite's live rows: text and chat of each.
  fx::Database sql(truth.path, {.create = false, .readOnly = true});
  std::multiset<std::pair<std::string, std::string>> expected;  // (chat identifier, text)
  for (const fx::Row& row :
       sql.Query("SELECT c.chat_identifier, m.ROWID FROM message m JOIN chat_message_join j ON "
                 "j.message_id = m.ROWID JOIN chat c ON c.ROWID = j.chat_id")) {
    for (const fx::ModernMessage& m : truth.messages) {
      if (m.rowid == row[1].integer) expected.insert({NormaliseAddress(row[0].AsText()), m.text});
    }
  }
  std::multiset<std::pair<std::string, std::string>> grouped;
  size_t deletedSeen = 0;
  for (const Conversation& c : conversations) {
    EXPECT_TRUE(InTimeOrder(c)) << c.title;
    for (const ConversationMessage& m : c.messages) {
      if (m.deleted) {
        ++deletedSeen;
        EXPECT_EQ(m.record->address, c.address);
      } else {
        grouped.insert({c.address, m.record->text});
      }
    }
  }
  EXPECT_EQ(grouped, expected);
  EXPECT_EQ(deletedSeen, data.deletedMessages.size());
  ASSERT_FALSE(data.deletedMessages.empty());
  EXPECT_TRUE(conversations.back().unknown);
  EXPECT_EQ(conversations.back().deletedCount, data.deletedMessages.size());

  // Titles: the group's own name, else its members' names, else the party's.
  size_t named = 0;
  for (const fx::ModernChat& chat : truth.chats) {
    const std::string address = NormaliseAddress(chat.identifier);
    const Conversation* c = nullptr;
    for (const Conversation& k : conversations)
      if (k.address == address) c = &k;
    ASSERT_NE(c, nullptr) << address;
    if (!chat.displayName.empty()) {
      ++named;
      EXPECT_TRUE(c->group);
      EXPECT_EQ(c->title, chat.displayName);
      EXPECT_EQ(c->participants, chat.members);
    } else if (chat.style == 43) {
      std::string title;
      for (const std::string& member : chat.members)
        title += (title.empty() ? "" : ", ") + nameOf[member];
      EXPECT_EQ(c->title, title);
    } else {
      ASSERT_EQ(chat.members.size(), 1u);
      EXPECT_FALSE(c->group);
      EXPECT_EQ(c->title, nameOf[chat.members[0]]);
      EXPECT_EQ(c->names, c->title);
    }
  }
  EXPECT_EQ(named, 2u);
}

// A recovered message keeps the party its row names when that party is in
// no group chat (SQLite's chat_handle_join says who is), and joins that
// party's conversation; one of a group member stays with the unknown ones.
TEST(Conversations, RecoveredMessagesFindTheirOneToOneParty) {
  fx::TempDir dir;
  fx::MessageOptions options;
  options.messageCount = 400;
  options.deleteFraction = 0.3;
  options.groupMembers = 2;
  const fx::MessagesTruth truth = fx::BuildMessagesDb(dir.File("sms.db"), options);
  SqliteFile file;
  ASSERT_EQ(OpenDatabase("", file, truth.path), OpenStatus::Opened);
  Collections data;
  ASSERT_EQ(MessageLoader(file, data.liveMessages, data.deletedMessages), LoaderStatus::Loaded);

  fx::Database sql(truth.path, {.create = false, .readOnly = true});
  std::set<int64_t> inGroups;
  for (const fx::Row& row : sql.Query("SELECT DISTINCT j.handle_id FROM chat_handle_join j JOIN "
                                      "chat c ON c.ROWID = j.chat_id WHERE c.style = 43"))
    inGroups.insert(row[0].integer);
  std::map<int64_t, std::string> handleIds;
  for (const fx::Row& row : sql.Query("SELECT ROWID, id FROM handle"))
    handleIds[row[0].integer] = NormaliseAddress(row[1].AsText());

  // Deleted rows by (text, date); only those that say one thing are checked.
  std::map<std::pair<std::string, int64_t>, std::set<std::string>> expected;
  for (const fx::MessageTruth& m : truth.Deleted()) {
    std::string address;
    if (m.handleId > 0 && !inGroups.count(m.handleId)) address = handleIds[m.handleId];
    expected[{m.Text(), m.date}].insert(address);
  }
  size_t checked = 0, withParty = 0, withoutParty = 0;
  for (const MessageRecord& m : data.deletedMessages) {
    if (!m.date) continue;
    auto want = expected.find({m.text, *m.date});
    if (want == expected.end() || want->second.size() != 1) continue;
    ++checked;
    EXPECT_EQ(m.address, *want->second.begin()) << m.text;
    (m.address.empty() ? withoutParty : withParty)++;
  }
  EXPECT_GT(checked, 30u);
  EXPECT_GT(withParty, 10u);
  EXPECT_GT(withoutParty, 0u);

  // In the conversations they sit with their party's live messages.
  const std::vector<Conversation> conversations = GroupConversations(data, ContactNames());
  size_t recoveredBesideLive = 0;
  for (const Conversation& c : conversations) {
    for (const ConversationMessage& m : c.messages) {
      if (!m.deleted) continue;
      EXPECT_EQ(m.record->address, c.address);
      recoveredBesideLive += !c.unknown && c.messages.size() > c.deletedCount;
    }
  }
  EXPECT_GT(recoveredBesideLive, 0u);
}

// A recovered message that names its party joins that conversation in time
// order; one that does not, and one without a date, go where a reader looks.
TEST(Conversations, RecoveredMessagesJoinTheirPartyOrTheUnknownOne) {
  Collections data;
  auto message = [](std::string text, std::optional<int32_t> date) {
    MessageRecord m;
    m.text = std::move(text);
    m.date = date;
    return m;
  };
  data.liveMessages["13800138000"] = {message("first", 100), message("third", 300)};
  data.deletedMessages.push_back(message("second, recovered", 200));
  data.deletedMessages.back().address = "13800138000";
  data.deletedMessages.push_back(message("lost party", 50));
  data.deletedMessages.push_back(message("no date", std::nullopt));
  data.deletedMessages.push_back(message("earlier", 10));
  data.deletedMessages.push_back(message("only recovered", 10));
  data.deletedMessages.back().address = "zhao@example.com";

  const std::vector<Conversation> conversations = GroupConversations(data, ContactNames());
  ASSERT_EQ(conversations.size(), 3u);
  auto texts = [](const Conversation& c) {
    std::vector<std::pair<std::string, bool>> out;
    for (const ConversationMessage& m : c.messages) out.push_back({m.record->text, m.deleted});
    return out;
  };
  using T = std::vector<std::pair<std::string, bool>>;
  EXPECT_EQ(conversations[0].title, "13800138000");
  EXPECT_EQ(texts(conversations[0]),
            (T{{"first", false}, {"second, recovered", true}, {"third", false}}));
  EXPECT_EQ(conversations[0].deletedCount, 1u);
  EXPECT_EQ(conversations[1].title, "zhao@example.com");
  EXPECT_EQ(texts(conversations[1]), (T{{"only recovered", true}}));
  EXPECT_TRUE(conversations[2].unknown);
  EXPECT_EQ(conversations[2].address, "");
  EXPECT_EQ(texts(conversations[2]),
            (T{{"earlier", true}, {"lost party", true}, {"no date", true}}));

  // Nothing recovered without a party: no unknown conversation at all.
  data.deletedMessages.resize(1);
  EXPECT_EQ(GroupConversations(data, ContactNames()).size(), 1u);
}

}  // namespace
}  // namespace vantrel
