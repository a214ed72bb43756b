#include "platform/LeftToExit.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace vantrel {
namespace {

std::atomic<bool> leaveToExit{false};

std::mutex& KeptMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

// Never destroyed: static destructors run at exit(), which is exactly what
// the objects here are kept from.
std::vector<std::shared_ptr<void>>& Kept() {
  static auto* kept = new std::vector<std::shared_ptr<void>>;
  return *kept;
}

}  // namespace

void LeaveLoadsToProcessExit() {
  leaveToExit = true;
}

bool LoadsAreLeftToProcessExit() {
  return leaveToExit;
}

void KeepUntilProcessExit(std::shared_ptr<void> object) {
  const std::lock_guard<std::mutex> lock(KeptMutex());
  Kept().push_back(std::move(object));
}

}  // namespace vantrel
