// The real main window on a fixture backup made by SQLite: the window's bars
// and panes, the tree after a load, what each category click lists, the
// detail of a pressed row, header sorting, the four save commands with their
// dialogs answered, and the messages for a missing or unsupported path.
#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QMenuBar>
#include <QStatusBar>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "ScriptedPrompts.h"
#include "export/StatusTexts.h"
#include "export/TimeText.h"
#include "fixtures/Fixtures.h"
#include "load/BackupLoader.h"
#include "ui/MainWindow.h"
#include "ui/QtUserPrompts.h"

using namespace vantrel;
namespace fs = std::filesystem;

namespace {

std::string FileStart(const std::string& path, size_t n) {
  return fixtures::ReadFileBytes(path).substr(0, n);
}

QStringList ToolbarTexts(QToolBar& toolbar) {
  QStringList texts;
  for (QAction* action : toolbar.actions()) texts << (action->isSeparator() ? "|" : action->text());
  return texts;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<fixtures::TempDir> dir_;
  fixtures::BackupTruth backup_;
  test::ScriptedPrompts prompts_;
  std::unique_ptr<MainWindow> frame_;
  std::unique_ptr<QAbstractItemModelTester> tester_;

  const Collections& data() { return frame_->collections(); }
  CategoryTree& tree() { return frame_->treePane().tree(); }
  RecordListView& list() { return frame_->recordList(); }
  RecordTableModel& records() { return list().records(); }

  QTreeWidgetItem* Node(const QString& category, const QString& name) {
    for (int i = 0; i < tree().topLevelItemCount(); ++i) {
      QTreeWidgetItem* top = tree().topLevelItem(i);
      if (CategoryTree::NodeName(top) != category) continue;
      for (int k = 0; k < top->childCount(); ++k) {
        if (CategoryTree::NodeName(top->child(k)) == name) return top->child(k);
      }
    }
    return nullptr;
  }

  void Click(QTreeWidgetItem* node) {
    tree().scrollToItem(node);
    QTest::mouseClick(tree().viewport(), Qt::LeftButton, {}, tree().visualItemRect(node).center());
  }

  void PressRow(int row) {
    const QModelIndex index = records().index(row, 0);
    list().scrollTo(index);
    QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, list().visualRect(index).center());
  }

