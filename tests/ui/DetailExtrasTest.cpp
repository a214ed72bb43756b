// The window on an iOS 16 backup made by SQLite: what the detail pane says of reactions,
// replies, edits, unsent and recently deleted messages and attachments, the list's markers,
// and saving an attachment (its bytes) or opening a copy of it.
#include <QtTest>
#include <filesystem>
#include <string>

#include "ScriptedPrompts.h"
#include "export/TimeText.h"
#include "fixtures/Fixtures.h"
#include "fixtures/Modern.h"
#include "ui/MainWindow.h"

using namespace vantrel;

class DetailExtrasTest : public QObject {
  Q_OBJECT
  std::unique_ptr<fixtures::TempDir> dir_;
  fixtures::BackupTruth backup_;
  test::ScriptedPrompts prompts_;
  std::unique_ptr<MainWindow> frame_;

  const fixtures::ModernMessagesTruth& truth() { return *backup_.modernMessages; }

  // Lists the node of the messages category and shows the row whose text is text.
  int Show(const QString& node, const std::string& text, const std::optional<int32_t>& date) {
    CategoryTree& tree = frame_->treePane().tree();
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
      QTreeWidgetItem* top = tree.topLevelItem(i);
      if (CategoryTree::NodeName(top) != "短信") continue;
      for (int k = 0; k < top->childCount(); ++k)
        if (CategoryTree::NodeName(top->child(k)) == node)
          frame_->treePane().OnNodeClicked(top->child(k));
    }
    const RecordTableModel& records = frame_->recordList().records();
    for (int r = 0; r < records.rowCount(); ++r) {
      const MessageRecord* m = records.MessageAt(r);
      if (m && m->text == text && m->date == date) {
        frame_->detailPane().ShowRow(r);
        return r;
      }
    }
    return -1;
  }
  std::string Detail() { return frame_->detailPane().text().toStdString(); }
  bool Says(const std::string& line) { return Detail().find(line) != std::string::npos; }

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<fixtures::TempDir>();
    backup_ = fixtures::BuildBackup(dir_->path(), fixtures::SampleIos16BackupOptions());
    frame_ = std::make_unique<MainWindow>(prompts_);
    QVERIFY(frame_->LoadPath(backup_.folder));
  }

  void reactionsAndReply() {
    const auto& m = truth().messages;
    QVERIFY(Show("现存数据", m[2].text, m[2].seconds) >= 0);
    // Every reaction on message 2 as the fixture wrote it: who and when.
    for (const fixtures::ModernReaction& r : truth().reactions) {
      if (r.targetGuid != m[2].guid) continue;
      const std::string who = r.fromMe ? "我" : r.sender;
      const std::string what = r.type == 2000 ? "喜欢" : "点赞";
      QVERIFY2(Says("回应： " + who + " " + what + "（" +
                    MessageDateText(static_cast<int32_t>(r.seconds)) + "）"),
               Detail().c_str());
    }
    // The laugh on message 3 was taken back.
    QVERIFY(Show("现存数据", m[3].text, m[3].seconds) >= 0);
    QVERIFY(!Says("大笑"));
    QVERIFY(Says("回应： 我 强调"));
    // The reply names what it answers.
    QVERIFY(Show("现存数据", m[7].text, m[7].seconds) >= 0);
    QVERIFY2(Says("回复： " + m[1].text + "（" +
                  MessageDateText(static_cast<int32_t>(m[1].seconds)) + "）"),
             Detail().c_str());
  }

  void editsAndUnsent() {
    const auto& m = truth().messages;
    const int row = Show("现存数据", m[8].text, m[8].seconds);
    QVERIFY(row >= 0);
    QVERIFY(Says("已编辑： " + MessageDateText(static_cast<int32_t>(m[8].editedSeconds))));
    QVERIFY(Says("早先内容： " + m[8].earlierTexts[0].first));
    const QString shown = frame_->recordList()
                              .records()
                              .data(frame_->recordList().records().index(row, 0))
                              .toString();
    QVERIFY(shown.startsWith("[已编辑] "));
    // Unsent: no words now, the earlier ones from the history.
    QVERIFY(Show("现存数据", "", m[9].seconds) >= 0);
    QVERIFY(Says("已撤回： " + MessageDateText(static_cast<int32_t>(m[9].retractedSeconds))));
    QVERIFY(Says("早先内容： " + m[9].earlierTexts[0].first));
  }

  void recentlyDeleted() {
    const auto& m = truth().messages;
    QVERIFY(Show("现存数据", m[10].text, m[10].seconds) < 0);  // not live
    QVERIFY(Show("删除数据", m[10].text, m[10].seconds) >= 0);
    QVERIFY(Says("删除方式： 最近删除"));
    QVERIFY(Says("删除时间： " + MessageDateText(static_cast<int32_t>(m[10].deleteSeconds))));
    QVERIFY(Says("所在会话： " + truth().ChatOf(m[10]).identifier));
  }

  void attachmentsSavedAndOpened() {
    for (const fixtures::ModernAttachment& a : truth().attachments) {
      const fixtures::ModernMessage* owner = nullptr;
      for (const auto& m : truth().messages)
        if (m.rowid == a.messageRowid) owner = &m;
      QVERIFY(owner && Show("现存数据", owner->text, owner->seconds) >= 0);
      DetailPane& pane = frame_->detailPane();
      QCOMPARE(pane.attachmentChoice().count(), 1);
      if (!a.inBackup) {
        QVERIFY(Says("附件： " + a.transferName));
        QVERIFY(Says("文件不在备份中"));
        QVERIFY(!pane.saveButton().isEnabled());
        QVERIFY(!pane.SaveAttachment(0, dir_->File("never")));
        QVERIFY(!std::filesystem::exists(dir_->File("never")));
        continue;
      }
      QVERIFY(!Says("文件不在备份中"));
      QVERIFY(pane.saveButton().isEnabled());
      // Saved where the user says, through the pane's question.
      const std::string target = dir_->File("saved-" + std::to_string(a.messageRowid));
      std::string suggested;
      pane.SetSaveAsker([&](const std::string& name) {
        suggested = name;
        return target;
      });
      pane.saveButton().click();
      QCOMPARE(suggested, a.transferName);
      QCOMPARE(fixtures::ReadFileBytes(target), a.bytes);
      // Opened: a copy under its own name in a temporary folder.
      const std::string copy = pane.AttachmentCopy(0);
      QCOMPARE(std::filesystem::path(copy).filename().string(), a.transferName);
      QCOMPARE(fixtures::ReadFileBytes(copy), a.bytes);
      std::filesystem::remove_all(std::filesystem::path(copy).parent_path());
    }
  }
};

QTEST_MAIN(DetailExtrasTest)
#include "DetailExtrasTest.moc"
