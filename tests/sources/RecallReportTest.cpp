// One recall report for everything Vantrel carves: deleted messages, calls, numbers, e-mail
// addresses and persons of iOS 6/7 databases, and the rows of generic tables of several shapes,
// on 1024-, 4096- and 65536-byte pages, with and without a write-ahead log. For each deleted
// record the test decides, from the file bytes alone, whether its bytes survive and where: it
// looks for the record's identifying bytes (as SQLite stores them) in the file and its -wal, and
// classifies each place it finds them by the page's own header, its freeblock chain, the freelist
// and the log's frame headers, never by what the code under test says. Then it counts which of
// the surviving records the loaders list, per place, naming the ones lost; prints one line per
// kind, page size and place; and asserts that 95 % of the surviving records come back overall
// and in every place holding at least ten, that no live record is listed as deleted and none
// twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "carve/FreePages.h"
#include "carve/RowReader.h"
#include "fixtures/BuildSupport.h"
#include "fixtures/Fixtures.h"
#include "sources/Loaders.h"
#include "sqlite/ByteView.h"
#include "sqlite/ReaderCheck.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::JournalMode;
using fixtures::TempDir;
using fixtures::Value;
using fixtures::detail::IntBody;

// Where the test finds a deleted record's bytes. The first six are the places the product
// names; the others hold no deleted record (a live cell, an index, an overflow or map page)
// or an older image (a file page whose newer image is in the log).
enum class Spot {
  Freeblock,
  Gap,
  LeafPage,  // a table leaf with no cell left
  FreePage,
  InteriorPage,
  LogFrame,      // an old committed frame or one after the last commit
  FileUnderLog,  // the file's image of a page the log holds a newer image of
  None,
};

const char* SpotName(Spot s) {
  switch (s) {
    case Spot::Freeblock:
      return "freeblock";
    case Spot::Gap:
      return "gap";
    case Spot::LeafPage:
      return "emptied-leaf";
    case Spot::FreePage:
      return "free-page";
    case Spot::InteriorPage:
      return "interior-page";
    case Spot::LogFrame:
      return "log-frame";
    case Spot::FileUnderLog:
      return "file-under-log";
    case Spot::None:
      break;
  }
  return "gone";
}

uint32_t Be32(const std::string& b, size_t at) {
  return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
         (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}
uint16_t Be16(const std::string& b, size_t at) {
  return static_cast<uint16_t>((uint8_t(b[at]) << 8) | uint8_t(b[at + 1]));
}

// Every place a needle lies in one haystack. A 64 KiB-page log runs to megabytes and a fixture
// asks for a few thousand needles that share long prefixes (e-mail domains, names), so scanning
// the haystack per needle cost seconds. The haystack's 4-byte windows are indexed once; a
// needle's rarest window names the few candidate starts, and each is compared in full.
class Occurrences {
 public:
  explicit Occurrences(const std::string& hay) : hay_(&hay) {
    if (hay.size() < kGram) return;
    const size_t windows = hay.size() - kGram + 1;
    starts_.assign(kBuckets + 1, 0);
    for (size_t i = 0; i < windows; ++i) ++starts_[Bucket(hay.data() + i) + 1];
    for (size_t b = 0; b < kBuckets; ++b) starts_[b + 1] += starts_[b];
    positions_.resize(windows);
    std::vector<uint32_t> fill(starts_.begin(), starts_.end() - 1);
    for (size_t i = 0; i < windows; ++i)
      positions_[fill[Bucket(hay.data() + i)]++] = static_cast<uint32_t>(i);
  }
  Occurrences(const Occurrences&) = delete;
  Occurrences& operator=(const Occurrences&) = delete;

  // The offsets, overlapping ones included, in rising order.
  std::vector<size_t> Find(const std::string& needle) const {
    std::vector<size_t> found;
    const std::string& hay = *hay_;
    if (needle.empty() || needle.size() > hay.size()) return found;
    if (needle.size() < kGram) {
      for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1))
        found.push_back(at);
      return found;
    }
    size_t pick = 0, fewest = SIZE_MAX;
    for (size_t k = 0; k + kGram <= needle.size(); ++k) {
      const uint32_t b = Bucket(needle.data() + k);
      if (starts_[b + 1] - starts_[b] < fewest) {
        fewest = starts_[b + 1] - starts_[b];
        pick = k;
      }
    }
    const uint32_t b = Bucket(needle.data() + pick);
    for (uint32_t i = starts_[b]; i < starts_[b + 1]; ++i) {
      const size_t window = positions_[i];
      if (window < pick) continue;
      const size_t at = window - pick;
      if (at + needle.size() <= hay.size() &&
          std::memcmp(hay.data() + at, needle.data(), needle.size()) == 0)
        found.push_back(at);
    }
    return found;
  }

 private:
  static constexpr size_t kGram = 4;
  static constexpr uint32_t kBits = 20, kBuckets = 1u << kBits;
  static uint32_t Bucket(const char* p) {
    uint32_t w;
    std::memcpy(&w, p, kGram);
    return (w * 0x9E3779B1u) >> (32 - kBits);
  }

  const std::string* hay_;
  std::vector<uint32_t> starts_;     // bucket -> first index into positions_
  std::vector<uint32_t> positions_;  // window offsets, grouped by bucket, rising within each
};

