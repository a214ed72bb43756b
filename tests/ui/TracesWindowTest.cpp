// The window on an sms.db written by SQLite whose deleted messages partly
// left only their GUID index entries: the 仅存索引 node under 短信, its count,
// its rows (GUID, rowid, content lost, where) in rowid order when sorted, and
// the detail pane's place line; the other nodes count as before; and the
// window's whole saves (CSV, TXT, JSON, HTML) carry as many traces as the node
// shows.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <set>
#include <string>

#include "ScriptedPrompts.h"
#include "fixtures/Fixtures.h"
#include "ui/MainWindow.h"

using namespace vantrel;

namespace {

// How often needle occurs in text.
size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// A CSV file as the window writes it: UTF-16LE after its byte-order mark.
std::string CsvText(const std::string& path) {
  const std::string bytes = fixtures::ReadFileBytes(path);
  if (bytes.size() < 2 || bytes.substr(0, 2) != "\xFF\xFE") return {};
  return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.data() + 2),
                            static_cast<qsizetype>((bytes.size() - 2) / 2))
      .toStdString();
}

}  // namespace

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

  // Saving everything saves what the tree shows: each of the four whole saves
  // holds every trace of the node, once, and says it is done.
  void wholeSavesCarryTheTracesTheNodeShows() {
    QTreeWidgetItem* node = MessagesChild("仅存索引");
    QVERIFY(node != nullptr);
    const size_t shown = node->text(1).toULongLong();
    QCOMPARE(shown, expected_.size());
    fixtures::TempDir out("vantrel-ui-traces");
    prompts_.folderAnswer = out.path();
    const int done = prompts_.doneCount;
    frame_->action("saveAllCsv").trigger();
    frame_->action("saveAllTxt").trigger();
    frame_->action("exportJson").trigger();
    frame_->action("exportHtml").trigger();
    QVERIFY(prompts_.errors.empty());
    QCOMPARE(prompts_.doneCount, done + 4);

    const std::string csv = CsvText(out.File("SMS_Traces.CSV"));
    const std::string txt = fixtures::ReadFileBytes(out.File("SMS_Traces.txt"));
    QCOMPARE(Count(csv, ",content lost,"), shown);
    QCOMPARE(Count(txt, "GUID:"), shown);
    for (const std::string& guid : expected_) {
      QCOMPARE(Count(csv, guid + ","), size_t{1});
      QCOMPARE(Count(txt, "GUID:" + guid + "\r\n"), size_t{1});
    }

    const QJsonDocument json = QJsonDocument::fromJson(
        QByteArray::fromStdString(fixtures::ReadFileBytes(out.File("Vantrel.json"))));
    const QJsonArray traces = json.object().value("messageTraces").toArray();
    QCOMPARE(static_cast<size_t>(traces.size()), shown);
    std::set<std::string> inJson;
    for (const QJsonValue& t : traces)
      inJson.insert(t.toObject().value("guid").toString().toStdString());
    QCOMPARE(inJson, expected_);

    const std::string html = fixtures::ReadFileBytes(out.File("Report.html"));
    const size_t table = html.find("<table class=\"traces\">");
    QVERIFY(table != std::string::npos);
    const std::string section = html.substr(table, html.find("</table>", table) - table);
    QCOMPARE(Count(section, "<tr><td>"), shown);
    for (const std::string& guid : expected_)
      QCOMPARE(Count(section, "<tr><td>" + guid + "</td>"), size_t{1});
  }

  // A load that found no traces has no node for them, and its whole saves
  // write no traces file, no JSON array and no report section.
  void wholeSavesWithoutTracesLeaveThemOut() {
    fixtures::MessageOptions options;
    options.messageCount = 60;
    options.deleteFraction = 0;  // nothing deleted: no index entry outlives its message
    const std::string path = dir_->File("kept.db");
    fixtures::BuildMessagesDb(path, options);
    test::ScriptedPrompts prompts;
    MainWindow frame(prompts);
    QVERIFY(frame.LoadPath(path));
    QVERIFY(frame.collections().messageTraces.empty());
    fixtures::TempDir out("vantrel-ui-no-traces");
    prompts.folderAnswer = out.path();
    frame.action("saveAllCsv").trigger();
    frame.action("saveAllTxt").trigger();
    frame.action("exportJson").trigger();
    frame.action("exportHtml").trigger();
    QVERIFY(prompts.errors.empty());
    QCOMPARE(prompts.doneCount, 4);
    QVERIFY(QFile::exists(QString::fromStdString(out.File("SMS.CSV"))));
    QVERIFY(!QFile::exists(QString::fromStdString(out.File("SMS_Traces.CSV"))));
    QVERIFY(!QFile::exists(QString::fromStdString(out.File("SMS_Traces.txt"))));
    QCOMPARE(Count(fixtures::ReadFileBytes(out.File("Vantrel.json")), "messageTraces"), size_t{0});
    QCOMPARE(Count(fixtures::ReadFileBytes(out.File("Report.html")), "仅存索引"), size_t{0});
  }
};

QTEST_MAIN(TracesWindowTest)
#include "TracesWindowTest.moc"
