// What the window remembers between runs: a window closed with its size,
// splitters, column widths, remembered backups and TXT code page changed
// comes back the same in the next window on the same settings; the TXT file
// it then writes is in the chosen code page; a dialog opens where its kind
// was last left. Every settings file lives in a scratch folder, and Qt's
// test mode keeps the user's own settings out of reach.
#include <QHeaderView>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "ScriptedPrompts.h"
#include "backup/Discovery.h"
#include "fixtures/Fixtures.h"
#include "platform/Text.h"
#include "ui/MainWindow.h"
#include "ui/QtUserPrompts.h"
#include "ui/Settings.h"

using namespace vantrel;

class SettingsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<fixtures::TempDir> dir_;
  fixtures::BackupTruth backup_;
  QTemporaryDir scratch_;

  QString SettingsFile(const char* name) { return scratch_.filePath(name); }

  static QTreeWidgetItem* LiveMessagesNode(MainWindow& frame) {
    QTreeWidgetItem* messages = frame.treePane().tree().topLevelItem(0);
    for (int k = 0; k < messages->childCount(); ++k) {
      if (messages->child(k)->text(0) == "现存数据") return messages->child(k);
    }
    return nullptr;
  }

 private slots:
  void initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(scratch_.isValid());
    dir_ = std::make_unique<fixtures::TempDir>("vantrel-settings");
    fixtures::BackupOptions options;
    options.messages.messageCount = 40;
    options.contacts.personCount = 5;
    options.calls.callCount = 5;
    backup_ = fixtures::BuildBackup(dir_->File("backups"), options);
  }

  void freshSettingsStartAsBefore() {
    Settings settings(SettingsFile("fresh.ini"));
    test::ScriptedPrompts prompts;
    MainWindow frame(prompts);
    frame.resize(1200, 800);
    frame.UseSettings(&settings);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QCOMPARE(frame.treePane().width(), MainWindow::kTreePaneWidth);
    QCOMPARE(frame.txtEncoding(), std::string("UTF-8"));
    QCOMPARE(frame.txtEncodingBox().currentText(), QString("UTF-8"));
    // The Chinese code pages of the mainland, Taiwan and Hong Kong are offered.
    const QStringList offered = MainWindow::TxtEncodings();
    QCOMPARE(offered.front(), QString("UTF-8"));
    QVERIFY(offered.contains("GBK"));
    QVERIFY(offered.contains("Big5"));
    QVERIFY(frame.rememberedBackups().folders().empty());
    QCOMPARE(LayoutColumns(RecordKind::Messages).front().width,
             frame.recordList().ColumnWidths(RecordKind::Messages).front());
  }

  void windowComesBackAsItWasLeft() {
    const QString file = SettingsFile("kept.ini");
    {
      Settings settings(file);
      test::ScriptedPrompts prompts;
      MainWindow frame(prompts);
      frame.resize(1200, 800);
      frame.UseSettings(&settings);
      frame.show();
      QVERIFY(QTest::qWaitForWindowExposed(&frame));
      frame.resize(1000, 700);
      QTRY_COMPARE(frame.width(), 1000);
      frame.splitter().setSizes({420, 1000 - 420});
      QTRY_COMPARE(frame.treePane().width(), 420);

      // The folder holding the backup, chosen in its place: the picker opens
      // (cancelled here) with the backup remembered.
      const std::string holder = dir_->File("backups");
      QVERIFY(!frame.LoadPath(holder));
      QCOMPARE(frame.rememberedBackups().folders().back(), backup_.folder);

      QVERIFY(frame.LoadPath(backup_.folder));
      frame.treePane().OnNodeClicked(LiveMessagesNode(frame));
      frame.recordList().horizontalHeader()->resizeSection(0, 260);
      frame.txtEncodingBox().setCurrentText("GBK");
      QCOMPARE(frame.txtEncoding(), std::string("GBK"));
      frame.close();
    }

    Settings settings(file);
    test::ScriptedPrompts prompts;
    MainWindow frame(prompts);
    frame.resize(1200, 800);
    frame.UseSettings(&settings);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QCOMPARE(frame.size(), QSize(1000, 700));
    QCOMPARE(frame.treePane().width(), 420);
    QCOMPARE(frame.txtEncodingBox().currentText(), QString("GBK"));
    QCOMPARE(frame.txtEncoding(), std::string("GBK"));
    QCOMPARE(frame.rememberedBackups().folders().back(), backup_.folder);

    QVERIFY(frame.LoadPath(backup_.folder));
    frame.treePane().OnNodeClicked(LiveMessagesNode(frame));
    QCOMPARE(frame.recordList().columnWidth(0), 260);
    // Columns never dragged keep their layout's width.
    QCOMPARE(frame.recordList().columnWidth(1), LayoutColumns(RecordKind::Messages)[1].width);

    // The saved TXT is in GBK: the owner's messages come out as GBK bytes.
    frame.treePane().tree().setCurrentItem(LiveMessagesNode(frame));
    const std::string saved = dir_->File("sms.txt");
    prompts.saveFileAnswer = saved;
    frame.action("saveCurrentTxt").trigger();
    QVERIFY(prompts.errors.empty());
    const std::string bytes = fixtures::ReadFileBytes(saved);
    const std::string& firstText = frame.collections().liveMessages.begin()->second.front().text;
    QVERIFY(!firstText.empty());
    std::string inGbk;
    QVERIFY(ConvertEncoding(firstText, "UTF-8", "GBK", inGbk));
    QVERIFY(bytes.find(inGbk) != std::string::npos);
  }

  void dialogsOpenWhereTheirKindWasLeft() {
    Settings settings(SettingsFile("folders.ini"));
    QtUserPrompts prompts;
    prompts.SetSettings(&settings);
    QCOMPARE(prompts.StartFolder(DialogFolder::SaveFile, "/fallback"), QString("/fallback"));
    QTemporaryDir saveHere, exportHere;
    settings.setLastFolder(DialogFolder::SaveFile, saveHere.path());
    settings.setLastFolder(DialogFolder::ExportFolder, exportHere.path());
    QCOMPARE(prompts.StartFolder(DialogFolder::SaveFile), saveHere.path());
    QCOMPARE(prompts.StartFolder(DialogFolder::ExportFolder), exportHere.path());
    QCOMPARE(prompts.StartFolder(DialogFolder::OpenFile, "/fallback"), QString("/fallback"));
    // A folder that has gone since (an unplugged disk) is not offered.
    const QString gone = saveHere.path();
    saveHere.remove();
    QCOMPARE(prompts.StartFolder(DialogFolder::SaveFile, "/fallback"), QString("/fallback"));
    QVERIFY(!gone.isEmpty());
  }

  void userSettingsAreOutOfReach() {
    // In test mode QStandardPaths points into a test folder; QSettings with
    // the application's names would write there, never into the user's own.
    QVERIFY(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).contains("qttest"));
  }
};

QTEST_MAIN(SettingsTest)
#include "SettingsTest.moc"