// The pages of a database file and its log as SQLite's file format describes them, read by
// the test itself: which image of each page is current, the freelist, the database size.
class PageFacts {
 public:
  PageFacts(const std::string& path, bool withLog)
      : file_(fixtures::ReadFileBytes(path)),
        log_(withLog ? fixtures::ReadFileBytes(path + "-wal") : std::string()),
        inFile_(file_),
        inLog_(log_) {
    pageSize_ = Be16(file_, 16) == 1 ? 65536u : Be16(file_, 16);
    dbPages_ = Be32(file_, 28);
    if (log_.size() >= 32) {
      // Frames whose salts match the header's; the ones up to the last commit frame count.
      const size_t frameSize = 24 + pageSize_;
      const uint32_t salt1 = Be32(log_, 16), salt2 = Be32(log_, 20);
      std::map<uint32_t, size_t> latest;
      for (size_t k = 0; 32 + (k + 1) * frameSize <= log_.size(); ++k) {
        const size_t at = 32 + k * frameSize;
        if (Be32(log_, at + 8) != salt1 || Be32(log_, at + 12) != salt2) break;
        latest[Be32(log_, at)] = k + 1;
        if (Be32(log_, at + 4) != 0) {
          dbPages_ = Be32(log_, at + 4);
          current_ = latest;
        }
      }
    }
    // The freelist, from the current first page: trunk pages and the leaves they list.
    std::set<uint32_t> seen;
    for (uint32_t trunk = Be32(Image(1), 32);
         trunk >= 2 && trunk <= dbPages_ && seen.insert(trunk).second;) {
      const std::string& image = Image(trunk);
      free_.insert(trunk);
      const uint32_t count = std::min<uint32_t>(Be32(image, 4), pageSize_ / 4 - 2);
      for (uint32_t k = 0; k < count; ++k) free_.insert(Be32(image, 8 + 4 * k));
      trunk = Be32(image, 0);
    }
  }

  // The best place, of all the places the needle's bytes lie in.
  Spot Locate(const std::string& needle) const {
    Spot best = Spot::None;
    if (needle.empty()) return best;
    for (const size_t at : inFile_.Find(needle)) {
      const uint32_t page = static_cast<uint32_t>(at / pageSize_) + 1;
      Spot s;
      if (page > dbPages_)
        s = Spot::FreePage;
      else if (current_.count(page))
        s = Spot::FileUnderLog;
      else
        s = Classify(file_.substr((page - 1) * size_t{pageSize_}, pageSize_), page, at % pageSize_);
      best = std::min(best, s);
    }
    const size_t frameSize = 24 + pageSize_;
    for (const size_t at : inLog_.Find(needle)) {
      if (at < 32) continue;
      const size_t frame = (at - 32) / frameSize + 1, inFrame = (at - 32) % frameSize;
      if (inFrame < 24) continue;
      const uint32_t page = Be32(log_, 32 + (frame - 1) * frameSize);
      auto it = current_.find(page);
      Spot s = Spot::LogFrame;
      if (it != current_.end() && it->second == frame)
        s = Classify(log_.substr(32 + (frame - 1) * frameSize + 24, pageSize_), page, inFrame - 24);
      best = std::min(best, s);
    }
    return best;
  }

  uint32_t PageSize() const { return pageSize_; }

 private:
  const std::string& Image(uint32_t page) {
    auto it = current_.find(page);
    images_[page] = it != current_.end()
                        ? log_.substr(32 + (it->second - 1) * (24 + pageSize_) + 24, pageSize_)
                        : file_.substr((page - 1) * size_t{pageSize_}, pageSize_);
    images_[page].resize(pageSize_);
    return images_[page];
  }

  Spot Classify(const std::string& image, uint32_t page, size_t offset) const {
    if (free_.count(page)) return Spot::FreePage;
    const size_t header = page == 1 ? 100 : 0;
    const uint8_t type = static_cast<uint8_t>(image[header]);
    if (type == 0x05) return Spot::InteriorPage;
    if (type != 0x0D) return Spot::None;  // an index, an overflow page, a pointer map
    const uint16_t cells = Be16(image, header + 3);
    if (cells == 0) return Spot::LeafPage;
    std::set<size_t> visited;
    for (size_t f = Be16(image, header + 1);
         f >= 8 && f + 4 <= pageSize_ && visited.insert(f).second; f = Be16(image, f)) {
      if (offset >= f && offset < f + Be16(image, f + 2)) return Spot::Freeblock;
    }
    const size_t start = Be16(image, header + 5) == 0 ? 65536 : Be16(image, header + 5);
    if (offset >= header + 8 + 2 * size_t{cells} && offset < start) return Spot::Gap;
    return Spot::None;  // inside a live cell, or a fragment too small to chain
  }

