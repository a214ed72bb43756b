// How the load driver drives whatever shows its progress and results: the main
// window implements it with its tree and progress dialog, the command-line
// tool with a progress bar on stderr and a list of nodes. Nothing here knows
// of widgets or of the names, colours and sizes the nodes are shown with.
#pragma once

#include <string>

#include "load/LoadMessage.h"
#include "sources/Collections.h"

namespace vantrel {

class LoadObserver {
 public:
  using CategoryHandle = int;  // opaque to the driver

  virtual ~LoadObserver() = default;
  virtual void BeginProgress() = 0;  // six equal steps, starting empty
  virtual void StepProgress() = 0;
  virtual void EndProgress() = 0;
  // Empty the record list and the category tree.
  virtual void ResetViews() = 0;
  // A top-level node for one kind of record.
  virtual CategoryHandle AddCategory(RecordKind kind) = 0;
  // A child node under the kind's node showing how many records a category holds.
  virtual void AddCount(CategoryHandle parent, Category category, int count) = 0;
  virtual void ExpandCategory(CategoryHandle category) = 0;
  // What the load has to tell the user, once, after the progress ends; the
  // window says it in a modal OK message, the command line on stderr.
  virtual void ShowMessage(const LoadMessage& message) = 0;
};

}  // namespace vantrel
