// vantrel-icons OUTDIR: writes the application icon as OUTDIR/<n>x<n>/apps/vantrel.png
// for every size the window icon uses, the layout of the hicolor icon theme,
// so the desktop entry shows the very picture the window draws.
#include <QDir>
#include <QImage>
#include <cstdio>

#include "ui/Artwork.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: vantrel-icons OUTDIR\n", stderr);
    return 1;
  }
  for (int size : vantrel::kApplicationIconSizes) {
    const QString folder = QString("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
    const QString file = folder + "/vantrel.png";
    if (!QDir().mkpath(folder) || !vantrel::DrawApplicationIcon(size).save(file, "PNG")) {
      std::fprintf(stderr, "vantrel-icons: cannot write %s\n", file.toLocal8Bit().constData());
      return 1;
    }
  }
  return 0;
}