  std::string file_, log_;
  Occurrences inFile_, inLog_;  // declared after the bytes they index
  uint32_t pageSize_ = 0, dbPages_ = 0;
  std::map<uint32_t, size_t> current_;  // page -> frame (1-based) of its current image
  std::set<uint32_t> free_;
  std::map<uint32_t, std::string> images_;
};

// The report's places are only as good as its search: the index must give every offset a
// plain scan gives, overlapping runs and needles shorter than its window included, on the bytes
// of a real address book and its log.
TEST(RecallSearch, IndexFindsEveryPlaceAPlainScanFinds) {
  TempDir dir;
  fixtures::ContactOptions options;
  options.pageSize = 65536;
  options.journal = JournalMode::Wal;
  options.personCount = 60;
  options.computeSurvival = false;
  const fixtures::ContactsTruth truth =
      fixtures::BuildContactsDb(dir.File("AddressBook.sqlitedb"), options);
  const std::string file = fixtures::ReadFileBytes(truth.path);
  const std::string log = fixtures::ReadFileBytes(truth.path + "-wal");
  // The log's head stands in for a short haystack full of zero runs, where every match
  // overlaps the next (the whole files would make that millions of hits).
  for (const std::string& hay : {file, log, log.substr(0, 1 << 18)}) {
    ASSERT_GT(hay.size(), 65536u);
    const Occurrences index(hay);
    auto plain = [&hay](const std::string& needle) {
      std::vector<size_t> found;
      for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1))
        found.push_back(at);
      return found;
    };
    std::vector<std::string> needles = {"aaaa", std::string("\x01\xFE\x7F\x80\x02", 5)};
    if (hay.size() <= (1u << 18)) needles.push_back(std::string(6, '\0'));
    for (size_t k = 0; k < truth.persons.size(); k += 6) {  // a few cards, to keep it quick
      const fixtures::PersonTruth& p = truth.persons[k];
      needles.push_back(p.first);
      needles.push_back(p.JoinedName());
      for (const auto& mv : p.multiValues) needles.push_back(mv.value.value_or(""));
    }
    // Slices of the haystack itself, of every length around the window's, from spread offsets;
    // on the whole files, moved off the zero runs that fill a 64 KiB page's free space.
    const size_t lengths[] = {1, 2, 3, 4, 5, 7, 16, 41};
    for (size_t k = 0; k < 48; ++k) {
      const size_t len = lengths[k % std::size(lengths)];
      size_t at = (k * 2654435761u) % (hay.size() - len);
      while (hay.size() > (1u << 18) && at + len < hay.size() && hay[at] == '\0') ++at;
      if (at + len <= hay.size()) needles.push_back(hay.substr(at, len));
    }
    size_t placesChecked = 0;
    for (const std::string& needle : needles) {
      if (needle.empty()) continue;
      const std::vector<size_t> expected = plain(needle);
      EXPECT_EQ(index.Find(needle), expected) << "needle of " << needle.size() << " bytes";
      placesChecked += expected.size();
    }
    EXPECT_GT(placesChecked, needles.size());  // the check saw repeats, not only single hits
  }
}

// One deleted record: a name to show when lost, and the place its bytes were found.
struct Deleted {
  std::string name;
  Spot spot = Spot::None;
  bool found = false;
};

// The figures of one kind on one fixture family, summed over its fixtures.
struct Tally {
  std::map<Spot, std::pair<int, int>> perSpot;  // found, surviving
  int deleted = 0, surviving = 0, found = 0, foundGone = 0, liveListed = 0, twice = 0;
  std::vector<std::string> lost;

  void Add(const std::vector<Deleted>& records) {
    for (const Deleted& d : records) {
      ++deleted;
      if (d.spot == Spot::None) {
        foundGone += d.found;
        continue;
      }
      ++surviving;
      ++perSpot[d.spot].second;
      if (d.found) {
        ++found;
        ++perSpot[d.spot].first;
      } else if (lost.size() < 12) {
        lost.push_back(d.name + "@" + SpotName(d.spot));
      }
    }
  }
};

