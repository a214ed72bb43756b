// The record list and the detail pane on collections built by hand: the three
// layouts, the fill orders and counts, cell texts, header-click sorting with
// selection kept, hover selection, and the detail text of every kind.
#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QSignalSpy>
#include <QtTest>

#include "ScriptedPrompts.h"
#include "export/CategoryNames.h"
#include "export/TimeText.h"
#include "model/ContactNames.h"
#include "model/Conversations.h"
#include "ui/DetailPane.h"
#include "ui/DetailText.h"
#include "ui/RecordListView.h"

using namespace vantrel;

namespace {

// Date 0 and direction 255 are unknown, as the loader leaves them.
MessageRecord Message(const std::string& text, int32_t date, int32_t readDate, uint8_t fromMe,
                      const std::string& service) {
  MessageRecord m;
  m.text = text;
  if (date != 0) m.date = date;
  m.readDate = readDate;
  if (fromMe != 255) m.fromMe = m.sent = fromMe != 0;
  m.service = service;
  return m;
}

Collections MakeCollections() {
  Collections c;
  c.liveMessages["+8613800000001"] = {Message("b-first", 400000000, 0, 255, "SMS"),
                                      Message("a-second", 400000100, 400000200, 1, "SMS")};
  c.liveMessages["10086"] = {Message("话费余额", 390000000, 390000050, 0, "SMS")};
  c.liveMessages["alice@example.com"] = {
      Message("你好, world\nline two", 410000000, 0, 0, "iMessage")};
  c.deletedMessages = {Message("deleted one", 380000000, 0, 1, "SMS"),
                       Message("deleted two", 380000500, 0, 0, "iMessage")};

  c.deletedContacts =
      DeletedContactList{{"13800000000", "张三"}, {"13900000000", "李四"}, {"13700000000", ""}};
  ContactRecord wang;
  wang.name = "王五";
  wang.phonetic = "wangwu";
  wang.propertyCodes = {3, 3};
  wang.labels = {"手机", "住宅"};
  wang.values = {"1", "2"};
  c.contacts[5] = wang;
  ContactRecord zhao;
  zhao.name = "赵六";
  zhao.organization = "某某公司";
  c.contacts[2] = zhao;

  c.liveCalls["10086"] = {CallRecord{1400000000, 3725, 0}};
  c.liveCalls["13800000000"] = {CallRecord{1400000500, 65, 1}, CallRecord{1400000900, 0, 0}};
  c.deletedCalls["13900000000"] = {CallRecord{1300000000, 10, 4}};
  return c;
}

QStringList Column(const RecordTableModel& model, int column) {
  QStringList texts;
  for (int r = 0; r < model.rowCount(); ++r)
    texts << QString::fromStdString(model.CellText(r, column));
  return texts;
}

QPoint HeaderPoint(QHeaderView* header, int section) {
  return QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                header->height() / 2);
}

}  // namespace

class RecordListTest : public QObject {
  Q_OBJECT

  Collections data_;
  test::ScriptedPrompts prompts_;
  std::unique_ptr<RecordListView> list_;
  std::unique_ptr<QAbstractItemModelTester> tester_;
  std::unique_ptr<DetailPane> detail_;

