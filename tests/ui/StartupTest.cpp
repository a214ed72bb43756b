// Start-up: the command line (`vantrel [PATH]`, `--screenshot FILE [PATH]`)
// and what the screenshot run shows: the first category's records listed and
// the first row's detail.
#include <QtTest>

#include "ScriptedPrompts.h"
#include "fixtures/Fixtures.h"
#include "ui/Application.h"
#include "ui/MainWindow.h"

using namespace vantrel;

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void parsesPathAndScreenshot() {
    StartOptions options;
    QString error;
    QVERIFY(Application::ParseArguments({}, options, error));
    QVERIFY(!options.path && !options.screenshot);

    options = {};
    QVERIFY(Application::ParseArguments({"/backups/abc"}, options, error));
    QCOMPARE(options.path, std::optional<std::string>("/backups/abc"));

    options = {};
    QVERIFY(Application::ParseArguments({"--screenshot", "out.png", "/b"}, options, error));
    QCOMPARE(options.screenshot, std::optional<std::string>("out.png"));
    QCOMPARE(options.path, std::optional<std::string>("/b"));

    options = {};
    QVERIFY(!Application::ParseArguments({"--screenshot"}, options, error));
    QVERIFY(error.contains("--screenshot"));
    QVERIFY(!Application::ParseArguments({"--bogus"}, options, error));
    QVERIFY(error.contains("--bogus"));
    options = {};
    QVERIFY(!Application::ParseArguments({"/a", "/b"}, options, error));

    // The screenshot's node and search text; each needs its value.
    options = {};
    QVERIFY(Application::ParseArguments({"--screenshot", "c.png", "--select-category",
                                         "短信/会话/未知会话", "--search", "晚安", "/b"},
                                        options, error));
    QCOMPARE(options.selectCategory, std::optional<std::string>("短信/会话/未知会话"));
    QCOMPARE(options.search, std::optional<std::string>("晚安"));
    QCOMPARE(options.path, std::optional<std::string>("/b"));
    options = {};
    QVERIFY(!Application::ParseArguments({"--search"}, options, error));
    QVERIFY(error.contains("--search"));
    QVERIFY(!Application::ParseArguments({"--select-category"}, options, error));
  }

  void aNodeNamedByItsPathIsListed() {
    fixtures::TempDir dir("vantrel-ui-select");
    fixtures::BackupOptions backup;
    backup.messages.messageCount = 60;
    const fixtures::BackupTruth truth = fixtures::BuildBackup(dir.path(), backup);
    test::ScriptedPrompts prompts;
    MainWindow frame(prompts);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QVERIFY(frame.LoadPath(truth.folder));

    QVERIFY(!Application::ShowCategory(frame, "短信/会话/no such conversation"));
    QVERIFY(!Application::ShowCategory(frame, "nothing"));
    QVERIFY(Application::ShowCategory(frame, "短信/现存数据"));
    QCOMPARE(CategoryTree::NodeName(frame.treePane().SelectedNode()), QString("现存数据"));
    QTreeWidgetItem* conversations = frame.treePane().conversationsNode();
    QVERIFY(conversations && conversations->childCount() > 0);
    const QString first = CategoryTree::NodeName(conversations->child(0));
    QVERIFY(Application::ShowCategory(frame, "短信/会话/" + first));
    QCOMPARE(frame.recordList().model()->rowCount(), conversations->child(0)->text(1).toInt());
  }

  void firstCategoryIsListedForTheScreenshot() {
    fixtures::TempDir dir("vantrel-ui-start");
    fixtures::BackupOptions backup;
    backup.includeMessages = false;  // the first category is then the address book
    backup.contacts.personCount = 12;
    const fixtures::BackupTruth truth = fixtures::BuildBackup(dir.path(), backup);

    test::ScriptedPrompts prompts;
    MainWindow frame(prompts);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QVERIFY(frame.LoadPath(truth.folder));
    Application::ShowFirstCategory(frame);

    CategoryTree& tree = frame.treePane().tree();
    QTreeWidgetItem* node = frame.treePane().SelectedNode();
    QVERIFY(node);
    QCOMPARE(node, tree.topLevelItem(0)->child(0));
    QCOMPARE(CategoryTree::NodeName(node->parent()), QString("通讯录"));
    const int rows = frame.recordList().model()->rowCount();
    QCOMPARE(QString::number(rows), node->text(1));
    QVERIFY(rows > 0);
    QVERIFY(!frame.detailPane().text().isEmpty());
    QCOMPARE(frame.categoryPane().text(), CategoryTree::NodeName(node));
  }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
