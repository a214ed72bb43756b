#include "ui/Artwork.h"

#include <QCoreApplication>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace vantrel {
namespace {

const QColor kInk(40, 60, 90);
const QColor kPaper(250, 250, 245);
const QColor kFolder(235, 185, 70);
const QColor kAccent(30, 120, 200);

// A dog-eared sheet with a format tag on it; two sheets for the "all" commands.
void DrawDocument(QPainter& p, const QRectF& r, const QString& tag, const QColor& tagColour) {
  QPainterPath sheet;
  const qreal ear = r.width() * 0.3;
  sheet.moveTo(r.left(), r.top());
  sheet.lineTo(r.right() - ear, r.top());
  sheet.lineTo(r.right(), r.top() + ear);
  sheet.lineTo(r.right(), r.bottom());
  sheet.lineTo(r.left(), r.bottom());
  sheet.closeSubpath();
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(kPaper);
  p.drawPath(sheet);
  p.drawLine(QPointF(r.right() - ear, r.top()), QPointF(r.right() - ear, r.top() + ear));
  p.drawLine(QPointF(r.right() - ear, r.top() + ear), QPointF(r.right(), r.top() + ear));
  if (tag.isEmpty()) return;
  const QRectF band(r.left() - 3, r.center().y() - 1, r.width() + 6, 11);
  p.setPen(Qt::NoPen);
  p.setBrush(tagColour);
  p.drawRoundedRect(band, 2, 2);
  QFont f;
  f.setFamily("DejaVu Sans");
  f.setPixelSize(8);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(band, Qt::AlignCenter, tag);
}

void DrawSelect(QPainter& p) {
  // An open folder with a phone in front of it.
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(kFolder.darker(115));
  p.drawRoundedRect(QRectF(8, 9, 30, 24), 2, 2);
  p.setBrush(kFolder);
  QPolygonF front;
  front << QPointF(11, 15) << QPointF(42, 15) << QPointF(38, 33) << QPointF(8, 33);
  p.drawPolygon(front);
  p.setBrush(QColor(60, 60, 70));
  p.drawRoundedRect(QRectF(30, 12, 12, 22), 2.5, 2.5);
  p.setBrush(QColor(150, 200, 240));
  p.drawRect(QRectF(32, 15, 8, 14));
}

void DrawAbout(QPainter& p) {
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(kAccent);
  p.drawEllipse(QRectF(11, 4, 28, 28));
  QFont f;
  f.setFamily("DejaVu Serif");
  f.setPixelSize(20);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRectF(11, 4, 28, 28), Qt::AlignCenter, "i");
}

}  // namespace

QPixmap DrawToolbarImage(ToolbarImage image) {
  QPixmap pixmap(kToolbarImageWidth, kToolbarImageHeight);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor csv(40, 140, 70);
  const QColor txt(90, 90, 160);
  switch (image) {
    case ToolbarImage::SelectBackup:
      DrawSelect(p);
      break;
    case ToolbarImage::SaveAllCsv:
      DrawDocument(p, QRectF(12, 3, 20, 26), "", csv);
      DrawDocument(p, QRectF(19, 9, 20, 27), "CSV", csv);
      break;
    case ToolbarImage::SaveCurrentCsv:
      DrawDocument(p, QRectF(15, 5, 21, 30), "CSV", csv);
      break;
    case ToolbarImage::SaveAllTxt:
      DrawDocument(p, QRectF(12, 3, 20, 26), "", txt);
      DrawDocument(p, QRectF(19, 9, 20, 27), "TXT", txt);
      break;
    case ToolbarImage::SaveCurrentTxt:
      DrawDocument(p, QRectF(15, 5, 21, 30), "TXT", txt);
      break;
    case ToolbarImage::About:
      DrawAbout(p);
      break;
  }
  return pixmap;
}

QImage DrawApplicationIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  // Phone body.
  p.setPen(QPen(QColor(30, 30, 35), 2));
  p.setBrush(QColor(55, 55, 65));
  p.drawRoundedRect(QRectF(14, 3, 30, 58), 6, 6);
  p.setBrush(QColor(120, 185, 235));
  p.setPen(Qt::NoPen);
  p.drawRect(QRectF(17, 10, 24, 42));
  // Speech bubble: the messages the program brings back.
  QPainterPath bubble;
  bubble.addRoundedRect(QRectF(28, 22, 32, 22), 7, 7);
  QPolygonF tail;
  tail << QPointF(34, 42) << QPointF(30, 52) << QPointF(42, 43);
  bubble.addPolygon(tail);
  bubble = bubble.simplified();
  p.setPen(QPen(QColor(20, 90, 40), 2));
  p.setBrush(QColor(80, 200, 110));
  p.drawPath(bubble);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  for (int i = 0; i < 3; ++i) p.drawEllipse(QPointF(36 + i * 8, 33), 2.6, 2.6);
  p.end();
  return image;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : kApplicationIconSizes)
    icon.addPixmap(QPixmap::fromImage(DrawApplicationIcon(size)));
  return icon;
}

QPixmap DrawRecoveredMark(int side, const QColor& colour) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  painter.drawRoundedRect(QRectF(0, 0, side, side), side / 5.0, side / 5.0);
  QFont font = painter.font();
  font.setPixelSize(side * 3 / 4);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(0, 0, side, side), Qt::AlignCenter,
                   QCoreApplication::translate("vantrel::Artwork", "删"));
  return pixmap;
}

}  // namespace vantrel
