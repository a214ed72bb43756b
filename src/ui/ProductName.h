// The product's name as the desktop shows it: the caption of the main window,
// of the password dialog and of every message box, and the about box's first
// words. A name, not a sentence: it is the same in every language.
#pragma once

namespace vantrel {

inline constexpr char kProductDisplayName[] = "Vantrel For iPhone Backup";

}  // namespace vantrel
