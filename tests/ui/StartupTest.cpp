// Start-up: the command line (`vantrel [PATH]`, `--screenshot FILE [PATH]`)
// and what the screenshot run shows: the first category's records listed and
// the first row's detail.
#include <QtTest>

#include "ScriptedPrompts.h"
#include "fixtures/Fixtures.h"
#include "ui/CMainFrame.h"
#include "ui/CSkelderApp.h"

using namespace vantrel;

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void parsesPathAndScreenshot() {
    StartOptions options;
    QString error;
    QVERIFY(CSkelderApp::ParseArguments({}, options, error));
    QVERIFY(!options.path && !options.screenshot);

    options = {};
    QVERIFY(CSkelderApp::ParseArguments({"/backups/abc"}, options, error));
    QCOMPARE(options.path, std::optional<std::string>("/backups/abc"));

    options = {};
    QVERIFY(CSkelderApp::ParseArguments({"--screenshot", "out.png", "/b"}, options, error));
    QCOMPARE(options.screenshot, std::optional<std::string>("out.png"));
    QCOMPARE(options.path, std::optional<std::string>("/b"));

    options = {};
    QVERIFY(!CSkelderApp::ParseArguments({"--screenshot"}, options, error));
    QVERIFY(error.contains("--screenshot"));
    QVERIFY(!CSkelderApp::ParseArguments({"--bogus"}, options, error));
    QVERIFY(error.contains("--bogus"));
    options = {};
    QVERIFY(!CSkelderApp::ParseArguments({"/a", "/b"}, options, error));
  }

  void firstCategoryIsListedForTheScreenshot() {
    fixtures::TempDir dir("vantrel-ui-start");
    fixtures::BackupOptions backup;
    backup.includeMessages = false;  // the first category is then the address book
    backup.contacts.personCount = 12;
    const fixtures::BackupTruth truth = fixtures::BuildBackup(dir.path(), backup);

    test::ScriptedPrompts prompts;
    CMainFrame frame(prompts);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QVERIFY(frame.LoadPath(truth.folder));
    CSkelderApp::ShowFirstCategory(frame);

    CColumnTreeCtrl& tree = frame.treePane().tree();
    QTreeWidgetItem* node = frame.treePane().SelectedNode();
    QVERIFY(node);
    QCOMPARE(node, tree.topLevelItem(0)->child(0));
    QCOMPARE(tree.GetItemText(node->parent()), QString("通讯录"));
    const int rows = frame.listPane().list().model()->rowCount();
    QCOMPARE(QString::number(rows), node->text(1));
    QVERIFY(rows > 0);
    QVERIFY(!frame.detailPane().text().isEmpty());
    QCOMPARE(frame.categoryPane().text(), tree.GetItemText(node));
  }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
