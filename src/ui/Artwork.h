// The application icon and the toolbar images, drawn with QPainter at start-up
// so the product ships no image files: a phone with a speech bubble for the
// application, one 50 x 40 picture per toolbar command, and the small mark
// of a recovered message.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace vantrel {

enum class ToolbarImage {
  SelectBackup,
  SaveAllCsv,
  SaveCurrentCsv,
  SaveAllTxt,
  SaveCurrentTxt,
  About
};

inline constexpr int kToolbarImageWidth = 50;
inline constexpr int kToolbarImageHeight = 40;

QPixmap DrawToolbarImage(ToolbarImage image);
QIcon ApplicationIcon();
// The mark beside a recovered message in a conversation: "删" on a red tag,
// side pixels square, in the deleted colour (colour).
QPixmap DrawRecoveredMark(int side, const QColor& colour);

}  // namespace vantrel
