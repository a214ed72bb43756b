// How the load driver drives whatever shows its progress and results: the main
// window implements it with its tree and progress dialog, the command-line
// tool with a progress bar on stderr and a list of nodes. Nothing here knows
// of widgets.
#pragma once

#include <string>

namespace vantrel {

class LoadObserver {
 public:
  using CategoryHandle = int;  // opaque to the driver

  virtual ~LoadObserver() = default;
  virtual void BeginProgress() = 0;  // six equal steps, starting empty
  virtual void StepProgress() = 0;
  virtual void EndProgress() = 0;
  // Empty the record list and the category tree (columns "分类" 210, "数量" 90).
  virtual void ResetViews() = 0;
  virtual CategoryHandle AddCategory(const std::string& name) = 0;
  // A child node under category showing count; deleted nodes are drawn RGB(200, 0, 0).
  virtual void AddCount(CategoryHandle category, const std::string& name, int count,
                        bool deleted) = 0;
  virtual void ExpandCategory(CategoryHandle category) = 0;
  // A modal OK message captioned "Vantrel For iPhone Backup".
  virtual void ShowMessage(const std::string& text) = 0;
};

}  // namespace vantrel
