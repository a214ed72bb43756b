// The backup selection dialog on a default backup folder made of fixture
// backups (the candidate list pointed at a test folder): rows with names,
// dates and versions, the message line, row selection, another folder, a
// single file, what OK hands back and what the next opening remembers, where
// its controls stand; and the small controls: link label, progress dialog,
// about box.
#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QtTest>
#include <algorithm>
#include <fstream>

#include "ScriptedPrompts.h"
#include "fixtures/Fixtures.h"
#include "platform/UserFolders.h"
#include "platform/Version.h"
#include "ui/AboutDialog.h"
#include "ui/BackupPickerDialog.h"
#include "ui/LoadProgressDialog.h"

using namespace vantrel;

namespace {

struct ListedBackup {
  std::string folder, name, date, version;
};

fixtures::BackupOptions BackupWithoutDatabases(uint64_t seed) {
  fixtures::BackupOptions options;
  options.seed = seed;
  options.includeMessages = options.includeContacts = options.includeCalls = false;
  return options;
}

QStringList RowTexts(const BackupListModel& model, int row) {
  return {model.data(model.index(row, 0)).toString(), model.data(model.index(row, 1)).toString(),
          model.data(model.index(row, 2)).toString()};
}

}  // namespace

class SelectionDialogTest : public QObject {
  Q_OBJECT

  std::unique_ptr<fixtures::TempDir> dir_;
  std::string root_;
  std::string otherBackup_;
  std::vector<ListedBackup> expected_;  // in listing order
  test::ScriptedPrompts prompts_;
  std::vector<QString> opened_;

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<fixtures::TempDir>("vantrel-ui-select");
    root_ = dir_->File("Backup");
    auto full = BackupWithoutDatabases(11);
    full.deviceName = "张伟的 iPhone";
    full.productVersion = "7.1.2";
    full.lastBackupDate = "2014-07-17T19:15:04Z";
    auto older = BackupWithoutDatabases(12);
    older.deviceName = "Work phone";
    older.productVersion = "6.1.3";
    older.iosVersion = 6;
    older.lastBackupDate = "2013-05-20T08:12:34Z";
    auto manifestOnly = BackupWithoutDatabases(13);
    manifestOnly.writeInfoPlist = false;
    for (const auto& options : {full, older, manifestOnly}) {
      const fixtures::BackupTruth truth = fixtures::BuildBackup(root_, options);
      if (options.writeInfoPlist) {
        expected_.push_back(
            {truth.folder, options.deviceName, options.lastBackupDate, options.productVersion});
      } else {
        expected_.push_back({truth.folder, truth.deviceId, "", ""});  // the folder's own name
      }
    }
    std::ofstream(root_ + "/not-a-backup.txt") << "x";  // plain files are not examined
    std::sort(expected_.begin(), expected_.end(),
              [](const ListedBackup& a, const ListedBackup& b) { return a.folder < b.folder; });

    auto other = BackupWithoutDatabases(14);
    other.deviceName = "Other device";
    otherBackup_ = fixtures::BuildBackup(dir_->File("elsewhere"), other).folder;