 private slots:
  void init() {
    data_ = MakeCollections();
    list_ = std::make_unique<RecordListView>();
    list_->resize(900, 300);
    tester_ = std::make_unique<QAbstractItemModelTester>(
        &list_->records(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    detail_ = std::make_unique<DetailPane>(*list_, data_.contacts, prompts_);
  }
  void cleanup() {
    detail_.reset();
    tester_.reset();
    list_.reset();
  }

  void layoutsHaveTheirHeadingsWidthsAndAlignment() {
    RecordTableModel& model = list_->records();
    QCOMPARE(model.columnCount(), 0);  // no columns before the first category click

    model.SetLayout(RecordKind::Messages);
    QCOMPARE(model.columnCount(), 7);
    const QStringList headings = {"短信", "时间",     "读取时间", "发送/接收",
                                  "服务", "号码地址", "联系人"};
    const QList<int> widths = {400, 200, 150, 50, 100, 100, 120};
    for (int c = 0; c < 7; ++c) {
      QCOMPARE(model.headerData(c, Qt::Horizontal).toString(), headings[c]);
      QCOMPARE(list_->columnWidth(c), widths[c]);
      QCOMPARE(model.headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
                   Qt::AlignHorizontal_Mask,
               Qt::AlignHCenter);
    }
    QCOMPARE(model.recordKind(), RecordKind::Messages);

    model.SetLayout(RecordKind::Contacts);
    QCOMPARE(model.columnCount(), 3);
    for (int c = 0; c < 3; ++c) QCOMPARE(model.headerData(c, Qt::Horizontal).toString(), QString());
    QCOMPARE(list_->columnWidth(0), 120);
    QCOMPARE(list_->columnWidth(1), 200);
    QVERIFY(list_->isColumnHidden(2));  // the person key the detail pane reads
    QCOMPARE(model.recordKind(), RecordKind::Contacts);

    model.SetLayout(RecordKind::Calls);
    QCOMPARE(model.columnCount(), 5);
    QVERIFY(!list_->isColumnHidden(2));
    const QStringList callHeadings = {"号码", "时间", "持续时间", "类型", "联系人"};
    const QList<int> callWidths = {200, 200, 100, 100, 120};
    for (int c = 0; c < 5; ++c) {
      QCOMPARE(model.headerData(c, Qt::Horizontal).toString(), callHeadings[c]);
      QCOMPARE(list_->columnWidth(c), callWidths[c]);
      QCOMPARE(model.headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
                   Qt::AlignHorizontal_Mask,
               Qt::AlignLeft);
    }
    QCOMPARE(model.recordKind(), RecordKind::Calls);
  }

  void liveMessagesListLastAddressFirstEachInRecordOrder() {
    RecordTableModel& model = list_->records();
    model.SetLayout(RecordKind::Messages);
    const std::optional<int> count = model.FillLiveMessages(data_.liveMessages);
    QCOMPARE(count, std::optional<int>(4));
    QCOMPARE(Column(model, 0),
             QStringList({"你好, world\nline two", "话费余额", "b-first", "a-second"}));
    QCOMPARE(Column(model, 5),
             QStringList({"alice@example.com", "10086", "+8613800000001", "+8613800000001"}));
    // Unread messages show an empty read time; an unknown direction is empty,
    // never taken for sent.
    const MessageRecord& b = data_.liveMessages["+8613800000001"][0];
    QCOMPARE(model.CellText(2, 1), MessageDateText(400000000));
    QCOMPARE(model.CellText(2, 2), std::string());
    QCOMPARE(model.CellText(2, 3), std::string());
    QCOMPARE(model.CellText(3, 3), std::string("发送"));
    QCOMPARE(model.CellText(1, 3), std::string("接收"));
    QCOMPARE(model.CellText(1, 2), MessageDateText(390000050));
    QCOMPARE(model.CellText(0, 4), std::string("iMessage"));
    QCOMPARE(model.data(model.index(1, 0)).toString(), QString("话费余额"));
    QCOMPARE(model.CellText(99, 0), std::string());  // outside the list
  }

  void deletedMessagesListTheOneEntryWithoutAddress() {
    RecordTableModel& model = list_->records();
    model.SetLayout(RecordKind::Messages);
    QCOMPARE(model.FillDeletedMessages(data_.deletedMessages), std::optional<int>(2));
    QCOMPARE(Column(model, 0), QStringList({"deleted one", "deleted two"}));
    QCOMPARE(Column(model, 5), QStringList({"", ""}));
    QCOMPARE(model.FillDeletedMessages(MessageList{}), std::nullopt);
    QCOMPARE(model.rowCount(), 0);
  }

  void contactsFillLiveByKeyAndDeletedRowByRow() {
    RecordTableModel& model = list_->records();
    model.SetLayout(RecordKind::Contacts);
    QCOMPARE(model.FillLiveContacts(data_.contacts), std::optional<int>(2));
    QCOMPARE(Column(model, 0), QStringList({"赵六", "王五"}));
    QCOMPARE(Column(model, 1), QStringList({"", "1; 2; "}));
    QCOMPARE(Column(model, 2), QStringList({"2", "5"}));

    model.SetLayout(RecordKind::Contacts);
    QCOMPARE(model.FillDeletedContacts(data_.deletedContacts), std::optional<int>(3));
    QCOMPARE(Column(model, 0), QStringList({"13800000000", "13900000000", "13700000000"}));
    QCOMPARE(Column(model, 1), QStringList({"张三", "李四", ""}));
    QCOMPARE(Column(model, 2), QStringList({"", "", ""}));

    // Deleted rows found, none kept: an empty list with its count.
    model.SetLayout(RecordKind::Contacts);
    QCOMPARE(model.FillDeletedContacts(DeletedContactList{}), std::optional<int>(0));
    QCOMPARE(model.rowCount(), 0);

    // No deleted rows at all: nothing to count.
    model.SetLayout(RecordKind::Contacts);
    QCOMPARE(model.FillDeletedContacts(std::nullopt), std::nullopt);
    QCOMPARE(model.rowCount(), 0);
  }

  void callsListLastNumberFirstWithDurationsAndTypes() {
    RecordTableModel& model = list_->records();
    model.SetLayout(RecordKind::Calls);
    model.FillCalls(data_.liveCalls);
    QCOMPARE(Column(model, 0), QStringList({"13800000000", "13800000000", "10086"}));
    QCOMPARE(Column(model, 2), QStringList({"00:01:05", "00:00:00", "01:02:05"}));
    QCOMPARE(Column(model, 3), QStringList({"拨出", "拨入", "拨入"}));
    QCOMPARE(model.CellText(2, 1), CallDateText(1400000000));
    model.SetLayout(RecordKind::Calls);
    model.FillCalls(data_.deletedCalls);
    QCOMPARE(Column(model, 3), QStringList({"拨入"}));  // flags 4: bit 0 clear
  }

  void detailTextsForEveryKind() {
    RecordTableModel& model = list_->records();
    model.SetLayout(RecordKind::Messages);
    model.FillLiveMessages(data_.liveMessages);
    const MessageRecord& b = data_.liveMessages["+8613800000001"][0];
    QCOMPARE(DetailText(model, 2, data_.contacts),
             "短信内容： b-first\n号码地址： +8613800000001\n接收时间： " +
                 MessageDateText(b.date) + "\n读取时间： \n类型： \n服务： SMS\n");
    QCOMPARE(DetailText(model, -1, data_.contacts),
             std::string("短信内容： \n号码地址： \n接收时间： \n读取时间： \n类型： \n服务： \n"));
    // A carved message whose date and direction did not survive: both empty,
    // not 2001-01-01 and not "sent".
    const MessageList cut = {Message("cut short", 0, 0, 255, "")};
    model.FillDeletedMessages(cut);
    QCOMPARE(model.CellText(0, 1), std::string());
    QCOMPARE(model.CellText(0, 3), std::string());
    QCOMPARE(
        DetailText(model, 0, data_.contacts),
        std::string(
            "短信内容： cut short\n号码地址： \n接收时间： \n读取时间： \n类型： \n服务： \n"));

    model.SetLayout(RecordKind::Contacts);
    model.FillLiveContacts(data_.contacts);
    QCOMPARE(DetailText(model, 1, data_.contacts),
             std::string("姓名：王五\n拼音：wangwu\n手机: 1\n住宅: 2\n"));
    QCOMPARE(DetailText(model, 0, data_.contacts), std::string("姓名：赵六\n单位：某某公司\n"));
    ContactMap without = data_.contacts;
    without.erase(5);
    QCOMPARE(DetailText(model, 1, without), std::string());  // key no longer known: empty

    model.SetLayout(RecordKind::Contacts);
    model.FillDeletedContacts(data_.deletedContacts);
    QCOMPARE(DetailText(model, 1, data_.contacts), std::string("李四: 13900000000"));
    QCOMPARE(DetailText(model, -1, data_.contacts), std::string(": "));
    // A deleted number whose owner's card was found shows the organisation, and where it lay.
    // The list keeps pointers into the collection: it lives as long as the rows.
    std::optional<DeletedContactList> found = data_.deletedContacts;
    (*found)[0].organization = "某某公司";
    (*found)[0].found = FoundAt{"AddressBook.sqlitedb-wal", 3, 70500, Place::LogFrame, 17};
    (*found)[1].found = FoundAt{"AddressBook.sqlitedb", 5, 18000, Place::Freeblock, 0};
    model.SetLayout(RecordKind::Contacts);
    model.FillDeletedContacts(found);
    QCOMPARE(DetailText(model, 0, data_.contacts),
             std::string("张三: 13800000000\n单位：某某公司\n位置：AddressBook.sqlitedb-wal 第 3 "
                         "页 偏移 70500（预写日志第 17 帧）\n"));
    QCOMPARE(DetailText(model, 1, data_.contacts),
             std::string(
                 "李四: 13900000000\n位置：AddressBook.sqlitedb 第 5 页 偏移 18000（空闲块）\n"));

    model.SetLayout(RecordKind::Calls);
    model.FillCalls(data_.liveCalls);
    QCOMPARE(DetailText(model, 2, data_.contacts), "号码： 10086\n时间： " +
                                                       CallDateText(1400000000) +
                                                       "\n通话时间： 01:02:05\n类型： 拨入\n");
  }

  // Facts of later iOS versions come as added lines after the iOS 6/7 ones.
  // The address book's names beside messages and calls, in the list and the
  // detail; a number with two contacts shows both, a recovered message the
  // name of the party it still names.
  void namesBesideNumbersInTheListAndTheDetail() {
    ContactNames names;
    names.Add("+86 138-0000-0001", "王五");
    names.Add("138 0000 0001", "Alice Wang");
    names.Add("(138) 0000-0000", "张三");
    RecordTableModel& model = list_->records();
    model.SetContactNames(&names);
    model.SetLayout(RecordKind::Messages);
    model.FillLiveMessages(data_.liveMessages);
    QCOMPARE(Column(model, 6), QStringList({"", "", "王五 / Alice Wang", "王五 / Alice Wang"}));
    QVERIFY(DetailText(model, 2, data_.contacts).find("\n联系人： 王五 / Alice Wang\n") !=
            std::string::npos);
    // No name, no line.
    QVERIFY(DetailText(model, 1, data_.contacts).find("联系人") == std::string::npos);
    MessageList deleted = {Message("recovered", 0, 0, 255, "")};
    deleted[0].address = "13800000001";
    model.FillDeletedMessages(deleted);
    QCOMPARE(Column(model, 6), QStringList({"王五 / Alice Wang"}));
    model.SetLayout(RecordKind::Calls);
    model.FillCalls(data_.liveCalls);
    QCOMPARE(Column(model, 4), QStringList({"张三", "张三", ""}));
    QCOMPARE(DetailText(model, 0, data_.contacts).rfind("号码： 13800000000\n联系人： 张三\n", 0),
             size_t{0});
    model.SetContactNames(nullptr);
    QCOMPARE(Column(model, 4), QStringList({"", "", ""}));
  }

  void detailTextsAddTheFactsOfLaterVersions() {
    RecordTableModel& model = list_->records();
    MessageMap messages;
    MessageRecord group = Message("晚饭？", 600000000, 0, 0, "iMessage");
    group.chat = std::make_shared<const ChatFacts>(
        ChatFacts{"", "家庭群", {"13800000001", "amy@example.com"}});
    messages["chat1234567"] = {group};
    model.SetLayout(RecordKind::Messages);
    model.FillLiveMessages(messages);
    QCOMPARE(DetailText(model, 0, data_.contacts),
             "短信内容： 晚饭？\n号码地址： chat1234567\n接收时间： " + MessageDateText(600000000) +
                 "\n读取时间： \n类型： 接收\n服务： iMessage\n群聊名称： 家庭群\n"
                 "群聊成员： 13800000001, amy@example.com\n");

    CallMap calls;
    CallRecord missed{1700000000, 0, 0};
    missed.type = CallType::FaceTimeAudio;
    missed.answered = 0;
    calls["amy@example.com"] = {missed};
    model.SetLayout(RecordKind::Calls);
    model.FillCalls(calls);
    QCOMPARE(
        DetailText(model, 0, data_.contacts),
        "号码： amy@example.com\n时间： " + CallDateText(1700000000) +
            "\n通话时间： 00:00:00\n类型： 拨入\n通话方式： FaceTime 语音\n是否接听： 未接听\n");
  }

  void leftPressShowsTheRowOtherInputLeavesTheDetail() {
    list_->show();
    QVERIFY(QTest::qWaitForWindowExposed(list_.get()));
    RecordTableModel& model = list_->records();
    model.SetLayout(RecordKind::Calls);
    model.FillCalls(data_.liveCalls);
    QObject::connect(list_.get(), &RecordListView::rowPressed, detail_.get(), &DetailPane::ShowRow);

    QTest::mousePress(list_->viewport(), Qt::LeftButton, {},
                      list_->visualRect(model.index(2, 0)).center());
    QTest::mouseRelease(list_->viewport(), Qt::LeftButton, {},
                        list_->visualRect(model.index(2, 0)).center());
    const QString shown = detail_->text();
    QVERIFY(shown.startsWith("号码： 10086\n"));

    QTest::mouseClick(list_->viewport(), Qt::RightButton, {},
                      list_->visualRect(model.index(0, 0)).center());
    QTest::keyClick(list_->viewport(), Qt::Key_Up);
    QCOMPARE(detail_->text(), shown);

    // Below the last row: the labels with nothing after them.
    QTest::mouseClick(list_->viewport(), Qt::LeftButton, {},
                      QPoint(20, list_->viewport()->height() - 5));
    QCOMPARE(detail_->text(), QString("号码： \n时间： \n通话时间： \n类型： \n"));
  }

  void headerClicksSortAscendingThenDescendingKeepingTheSelection() {
    list_->show();
    QVERIFY(QTest::qWaitForWindowExposed(list_.get()));
    RecordTableModel& model = list_->records();
    model.SetLayout(RecordKind::Messages);
    model.FillLiveMessages(data_.liveMessages);
    QHeaderView* header = list_->horizontalHeader();

    // Select the row of "话费余额"; it must stay selected wherever it moves.
    list_->selectRow(1);

    auto sortedTexts = [&](int column, bool ascending) {
      std::vector<std::string> texts;
      for (int r = 0; r < model.rowCount(); ++r) texts.push_back(model.CellText(r, column));
      std::vector<std::string> sorted = texts;
      std::sort(sorted.begin(), sorted.end());
      if (!ascending) std::reverse(sorted.begin(), sorted.end());
      return std::make_pair(texts, sorted);
    };

    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, HeaderPoint(header, 1));  // 时间
    QCOMPARE(model.sortColumn(), 1);
    QVERIFY(model.sortAscending());
    auto [asc, ascExpected] = sortedTexts(1, true);
    QCOMPARE(asc, ascExpected);

    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, HeaderPoint(header, 1));
    QVERIFY(!model.sortAscending());
    auto [desc, descExpected] = sortedTexts(1, false);
    QCOMPARE(desc, descExpected);

    const QModelIndexList selected = list_->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(model.CellText(selected.front().row(), 0), std::string("话费余额"));

    // Words sort as a Chinese reader expects: Chinese in pinyin order (话 hua
    // before 你 ni), then Latin, whatever the bytes say.
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, HeaderPoint(header, 0));
    QVERIFY(model.sortAscending());
    QCOMPARE(Column(model, 0),
             QStringList({"话费余额", "你好, world\nline two", "a-second", "b-first"}));
  }

  void chineseNamesSortInPinyinOrderThenLatin() {
    // The names by the pinyin of their first character: 阿 a, 何 he, 刘 liu,
    // 王 wang, 吴 wu, 张 zhang, 周 zhou; then the Latin names, case ignored.
    // In code point order 何 (U+4F55) < 刘 (U+5218) < 吴 (U+5434) < 周
    // (U+5468) < 张 (U+5F20) < 王 (U+738B) < 阿 (U+963F), and "Bob" before
    // "alice": a byte sort gets both wrong.
    const QStringList pinyinOrder = {"阿明", "何涛", "刘洋",  "王芳", "吴婷",
                                     "张伟", "周杰", "alice", "Bob",  "zoe"};
    ContactMap contacts;
    uint32_t key = 1;
    for (const char* name :
         {"周杰", "Bob", "张伟", "何涛", "zoe", "王芳", "吴婷", "alice", "阿明", "刘洋"}) {
      contacts[key++].name = name;
    }
    RecordTableModel& model = list_->records();
    model.SetLayout(RecordKind::Contacts);
    model.FillLiveContacts(contacts);
    model.SortByHeaderClick(0);  // column 0 starts ascending: the first click reverses
    QStringList reversed = pinyinOrder;
    std::reverse(reversed.begin(), reversed.end());
    QCOMPARE(Column(model, 0), reversed);
    model.SortByHeaderClick(0);
    QCOMPARE(Column(model, 0), pinyinOrder);

    // Deleted contacts' owners too, with a name repeated: equal names keep
    // their numbers' order.
    const std::optional<DeletedContactList> deleted =
        DeletedContactList{{"3", "张伟"}, {"1", "何涛"}, {"4", "张伟"}, {"2", "Bob"}};
    model.SetLayout(RecordKind::Contacts);
    model.FillDeletedContacts(deleted);
    model.SortByHeaderClick(1);
    QCOMPARE(Column(model, 1), QStringList({"何涛", "张伟", "张伟", "Bob"}));
    QCOMPARE(Column(model, 0), QStringList({"1", "3", "4", "2"}));
  }

  void conversationListsRecoveredMessagesAmongLiveOnes() {
    // Two recovered messages that kept their party, said between the live
    // ones of +8613800000001, and one whose party is lost.
    Collections data = MakeCollections();
    data.deletedMessages[0].address = "+8613800000001";
    data.deletedMessages[0].date = 400000050;
    data.deletedMessages[1].date = 300000000;
    MessageRecord lost = Message("lost party", 400000060, 0, 1, "SMS");
    data.deletedMessages.push_back(lost);
    ContactRecord zhang;
    zhang.name = "张伟";
    zhang.propertyCodes = {3};
    zhang.labels = {"手机"};
    zhang.values = {"+86 138 0000 0001"};
    data.contacts[9] = zhang;
    const ContactNames names(data);
    const std::vector<Conversation> conversations = GroupConversations(data, names);
    const auto with =
        std::find_if(conversations.begin(), conversations.end(),
                     [](const Conversation& c) { return c.address == "+8613800000001"; });
    QVERIFY(with != conversations.end());
    QCOMPARE(QString::fromStdString(with->title), QString("张伟"));

    RecordTableModel& model = list_->records();
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.SetContactNames(&names);
    QCOMPARE(model.FillConversation(*with), std::optional<int>(3));
    const int state = model.columnCount() - 1;
    QCOMPARE(model.headerData(state, Qt::Horizontal).toString(), QString("状态"));
    // In time order: the live message, the recovered one said 50 s later, the next live one.
    QCOMPARE(Column(model, 0), QStringList({"b-first", "deleted one", "a-second"}));
    QCOMPARE(Column(model, state), QStringList({"", "已删除", ""}));
    QCOMPARE(model.data(model.index(1, 0), Qt::ForegroundRole).value<QBrush>().color(),
             kDeletedRowColour);
    QVERIFY(!model.data(model.index(0, 0), Qt::ForegroundRole).isValid());
    QCOMPARE(Column(model, 5), QStringList({"+8613800000001", "+8613800000001", "+8613800000001"}));

    // The search finds by the contact's name too; the lost message is not here.
    model.SetFilter(RecordFilter("张伟", std::nullopt, std::nullopt));
    QCOMPARE(model.rowCount(), 3);
    model.SetFilter(RecordFilter("DELETED", std::nullopt, std::nullopt));
    QCOMPARE(Column(model, 0), QStringList({"deleted one"}));
    QCOMPARE(model.totalRowCount(), 3);
    model.SetFilter(RecordFilter());

    const auto unknown = std::find_if(conversations.begin(), conversations.end(),
                                      [](const Conversation& c) { return c.unknown; });
    QVERIFY(unknown != conversations.end());
    QCOMPARE(QString::fromStdString(ConversationTitle(*unknown)), QString("未知会话"));
    model.FillConversation(*unknown);
    QCOMPARE(Column(model, state), QStringList({"已删除", "已删除"}));
    QCOMPARE(Column(model, 5), QStringList({"", ""}));
    model.SetContactNames(nullptr);
  }

  void firstClickOnColumnZeroSortsDescending() {
    RecordTableModel& model = list_->records();
    model.SetLayout(RecordKind::Calls);
    model.FillCalls(data_.liveCalls);
    model.SortByHeaderClick(0);
    QVERIFY(!model.sortAscending());
    QCOMPARE(Column(model, 0), QStringList({"13800000000", "13800000000", "10086"}));
    model.SortByHeaderClick(0);
    QCOMPARE(Column(model, 0), QStringList({"10086", "13800000000", "13800000000"}));
  }

  void aRestingPointerSelectsTheRowUnderIt() {
    list_->show();
    QVERIFY(QTest::qWaitForWindowExposed(list_.get()));
    RecordTableModel& model = list_->records();
    model.SetLayout(RecordKind::Calls);
    model.FillCalls(data_.liveCalls);
    QTest::mouseMove(list_->viewport(), list_->visualRect(model.index(1, 1)).center());
    QTRY_COMPARE_WITH_TIMEOUT(list_->selectionModel()->isRowSelected(1, QModelIndex()), true, 3000);
    QCOMPARE(detail_->text(), QString());  // hovering never changes the detail
  }
};

QTEST_MAIN(RecordListTest)
#include "RecordListTest.moc"