// Prints the tally and checks the bar: 95 % of the surviving records overall and in each place
// with ten or more; no live record listed, none twice.
void Report(const std::string& name, const Tally& t) {
  std::string line = "[ recall ] " + name + ": deleted " + std::to_string(t.deleted) +
                     ", surviving " + std::to_string(t.surviving) + ", found " +
                     std::to_string(t.found) + " (+" + std::to_string(t.foundGone) +
                     " whose bytes the test did not find), live listed " +
                     std::to_string(t.liveListed) + ", twice " + std::to_string(t.twice);
  int found = 0, surviving = 0;
  for (const auto& [spot, counts] : t.perSpot) {
    line += "\n    " + std::string(SpotName(spot)) + " " + std::to_string(counts.first) + "/" +
            std::to_string(counts.second);
    found += counts.first;
    surviving += counts.second;
  }
  if (!t.lost.empty()) {
    line += "\n    lost:";
    for (const std::string& l : t.lost) line += " " + l;
  }
  std::printf("%s\n", line.c_str());
  std::string key = "recall_" + name;  // an XML attribute name in the test report
  std::replace_if(
      key.begin(), key.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
      '_');
  ::testing::Test::RecordProperty(key, line);
  EXPECT_GT(surviving, 0) << name;
  EXPECT_GE(found * 100, surviving * 95) << line;
  for (const auto& [spot, counts] : t.perSpot) {
    if (counts.second < 10) continue;
    EXPECT_GE(counts.first * 100, counts.second * 95) << name << " in " << SpotName(spot);
  }
  EXPECT_EQ(t.liveListed, 0) << name;
  EXPECT_EQ(t.twice, 0) << name;
}

struct Layout {
  int ios;
  int pageSize;
  JournalMode journal;
};

std::string LayoutName(const Layout& l) {
  return "ios" + std::to_string(l.ios) + "_" + std::to_string(l.pageSize) +
         (l.journal == JournalMode::Wal ? "_wal" : "");
}

const Layout kLayouts[] = {
    {6, 1024, JournalMode::Rollback},  {7, 1024, JournalMode::Rollback},
    {6, 4096, JournalMode::Rollback},  {7, 4096, JournalMode::Rollback},
    {6, 65536, JournalMode::Rollback}, {7, 65536, JournalMode::Rollback},
    {7, 1024, JournalMode::Wal},       {7, 4096, JournalMode::Wal},
    {7, 65536, JournalMode::Wal},
};

template <typename Options>
Options Make(const Layout& l, uint64_t seed) {
  Options options;
  options.iosVersion = l.ios;
  options.pageSize = l.pageSize;
  options.journal = l.journal;
  options.seed = seed;
  // As on a device: WAL with incremental auto-vacuum (free pages stay in the file).
  options.incrementalVacuum = l.journal == JournalMode::Wal;
  return options;
}

bool Committed(fixtures::Stage inserted) {
  return inserted != fixtures::Stage::WalUncommitted;
}

class Recall : public ::testing::TestWithParam<Layout> {
 protected:
  std::string LogOf(const std::string& path) const {
    return GetParam().journal == JournalMode::Wal ? path + "-wal" : "";
  }
};

INSTANTIATE_TEST_SUITE_P(Fixtures, Recall, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                           return LayoutName(info.param);
                         });

// Messages: whole conversations and scattered messages deleted. A message is known by its GUID
// and the start of its text, which follow each other in the record's body.
TEST_P(Recall, Messages) {
  const Layout l = GetParam();
  Tally tally;
  for (uint64_t seed = 1; seed <= 3; ++seed) {
    TempDir dir;
    auto options = Make<fixtures::MessageOptions>(l, seed);
    options.messageCount = l.pageSize == 65536 ? 900 : 320;
    options.deleteFraction = 0.3;
    options.deletedChats = 1;
    const fixtures::MessagesTruth truth = fixtures::BuildMessagesDb(dir.File("sms.db"), options);
    SqliteFile file;
    ASSERT_NE(OpenDatabase(LogOf(truth.path), file, truth.path), OpenStatus::NotOpened);
    MessageMap live;
    MessageList carved;
    ASSERT_EQ(MessageLoader(file, live, carved), LoaderStatus::Loaded);

    // What SQLite returns now (on a copy, so that it cannot checkpoint the log under the test).
    fixtures::CopyDatabase(truth.path, dir.File("copy.db"));
    std::set<std::string> liveGuids;
    {
      Database sqlite(dir.File("copy.db"));
      for (const auto& row : sqlite.Query("SELECT guid FROM message"))
        liveGuids.insert(row[0].AsText());
    }
    std::map<int64_t, const fixtures::MessageTruth*> byDate;
    for (const auto& m : truth.messages) byDate.emplace(m.date, &m);

    // A carved text may be cut (a prefix, its last character perhaps broken into U+FFFD, or
    // marks where overwritten bytes were): its first piece begins the original.
    auto fits = [](const std::string& carvedText, const std::string& text) {
      const std::string head = carvedText.substr(0, carvedText.find("\xEF\xBF\xBD"));
      return !head.empty() && text.rfind(head, 0) == 0;
    };
    std::map<const fixtures::MessageTruth*, int> listed;
    std::vector<const MessageRecord*> dateless;
    for (const MessageRecord& r : carved) {
      if (r.earlierVersion) continue;  // an older wording of a message that is live
      auto it = r.date ? byDate.find(*r.date) : byDate.end();
      if (it != byDate.end() && fits(r.text, it->second->Text()))
        ++listed[it->second];
      else
        dateless.push_back(&r);
    }
    for (const MessageRecord* r : dateless) {
      const fixtures::MessageTruth* match = nullptr;
      for (const auto& m : truth.messages)
        if (!liveGuids.count(m.guid) && !listed.count(&m) && fits(r->text, m.Text())) {
          match = &m;
          if (r->text == m.Text()) break;
        }
      if (match) ++listed[match];
    }
    for (const auto& [m, n] : listed) {
      tally.liveListed += liveGuids.count(m->guid) > 0;
      tally.twice += n > 1;
    }

    const PageFacts facts(truth.path, l.journal == JournalMode::Wal);
    std::vector<Deleted> records;
    for (const auto& m : truth.messages) {
      if (!m.deleted || !Committed(m.insertedIn) || m.Text().empty()) continue;
      EXPECT_FALSE(liveGuids.count(m.guid));
      records.push_back({m.guid.substr(0, 8), facts.Locate(m.guid + m.Text().substr(0, 8)),
                         listed.count(&m) > 0});
    }
    tally.Add(records);
  }
  Report("messages " + LayoutName(l), tally);
}

