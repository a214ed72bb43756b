// The message loader's two ways of sharing work out: every share worked on
// once, the last on the calling thread, all done on return; work beside the
// caller's run at once without a thread, and waited for with one.
#include "platform/Parallel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vantrel {
namespace {

struct Item {
  int runs = 0;
  std::thread::id ranOn;
};

TEST(RunEach, EveryItemOnceTheLastOnTheCallingThread) {
  for (size_t n : {0u, 1u, 2u, 5u}) {
    std::vector<Item> items(n);
    RunEach(items, [](Item& item) {
      ++item.runs;
      item.ranOn = std::this_thread::get_id();
    });
    for (const Item& item : items) EXPECT_EQ(item.runs, 1) << n;
    if (n > 0) EXPECT_EQ(items.back().ranOn, std::this_thread::get_id()) << n;
    for (size_t k = 0; k + 1 < n; ++k) EXPECT_NE(items[k].ranOn, std::this_thread::get_id()) << n;
  }
}

TEST(RunEach, AnExceptionOnTheCallingThreadStillWaitsForTheOthers) {
  std::vector<Item> items(3);
  std::atomic<int> finished{0};
  EXPECT_THROW(RunEach(items,
                       [&](Item& item) {
                         if (&item == &items.back()) throw std::runtime_error("damaged");
                         std::this_thread::sleep_for(std::chrono::milliseconds(20));
                         ++finished;
                       }),
               std::runtime_error);
  EXPECT_EQ(finished.load(), 2);
}

TEST(RunEachOn, EveryItemOnceOnNoMoreThreadsThanAsked) {
  for (size_t workers : {1u, 2u, 3u})
    for (size_t n : {0u, 1u, 2u, 9u}) {
      std::vector<Item> items(n);
      RunEachOn(workers, items, [](Item& item) {
        ++item.runs;
        item.ranOn = std::this_thread::get_id();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      });
      std::vector<std::thread::id> threads;
      for (const Item& item : items) {
        EXPECT_EQ(item.runs, 1) << workers << " " << n;
        if (std::find(threads.begin(), threads.end(), item.ranOn) == threads.end())
          threads.push_back(item.ranOn);
      }
      EXPECT_LE(threads.size(), workers) << n;
      if (workers == 1 && n > 0) EXPECT_EQ(threads.front(), std::this_thread::get_id());
    }
}

TEST(Beside, WithoutAThreadTheWorkIsDoneAtOnce) {
  bool done = false;
  std::thread::id ranOn;
  Beside work(false, [&] {
    done = true;
    ranOn = std::this_thread::get_id();
  });
  EXPECT_TRUE(done);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(Beside, WithAThreadTheWorkIsDoneByJoinOrTheEndOfScope) {
  std::atomic<bool> done{false};
  std::thread::id ranOn;
  {
    Beside work(true, [&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ranOn = std::this_thread::get_id();
      done = true;
    });
  }
  EXPECT_TRUE(done.load());
  EXPECT_NE(ranOn, std::this_thread::get_id());

  done = false;
  Beside joined(true, [&] { done = true; });
  joined.Join();
  EXPECT_TRUE(done.load());
}

}  // namespace
}  // namespace vantrel
