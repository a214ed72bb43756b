// The application icon and the toolbar images, drawn with QPainter at start-up
// so the program needs no image files: a phone with a speech bubble for the
// application, one 50 x 40 picture per toolbar command, and the small mark
// of a recovered message. The package's hicolor icons are rendered from the
// same drawing at build time.
#pragma once

#include <QIcon>
#include <QImage>
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

// The sizes drawn for the window icon and installed into the hicolor theme.
inline constexpr int kApplicationIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

QPixmap DrawToolbarImage(ToolbarImage image);
// The application icon drawn for size x size pixels (needs no QGuiApplication).
QImage DrawApplicationIcon(int size);
QIcon ApplicationIcon();
// The mark beside a recovered message in a conversation: "删" on a red tag,
// side pixels square, in the deleted colour (colour).
QPixmap DrawRecoveredMark(int side, const QColor& colour);

}  // namespace vantrel
