// Encrypted backups in the window: the password dialog (a wrong password is
// said and may be tried again, the right one unlocks, Cancel while the key is
// being derived gives up at once), and the main window asking for the
// password before it loads, showing what the unencrypted twin shows.
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "ScriptedPrompts.h"
#include "fixtures/Fixtures.h"
#include "load/BackupLoader.h"
#include "ui/BackupPasswordDialog.h"
#include "ui/MainWindow.h"

using namespace vantrel;

namespace {

constexpr char kPassword[] = "窗口 password";

QStringList TreeTexts(CategoryTree& tree) {
  QStringList texts;
  for (int i = 0; i < tree.topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = tree.topLevelItem(i);
    for (int k = 0; k < top->childCount(); ++k)
      texts << top->text(0) + "/" + top->child(k)->text(0) + "/" + top->child(k)->text(1);
  }
  return texts;
}

}  // namespace

class EncryptedBackupUiTest : public QObject {
  Q_OBJECT

  std::unique_ptr<fixtures::TempDir> dir_;
  fixtures::BackupTruth plain_, locked_;

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<fixtures::TempDir>("vantrel-ui-encrypted");
    fixtures::BackupOptions o;
    o.seed = 51;
    o.layout = fixtures::ManifestLayout::ManifestDb;
    o.productVersion = "16.1";
    o.modernDatabases = true;
    plain_ = fixtures::BuildBackup(dir_->File("plain"), o);
    o.password = kPassword;
    // Enough rounds that the derivation is still running when Cancel is pressed.
    o.keybagDoublePassIterations = 400000;
    locked_ = fixtures::BuildBackup(dir_->File("locked"), o);
  }

  void wrongPasswordIsSaidThenTheRightOneUnlocks() {
    BackupPasswordDialog dialog(locked_.folder);
    dialog.show();
    QCOMPARE(dialog.passwordField()->echoMode(), QLineEdit::Password);
    QTest::keyClicks(dialog.passwordField(), "not it");
    dialog.Unlock();
    QVERIFY(dialog.busy());
    QVERIFY(dialog.passwordField()->text().isEmpty());  // not kept in the field
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.busy(), 30000);
    QCOMPARE(dialog.noticeLabel()->text(), QString(kWrongPasswordText));
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.passwordField()->isEnabled());

    dialog.passwordField()->setText(QString::fromUtf8(kPassword));  // typed through an input method
    dialog.Unlock();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.busy(), 30000);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    std::optional<BackupKeys> keys = dialog.TakeKeys();
    QVERIFY(keys && keys->unlocked());
  }

  void cancelWhileDerivingGivesUpAtOnce() {
    auto dialog = std::make_unique<BackupPasswordDialog>(locked_.folder);
    dialog->show();
    dialog->passwordField()->setText(QString::fromUtf8(kPassword));
    dialog->Unlock();
    QVERIFY(dialog->busy());
    dialog->reject();
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QVERIFY(!dialog->busy());
    QVERIFY(!dialog->TakeKeys());
    // The dialog goes before the derivation ends: its result must land nowhere.
    dialog.reset();
    QTest::qWait(3000);
  }

  void mainWindowAsksThenShowsWhatTheTwinShows() {
    test::ScriptedPrompts prompts;
    MainWindow window(prompts);
    QVERIFY(window.LoadPath(plain_.folder));
    QCOMPARE(prompts.passwordCalls, 0);  // an unencrypted backup asks nothing
    const QStringList plainTree = TreeTexts(window.treePane().tree());
    QVERIFY(plainTree.size() >= 5);

    // Cancelled: nothing loaded, the window keeps what it showed.
    prompts.passwordAnswer.reset();
    QVERIFY(!window.LoadPath(locked_.folder));
    QCOMPARE(prompts.passwordCalls, 1);
    QCOMPARE(window.backupPath(), plain_.folder);

    prompts.passwordAnswer = kPassword;
    QVERIFY(window.LoadPath(locked_.folder));
    QCOMPARE(prompts.passwordCalls, 2);
    QCOMPARE(TreeTexts(window.treePane().tree()), plainTree);
    QVERIFY(prompts.messages.empty());
  }
};

QTEST_MAIN(EncryptedBackupUiTest)
#include "EncryptedBackupUiTest.moc"
