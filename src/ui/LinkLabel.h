// A text label that behaves like a hyperlink: underlined, blue until visited
// (then red), olive while the pointer is over it, with a hand cursor. A left
// press opens its target folder or page (when it has one and opening is on)
// and always reports clicked(). How targets are opened can be replaced, so
// tests never start a file manager.
#pragma once

#include <QColor>
#include <QLabel>
#include <functional>

namespace vantrel {

class LinkLabel : public QLabel {
  Q_OBJECT
 public:
  using Opener = std::function<void(const QString& target)>;

  explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

  void SetColours(const QColor& normal, const QColor& visited, const QColor& hover);
  void SetUnderline(bool underline);
  void SetTarget(const QString& target) { target_ = target; }
  void SetOpenOnClick(bool open) { openOnClick_ = open; }
  QString target() const { return target_; }
  bool visited() const { return visited_; }
  bool hovered() const { return hovered_; }
  QColor CurrentColour() const;

  // Replaces how every label opens its target (default: QDesktopServices);
  // an empty function restores the default.
  static void SetOpener(Opener opener);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void ApplyLook();

  QColor normal_ = QColor(0, 0, 255);
  QColor visitedColour_ = QColor(255, 0, 0);
  QColor hover_ = QColor(125, 125, 0);
  bool hovered_ = false;
  bool visited_ = false;
  bool underline_ = false;
  bool openOnClick_ = true;
  QString target_;
};

}  // namespace vantrel
