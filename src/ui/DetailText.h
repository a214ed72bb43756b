// The text the detail pane shows for one row of the record list, by the
// list's record kind; a row of -1 (a press below the last row) gives the
// labels with empty values. Live contacts are looked up by the row's hidden
// person key so every multi-value is shown, not only what fits in the list.
#pragma once

#include <string>

#include "sources/Collections.h"
#include "ui/RecordTableModel.h"

namespace vantrel {

std::string DetailText(const RecordTableModel& list, int row, const ContactMap& contacts);

}  // namespace vantrel
