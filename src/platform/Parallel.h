// The two ways the message loader spreads its work over the processors: the
// same work on each of a few shares at once, and one piece of work beside the
// caller's. Both wait for their threads on every way out, so an exception
// never leaves a thread running.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace vantrel {

// Threads waited for when the list goes, however the scope is left.
struct JoinedThreads {
  std::vector<std::thread> started;
  JoinedThreads() = default;
  JoinedThreads(const JoinedThreads&) = delete;
  JoinedThreads& operator=(const JoinedThreads&) = delete;
  ~JoinedThreads() {
    for (std::thread& thread : started)
      if (thread.joinable()) thread.join();
  }
};

// Runs work(item) for every item: the first items on threads of their own,
// the last on the calling thread; returns when all are done.
template <typename Item, typename Work>
void RunEach(std::vector<Item>& items, const Work& work) {
  JoinedThreads threads;
  for (size_t k = 0; k + 1 < items.size(); ++k)
    threads.started.emplace_back(work, std::ref(items[k]));
  if (!items.empty()) work(items.back());
}

// Runs work(item) for every item on at most workers threads, the calling
// thread one of them, each taking the next item no one has taken: with more
// items than threads, a thread whose items went quickly takes more, and none
// waits long for another at the end. Returns when all are done.
template <typename Item, typename Work>
void RunEachOn(size_t workers, std::vector<Item>& items, const Work& work) {
  std::atomic<size_t> next{0};
  const auto takeItems = [&] {
    for (size_t k = next.fetch_add(1); k < items.size(); k = next.fetch_add(1)) work(items[k]);
  };
  JoinedThreads threads;
  const size_t count = std::min(workers, items.size());
  for (size_t k = 1; k < count; ++k) threads.started.emplace_back(takeItems);
  takeItems();
}

// Work run beside the caller's: on a thread of its own when ownThread,
// otherwise at once, before the constructor returns. Join() (or the
// destructor) waits for it.
class Beside {
 public:
  template <typename Work>
  Beside(bool ownThread, Work&& work) {
    if (ownThread) {
      thread_ = std::thread(std::forward<Work>(work));
    } else {
      work();
    }
  }
  Beside(const Beside&) = delete;
  Beside& operator=(const Beside&) = delete;
  ~Beside() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

}  // namespace vantrel