// Calls: the oldest calls past the device's limit of 100, each as a newer call came, and a few
// scattered ones. A call is known by its address followed by its date.
TEST_P(Recall, Calls) {
  const Layout l = GetParam();
  Tally tally;
  for (uint64_t seed = 1; seed <= 4; ++seed) {
    TempDir dir;
    auto options = Make<fixtures::CallOptions>(l, seed);
    options.rollingLimit = seed % 2 == 0;
    options.deleteFraction = 0.1;
    options.upgradedFromIos6 = l.ios == 7 && seed == 3;
    const fixtures::CallsTruth truth =
        fixtures::BuildCallsDb(dir.File(fixtures::kCallsFileName), options);
    SqliteFile file;
    ASSERT_NE(OpenDatabase(LogOf(truth.path), file, truth.path), OpenStatus::NotOpened);
    CallMap live, carved;
    ASSERT_EQ(CallLoader(file, live, carved), LoaderStatus::Loaded);

    using Key = std::tuple<std::string, int64_t, int64_t, int64_t>;
    std::set<Key> liveKeys;
    fixtures::CopyDatabase(truth.path, dir.File("copy.db"));
    {
      Database sqlite(dir.File("copy.db"));
      for (const auto& row : sqlite.Query("SELECT address, date, duration, flags FROM call"))
        liveKeys.insert({row[0].AsText(), row[1].AsInt(), row[2].AsInt(), row[3].AsInt()});
    }
    std::map<Key, int> listed;
    for (const auto& [number, calls] : carved)
      for (const CallRecord& c : calls) ++listed[{number, c.date, c.duration, c.flags}];
    for (const auto& [key, n] : listed) {
      tally.liveListed += liveKeys.count(key) > 0;
      tally.twice += n > 1;
    }
    const PageFacts facts(truth.path, l.journal == JournalMode::Wal);
    std::vector<Deleted> records;
    for (const auto& c : truth.calls) {
      if (!c.deleted || !Committed(c.insertedIn)) continue;
      const Key key{c.address, c.date, c.duration, c.flags};
      if (liveKeys.count(key)) continue;
      records.push_back(
          {c.address, facts.Locate(c.address + IntBody(c.date)), listed.count(key) > 0});
    }
    tally.Add(records);
  }
  Report("calls " + LayoutName(l), tally);
}

