// The window's conversations and search on a fixture backup made by SQLite
// with deleted messages: the 会话 node holds every message once, a
// conversation lists its live and recovered messages in time order with the
// recovered ones marked and coloured; the search field and the date range
// narrow the list as the user types, whatever the case or width typed, and
// the count pane says how many of how many are shown.
#include <QAbstractItemModelTester>
#include <QtTest>
#include <map>

#include "ScriptedPrompts.h"
#include "fixtures/Fixtures.h"
#include "ui/MainWindow.h"

using namespace vantrel;

namespace {

constexpr int64_t kAppleEpoch = 978307200;  // 2001-01-01 in Unix seconds

// The text with its ASCII letters and digits in their full-width forms, as a
// Chinese input method types them.
QString FullWidth(const QString& text) {
  QString wide;
  for (QChar c : text)
    wide += (c.unicode() > 0x20 && c.unicode() < 0x7f) ? QChar(c.unicode() + 0xFEE0) : c;
  return wide;
}

}  // namespace

class ConversationSearchTest : public QObject {
  Q_OBJECT

  std::unique_ptr<fixtures::TempDir> dir_;
  fixtures::BackupTruth backup_;
  test::ScriptedPrompts prompts_;
  std::unique_ptr<MainWindow> frame_;

  CategoryPane& pane() { return frame_->treePane(); }
  RecordTableModel& records() { return frame_->recordList().records(); }
  const Collections& data() { return frame_->collections(); }

  QTreeWidgetItem* Node(const QString& name) {
    QTreeWidgetItem* messages = pane().tree().topLevelItem(0);
    for (int k = 0; k < messages->childCount(); ++k) {
      if (messages->child(k)->text(0) == name) return messages->child(k);
    }
    return nullptr;
  }

  void Click(QTreeWidgetItem* node) {
    pane().tree().setCurrentItem(node);
    pane().OnNodeClicked(node);
  }

