// The window on an sms.db written by SQLite whose deleted messages partly
// left only their GUID index entries: the 仅存索引 node under 短信, its count,
// its rows (GUID, rowid, content lost, where) in rowid order when sorted, and
// the detail pane's place line; the other nodes count as before.
#include <QtTest>
#include <set>
#include <string>

#include "ScriptedPrompts.h"
#include "fixtures/Fixtures.h"
#include "ui/MainWindow.h"

using namespace vantrel;

class TracesWindowTest : public QObject {
  Q_OBJECT
  std::unique_ptr<fixtures::TempDir> dir_;
  std::string path_;
  fixtures::IndexTraceTruth truth_;
  std::set<std::string> expected_;
  test::ScriptedPrompts prompts_;
  std::unique_ptr<MainWindow> frame_;

  QTreeWidgetItem* MessagesChild(const QString& name) {
    CategoryTree& tree = frame_->treePane().tree();
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
      QTreeWidgetItem* top = tree.topLevelItem(i);
      if (CategoryTree::NodeName(top) != "短信") continue;
      for (int k = 0; k < top->childCount(); ++k)
        if (CategoryTree::NodeName(top->child(k)) == name) return top->child(k);
    }
    return nullptr;
  }

 private slots:
  void initTestCase() {
    dir_ = std::make_unique<fixtures::TempDir>();
    path_ = dir_->File("sms.db");
    truth_ = fixtures::BuildIndexTraceMessages(path_, 4096, 40);
    expected_ = fixtures::ExpectedIndexTraces(path_, truth_);
    QVERIFY(!expected_.empty());
    frame_ = std::make_unique<MainWindow>(prompts_);
    QVERIFY(frame_->LoadPath(path_));
  }

  void nodeRowsAndDetail() {
    QTreeWidgetItem* node = MessagesChild("仅存索引");
    QVERIFY(node != nullptr);
    QCOMPARE(node->text(1), QString::number(expected_.size()));
    frame_->treePane().OnNodeClicked(node);
    const RecordTableModel& records = frame_->recordList().records();
    QCOMPARE(records.rowCount(), static_cast<int>(expected_.size()));
    const std::string bytes = fixtures::ReadFileBytes(path_);
    std::set<std::string> shown;
    for (int r = 0; r < records.rowCount(); ++r) {
      const std::string guid = records.CellText(r, 0);
      shown.insert(guid);
      const std::string rowid = records.CellText(r, 1);
      if (!rowid.empty()) QCOMPARE(rowid, std::to_string(truth_.rowidOf.at(guid)));
      QCOMPARE(records.CellText(r, 2), std::string(kContentLostText));
      const MessageTrace* trace = records.TraceAt(r);
      QVERIFY(trace != nullptr);
      QCOMPARE(bytes.substr(trace->found.offset, 36), guid);
      frame_->detailPane().ShowRow(r);
      const std::string detail = frame_->detailPane().text().toStdString();
      QVERIFY(detail.find(guid) != std::string::npos);
      QVERIFY(detail.find("内容已丢失") != std::string::npos);
      const std::string where = "位置：" + path_ + " 第 " + std::to_string(trace->found.page) +
                                " 页 偏移 " + std::to_string(trace->found.offset);
      QVERIFY2(detail.find(where) != std::string::npos, detail.c_str());
    }
    QCOMPARE(shown, expected_);
  }

  void rowidsSortAsNumbers() {
    frame_->treePane().OnNodeClicked(MessagesChild("仅存索引"));
    RecordTableModel& records = frame_->recordList().records();
    records.sort(1, Qt::AscendingOrder);
    int64_t last = 0;
    for (int r = 0; r < records.rowCount(); ++r) {
      const std::string rowid = records.CellText(r, 1);
      const int64_t value = rowid.empty() ? 0 : std::stoll(rowid);
      QVERIFY(value >= last);
      last = value;
    }
  }

  void otherNodesCountAsListed() {
    for (const QString& name : {QString("删除数据"), QString("现存数据")}) {
      QTreeWidgetItem* node = MessagesChild(name);
      QVERIFY(node != nullptr);
      frame_->treePane().OnNodeClicked(node);
      QCOMPARE(node->text(1), QString::number(frame_->recordList().records().rowCount()));
      // No trace among the messages.
      for (int r = 0; r < frame_->recordList().records().rowCount(); ++r)
        QVERIFY(frame_->recordList().records().TraceAt(r) == nullptr);
    }
  }
};

QTEST_MAIN(TracesWindowTest)
#include "TracesWindowTest.moc"