// The address book: a run of neighbouring cards and scattered ones deleted with their values,
// and single numbers and e-mail addresses deleted from cards that stay. A value is known by the
// body of its ABMultiValue record (record_id, property, identifier, label, value); a person by
// its names, which open its record's body.
TEST_P(Recall, Contacts) {
  const Layout l = GetParam();
  Tally numbers, emails, persons;
  for (uint64_t seed = 1; seed <= 2; ++seed) {
    TempDir dir;
    auto options = Make<fixtures::ContactOptions>(l, seed);
    options.personCount = l.pageSize == 65536 ? 300 : 150;
    options.deleteFraction = 0.15;
    options.deletedRun = 9;
    options.deleteSingleEmails = true;
    const fixtures::ContactsTruth truth =
        fixtures::BuildContactsDb(dir.File("AddressBook.sqlitedb"), options);
    SqliteFile file;
    ASSERT_NE(OpenDatabase(LogOf(truth.path), file, truth.path), OpenStatus::NotOpened);
    ContactMap live;
    std::optional<DeletedContactList> carved;
    ASSERT_EQ(ContactLoader(file, live, carved), LoaderStatus::Loaded);
    ASSERT_TRUE(carved.has_value());

    std::set<std::string> liveValues;
    std::set<int64_t> livePersons;
    fixtures::CopyDatabase(truth.path, dir.File("copy.db"));
    {
      Database sqlite(dir.File("copy.db"));
      for (const auto& row : sqlite.Query("SELECT value FROM ABMultiValue WHERE value NOT NULL"))
        liveValues.insert(row[0].AsText());
      for (const auto& row : sqlite.Query("SELECT ROWID FROM ABPerson"))
        livePersons.insert(row[0].AsInt());
    }
    // A deleted person is listed by its own line or by the lines of its values; a value
    // deleted from a card that stays names a live owner, which is right.
    std::map<std::string, int> valueLines;
    std::set<int64_t> ownersListed;
    std::map<std::string, int> personLines;  // a person line's owner
    std::map<int64_t, int> personLinesByRowid;
    for (const DeletedContact& line : *carved) {
      if (!line.number.empty()) {
        ++valueLines[line.number];
      } else {
        ++personLines[line.owner];
        if (line.ownerRowid) ++personLinesByRowid[line.ownerRowid];
      }
      if (line.ownerRowid) ownersListed.insert(line.ownerRowid);
    }
    for (const auto& [value, n] : valueLines) {
      Tally& tally = value.find('@') == std::string::npos ? numbers : emails;
      tally.liveListed += liveValues.count(value) > 0;
      tally.twice += n > 1;
    }
    for (const auto& [rowid, n] : personLinesByRowid) {
      persons.liveListed += livePersons.count(rowid) > 0;
      persons.twice += n > 1;
    }

    const PageFacts facts(truth.path, l.journal == JournalMode::Wal);
    std::vector<Deleted> phoneRecords, emailRecords, personRecords;
    std::set<std::string> seen;
    for (const auto& p : truth.persons) {
      for (const auto& mv : p.multiValues) {
        if (!(mv.deleted || p.deleted) || !Committed(mv.insertedIn) || !mv.value) continue;
        if (mv.property != 3 && mv.property != 4) continue;
        if (liveValues.count(*mv.value) || !seen.insert(*mv.value).second) continue;
        const std::string body = IntBody(mv.recordId) + IntBody(mv.property) +
                                 IntBody(mv.identifier) +
                                 (mv.labelRowid ? IntBody(*mv.labelRowid) : "") + *mv.value;
        (mv.property == 3 ? phoneRecords : emailRecords)
            .push_back({*mv.value, facts.Locate(body), valueLines.count(*mv.value) > 0});
      }
      if (!p.deleted || !Committed(p.insertedIn)) continue;
      const std::string names = p.first + p.last + p.middle + p.firstPhonetic + p.middlePhonetic +
                                p.lastPhonetic + p.organization;
      const std::string shown = p.JoinedName().empty() ? p.organization : p.JoinedName();
      personRecords.push_back({shown, facts.Locate(names),
                               ownersListed.count(p.rowid) > 0 || personLines.count(shown) > 0});
    }
    numbers.Add(phoneRecords);
    emails.Add(emailRecords);
    persons.Add(personRecords);
  }
  Report("numbers " + LayoutName(l), numbers);
  Report("e-mails " + LayoutName(l), emails);
  Report("persons " + LayoutName(l), persons);
}

// ---------------------------------------------------------------------------------------------
// Generic tables of several shapes: what RowReader (rows FILE TABLE --deleted) and the free
// page carver (rows FILE --free) give back, against the rows SQLite returned before deleting.

struct Shape {
  const char* name;
  const char* create;  // columns after "id INTEGER PRIMARY KEY"
  int columns;
  // The values of row i; random, so that each row's bytes are its own.
  std::function<std::vector<Value>(fixtures::detail::Rng&, int)> values;
};

