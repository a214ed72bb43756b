// The about box: the application icon, the product name with its version and
// an OK button.
#pragma once

#include <QDialog>

namespace vantrel {

inline constexpr char kAboutCaption[] = "关于 Vantrel For iPhone Backup";
inline constexpr char kAboutText[] = "Vantrel For iPhone Backup 1.0";

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace vantrel
