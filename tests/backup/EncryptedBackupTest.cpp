// Encrypted backups: the primitives against published test vectors, the
// keybag parser, and whole loads of encrypted backups of both manifest eras
// compared with their unencrypted twins, built from the same databases.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "backup/EncryptedBackup.h"
#include "backup/Keybag.h"
#include "export/Exporter.h"
#include "export/StatusTexts.h"
#include "fixtures/Encryption.h"
#include "fixtures/Fixtures.h"
#include "fixtures/Modern.h"
#include "sources/messages/Attachments.h"
#include "load/BackupLoader.h"

namespace vantrel {
namespace {

namespace fx = vantrel::fixtures;
namespace fs = std::filesystem;

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Unhex(std::string_view hex) {
  std::string out;
  auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(digit(hex[i]) << 4 | digit(hex[i + 1]));
  return out;
}

// RFC 6070 section 2: PBKDF2-HMAC-SHA1 (the 16777216-round case is left to
// the benchmark: it takes seconds).
TEST(BackupCrypto, Pbkdf2Sha1MatchesRfc6070) {
  struct Case {
    std::string password, salt;
    uint32_t rounds;
    size_t length;
    const char* expected;
  };
  const Case cases[] = {
      {"password", "salt", 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
      {"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
      {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16,
       "56fa6aa75548099dcc37d7f03425e0c3"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Hex(Pbkdf2(PbkdfHash::Sha1, c.password, c.salt, c.rounds, c.length).view()),
              c.expected)
        << c.password << " " << c.rounds;
  EXPECT_TRUE(Pbkdf2(PbkdfHash::Sha1, "password", "salt", 0, 20).empty());
}

// RFC 7914 section 11: PBKDF2-HMAC-SHA256.
TEST(BackupCrypto, Pbkdf2Sha256MatchesRfc7914) {
  EXPECT_EQ(Hex(Pbkdf2(PbkdfHash::Sha256, "passwd", "salt", 1, 64).view()),
            "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
            "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
  EXPECT_EQ(Hex(Pbkdf2(PbkdfHash::Sha256, "Password", "NaCl", 80000, 64).view()),
            "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
            "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d");
}

// RFC 3394 sections 4.3, 4.5 and 4.6: a 256-bit KEK wrapping 128, 192 and
// 256 bits; a flipped bit anywhere fails the integrity check.
TEST(BackupCrypto, KeyWrapMatchesRfc3394AndRefusesTampering) {
  const SecretBytes kek(Unhex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F"));
  struct Case {
    const char* key;
    const char* wrapped;
  };
  const Case cases[] = {
      {"00112233445566778899AABBCCDDEEFF", "64E8C3F9CE0F5BA263E9777905818A2A93C8191E7D6E8AE7"},
      {"00112233445566778899AABBCCDDEEFF0001020304050607",
       "A8F9BC1612C68B3FF6E6F4FBE30E71E4769C8B80A32CB8958CD5D17D6B254DA1"},
      {"00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F",
       "28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21"},
  };
  for (const Case& c : cases) {
    const std::string wrapped = Unhex(c.wrapped);
    EXPECT_EQ(AesKeyWrap(kek, Unhex(c.key)), wrapped);
    const std::optional<SecretBytes> key = AesKeyUnwrap(kek, wrapped);
    ASSERT_TRUE(key.has_value()) << c.key;
    EXPECT_EQ(key->view(), Unhex(c.key));
    for (size_t i : {size_t{0}, size_t{8}, wrapped.size() - 1}) {
      std::string spoiled = wrapped;
      spoiled[i] = static_cast<char>(spoiled[i] ^ 1);
      EXPECT_FALSE(AesKeyUnwrap(kek, spoiled).has_value()) << "byte " << i;
    }
  }
  // Lengths no wrapped key has.
  EXPECT_FALSE(AesKeyUnwrap(kek, "").has_value());
  EXPECT_FALSE(AesKeyUnwrap(kek, std::string(16, 'x')).has_value());
  EXPECT_FALSE(AesKeyUnwrap(kek, std::string(41, 'x')).has_value());
}

// Deciphering in pieces of any size gives the plain bytes whole, for every
// padding length; a wrong length or a spoiled last block is damage.
TEST(BackupCrypto, CbcDecryptsInPiecesAndChecksPadding) {
  const SecretBytes key(fx::SeededBytes(7, 32));
  for (size_t length : {0, 1, 15, 16, 17, 31, 32, 4095, 4096, 70000}) {
    const std::string plain = fx::SeededBytes(length + 1, length);
    const std::string cipher = fx::CbcEncrypt(std::string(key.view()), plain);
    std::string whole;
    EXPECT_EQ(DecryptAes256Cbc(key, cipher, whole), CbcStatus::Ok) << length;
    EXPECT_EQ(whole, plain) << length;
    for (size_t piece : {1, 5, 16, 4097}) {
      CbcDecryptor d(key);
      std::string out;
      for (size_t at = 0; at < cipher.size(); at += piece)
        d.Update(std::string_view(cipher).substr(at, piece), out);
      EXPECT_EQ(d.Finish(out), CbcStatus::Ok);
      EXPECT_EQ(out, plain) << length << " in pieces of " << piece;
    }
    std::string out;
    EXPECT_EQ(DecryptAes256Cbc(key, cipher.substr(0, cipher.size() - 3), out),
              CbcStatus::BadLength);
  }
  std::string out;
  EXPECT_EQ(DecryptAes256Cbc(key, "", out), CbcStatus::BadLength);
  // A last block that deciphers to a byte no padding ends in (0, or above 16).
  std::string cipher = fx::CbcEncrypt(std::string(key.view()), std::string(32, 'a'));
  int badPaddings = 0;
  for (int flip = 0; flip < 8; ++flip) {
    std::string spoiled = cipher;
    spoiled[spoiled.size() - 1 - flip] =
        static_cast<char>(spoiled[spoiled.size() - 1 - flip] ^ 0x80);
    badPaddings += DecryptAes256Cbc(key, spoiled, out) == CbcStatus::BadPadding;
  }
  EXPECT_GE(badPaddings, 7);
  EXPECT_EQ(DecryptAes256Cbc(SecretBytes(std::string(16, 'k')), cipher, out), CbcStatus::BadKey);
}

TEST(Keybag, ParsesBothErasAndRefusesCutOnes) {
  for (bool doublePass : {true, false}) {
    fx::KeybagOptions o;
    o.password = "秘密 passw0rd";
    o.doublePass = doublePass;
    const fx::FixtureKeybag made = fx::MakeKeybag(o);
    const Keybag bag = ParseKeybag(made.bytes);
    ASSERT_EQ(bag.status, KeybagStatus::Ok);
    EXPECT_EQ(bag.hasDoublePass, doublePass);
    EXPECT_EQ(bag.iterations, o.iterations);
    EXPECT_EQ(bag.classes.size(), o.classes.size());
    // The right password opens every class key, each the one the fixture made.
    const ClassKeys keys = UnlockClassKeys(bag, DerivePasswordKey(bag, o.password));
    ASSERT_EQ(keys.status, UnlockStatus::Unlocked);
    for (const auto& [c, key] : made.classKeys) EXPECT_EQ(keys.keys.at(c).view(), key) << c;
    EXPECT_EQ(keys.failed, 0u);
    // A wrong one, or the right one with the other era's derivation, opens none.
    EXPECT_EQ(UnlockClassKeys(bag, DerivePasswordKey(bag, "秘密 passw0rD")).status,
              UnlockStatus::WrongPassword);
    Keybag otherEra = bag;
    otherEra.hasDoublePass = !doublePass;
    if (!doublePass) otherEra.doublePassSalt = "salt", otherEra.doublePassIterations = 3;
    EXPECT_EQ(UnlockClassKeys(otherEra, DerivePasswordKey(otherEra, o.password)).status,
              UnlockStatus::WrongPassword);
    // Cut anywhere inside an item: truncated; cut before any class: no classes.
    for (size_t cut : {size_t{3}, size_t{13}, made.bytes.size() / 2, made.bytes.size() - 1})
      EXPECT_EQ(ParseKeybag(std::string_view(made.bytes).substr(0, cut)).status,
                KeybagStatus::Truncated)
          << cut;
    const size_t firstClass = made.bytes.find("CLAS") - 8 - 16;
    EXPECT_EQ(ParseKeybag(std::string_view(made.bytes).substr(0, firstClass)).status,
              KeybagStatus::NoClasses);
  }
  EXPECT_EQ(ParseKeybag("").status, KeybagStatus::Empty);
  // A length far past the end is refused, not followed.
  EXPECT_EQ(ParseKeybag(std::string("VERS\xFF\xFF\xFF\xF0", 8) + "abcd").status,
            KeybagStatus::Truncated);
}

TEST(Keybag, ClassKeyThatDoesNotUnwrapIsCountedOthersOpen) {
  fx::KeybagOptions o;
  o.password = "pw";
  o.brokenClass = 3;
  const Keybag bag = ParseKeybag(fx::MakeKeybag(o).bytes);
  const ClassKeys keys = UnlockClassKeys(bag, DerivePasswordKey(bag, "pw"));
  EXPECT_EQ(keys.status, UnlockStatus::Unlocked);
  EXPECT_EQ(keys.failed, 1u);
  EXPECT_FALSE(keys.keys.count(3));
  EXPECT_TRUE(keys.keys.count(4));
}

// ---------------------------------------------------------------------------------------------
// Whole backups.

class QuietObserver : public LoadObserver {
 public:
  void BeginProgress() override {}
  void StepProgress() override {}
  void EndProgress() override {}
  void ResetViews() override {}
  CategoryHandle AddCategory(RecordKind) override { return 0; }
  void AddCount(CategoryHandle, Category category, int count) override {
    counts.emplace_back(category, count);
  }
  void ExpandCategory(CategoryHandle) override {}
  void ShowMessage(const LoadMessage& message) override { messages.push_back(message); }
  std::vector<std::pair<Category, int>> counts;
  std::vector<LoadMessage> messages;
};

// Every file below root with its bytes and modification time.
std::map<std::string, std::pair<std::string, fs::file_time_type>> Snapshot(
    const std::string& root) {
  std::map<std::string, std::pair<std::string, fs::file_time_type>> s;
  for (const auto& item : fs::recursive_directory_iterator(root))
    s[item.path().string()] = {
        item.is_regular_file() ? fx::ReadFileBytes(item.path().string()) : std::string(),
        item.last_write_time()};
  return s;
}

// The CSV and TXT files of everything loaded, by file name: what a user saves.
std::map<std::string, std::string> Exported(const Collections& data, const std::string& out) {
  std::map<std::string, std::string> files;
  for (ExportFormat format : {ExportFormat::Csv, ExportFormat::Txt}) {
    const std::string folder = out + (format == ExportFormat::Csv ? "/csv" : "/txt");
    fs::create_directories(folder);
    const ExportResult r = ExportAllCategories(data, format, folder, ExportOptions{"UTF-8"});
    EXPECT_TRUE(r.ok) << r.reason;
    for (const std::string& f : r.writtenFiles)
      files[fs::path(f).parent_path().filename().string() + "/" + fs::path(f).filename().string()] =
          fx::ReadFileBytes(f);
  }
  return files;
}

fx::BackupOptions EraOptions(bool manifestDb) {
  fx::BackupOptions o;
  o.seed = manifestDb ? 31 : 32;
  o.messages.messageCount = 80;
  o.messages.computeSurvival = false;
  o.contacts.personCount = 12;
  o.contacts.computeSurvival = false;
  o.calls.callCount = 40;
  o.calls.computeSurvival = false;
  if (manifestDb) {
    o.layout = fx::ManifestLayout::ManifestDb;
    o.productVersion = "14.3";
    o.modernDatabases = true;
    o.binaryPlists = true;
    o.extraManifestFiles = 200;  // Manifest.db over several pages
    // The log stored as a file of its own, enciphered with its own key.
  } else {
    o.productVersion = "9.3.5";
    o.messages.journal = fx::JournalMode::Wal;
    o.walEntry = true;
  }
  return o;
}

struct Twins {
  fx::TempDir dir{"vantrel-encrypted"};
  fx::BackupTruth plain, locked;
  explicit Twins(bool manifestDb, const std::function<void(fx::BackupOptions&)>& tweak = {}) {
    fx::BackupOptions o = EraOptions(manifestDb);
    plain = fx::BuildBackup(dir.File("plain"), o);
    o.password = "张伟 backup-2024";
    if (tweak) tweak(o);
    locked = fx::BuildBackup(dir.File("locked"), o);
  }
};

TEST(EncryptedBackup, LoadsExactlyAsItsUnencryptedTwinInBothEras) {
  for (bool manifestDb : {true, false}) {
    SCOPED_TRACE(manifestDb ? "Manifest.db era" : "Manifest.mbdb era");
    Twins t(manifestDb);
    // The ciphertext is not the database: without the password nothing reads.
    EXPECT_NE(fx::ReadFileBytes(t.locked.messagesPath).substr(0, 16), "SQLite format 3");
    if (manifestDb)
      EXPECT_NE(fx::ReadFileBytes(t.locked.manifestPath).substr(0, 16),
                std::string("SQLite format 3\0", 16));
    const auto before = Snapshot(t.locked.folder);

    QuietObserver plainSeen, noKeySeen, lockedSeen;
    const LoadResult plain = LoadBackup(t.plain.folder, plainSeen);
    ASSERT_EQ(plain.status, LoadStatus::Loaded);

    const LoadResult noKey = LoadBackup(t.locked.folder, noKeySeen);
    EXPECT_EQ(noKey.status, LoadStatus::Encrypted);
    EXPECT_EQ(noKeySeen.messages, std::vector<LoadMessage>{{LoadProblem::Encrypted}});

    EXPECT_EQ(UnlockBackup(t.locked.folder, "张伟 backup-2025").status,
              BackupUnlockStatus::WrongPassword);
    EXPECT_EQ(UnlockBackup(t.plain.folder, "张伟 backup-2024").status,
              BackupUnlockStatus::NotEncrypted);
    const BackupKeys keys = UnlockBackup(t.locked.folder, "张伟 backup-2024");
    ASSERT_EQ(keys.status, BackupUnlockStatus::Unlocked);
    EXPECT_EQ(keys.manifestDbKey.empty(), !manifestDb);
    const LoadResult locked = LoadBackup(t.locked.folder, lockedSeen, &keys);
    ASSERT_EQ(locked.status, LoadStatus::Loaded);
    EXPECT_TRUE(locked.decryptionProblems.empty());
    EXPECT_TRUE(lockedSeen.messages.empty());

    // The same tree, the same records, byte for byte in every saved file.
    EXPECT_EQ(lockedSeen.counts, plainSeen.counts);
    EXPECT_GE(lockedSeen.counts.size(), 5u);
    EXPECT_EQ(Exported(locked.collections, t.dir.File("out-locked")),
              Exported(plain.collections, t.dir.File("out-plain")));
    EXPECT_EQ(locked.collections.deletedMessages.size(), plain.collections.deletedMessages.size());
    EXPECT_FALSE(locked.collections.liveMessages.empty());
    // Nothing written to the backup: no deciphered copy, no changed time.
    EXPECT_EQ(Snapshot(t.locked.folder), before);
  }
}

// Damage of each kind is said plainly, names the file, and leaves the backup
// as it was; whatever else can be read still is.
TEST(EncryptedBackup, DamageIsSaidAndNothingIsWritten) {
  const std::string password = "张伟 backup-2024";
  auto load = [&](const fx::BackupTruth& b, QuietObserver& seen) {
    const BackupKeys keys = UnlockBackup(b.folder, password);
    EXPECT_EQ(keys.status, BackupUnlockStatus::Unlocked);
    const auto before = Snapshot(b.folder);
    LoadResult r = LoadBackup(b.folder, seen, &keys);
    EXPECT_EQ(Snapshot(b.folder), before);
    return r;
  };
  auto contains = [](const std::vector<DecryptionProblem>& problems,
                     const DecryptionProblem& problem) {
    return std::find(problems.begin(), problems.end(), problem) != problems.end();
  };
  auto names = [](const std::vector<DecryptionProblem>& problems, const std::string& part) {
    return std::any_of(problems.begin(), problems.end(), [&](const DecryptionProblem& p) {
      return p.name.find(part) != std::string::npos;
    });
  };
  // The one message shown is the list of files that did not decipher.
  auto said = [](const QuietObserver& seen, const LoadResult& r) {
    return seen.messages ==
           std::vector<LoadMessage>{{LoadProblem::Undeciphered, {}, r.decryptionProblems}};
  };

  {  // A cut database and a spoiled last block of the address book: damaged; calls still load.
    Twins t(false);
    std::string sms = fx::ReadFileBytes(t.locked.messagesPath);
    std::ofstream(t.locked.messagesPath, std::ios::binary | std::ios::trunc)
        << sms.substr(0, sms.size() - 5);
    std::string ab = fx::ReadFileBytes(t.locked.contactsPath);
    ab[ab.size() - 1] = static_cast<char>(ab[ab.size() - 1] ^ 0x80);
    std::ofstream(t.locked.contactsPath, std::ios::binary | std::ios::trunc) << ab;
    QuietObserver seen;
    const LoadResult r = load(t.locked, seen);
    EXPECT_EQ(r.status, LoadStatus::Loaded);
    EXPECT_TRUE(said(seen, r));
    EXPECT_TRUE(contains(r.decryptionProblems, {DecryptStatus::Damaged, "Library/SMS/sms.db"}));
    EXPECT_TRUE(names(r.decryptionProblems, "AddressBook.sqlitedb"));
    EXPECT_TRUE(r.collections.liveMessages.empty());
    EXPECT_FALSE(r.collections.liveCalls.empty());
  }
  {  // A file whose key the manifest does not give.
    Twins t(false);
    std::vector<fx::ManifestFileTruth> files = t.locked.manifestFiles;
    for (auto& f : files)
      if (f.relativePath == "Library/SMS/sms.db") f.hasKey = false, f.encryptionKey.clear();
    std::ofstream(t.locked.manifestPath, std::ios::binary | std::ios::trunc)
        << fx::MbdbBytes(files);
    QuietObserver seen;
    const LoadResult r = load(t.locked, seen);
    EXPECT_EQ(r.decryptionProblems.front(),
              (DecryptionProblem{DecryptStatus::NoKey, "Library/SMS/sms.db"}));
    EXPECT_TRUE(r.collections.liveMessages.empty());
  }
  {  // The class key of the files does not unwrap: each file's key fails.
    Twins t(false, [](fx::BackupOptions& o) { o.keybagBrokenClass = 4; });
    QuietObserver seen;
    const LoadResult r = load(t.locked, seen);
    EXPECT_EQ(r.status, LoadStatus::NothingSupported);
    EXPECT_TRUE(
        contains(r.decryptionProblems, {DecryptStatus::KeyNotUnwrapped, "Library/SMS/sms.db"}));
    EXPECT_TRUE(said(seen, r));
  }
  {  // ...and in the Manifest.db era, Manifest.db's own key (class 4) fails first.
    Twins t(true, [](fx::BackupOptions& o) { o.keybagBrokenClass = 4; });
    EXPECT_EQ(UnlockBackup(t.locked.folder, password).status,
              BackupUnlockStatus::ManifestKeyDamaged);
  }
  {  // Manifest.db that deciphers (good padding) to something that is no database.
    Twins t(true);
    std::ofstream(t.locked.manifestPath, std::ios::binary | std::ios::trunc)
        << fx::CbcEncrypt(t.locked.manifestDbKey, fx::SeededBytes(99, 8192));
    QuietObserver seen;
    const LoadResult r = load(t.locked, seen);
    EXPECT_EQ(r.status, LoadStatus::NothingSupported);
    ASSERT_FALSE(r.decryptionProblems.empty());
    EXPECT_EQ(r.decryptionProblems.front(),
              (DecryptionProblem{DecryptStatus::NotADatabase, "Manifest.db"}));
    EXPECT_TRUE(said(seen, r));
  }
  {  // A keybag cut short in Manifest.plist.
    Twins t(false);
    const std::string plist = fx::ReadFileBytes(t.locked.folder + "/Manifest.plist");
    const size_t start = plist.find("<key>BackupKeyBag</key>");
    ASSERT_NE(start, std::string::npos);
    const size_t data = plist.find("<data>", start) + 6;
    const size_t end = plist.find("</data>", data);
    // 40 base64 digits = 30 bytes: the header's first items only, the last one cut.
    std::string cut = plist.substr(0, data) + plist.substr(data, 40) + plist.substr(end);
    std::ofstream(t.locked.folder + "/Manifest.plist", std::ios::binary | std::ios::trunc) << cut;
    EXPECT_EQ(UnlockBackup(t.locked.folder, password).status, BackupUnlockStatus::KeybagDamaged);
    EXPECT_FALSE(UnlockFailureText(BackupUnlockStatus::KeybagDamaged).empty());
  }
}

// An attachment comes out as the bytes the phone kept: deciphered with the
// keys, as it is from the unencrypted twin. Without keys, or with keys that
// do not fit, nothing is written, not even over a file already there; and a
// deciphered copy is no file anyone may change or run.
TEST(EncryptedBackup, AttachmentsComeOutAsTheirPlainBytes) {
  Twins t(true, [](fx::BackupOptions& o) { o.modernExtras = true; });
  Twins other(true, [](fx::BackupOptions& o) { o.seed = 33; });
  const std::string password = "张伟 backup-2024";
  const BackupKeys keys = UnlockBackup(t.locked.folder, password);
  const BackupKeys wrong = UnlockBackup(other.locked.folder, password);
  ASSERT_TRUE(keys.unlocked());
  ASSERT_TRUE(wrong.unlocked());
  QuietObserver seen;
  const LoadResult locked = LoadBackup(t.locked.folder, seen, &keys);
  std::map<std::string, std::string> truth;  // device path -> the bytes stored
  for (const fx::ModernAttachment& a : t.locked.modernMessages->attachments)
    if (a.inBackup) truth[a.filename] = a.bytes;

  size_t copied = 0;
  for (const auto& [address, records] : locked.collections.liveMessages) {
    for (const MessageRecord& m : records) {
      if (!m.extras) continue;
      for (const MessageAttachment& a : m.extras->attachments) {
        SCOPED_TRACE(a.filename);
        if (a.backupPath.empty()) {
          EXPECT_EQ(truth.count(a.filename), 0u);
          continue;
        }
        EXPECT_TRUE(a.enciphered);
        const std::string target = t.dir.File("out-" + std::to_string(copied));
        std::ofstream(target) << "already here";
        EXPECT_EQ(CopyPlainAttachment(a, target, nullptr).status,
                  AttachmentCopyStatus::NeedsPassword);
        const AttachmentCopyOutcome misfit = CopyPlainAttachment(a, target, &wrong);
        EXPECT_EQ(misfit.status, AttachmentCopyStatus::Undeciphered);
        EXPECT_EQ(misfit.decryption, DecryptStatus::KeyNotUnwrapped);
        EXPECT_EQ(fx::ReadFileBytes(target), "already here");
        fs::remove(target);

        EXPECT_TRUE(CopyPlainAttachment(a, target, &keys).copied());
        EXPECT_EQ(fx::ReadFileBytes(target), truth.at(a.filename));
        EXPECT_EQ(fs::status(target).permissions() &
                      (fs::perms::group_write | fs::perms::others_write | fs::perms::owner_exec),
                  fs::perms::none);
        ++copied;
      }
    }
  }
  EXPECT_EQ(copied, truth.size());
  EXPECT_GE(truth.size(), 2u);
}

}  // namespace
}  // namespace vantrel