std::vector<Shape> Shapes() {
  using fixtures::detail::Rng;
  return {
      {"integers", "a INTEGER, b INTEGER, c INTEGER, d INTEGER", 4,
       [](Rng& rng, int) -> std::vector<Value> {
         return {Value::Int(rng.Range(100000, 2000000000)), Value::Int(rng.Range(-30000, 30000)),
                 Value::Int(rng.Range(1LL << 33, 1LL << 46)), Value::Int(rng.Range(200, 8000000))};
       }},
      {"texts", "title TEXT, body TEXT, tag TEXT", 3,
       [](Rng& rng, int i) -> std::vector<Value> {
         return {Value::Text("标题 " + std::to_string(i) + " " + rng.Digits(6)),
                 Value::Text("body of row " + std::to_string(i) + ": " +
                             std::string(static_cast<size_t>(rng.Range(10, 300)), 'a' + i % 26)),
                 Value::Text("tag" + rng.Digits(3))};
       }},
      {"blobs", "n INTEGER, data BLOB, note TEXT", 3,
       [](Rng& rng, int i) -> std::vector<Value> {
         std::string blob;
         for (int k = rng.Range(16, 200); k > 0; --k) blob += static_cast<char>(rng.Next());
         return {Value::Int(rng.Range(1000, 900000)), Value::Blob(blob),
                 Value::Text("note " + std::to_string(i))};
       }},
      {"sparse", "a TEXT, b INTEGER, c TEXT, d REAL, e TEXT, f INTEGER", 6,
       [](Rng& rng, int i) -> std::vector<Value> {
         auto maybe = [&](Value v) { return rng.Chance(0.3) ? v : Value::Null(); };
         return {Value::Text("row " + std::to_string(i) + " " + rng.Digits(8)),
                 maybe(Value::Int(rng.Range(300, 90000))),
                 maybe(Value::Text("c" + rng.Digits(5))),
                 maybe(Value::Real(static_cast<double>(rng.Range(1, 99999)) / 8)),
                 maybe(Value::Text("e" + rng.Digits(9))),
                 maybe(Value::Int(rng.Range(2, 127)))};
       }},
  };
}

uint64_t SerialTypeOf(const Value& v) {
  switch (v.type) {
    case Value::Type::Null:
      return 0;
    case Value::Type::Integer:
    case Value::Type::Real: {
      if (v.type == Value::Type::Real &&
          v.real != static_cast<double>(static_cast<int64_t>(v.real)))
        return 7;
      const int64_t n = v.type == Value::Type::Real ? static_cast<int64_t>(v.real) : v.integer;
      if (n == 0 || n == 1) return 8 + static_cast<uint64_t>(n);
      const size_t size = IntBody(n).size();
      return size <= 4 ? size : size == 6 ? 5 : 6;
    }
    case Value::Type::Text:
      return 13 + 2 * v.bytes.size();
    case Value::Type::Blob:
      return 12 + 2 * v.bytes.size();
  }
  return 0;
}

std::string Varint(uint64_t v) {
  std::string out;
  do {
    out.insert(out.begin(), static_cast<char>((v & 0x7F) | (out.empty() ? 0 : 0x80)));
    v >>= 7;
  } while (v != 0);
  return out;
}

// The bytes a record's body holds for the values (NULLs take none), after the serial types of
// the values (the record header but for its size and the rowid alias's type, which a
// freeblock header may take). A record whose header survives this far can be read.
std::string BodyOf(const std::vector<Value>& values) {
  std::string body;
  for (const Value& v : values) body += Varint(SerialTypeOf(v));
  for (const Value& v : values) {
    switch (v.type) {
      case Value::Type::Integer:
        body += IntBody(v.integer);
        break;
      case Value::Type::Real: {
        // A whole real goes to a REAL column's record as an integer.
        if (v.real == static_cast<double>(static_cast<int64_t>(v.real))) {
          body += IntBody(static_cast<int64_t>(v.real));
          break;
        }
        uint64_t bits;
        std::memcpy(&bits, &v.real, 8);
        for (int k = 7; k >= 0; --k) body += static_cast<char>(bits >> (8 * k));
        break;
      }
      case Value::Type::Text:
      case Value::Type::Blob:
        body += v.bytes;
        break;
      case Value::Type::Null:
        break;
    }
  }
  return body;
}