    LinkLabel::SetOpener([this](const QString& target) { opened_.push_back(target); });
  }

  void init() {
    prompts_ = test::ScriptedPrompts();
    opened_.clear();
    const std::string root = root_;
    SetBackupCandidatesProvider([root] { return std::vector<std::string>{root}; });
  }

  void cleanupTestCase() {
    SetBackupCandidatesProvider({});
    LinkLabel::SetOpener({});
  }

  void listsTheDefaultFolderBackups() {
    RememberedBackups remembered;
    BackupPickerDialog dialog(remembered, prompts_, "/previous/path");
    QAbstractItemModelTester tester(&dialog.backupRows(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(dialog.windowTitle(), QString("选择备份"));
    const BackupListModel& rows = dialog.backupRows();
    QCOMPARE(rows.headerData(0, Qt::Horizontal).toString(), QString("设备名称"));
    QCOMPARE(rows.headerData(1, Qt::Horizontal).toString(), QString("备份日期"));
    QCOMPARE(rows.headerData(2, Qt::Horizontal).toString(), QString("设备版本"));
    QCOMPARE(dialog.backupList().columnWidth(0), 200);
    QCOMPARE(dialog.backupList().columnWidth(1), 180);
    QCOMPARE(dialog.backupList().columnWidth(2), 100);

    QCOMPARE(rows.rowCount(), 3);
    for (int r = 0; r < 3; ++r) {
      const ListedBackup& e = expected_[r];
      QCOMPARE(RowTexts(rows, r),
               QStringList({QString::fromStdString(e.name), QString::fromStdString(e.date),
                            QString::fromStdString(e.version)}));
    }
    QCOMPARE(dialog.messageLine().text(),
             QString("发现3个备份,如果你的备份没有存储在此文件夹，请选择"));
    // Nothing selected yet: the caller's path stays in the field.
    QCOMPARE(dialog.pathField().text(), QString("/previous/path"));

    // The default-folder link opens the folder.
    QCOMPARE(dialog.defaultFolderLink().CurrentColour(), QColor(0, 0, 255));
    QTest::mouseClick(&dialog.defaultFolderLink(), Qt::LeftButton);
    QCOMPARE(opened_, std::vector<QString>({QString::fromStdString(root_)}));
    QVERIFY(dialog.defaultFolderLink().visited());
    QCOMPARE(dialog.defaultFolderLink().CurrentColour(), QColor(255, 0, 0));
    QVERIFY(dialog.defaultFolderLink().font().underline());
  }

  void okHandsBackTheSelectedRowAndTheNextOpeningSelectsItAgain() {
    RememberedBackups remembered;
    {
      BackupPickerDialog dialog(remembered, prompts_, "");
      dialog.backupList().selectRow(1);
      QCOMPARE(dialog.pathField().text().toStdString(), expected_[1].folder);
      QTest::mouseClick(&dialog.okButton(), Qt::LeftButton);
      QCOMPARE(dialog.result(), int(QDialog::Accepted));
      QCOMPARE(dialog.pathText(), expected_[1].folder);
    }
    QCOMPARE(remembered.lastRow(), 1);
    {
      BackupPickerDialog dialog(remembered, prompts_, "ignored");
      QCOMPARE(dialog.backupList().selectionModel()->currentIndex().row(), 1);
      QCOMPARE(dialog.pathField().text().toStdString(), expected_[1].folder);
      dialog.backupList().selectRow(0);
      QTest::mouseClick(&dialog.cancelButton(), Qt::LeftButton);
      QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
    QCOMPARE(remembered.lastRow(), 1);  // Cancel stores nothing
  }

  void anotherFolderIsAddedAndRememberedAfterTheDefaultOnes() {
    RememberedBackups remembered;
    {
      BackupPickerDialog dialog(remembered, prompts_, "");
      prompts_.backupFolderAnswer = dir_->path();  // a folder of backups, not one backup
      QTest::mouseClick(&dialog.otherFolderLink(), Qt::LeftButton);
      QCOMPARE(dialog.backupRows().rowCount(), 3);

      prompts_.backupFolderAnswer = otherBackup_;
      QTest::mouseClick(&dialog.otherFolderLink(), Qt::LeftButton);
      QCOMPARE(dialog.backupRows().rowCount(), 4);
      QCOMPARE(RowTexts(dialog.backupRows(), 3).front(), QString("Other device"));
      QCOMPARE(dialog.pathField().text().toStdString(), otherBackup_);
      dialog.accept();
      QCOMPARE(dialog.pathText(), otherBackup_);
    }
    BackupPickerDialog again(remembered, prompts_, "");
    QCOMPARE(again.backupRows().rowCount(), 4);
    QCOMPARE(RowTexts(again.backupRows(), 3).front(), QString("Other device"));
    QCOMPARE(again.backupList().selectionModel()->currentIndex().row(), 3);
    QCOMPARE(again.pathField().text().toStdString(), otherBackup_);
  }

  // "其他备份文件夹" on a folder that holds backups: each of them becomes a row, the first one
  // selected and shown in the path field.
  void aFolderOfBackupsAddsTheBackupsItHolds() {
    RememberedBackups remembered;
    BackupPickerDialog dialog(remembered, prompts_, "");
    prompts_.backupFolderAnswer = dir_->File("elsewhere");
    QTest::mouseClick(&dialog.otherFolderLink(), Qt::LeftButton);
    QCOMPARE(dialog.backupRows().rowCount(), 4);
    QCOMPARE(RowTexts(dialog.backupRows(), 3).front(), QString("Other device"));
    QCOMPARE(dialog.pathField().text().toStdString(), otherBackup_);
    QCOMPARE(dialog.backupList().selectionModel()->currentIndex().row(), 3);
  }

  void aSingleFileReplacesTheRowSelection() {
    RememberedBackups remembered;
    BackupPickerDialog dialog(remembered, prompts_, "");
    dialog.backupList().selectRow(0);
    const std::string file = expected_[2].folder + "/Manifest.mbdb";

    // The same file as the field shows: nothing changes.
    dialog.pathField().setText(QString::fromStdString(file));
    prompts_.openFileAnswer = file;
    QTest::mouseClick(dialog.pathField().browseButton(), Qt::LeftButton);
    QCOMPARE(prompts_.lastStartName, std::string("Manifest"));
    QVERIFY(dialog.backupList().selectionModel()->currentIndex().isValid());

    dialog.backupList().selectRow(0);
    prompts_.openFileAnswer = expected_[0].folder + "/Info.plist";
    QTest::mouseClick(dialog.pathField().browseButton(), Qt::LeftButton);
    QVERIFY(!dialog.backupList().selectionModel()->currentIndex().isValid());
    QVERIFY(!dialog.backupList().selectionModel()->hasSelection());
    QCOMPARE(dialog.pathField().text().toStdString(), prompts_.openFileAnswer);
    dialog.accept();
    QCOMPARE(dialog.pathText(), prompts_.openFileAnswer);
    QCOMPARE(remembered.lastRow(), -1);

    // A field holding characters no file name may have: no dialog at all.
    const int calls = prompts_.openFileCalls;
    dialog.pathField().setText("a*b");
    dialog.pathField().Browse();
    QCOMPARE(prompts_.openFileCalls, calls);
  }

  void withoutADefaultFolderTheMessageKeepsItsLetterN() {
    const std::string missing = dir_->File("no-such-folder");
    SetBackupCandidatesProvider([missing] { return std::vector<std::string>{missing}; });
    RememberedBackups remembered;
    BackupPickerDialog dialog(remembered, prompts_, "");
    QCOMPARE(dialog.backupRows().rowCount(), 0);
    QCOMPARE(dialog.messageLine().text(),
             QString("发现N个备份,如果你的备份没有存储在此文件夹，请选择"));
    QTest::mouseClick(&dialog.defaultFolderLink(), Qt::LeftButton);
    QVERIFY(opened_.empty());
    QVERIFY(!dialog.defaultFolderLink().visited());
  }

  // Where the controls stand as the user sees them: every control whole and
  // inside the fixed-size dialog, none over another, in the designed order
  // (list; links and message on one row; hint over the path field's browse
  // button; path row; OK then Cancel at the list's right edge).
  void controlsStandInTheirDesignedOrder() {
    RememberedBackups remembered;
    BackupPickerDialog dialog(remembered, prompts_, "/previous/path");
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());

    auto labelWithText = [&dialog](const QString& text) -> QLabel* {
      for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text() == text) return label;
      }
      return nullptr;
    };
    QLabel* hint = labelWithText("还可以选择单个文件↘");
    QLabel* pathLabel = labelWithText("文件路径:");
    QVERIFY(hint && pathLabel);
    QWidget* controls[] = {&dialog.backupList(),
                           &dialog.defaultFolderLink(),
                           &dialog.messageLine(),
                           &dialog.otherFolderLink(),
                           hint,
                           pathLabel,
                           &dialog.pathField(),
                           &dialog.okButton(),
                           &dialog.cancelButton()};
    auto name = [](QWidget* control) {
      const auto* label = qobject_cast<QLabel*>(control);
      return QByteArray(control->metaObject()->className()) + " " +
             (label ? label->text().toUtf8() : QByteArray());
    };
    for (QWidget* control : controls) {
      QVERIFY2(control->isVisible(), name(control));
      QVERIFY2(dialog.rect().contains(control->geometry()), name(control));
      for (QWidget* other : controls) {
        if (other == control) continue;
        QVERIFY2(!control->geometry().intersects(other->geometry()),
                 name(control) + " over " + name(other));
      }
    }
    // Texts are shown whole: single-line labels as wide as their text, the
    // message as tall as its wrapped lines.
    for (QLabel* label : {static_cast<QLabel*>(&dialog.defaultFolderLink()),
                          static_cast<QLabel*>(&dialog.otherFolderLink()), hint, pathLabel}) {
      QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
    }
    QLabel& message = dialog.messageLine();
    QVERIFY(message.height() >= message.heightForWidth(message.width()));

    const QRect list = dialog.backupList().geometry();
    const QRect defaultLink = dialog.defaultFolderLink().geometry();
    const QRect messageLine = message.geometry();
    const QRect otherLink = dialog.otherFolderLink().geometry();
    QVERIFY(list.bottom() < defaultLink.top());
    QCOMPARE(messageLine.top(), defaultLink.top());
    QCOMPARE(otherLink.top(), defaultLink.top());
    QVERIFY(defaultLink.right() < messageLine.left() && messageLine.right() < otherLink.left());

    const QRect path = dialog.pathField().geometry();
    const QToolButton* browse = dialog.pathField().browseButton();
    const QRect browseButton(browse->mapTo(&dialog, QPoint(0, 0)), browse->size());
    QVERIFY(messageLine.bottom() < hint->geometry().top());
    QVERIFY(hint->geometry().bottom() < path.top());
    QVERIFY(browseButton.left() <= hint->geometry().right() &&
            hint->geometry().right() <= browseButton.right());
    QVERIFY(pathLabel->geometry().right() < path.left());
    QVERIFY(qAbs(pathLabel->geometry().center().y() - path.center().y()) <= 1);

    const QRect ok = dialog.okButton().geometry();
    const QRect cancel = dialog.cancelButton().geometry();
    QVERIFY(path.bottom() < ok.top());
    QCOMPARE(cancel.top(), ok.top());
    QVERIFY(ok.right() < cancel.left());
    QCOMPARE(cancel.right(), list.right());
  }

  void hyperlinkColoursFollowHoverAndVisit() {
    LinkLabel link("link");
    link.SetColours(QColor(0, 0, 255), QColor(255, 0, 0), QColor(125, 125, 0));
    link.SetOpenOnClick(false);
    QCOMPARE(link.cursor().shape(), Qt::PointingHandCursor);
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&link, &enter);
    QCOMPARE(link.CurrentColour(), QColor(125, 125, 0));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&link, &leave);
    QCOMPARE(link.CurrentColour(), QColor(0, 0, 255));
    QSignalSpy clicked(&link, &LinkLabel::clicked);
    QTest::mouseClick(&link, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QVERIFY(!link.visited());  // opening is off: it never turns visited
  }

  void progressAndAboutDialogs() {
    LoadProgressDialog progress;
    QCOMPARE(progress.windowTitle(), QString("进度条"));
    QCOMPARE(progress.position(), 0);
    for (int i = 0; i < 6; ++i) progress.Step();
    QCOMPARE(progress.position(), progress.bar()->maximum());
    QCOMPARE(progress.bar()->maximum(), 6);

    AboutDialog about;
    QCOMPARE(about.windowTitle(), QString("关于 Vantrel For iPhone Backup"));
    auto* text = about.findChild<QLabel*>("aboutText");
    QVERIFY(text);
    QCOMPARE(text->text(), QString("Vantrel For iPhone Backup ") + VersionNumber());
  }
};

QTEST_MAIN(SelectionDialogTest)
#include "SelectionDialogTest.moc"