  std::vector<std::string> ColumnTexts(int column) {
    std::vector<std::string> texts;
    for (int r = 0; r < records().rowCount(); ++r) texts.push_back(records().CellText(r, column));
    return texts;
  }

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<fixtures::TempDir>("vantrel-ui");
    fixtures::BackupOptions options;
    options.messages.messageCount = 120;
    options.contacts.personCount = 25;
    options.calls.callCount = 60;
    options.calls.keepNewest = 40;
    backup_ = fixtures::BuildBackup(dir_->File("backups"), options);
  }

  void init() {
    prompts_ = test::ScriptedPrompts();
    frame_ = std::make_unique<MainWindow>(prompts_);
    frame_->resize(1200, 800);
    frame_->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
    tester_ = std::make_unique<QAbstractItemModelTester>(
        &records(), QAbstractItemModelTester::FailureReportingMode::QtTest);
  }

  void cleanup() {
    tester_.reset();
    frame_.reset();
  }

  void windowHasItsBarsAndPanes() {
    QCOMPARE(frame_->windowTitle(), QString("Vantrel For iPhone Backup"));
    const QList<QAction*> menu = frame_->menuBar()->actions();
    QCOMPARE(menu.size(), 2);
    QCOMPARE(menu.front()->text(), QString("导出"));
    QStringList exports;
    for (QAction* a : menu.front()->menu()->actions()) exports << a->text();
    QCOMPARE(exports, QStringList({"导出JSON...", "导出HTML报告...", "HTML报告打印为PDF..."}));
    QCOMPARE(menu.back()->text(), QString("工具栏"));
    QCOMPARE(ToolbarTexts(frame_->toolbar()),
             QStringList({"选择备份", "|", "保存所有CSV", "保存当前CSV", "|", "保存所有TXT",
                          "保存当前TXT", "TXT编码", "|", "关于"}));
    QCOMPARE(frame_->toolbar().toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QCOMPARE(frame_->toolbar().iconSize(), QSize(50, 40));
    QCOMPARE(frame_->action("selectBackup").statusTip(), QString("选择备份"));
    QCOMPARE(frame_->action("saveAllCsv").statusTip(), QString("保存"));
    QCOMPARE(frame_->action("saveCurrentCsv").statusTip(), QString("保存选中内容"));
    QCOMPARE(frame_->promptPane().text(), QString("就绪"));
    QCOMPARE(frame_->categoryPane().width(), 250);
    QCOMPARE(frame_->countPane().width(), 150);

    // The tree starts 350 pixels wide; the list takes 3/5 of the right side, in whole fifths.
    QCOMPARE(frame_->treePane().width(), 350);
    const int height = frame_->rightView().height();
    // (The list pane is the search bar over the record list.)
    QCOMPARE(frame_->rightView().widget(0)->height(), height / 5 * 3);
    QCOMPARE(frame_->recordList().height(), height / 5 * 3 - frame_->searchBar().height());
    // A wider window gives the extra room to the right side only.
    frame_->resize(1400, 800);
    QTRY_COMPARE(frame_->splitter().width(), frame_->centralWidget()->width());
    QCOMPARE(frame_->treePane().width(), 350);

    frame_->action("toggleToolbar").trigger();
    QVERIFY(frame_->toolbar().isHidden());
    frame_->action("toggleToolbar").trigger();
    QVERIFY(!frame_->toolbar().isHidden());

    frame_->action("showAbout").trigger();
    QCOMPARE(prompts_.aboutCount, 1);

    // The pointer on a toolbar button puts its prompt in the prompt pane.
    QWidget* button = frame_->toolbar().widgetForAction(&frame_->action("saveCurrentCsv"));
    QTest::mouseMove(button, button->rect().center());
    QTRY_COMPARE(frame_->statusBar()->currentMessage(), QString("保存选中内容"));
    QTest::mouseMove(&frame_->treePane(), QPoint(5, 5));
    QTRY_COMPARE(frame_->statusBar()->currentMessage(), QString());

    // Scroll Lock switches the last pane's "SCRL" on and off.
    QCOMPARE(frame_->scrollLockPane().text(), QString());
    QTest::keyClick(frame_.get(), Qt::Key_ScrollLock);
    QCOMPARE(frame_->scrollLockPane().text(), QString("SCRL"));
    QTest::keyClick(frame_.get(), Qt::Key_ScrollLock);
    QCOMPARE(frame_->scrollLockPane().text(), QString());
  }

  void loadBuildsTheTreeWithCountsAndColours() {
    QVERIFY(frame_->LoadPath(backup_.folder));
    QCOMPARE(frame_->lastProgressSteps(), 6);
    QVERIFY(prompts_.messages.empty());
    QCOMPARE(tree().columnCount(), 2);
    QCOMPARE(tree().headerItem()->text(0), QString("分类"));
    QCOMPARE(tree().headerItem()->text(1), QString("数量"));
    QCOMPARE(tree().columnWidth(0), 210);
    QCOMPARE(tree().columnWidth(1), 90);
    // Column 0 cannot be dragged below 100 pixels; wider is fine.
    tree().header()->resizeSection(0, 60);
    QCOMPARE(tree().columnWidth(0), 210);
    tree().header()->resizeSection(0, 240);
    QCOMPARE(tree().columnWidth(0), 240);

    QCOMPARE(tree().topLevelItemCount(), 3);
    QCOMPARE(CategoryTree::NodeName(tree().topLevelItem(0)), QString("短信"));
    QCOMPARE(CategoryTree::NodeName(tree().topLevelItem(1)), QString("通讯录"));
    QCOMPARE(CategoryTree::NodeName(tree().topLevelItem(2)), QString("通话记录"));

    size_t liveMessages = 0;
    for (const auto& [address, list] : data().liveMessages) liveMessages += list.size();
    QVERIFY(!data().deletedMessages.empty());
    const size_t deletedMessages = data().deletedMessages.size();
    QVERIFY(data().deletedContacts.has_value());
    const size_t deletedContacts = data().deletedContacts->size();
    const size_t liveContacts = data().contacts.size();
    size_t liveCalls = 0, deletedCalls = 0;
    for (const auto& [number, list] : data().liveCalls) liveCalls += list.size();
    for (const auto& [number, list] : data().deletedCalls) deletedCalls += list.size();
    // What SQLite holds live is what the window counts.
    QCOMPARE(liveMessages, backup_.messages->Live().size());
    QCOMPARE(liveCalls, backup_.calls->Live().size());

    struct Expected {
      const char* category;
      const char* name;
      size_t count;
      bool deleted;
    };
    const Expected expected[] = {
        {"短信", "删除数据", deletedMessages, true},
        {"短信", "现存数据", liveMessages, false},
        {"通讯录", "删除联系人", deletedContacts, true},
        {"通讯录", "现有联系人", liveContacts, false},
        {"通话记录", "删除数据", deletedCalls, true},
        {"通话记录", "现存数据", liveCalls, false},
    };
    for (const Expected& e : expected) {
      QTreeWidgetItem* node = Node(e.category, e.name);
      QVERIFY2(node, e.name);
      QVERIFY(node->parent()->isExpanded());
      const QString count = QString::number(e.count);
      QCOMPARE(node->text(1), count);
      QCOMPARE(node->text(0), QString(e.name));
      QCOMPARE(CategoryTree::NodeColour(node), e.deleted ? QColor(200, 0, 0) : QColor());
      QCOMPARE(node->foreground(0).color() == QColor(200, 0, 0), e.deleted);
    }
    QCOMPARE(tree().topLevelItem(0)->child(0), Node("短信", "删除数据"));  // deleted child first
  }

  void categoryClicksListTheRecordsAndWriteTheStatus() {
    QVERIFY(frame_->LoadPath(backup_.folder));

    // A top-level node changes nothing.
    Click(tree().topLevelItem(0));
    QCOMPARE(records().columnCount(), 0);
    QCOMPARE(frame_->categoryPane().text(), QString());

    // Live messages: last address first, each address's messages in record order.
    Click(Node("短信", "现存数据"));
    QCOMPARE(records().headerData(0, Qt::Horizontal).toString(), QString("短信"));
    std::vector<std::string> texts, addresses;
    for (auto it = data().liveMessages.rbegin(); it != data().liveMessages.rend(); ++it) {
      for (const MessageRecord& m : it->second) {
        texts.push_back(m.text);
        addresses.push_back(it->first);
      }
    }
    QCOMPARE(ColumnTexts(0), texts);
    QCOMPARE(ColumnTexts(5), addresses);
    QCOMPARE(frame_->categoryPane().text(), QString("现存数据"));
    QCOMPARE(frame_->countPane().text(), QString("记录数：%1").arg(texts.size()));

    Click(Node("短信", "删除数据"));
    const MessageList& deleted = data().deletedMessages;
    QCOMPARE(records().rowCount(), static_cast<int>(deleted.size()));
    QCOMPARE(records().CellText(0, 0), deleted.front().text);
    QCOMPARE(records().CellText(0, 5), std::string());
    QCOMPARE(frame_->categoryPane().text(), QString("删除数据"));
    QCOMPARE(frame_->countPane().text(), QString("记录数：%1").arg(deleted.size()));

    Click(Node("通讯录", "现有联系人"));
    QCOMPARE(records().columnCount(), 3);
    QVERIFY(list().isColumnHidden(2));
    std::vector<std::string> names;
    for (const auto& [key, c] : data().contacts) names.push_back(c.name);
    QCOMPARE(ColumnTexts(0), names);
    QCOMPARE(frame_->countPane().text(), QString("记录数：%1").arg(names.size()));

    Click(Node("通讯录", "删除联系人"));
    const DeletedContactList& carved = *data().deletedContacts;
    QCOMPARE(ColumnTexts(0).size(), carved.size());
    QCOMPARE(records().CellText(0, 0), carved.front().number);
    QCOMPARE(records().CellText(0, 1), carved.front().owner);
    QCOMPARE(frame_->countPane().text(), QString("记录数：%1").arg(carved.size()));

    // Calls report no count: both status panes stay empty.
    Click(Node("通话记录", "现存数据"));
    QCOMPARE(records().headerData(0, Qt::Horizontal).toString(), QString("号码"));
    std::vector<std::string> numbers;
    for (auto it = data().liveCalls.rbegin(); it != data().liveCalls.rend(); ++it)
      for (size_t k = 0; k < it->second.size(); ++k) numbers.push_back(it->first);
    QCOMPARE(ColumnTexts(0), numbers);
    QCOMPARE(frame_->categoryPane().text(), QString());
    QCOMPARE(frame_->countPane().text(), QString());

    // A press right of the last column hits no node and changes nothing.
    QTreeWidgetItem* live = Node("短信", "现存数据");
    const QPoint beyond(tree().columnWidth(0) + tree().columnWidth(1) + 10,
                        tree().visualItemRect(live).center().y());
    QVERIFY(beyond.x() < tree().viewport()->width());
    QTest::mouseClick(tree().viewport(), Qt::LeftButton, {}, beyond);
    QCOMPARE(records().headerData(0, Qt::Horizontal).toString(), QString("号码"));
    QCOMPARE(frame_->treePane().lastClickedNode(), nullptr);
  }

  void pressingARowShowsItsDetail() {
    QVERIFY(frame_->LoadPath(backup_.folder));
    const QString detailFont = frame_->detailPane().edit().font().family();
    QCOMPARE(detailFont, QString("WenQuanYi Micro Hei"));

    Click(Node("短信", "现存数据"));
    PressRow(0);
    const auto& last = *data().liveMessages.rbegin();
    const MessageRecord& m = last.second.front();
    std::string expected = "短信内容： " + m.text + "\n号码地址： " + last.first + "\n接收时间： " +
                           MessageDateText(m.date) + "\n读取时间： " +
                           (m.readDate ? MessageDateText(m.readDate) : "") + "\n类型： " +
                           (!m.fromMe   ? ""
                            : *m.fromMe ? "发送"
                                        : "接收") +
                           "\n服务： " + m.service + "\n";
    QCOMPARE(frame_->detailPane().text().toStdString(), expected);

    Click(Node("通讯录", "现有联系人"));
    PressRow(0);
    QVERIFY(!data().contacts.empty());
    const ContactRecord* first = &data().contacts.begin()->second;
    expected = "姓名：" + first->name + "\n";
    if (!first->phonetic.empty()) expected += "拼音：" + first->phonetic + "\n";
    if (!first->organization.empty()) expected += "单位：" + first->organization + "\n";
    for (size_t i = 0; i < first->labels.size(); ++i)
      expected += first->labels[i] + ": " + first->values[i] + "\n";
    QCOMPARE(frame_->detailPane().text().toStdString(), expected);

    Click(Node("通讯录", "删除联系人"));
    PressRow(0);
    const DeletedContact& carved = data().deletedContacts->front();
    // The owner and the number first, then the owner's organisation and where it lay.
    const std::string shown = frame_->detailPane().text().toStdString();
    QCOMPARE(shown.substr(0, shown.find('\n')), carved.owner + ": " + carved.number);
    if (!carved.organization.empty())
      QVERIFY(shown.find("\n单位：" + carved.organization + "\n") != std::string::npos);
    QVERIFY(carved.found.has_value());
    QVERIFY(shown.find(carved.found->file + " 第 " + std::to_string(carved.found->page) +
                       " 页 偏移 " + std::to_string(carved.found->offset)) != std::string::npos);

    Click(Node("通话记录", "删除数据"));
    PressRow(0);
    const auto& number = *data().deletedCalls.rbegin();
    const CallRecord& call = number.second.front();
    // A deleted call ends with where its bytes were found: the database, page and offset.
    QVERIFY(call.found.has_value());
    QCOMPARE(frame_->detailPane().text().toStdString(),
             "号码： " + number.first + "\n时间： " + CallDateText(call.date) + "\n通话时间： " +
                 ListDurationText(call.duration) + "\n类型： " +
                 ((call.flags & 1) ? "拨出" : "拨入") + "\n位置：" + call.found->file + " 第 " +
                 std::to_string(call.found->page) + " 页 偏移 " +
                 std::to_string(call.found->offset) + "（" +
                 (call.found->place == Place::Freeblock ? "空闲块" : "未分配区") + "）\n");
    // Changing category leaves the detail as it was.
    const QString kept = frame_->detailPane().text();
    Click(Node("短信", "删除数据"));
    QCOMPARE(frame_->detailPane().text(), kept);
  }

  void headerClicksSortTheList() {
    QVERIFY(frame_->LoadPath(backup_.folder));
    Click(Node("短信", "现存数据"));
    QHeaderView* header = list().horizontalHeader();
    const QPoint time(header->sectionViewportPosition(1) + 20, header->height() / 2);
    std::vector<std::string> sorted = ColumnTexts(1);
    std::sort(sorted.begin(), sorted.end());
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, time);
    QCOMPARE(ColumnTexts(1), sorted);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, time);
    std::reverse(sorted.begin(), sorted.end());
    QCOMPARE(ColumnTexts(1), sorted);
  }

  void saveCommandsWriteTheFilesTheDialogsName() {
    QVERIFY(frame_->LoadPath(backup_.folder));
    fixtures::TempDir out("vantrel-ui-out");

    // Save current, live messages: the chosen file itself.
    Click(Node("短信", "现存数据"));
    prompts_.saveFileAnswer = out.File("SMS.csv");
    frame_->action("saveCurrentCsv").trigger();
    QCOMPARE(prompts_.lastDefaultName, std::string("SMS.csv"));
    QCOMPARE(QtFileFilter(prompts_.lastFilter), QString("(*.csv);;All Files(*.*)"));
    QCOMPARE(FirstFilterExtension(prompts_.lastFilter), QString("csv"));
    QCOMPARE(FileStart(out.File("SMS.csv"), 2), std::string("\xFF\xFE"));
    QCOMPARE(prompts_.doneCount, 1);

    // Deleted messages go beside it under "_Del"; the chosen file is not written.
    Click(Node("短信", "删除数据"));
    prompts_.saveFileAnswer = out.File("deleted.txt");
    frame_->action("saveCurrentTxt").trigger();
    QCOMPARE(prompts_.lastDefaultName, std::string("SMS.txt"));
    QVERIFY(fs::exists(out.File("deleted_Del.txt")));
    QVERIFY(!fs::exists(out.File("deleted.txt")));
    QVERIFY(FileStart(out.File("deleted_Del.txt"), 7) == "类型:");
    QCOMPARE(prompts_.doneCount, 2);

    // Cancel: nothing written, no notice.
    Click(Node("通话记录", "现存数据"));
    prompts_.saveFileAnswer.reset();
    frame_->action("saveCurrentCsv").trigger();
    QCOMPARE(prompts_.lastDefaultName, std::string("Call_history.csv"));
    QCOMPARE(prompts_.doneCount, 2);

    // Save all into a folder.
    fixtures::TempDir all("vantrel-ui-all");
    prompts_.folderAnswer = all.path();
    frame_->action("saveAllCsv").trigger();
    QCOMPARE(prompts_.lastFolderTitle, std::string("选择路径"));
    for (const char* name : {"SMS_Del.CSV", "SMS.CSV", "Contacts_Del.CSV", "Contacts.CSV",
                             "Call_history_Del.CSV", "Call_history.CSV"}) {
      QVERIFY2(fs::exists(all.File(name)), name);
      QCOMPARE(FileStart(all.File(name), 2), std::string("\xFF\xFE"));
    }
    frame_->action("saveAllTxt").trigger();
    for (const char* name : {"SMS_Del.txt", "SMS.txt", "Contacts_Del.txt", "Contacts.txt",
                             "Call_history_Del.txt", "Call_history.txt"}) {
      QVERIFY2(fs::file_size(all.File(name)) > 0, name);
    }
    QVERIFY(FileStart(all.File("Call_history.txt"), 18) == "通话记录清单");
    QCOMPARE(prompts_.doneCount, 4);
    QVERIFY(prompts_.errors.empty());
  }

  // The export menu writes the JSON file and the report into the chosen
  // folder, and prints the report to a PDF file; each says it is done.
  void exportMenuWritesJsonHtmlAndPdf() {
    QVERIFY(frame_->LoadPath(backup_.folder));
    fixtures::TempDir out("vantrel-ui-reports");
    prompts_.folderAnswer = out.path();
    frame_->action("exportJson").trigger();
    frame_->action("exportHtml").trigger();
    QCOMPARE(FileStart(out.File("Vantrel.json"), 1), std::string("{"));
    const std::string html = fixtures::ReadFileBytes(out.File("Report.html"));
    QCOMPARE(html.substr(0, 15), std::string("<!DOCTYPE html>"));
    // The report holds the SHA-256 of the files it read, as sha256sum gives it.
    std::string sum(64, ' ');
    FILE* pipe = popen(("sha256sum '" + backup_.messagesPath + "'").c_str(), "r");
    QVERIFY(pipe != nullptr);
    QCOMPARE(fread(sum.data(), 1, 64, pipe), size_t{64});
    pclose(pipe);
    QVERIFY(html.find(sum) != std::string::npos);
    prompts_.saveFileAnswer = out.File("Report.pdf");
    frame_->action("printReportPdf").trigger();
    QCOMPARE(prompts_.lastDefaultName, std::string("Report.pdf"));
    QCOMPARE(FileStart(out.File("Report.pdf"), 5), std::string("%PDF-"));
    QCOMPARE(prompts_.doneCount, 3);
    QVERIFY(prompts_.errors.empty());
    // Cancel writes nothing.
    prompts_.folderAnswer.reset();
    frame_->action("exportJson").trigger();
    QCOMPARE(prompts_.doneCount, 3);
  }

  void aFailedSaveShowsTheErrorAndNoNotice() {
    QVERIFY(frame_->LoadPath(backup_.folder));
    Click(Node("通讯录", "现有联系人"));
    prompts_.saveFileAnswer = dir_->File("no-such-folder/Contacts.csv");
    frame_->action("saveCurrentCsv").trigger();
    QCOMPARE(prompts_.errors.size(), size_t(1));
    QVERIFY(prompts_.errors.front().find("Contacts.csv") != std::string::npos);

    prompts_.folderAnswer = dir_->File("no-such-folder");
    frame_->action("saveAllTxt").trigger();
    QCOMPARE(prompts_.errors.size(), size_t(2));
    QCOMPARE(prompts_.doneCount, 0);
  }

  void selectBackupLoadsWhatTheDialogHandsBack() {
    prompts_.chooseBackupAnswer.reset();  // Cancel
    frame_->action("selectBackup").trigger();
    QCOMPARE(prompts_.chooseBackupCalls, 1);
    QCOMPARE(tree().topLevelItemCount(), 0);

    prompts_.chooseBackupAnswer = backup_.folder;
    frame_->SelectBackup();
    QCOMPARE(tree().topLevelItemCount(), 3);
    QCOMPARE(frame_->backupPath(), backup_.folder);

    // A missing path: the message, and the loaded backup stays.
    prompts_.chooseBackupAnswer = backup_.folder + "-missing";
    frame_->SelectBackup();
    QCOMPARE(prompts_.lastCurrentPath, backup_.folder);
    QCOMPARE(prompts_.messages, std::vector<std::string>({"没有找到文件"}));
    QCOMPARE(frame_->backupPath(), backup_.folder);
    QCOMPARE(tree().topLevelItemCount(), 3);
  }

  // The folder that holds the backups, chosen in place of one: the picker opens on it, listing
  // its backups, and loads the one chosen there; Cancel loads nothing.
  void aFolderOfBackupsOpensThePickerOnIt() {
    const std::string root = dir_->File("backups");
    prompts_.chooseBackupAnswer.reset();
    QVERIFY(!frame_->LoadPath(root));
    QCOMPARE(prompts_.chooseBackupCalls, 1);
    QCOMPARE(prompts_.lastCurrentPath, root);
    QVERIFY(prompts_.messages.empty());
    QCOMPARE(tree().topLevelItemCount(), 0);
    const std::vector<std::string>& remembered = frame_->rememberedBackups().folders();
    QVERIFY(std::find(remembered.begin(), remembered.end(), backup_.folder) != remembered.end());

    prompts_.chooseBackupAnswer = backup_.folder;
    QVERIFY(frame_->LoadPath(root));
    QCOMPARE(prompts_.chooseBackupCalls, 2);
    QCOMPARE(frame_->backupPath(), backup_.folder);
    QCOMPARE(tree().topLevelItemCount(), 3);
  }

  void aFileWithoutKnownTablesShowsTheVersionMessage() {
    const std::string path = dir_->File("not-a-database");
    std::ofstream(path) << "plain text, not a database";
    QVERIFY(frame_->LoadPath(path));
    QCOMPARE(prompts_.messages, std::vector<std::string>({kNothingReadableMessage}));
    QCOMPARE(tree().topLevelItemCount(), 0);
    QCOMPARE(tree().columnCount(), 2);
  }

  void singleDatabaseFileLoadsItsOwnKind() {
    QVERIFY(frame_->LoadPath(backup_.callsPath));
    QVERIFY(prompts_.messages.empty());
    QCOMPARE(tree().topLevelItemCount(), 1);
    QCOMPARE(CategoryTree::NodeName(tree().topLevelItem(0)), QString("通话记录"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