  size_t LiveCount() {
    size_t n = 0;
    for (const auto& [address, list] : data().liveMessages) n += list.size();
    return n;
  }

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<fixtures::TempDir>("vantrel-conversations");
    fixtures::BackupOptions options;
    options.messages.messageCount = 200;
    backup_ = fixtures::BuildBackup(dir_->File("backups"), options);
  }

  void init() {
    prompts_ = test::ScriptedPrompts();
    frame_ = std::make_unique<MainWindow>(prompts_);
    frame_->resize(1200, 800);
    frame_->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
    QVERIFY(frame_->LoadPath(backup_.folder));
    QVERIFY(!data().deletedMessages.empty());
  }

  void cleanup() { frame_.reset(); }

  void everyMessageIsInExactlyOneConversation() {
    QTreeWidgetItem* node = Node("会话");
    QVERIFY(node);
    QCOMPARE(node, pane().conversationsNode());
    QCOMPARE(node->text(1).toInt(), node->childCount());
    // One node per live address at least; every message, live or recovered,
    // counted once among them.
    QVERIFY(node->childCount() >= static_cast<int>(data().liveMessages.size()));
    size_t listed = 0;
    for (int i = 0; i < node->childCount(); ++i) listed += node->child(i)->text(1).toULongLong();
    QCOMPARE(listed, LiveCount() + data().deletedMessages.size());

    // Recovered messages whose party is unknown: 未知会话, holding exactly those.
    size_t unknown = 0;
    for (const MessageRecord& m : data().deletedMessages) unknown += m.address.empty();
    QTreeWidgetItem* last = node->child(node->childCount() - 1);
    if (unknown > 0) {
      QCOMPARE(last->text(0), QString("未知会话"));
      QCOMPARE(last->text(1).toULongLong(), unknown);
    }
    for (int i = 0; i + 1 < node->childCount(); ++i) QVERIFY(node->child(i)->text(0) != "未知会话");

    // A one-to-one conversation holds its address's live messages (and any
    // recovered ones of that address).
    const auto& [address, live] = *data().liveMessages.begin();
    size_t recoveredThere = 0;
    for (const MessageRecord& m : data().deletedMessages) recoveredThere += m.address == address;
    bool found = false;
    for (const Conversation& c : pane().conversations()) {
      if (c.address != address) continue;
      found = true;
      QCOMPARE(c.messages.size(), live.size() + recoveredThere);
    }
    QVERIFY(found);
  }

  void aConversationShowsRecoveredMessagesWhereTheyWereSaid() {
    QTreeWidgetItem* conversations = Node("会话");
    // The conversation with the most recovered messages (the unknown one when
    // no recovered message kept its party).
    int chosen = -1;
    size_t most = 0;
    for (int i = 0; i < static_cast<int>(pane().conversations().size()); ++i) {
      const Conversation& c = pane().conversations()[static_cast<size_t>(i)];
      if (c.deletedCount > most) {
        most = c.deletedCount;
        chosen = i;
      }
    }
    QVERIFY(chosen >= 0);
    QAbstractItemModelTester tester(&records(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    Click(conversations->child(chosen));
    const Conversation& c = pane().conversations()[static_cast<size_t>(chosen)];
    QCOMPARE(records().rowCount(), static_cast<int>(c.messages.size()));
    QCOMPARE(frame_->countPane().text(), QString("记录数：%1").arg(c.messages.size()));
    QVERIFY(frame_->categoryPane().text().startsWith("会话："));
    const int state = records().columnCount() - 1;
    QCOMPARE(records().headerData(state, Qt::Horizontal).toString(), QString("状态"));

    int marked = 0;
    std::optional<int32_t> previous;
    for (int r = 0; r < records().rowCount(); ++r) {
      const MessageRecord* m = records().MessageAt(r);
      QVERIFY(m);
      const bool recovered = records().CellText(r, state) == "已删除";
      // Recovered: taken from the deleted list; shown in the deleted colour.
      const bool isDeleted = m >= data().deletedMessages.data() &&
                             m < data().deletedMessages.data() + data().deletedMessages.size();
      QCOMPARE(recovered, isDeleted);
      const QVariant colour = records().data(records().index(r, 0), Qt::ForegroundRole);
      QCOMPARE(colour.isValid(), recovered);
      if (recovered) QCOMPARE(colour.value<QBrush>().color(), kDeletedNodeColour);
      marked += recovered;
      // Time order; messages without a date come last.
      if (m->date) {
        if (previous) QVERIFY(*previous <= *m->date);
        previous = m->date;
      }
    }
    QCOMPARE(marked, static_cast<int>(most));
  }

  void searchNarrowsTheListAsTheUserTypes() {
    Click(Node("现存数据"));
    const int total = static_cast<int>(LiveCount());
    QCOMPARE(frame_->countPane().text(), QString("记录数：%1").arg(total));

    // What the user expects "TOMORROW" to find: every message saying it, in any case.
    int expected = 0;
    for (const auto& [address, list] : data().liveMessages) {
      for (const MessageRecord& m : list)
        expected += QString::fromStdString(m.text).contains("tomorrow", Qt::CaseInsensitive);
    }
    QVERIFY(expected > 0);
    QVERIFY(expected < total);

    QTest::keyClicks(&frame_->searchBar().field(), "TOMORROW");
    QCOMPARE(records().rowCount(), expected);
    QCOMPARE(frame_->countPane().text(), QString("记录数：%1/%2").arg(expected).arg(total));
    for (int r = 0; r < records().rowCount(); ++r) {
      QVERIFY(QString::fromStdString(records().CellText(r, 0))
                  .contains("tomorrow", Qt::CaseInsensitive));
    }

    // Typed full width, as a Chinese input method may: the same rows.
    frame_->searchBar().field().setText(FullWidth("TOMORROW"));
    QCOMPARE(records().rowCount(), expected);

    // A filter stays when the category changes: the deleted list is filtered too.
    Click(Node("删除数据"));
    QCOMPARE(frame_->countPane().text(),
             QString("记录数：%1/%2").arg(records().rowCount()).arg(data().deletedMessages.size()));

    // Emptied: everything, and the count pane as without a filter.
    Click(Node("现存数据"));
    frame_->searchBar().field().clear();
    QCOMPARE(records().rowCount(), total);
    QCOMPARE(frame_->countPane().text(), QString("记录数：%1").arg(total));

    // A sort under a filter sorts every row: clearing the filter keeps the order.
    frame_->searchBar().field().setText("tomorrow");
    records().SortByHeaderClick(1);
    frame_->searchBar().field().clear();
    for (int r = 1; r < records().rowCount(); ++r)
      QVERIFY(records().CellText(r - 1, 1) <= records().CellText(r, 1));
  }

  void dateRangeKeepsTheDaysChosen() {
    Click(Node("现存数据"));
    // The local day of the first dated message, and what fell on that day.
    QDate day;
    std::map<QDate, int> perDay;
    for (const auto& [address, list] : data().liveMessages) {
      for (const MessageRecord& m : list) {
        if (!m.date) continue;
        const QDate d = QDateTime::fromSecsSinceEpoch(*m.date + kAppleEpoch).date();
        if (!day.isValid()) day = d;
        ++perDay[d];
      }
    }
    QVERIFY(day.isValid());
    SearchBar& bar = frame_->searchBar();
    QVERIFY(!bar.dateBox().isChecked());  // off by default
    QVERIFY(!bar.fromDate().isEnabled());
    bar.fromDate().setDate(day);
    bar.toDate().setDate(day);
    QCOMPARE(records().rowCount(), static_cast<int>(LiveCount()));  // still off
    bar.dateBox().setChecked(true);
    QCOMPARE(records().rowCount(), perDay[day]);
    // The "until" day counts whole: one more day adds that day's messages.
    bar.toDate().setDate(day.addDays(1));
    QCOMPARE(records().rowCount(), perDay[day] + perDay[day.addDays(1)]);
    bar.dateBox().setChecked(false);
    QCOMPARE(records().rowCount(), static_cast<int>(LiveCount()));
  }
};

QTEST_MAIN(ConversationSearchTest)
#include "ConversationSearchTest.moc"
