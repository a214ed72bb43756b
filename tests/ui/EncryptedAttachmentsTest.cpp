// An encrypted backup's attachments in the window: opened with its password,
// an attachment is saved and opened as its plain bytes (the bytes the fixture
// stored, which its unencrypted twin keeps as they are), the temporary copy is
// the user's alone, and a file that does not decipher is said in a message
// box with nothing written in its place. The keys go with the backup: opening
// the twin leaves nothing to decipher with.
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <string>

#include "ScriptedPrompts.h"
#include "fixtures/Fixtures.h"
#include "fixtures/Modern.h"
#include "ui/MainWindow.h"

using namespace vantrel;
namespace fs = std::filesystem;

namespace {

constexpr char kPassword[] = "附件 password";

}  // namespace

class EncryptedAttachmentsTest : public QObject {
  Q_OBJECT
  std::unique_ptr<fixtures::TempDir> dir_;
  fixtures::BackupTruth plain_, locked_, other_;
  test::ScriptedPrompts prompts_;
  std::unique_ptr<MainWindow> frame_;

  const fixtures::ModernMessagesTruth& truth() { return *locked_.modernMessages; }

  // Lists 短信/现存数据 and shows (and selects) the message that owns a.
  bool ShowOwner(const fixtures::ModernAttachment& a) {
    const fixtures::ModernMessage* owner = nullptr;
    for (const auto& m : truth().messages)
      if (m.rowid == a.messageRowid) owner = &m;
    if (!owner) return false;
    CategoryTree& tree = frame_->treePane().tree();
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
      QTreeWidgetItem* top = tree.topLevelItem(i);
      if (CategoryTree::NodeName(top) != "短信") continue;
      for (int k = 0; k < top->childCount(); ++k)
        if (CategoryTree::NodeName(top->child(k)) == "现存数据") {
          tree.setCurrentItem(top->child(k));
          frame_->treePane().OnNodeClicked(top->child(k));
        }
    }
    const RecordTableModel& records = frame_->recordList().records();
    for (int r = 0; r < records.rowCount(); ++r) {
      const MessageRecord* m = records.MessageAt(r);
      if (m && m->text == owner->text && m->date == owner->seconds) {
        frame_->recordList().selectRow(r);
        frame_->detailPane().ShowRow(r);
        return true;
      }
    }
    return false;
  }

  // Where the loaded backup keeps the attachment of the device path filename.
  std::string StoredPath(const std::string& filename) {
    for (const auto& [address, records] : frame_->collections().liveMessages)
      for (const MessageRecord& m : records)
        if (m.extras)
          for (const MessageAttachment& a : m.extras->attachments)
            if (a.filename == filename) return a.backupPath;
    return {};
  }

  // Saves the attachment shown through the save button, into target.
  void ClickSave(const std::string& target) {
    frame_->detailPane().SetSaveAsker([target](const std::string&) { return target; });
    frame_->detailPane().saveButton().click();
  }

  static fs::perms Perms(const std::string& path) {
    return fs::status(path).permissions() & fs::perms::mask;
  }

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<fixtures::TempDir>("vantrel-ui-encrypted-attachments");
    fixtures::BackupOptions o;
    o.seed = 47;
    o.layout = fixtures::ManifestLayout::ManifestDb;
    o.productVersion = "16.3";
    o.modernDatabases = true;
    o.modernExtras = true;
    plain_ = fixtures::BuildBackup(dir_->File("plain"), o);
    o.password = kPassword;
    locked_ = fixtures::BuildBackup(dir_->File("locked"), o);
    // Another encrypted backup of the same password: its keys fit none of
    // locked_'s files.
    o.seed = 48;
    other_ = fixtures::BuildBackup(dir_->File("other"), o);
    QVERIFY(!truth().attachments.empty());
    frame_ = std::make_unique<MainWindow>(prompts_);
    frame_->resize(1280, 800);
    frame_->show();
    prompts_.passwordAnswer = kPassword;
  }

  void savedAndOpenedAsTheirPlainBytes() {
    QVERIFY(frame_->LoadPath(locked_.folder));
    QCOMPARE(prompts_.passwordCalls, 1);
    DetailPane& pane = frame_->detailPane();
    int saved = 0;
    for (const fixtures::ModernAttachment& a : truth().attachments) {
      if (!a.inBackup) continue;
      QVERIFY(ShowOwner(a));
      QCOMPARE(pane.attachmentChoice().count(), 1);
      QCOMPARE(pane.attachmentChoice().currentText().toStdString(), a.transferName);
      QVERIFY(pane.saveButton().isEnabled());
      QVERIFY(pane.openButton().isEnabled());
      // What the backup stores is not the attachment: saving must decipher.
      const std::string stored = fixtures::ReadFileBytes(StoredPath(a.filename));
      QVERIFY(!stored.empty());
      QVERIFY(stored != a.bytes);

      const std::string target = dir_->File("saved-" + std::to_string(a.messageRowid));
      ClickSave(target);
      QCOMPARE(fixtures::ReadFileBytes(target), a.bytes);
      // Not the memory file's mode (0777): nobody else may change it.
      QVERIFY((Perms(target) & (fs::perms::group_write | fs::perms::others_write |
                                fs::perms::owner_exec)) == fs::perms::none);

      const std::string copy = pane.AttachmentCopy(0);
      QCOMPARE(fs::path(copy).filename().string(), a.transferName);
      QCOMPARE(fixtures::ReadFileBytes(copy), a.bytes);
      QCOMPARE(Perms(copy), fs::perms::owner_read | fs::perms::owner_write);
      QCOMPARE(Perms(fs::path(copy).parent_path().string()), fs::perms::owner_all);
      fs::remove_all(fs::path(copy).parent_path());
      ++saved;
    }
    QVERIFY(saved >= 2);
    QCOMPARE(prompts_.messages, std::vector<std::string>{});

    // The detail pane with the attachment chosen, as the README shows it.
    const fixtures::ModernAttachment* shown = nullptr;
    for (const fixtures::ModernAttachment& a : truth().attachments)
      if (a.inBackup && !shown) shown = &a;
    QVERIFY(ShowOwner(*shown));
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    const QString shot = QDir::current().filePath("encrypted-attachment.png");
    QVERIFY(frame_->grab().save(shot, "PNG"));
  }

  void theTwinSavesAsBeforeAndTheKeysGoWithTheBackup() {
    QVERIFY(frame_->LoadPath(plain_.folder));
    const int asked = prompts_.passwordCalls;
    DetailPane& pane = frame_->detailPane();
    for (const fixtures::ModernAttachment& a : plain_.modernMessages->attachments) {
      if (!a.inBackup) continue;
      QVERIFY(ShowOwner(a));
      const std::string target = dir_->File("twin-" + std::to_string(a.messageRowid));
      ClickSave(target);
      QCOMPARE(fixtures::ReadFileBytes(target), a.bytes);
    }
    QCOMPARE(prompts_.passwordCalls, asked);

    // The encrypted backup's attachments as a window without its keys would
    // hold them: offered for nothing, saved as nothing.
    QVERIFY(frame_->LoadPath(locked_.folder));
    const fixtures::ModernAttachment* first = nullptr;
    for (const fixtures::ModernAttachment& a : truth().attachments)
      if (a.inBackup && !first) first = &a;
    pane.SetBackupKeys(nullptr);
    QVERIFY(ShowOwner(*first));
    QVERIFY(pane.attachmentChoice().currentText().contains("已加密"));
    QVERIFY(!pane.saveButton().isEnabled());
    QVERIFY(!pane.openButton().isEnabled());
    std::string problem;
    QVERIFY(!pane.SaveAttachment(0, dir_->File("keyless"), &problem));
    QVERIFY(!problem.empty());
    QVERIFY(!fs::exists(dir_->File("keyless")));
  }

  void aFileThatDoesNotDecipherIsSaidAndNotWritten() {
    QVERIFY(frame_->LoadPath(locked_.folder));
    DetailPane& pane = frame_->detailPane();
    const fixtures::ModernAttachment* first = nullptr;
    for (const fixtures::ModernAttachment& a : truth().attachments)
      if (a.inBackup && !first) first = &a;

    // Keys of another backup: the file's key does not unwrap.
    pane.SetBackupKeys(std::make_shared<const BackupKeys>(UnlockBackup(other_.folder, kPassword)));
    QVERIFY(ShowOwner(*first));
    QVERIFY(pane.saveButton().isEnabled());
    prompts_.messages.clear();
    ClickSave(dir_->File("wrong-keys"));
    QVERIFY(!fs::exists(dir_->File("wrong-keys")));
    QCOMPARE(prompts_.messages.size(), size_t{1});
    QVERIFY2(prompts_.messages[0].find("附件未能保存到 " + dir_->File("wrong-keys")) == 0,
             prompts_.messages[0].c_str());
    QVERIFY2(prompts_.messages[0].find("无法解密") != std::string::npos,
             prompts_.messages[0].c_str());

    // The right keys, a stored file cut short: its padding is gone. Opening
    // it leaves no copy behind.
    QVERIFY(frame_->LoadPath(locked_.folder));
    QVERIFY(ShowOwner(*first));
    const std::string stored = StoredPath(first->filename);
    const std::string bytes = fixtures::ReadFileBytes(stored);
    std::ofstream(stored, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() - 7);
    prompts_.messages.clear();
    frame_->detailPane().openButton().click();
    QCOMPARE(prompts_.messages.size(), size_t{1});
    QVERIFY2(prompts_.messages[0].find("附件未能打开：无法解密") == 0,
             prompts_.messages[0].c_str());
    std::string problem;
    QVERIFY(pane.AttachmentCopy(0, &problem).empty());
    QVERIFY(problem.find("已损坏") != std::string::npos);
    const std::string folder = (QDir::tempPath() + "/vantrel-attachments/" +
                                QString::number(QCoreApplication::applicationPid()) + "-1")
                                   .toStdString();
    QVERIFY(!fs::exists(folder));
    // Overwriting a file the user picked is refused too: it keeps its bytes.
    std::ofstream(dir_->File("kept")) << "before";
    ClickSave(dir_->File("kept"));
    QCOMPARE(fixtures::ReadFileBytes(dir_->File("kept")), std::string("before"));
    std::ofstream(stored, std::ios::binary | std::ios::trunc) << bytes;
  }
};

QTEST_MAIN(EncryptedAttachmentsTest)
#include "EncryptedAttachmentsTest.moc"
