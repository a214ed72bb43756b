// How fast the record list takes 200,000 message rows: the fill (with the
// first screen painted), sorts by the text, time and address columns
// starting from the fill order, the search field's refilter per keystroke
// (the first one also makes the rows' search keys), and the grouping into
// conversations with the biggest one listed. Run by hand on the offscreen platform:
//   QT_QPA_PLATFORM=offscreen ui_RecordListBench
#include <QElapsedTimer>
#include <QtTest>
#include <ctime>
#include <random>

#include "model/ContactNames.h"
#include "model/Conversations.h"
#include "ui/RecordListView.h"

using namespace vantrel;

namespace {

// The machine may be shared: beside the wall time QBENCHMARK reports, the
// thread's own CPU time tells what the work itself costs.
double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// A sort by words makes its collation keys on several threads: the process's
// CPU time counts theirs too.
double ProcessCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct CpuReport {
  const char* what;
  double start = ThreadCpuMs();
  double processStart = ProcessCpuMs();
  ~CpuReport() {
    qInfo("%s: %.1f ms thread CPU time, %.1f ms process CPU time", what, ThreadCpuMs() - start,
          ProcessCpuMs() - processStart);
  }
};

}  // namespace

class RecordListBench : public QObject {
  Q_OBJECT

  static constexpr int kRows = 200000;
  MessageMap messages_;
  std::unique_ptr<RecordListView> list_;

  void Fill() {
    list_->records().SetLayout(RecordKind::Messages);
    list_->records().FillLiveMessages(messages_);
  }

  void SortFromFillOrder(int column) {
    Fill();
    QBENCHMARK_ONCE {
      CpuReport cpu{"sort"};
      list_->records().SortByHeaderClick(column);
      list_->viewport()->repaint();
    }
    QCOMPARE(list_->records().rowCount(), kRows);
  }

 private slots:
  void initTestCase() {
    // 2,000 correspondents with 100 messages each; texts mix Chinese and
    // Latin words so that neither sort is trivially presorted.
    std::mt19937 random(7);
    const char* words[] = {"你好",    "明天见",       "OK",     "Running late", "话费余额",
                           "See you", "会议改到三点", "thanks", "【中国移动】", "晚安"};
    for (int a = 0; a < kRows / 100; ++a) {
      auto& list = messages_["+86138" + std::to_string(10000000 + random() % 89999999)];
      for (int i = 0; i < 100; ++i) {
        MessageRecord m;
        m.text = std::string(words[random() % 10]) + " " + words[random() % 10] + " #" +
                 std::to_string(random() % 100000);
        m.date = static_cast<int32_t>(300000000 + random() % 150000000);
        m.readDate = (random() % 2) ? *m.date + 60 : 0;
        m.fromMe = m.sent = random() % 2 != 0;
        m.service = (random() % 3) ? "SMS" : "iMessage";
        list.push_back(std::move(m));
      }
    }
    int rows = 0;
    for (const auto& [address, list] : messages_) rows += static_cast<int>(list.size());
    QVERIFY(rows >= kRows - 100 * 5);  // a repeated number merges two correspondents
    list_ = std::make_unique<RecordListView>();
    list_->resize(1000, 600);
    list_->show();
    QVERIFY(QTest::qWaitForWindowExposed(list_.get()));
  }

  void fill() {
    QBENCHMARK_ONCE {
      CpuReport cpu{"fill"};
      Fill();
      list_->viewport()->repaint();
    }
  }
  void sortByText() { SortFromFillOrder(0); }
  void sortByTime() { SortFromFillOrder(1); }
  void sortByAddress() { SortFromFillOrder(5); }
  void refilterPerKeystroke() {
    Fill();
    // Typing "See you" one key at a time: each keystroke refilters every row.
    const std::string typed = "See you";
    for (size_t n = 1; n <= typed.size(); ++n) {
      QElapsedTimer wall;
      wall.start();
      const double cpu = ThreadCpuMs();
      list_->records().SetFilter(RecordFilter(typed.substr(0, n), std::nullopt, std::nullopt));
      list_->viewport()->repaint();
      qInfo("keystroke %zu (\"%s\"): %lld ms wall, %.1f ms thread CPU, %d rows shown%s", n,
            typed.substr(0, n).c_str(), static_cast<long long>(wall.elapsed()), ThreadCpuMs() - cpu,
            list_->records().rowCount(), n == 1 ? " (search keys made)" : "");
    }
    QVERIFY(list_->records().rowCount() > 0);
    QVERIFY(list_->records().rowCount() < kRows);
    QElapsedTimer wall;
    wall.start();
    list_->records().SetFilter(RecordFilter());
    qInfo("cleared: %lld ms wall", static_cast<long long>(wall.elapsed()));
  }

  void conversations() {
    ContactNames names;
    Collections data;
    data.liveMessages = messages_;
    std::vector<Conversation> conversations;
    {
      CpuReport cpu{"grouping"};
      conversations = GroupConversations(data, names);
    }
    QCOMPARE(conversations.size(), data.liveMessages.size());
    QBENCHMARK_ONCE {
      CpuReport cpu{"conversation fill"};
      list_->records().FillConversation(conversations.front());
      list_->viewport()->repaint();
    }
  }

  void sortByTimeAgainDescending() {
    Fill();
    list_->records().SortByHeaderClick(1);
    QBENCHMARK_ONCE {
      CpuReport cpu{"sort"};
      list_->records().SortByHeaderClick(1);
      list_->viewport()->repaint();
    }
  }
};

QTEST_MAIN(RecordListBench)
#include "RecordListBench.moc"
