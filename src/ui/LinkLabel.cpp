#include "ui/LinkLabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

namespace vantrel {
namespace {

LinkLabel::Opener& CurrentOpener() {
  static LinkLabel::Opener opener;
  return opener;
}

void OpenTarget(const QString& target) {
  if (const auto& opener = CurrentOpener()) {
    opener(target);
    return;
  }
  // A failure to open is not reported: the label turns visited all the same.
  QUrl url(target);
  if (url.scheme().isEmpty() || url.scheme().size() == 1) url = QUrl::fromLocalFile(target);
  QDesktopServices::openUrl(url);
}

}  // namespace

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setCursor(Qt::PointingHandCursor);
  setTextFormat(Qt::PlainText);
  ApplyLook();
}

void LinkLabel::SetColours(const QColor& normal, const QColor& visited, const QColor& hover) {
  normal_ = normal;
  visitedColour_ = visited;
  hover_ = hover;
  ApplyLook();
}

void LinkLabel::SetUnderline(bool underline) {
  underline_ = underline;
  ApplyLook();
}

void LinkLabel::SetOpener(Opener opener) {
  CurrentOpener() = std::move(opener);
}

QColor LinkLabel::CurrentColour() const {
  if (visited_) return visitedColour_;
  if (hovered_) return hover_;
  return normal_;
}

void LinkLabel::ApplyLook() {
  QFont f = font();
  f.setUnderline(underline_);
  setFont(f);
  QPalette p = palette();
  p.setColor(QPalette::WindowText, CurrentColour());
  setPalette(p);
  update();
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    if (openOnClick_) {
      if (!target_.isEmpty()) OpenTarget(target_);
      visited_ = true;
    }
    ApplyLook();
    emit clicked();
  }
  QLabel::mousePressEvent(event);
}

void LinkLabel::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  ApplyLook();
  QLabel::enterEvent(event);
}

void LinkLabel::leaveEvent(QEvent* event) {
  hovered_ = false;
  ApplyLook();
  QLabel::leaveEvent(event);
}

}  // namespace vantrel
