// What a command loaded, freed when the command ends or, in a process that
// ends right after its one command, left for the system to take back. A big
// load is hundreds of thousands of records and strings: freeing them one by
// one takes a tenth of a second on one thread, while the system reclaims the
// whole address space at once. main() asks for the second; in-process callers
// (the tests, anything that runs several commands) keep plain destruction.
#pragma once

#include <memory>
#include <utility>

namespace vantrel {

// Turned on by main() for the rest of the process.
void LeaveLoadsToProcessExit();
bool LoadsAreLeftToProcessExit();
// Keeps object's heap alive to the end of the process, reachable from a
// static list (so leak checkers see it held, not lost).
void KeepUntilProcessExit(std::shared_ptr<void> object);

// At the end of its scope, moves the watched object out to
// KeepUntilProcessExit when main asked for that; else does nothing and the
// object is destroyed as usual.
template <typename T>
class LeftToExit {
 public:
  explicit LeftToExit(T& object) : object_(object) {}
  LeftToExit(const LeftToExit&) = delete;
  LeftToExit& operator=(const LeftToExit&) = delete;
  ~LeftToExit() {
    if (LoadsAreLeftToProcessExit()) KeepUntilProcessExit(std::make_shared<T>(std::move(object_)));
  }

 private:
  T& object_;
};

}  // namespace vantrel
