// The about box: the application icon, the product name with its version, the
// commit it was built from (when known) and an OK button.
#pragma once

#include <QDialog>

namespace vantrel {

inline constexpr char kAboutCaption[] =
    QT_TRANSLATE_NOOP("vantrel::AboutDialog", "关于 Vantrel For iPhone Backup");

// "Vantrel For iPhone Backup 1.1.0": the product and the version of this build.
QString AboutText();

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace vantrel