TEST_P(Recall, GenericRows) {
  const Layout l = GetParam();
  if (l.ios != 7) GTEST_SKIP() << "the generic tables do not depend on the iOS version";
  const bool wal = l.journal == JournalMode::Wal;
  for (const Shape& shape : Shapes()) {
    Tally tally;
    int carvedRows = 0, realRows = 0;
    std::vector<std::string> junk;
    for (uint64_t seed = 1; seed <= 2; ++seed) {
      TempDir dir;
      const std::string path = dir.File("generic.db");
      fixtures::detail::Rng rng(seed * 31 + static_cast<uint64_t>(l.pageSize));
      const int rows = l.pageSize == 65536 ? 3000 : 600;
      RowList before, after;
      std::map<std::string, std::string> bodies;  // id -> record body
      {
        fixtures::OpenOptions open;
        open.pageSize = l.pageSize;
        open.autoVacuum = wal ? "INCREMENTAL" : "NONE";
        Database db(path, open);
        if (wal) db.QueryText("PRAGMA journal_mode=WAL");
        db.Exec(std::string("CREATE TABLE t (id INTEGER PRIMARY KEY, ") + shape.create + ")");
        std::string marks = "?";
        for (int c = 1; c < shape.columns; ++c) marks += ", ?";
        auto insert = db.Prepare("INSERT INTO t VALUES (NULL, " + marks + ")");
        db.Exec("BEGIN");
        for (int i = 0; i < rows; ++i) {
          insert.BindAll(shape.values(rng, i));
          insert.Run();
        }
        db.Exec("COMMIT");
        if (wal) db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
        before = check::SqliteRows(db, "t");
        // Each row's record as SQLite stored it (serial types and body), from its typed values.
        for (const fixtures::Row& row : db.Query("SELECT * FROM t"))
          bodies[row[0].AsText()] = BodyOf(std::vector<Value>(row.begin() + 1, row.end()));
        // A run of neighbouring rows (whole leaves go to the freelist), scattered single rows,
        // and with a log, more of both over later commits and rows changed in place.
        const int runFrom = rows / 3, runTo = rows / 3 + rows / 6;
        db.Exec("DELETE FROM t WHERE id BETWEEN " + std::to_string(runFrom) + " AND " +
                std::to_string(runTo));
        db.Exec("DELETE FROM t WHERE id % 11 = 4");
        if (wal) {
          db.Exec("DELETE FROM t WHERE id BETWEEN " + std::to_string(rows * 3 / 4) + " AND " +
                  std::to_string(rows * 3 / 4 + 20));
          db.Exec("DELETE FROM t WHERE id % 13 = 6");
        }
        after = check::SqliteRows(db, "t");
      }
      std::set<std::string> liveIds;
      for (const RowValues& row : after) liveIds.insert(row[0]);
      std::map<std::string, size_t> deletedById;  // id -> index in `before`
      for (size_t k = 0; k < before.size(); ++k)
        if (!liveIds.count(before[k][0])) deletedById[before[k][0]] = k;

      SqliteFile file;
      ASSERT_NE(OpenDatabase(wal ? path + "-wal" : "", file, path), OpenStatus::NotOpened);
      RowList live, carved;
      ASSERT_EQ(ReadTable(file, "t", live, carved), TableRead::Read);
      CarveOlderImages(file, "t", live, carved);
      // Which listing each row is in: a row in both (an old copy on a free page and one in a
      // leaf's free space) is listed once by each command.
      std::vector<int> listing(carved.size(), 0);
      for (const FreePageRecord& r : CarveFreePages(file))
        if (r.table == "t") {
          carved.push_back(r.row);
          listing.push_back(1);
        }

      // A carved row is real when its values after the id are those of a deleted row (a cut
      // one: its values so far, the last perhaps cut short).
      auto sameAfterId = [](const RowValues& got, const RowValues& want, bool cut) {
        if (got.size() > want.size() || got.size() < 2) return false;
        if (!cut && got.size() != want.size()) return false;
        for (size_t c = 1; c < got.size(); ++c) {
          if (got[c] == want[c]) continue;
          const std::string head = got[c].substr(0, got[c].find("\xEF\xBF\xBD"));
          if (!(cut && c + 1 == got.size() && want[c].rfind(head, 0) == 0)) return false;
        }
        return true;
      };
      std::map<size_t, int> listed;                  // index in `before` -> whole copies listed
      std::map<std::pair<size_t, int>, int> copies;  // the same, per listing
      for (size_t r = 0; r < carved.size(); ++r) {
        const RowValues& row = carved[r];
        ++carvedRows;
        bool real = false;
        for (const auto& [id, k] : deletedById) {
          if (sameAfterId(row, before[k], false)) {
            ++listed[k];
            ++copies[{k, listing[r]}];
            real = true;
            break;
          }
        }
        if (!real)
          for (const auto& [id, k] : deletedById)
            if (sameAfterId(row, before[k], true)) {
              real = true;
              break;
            }
        for (const RowValues& liveRow : after)
          if (!real && sameAfterId(row, liveRow, false)) ++tally.liveListed;
        realRows += real;
        if (!real && junk.size() < 6) junk.push_back(check::Show(row));
      }
      for (const auto& [k, n] : copies) tally.twice += n > 1;

      const PageFacts facts(path, wal);
      std::vector<Deleted> records;
      for (const auto& [id, k] : deletedById)
        records.push_back({"id " + id, facts.Locate(bodies.at(id)), listed.count(k) > 0});
      tally.Add(records);
    }
    Report("rows " + std::string(shape.name) + " " + LayoutName(l), tally);
    // A generic row whose bytes survive whole comes back wherever it lies, long merged
    // freeblocks and a gap ending in a cut-off cell on 65536-byte pages included.
    for (const auto& [spot, counts] : tally.perSpot)
      EXPECT_EQ(counts.first, counts.second) << shape.name << " in " << SpotName(spot);
    std::printf("    precision %d/%d carved rows are deleted rows", realRows, carvedRows);
    for (const std::string& j : junk) std::printf("\n    not a row: %s", j.c_str());
    std::printf("\n");
    EXPECT_GE(realRows * 100, carvedRows * 95) << shape.name;
  }
}

}  // namespace
}  // namespace vantrel
